// What every kstctl subcommand shares: its entry point's shape.
#ifndef KESTRANE_TOOLS_KSTCTL_COMMAND_H_
#define KESTRANE_TOOLS_KSTCTL_COMMAND_H_

#include <string>
#include <vector>

namespace kst {

// A subcommand gets the words after its name and returns the exit code:
// 0 done, 1 failed, 2 wrong usage. It prints results on stdout and
// failures, prefixed "kstctl NAME: ", on stderr; "--help" prints its help.
using CommandFunction = int (*)(const std::vector<std::string>& args);

}  // namespace kst

#endif  // KESTRANE_TOOLS_KSTCTL_COMMAND_H_
