// Which counters of the machine-wide wildcard expansion the console keeps.
#ifndef KESTRANE_STATSUBSYSTEM_KESTRANECONSOLE_SYSTEM_COUNTERS_H_
#define KESTRANE_STATSUBSYSTEM_KESTRANECONSOLE_SYSTEM_COUNTERS_H_

#include <string>

namespace kst {

// False for the instance of a parent ("(parent/child)": a "(" followed
// later by a ")" with a "/" between them), unless the path holds "total" in
// any case; true for every other path.
bool IsSystemCounter(const std::string& path);

}  // namespace kst

#endif  // KESTRANE_STATSUBSYSTEM_KESTRANECONSOLE_SYSTEM_COUNTERS_H_
