#include "StatSubsystem/KestraneConsole/system_counters.h"

#include "platform/ascii.h"

namespace kst {

bool IsSystemCounter(const std::string& path) {
  std::string lower = path;
  for (char& c : lower) c = FoldAscii(c);
  if (lower.find("total") != std::string::npos) return true;
  const size_t open = path.find('(');
  if (open == std::string::npos) return true;
  // A "(", later a "/", later a ")": whichever ")" it is.
  const size_t slash = path.find('/', open);
  return slash == std::string::npos || path.find(')', slash) == std::string::npos;
}

}  // namespace kst
