// What the configuration subcommands of kstctl share: the root directory the
// library builds its paths under, and the one way they report a failure.
#ifndef KESTRANE_TOOLS_KSTCTL_CONFIG_SUPPORT_H_
#define KESTRANE_TOOLS_KSTCTL_CONFIG_SUPPORT_H_

#include <cstdio>
#include <cstring>
#include <string>

#include "StatSubsystem/common/product_key.h"
#include "platform/registry.h"

namespace kst {

// Prints "kstctl COMMAND: WHAT" on stderr; 1.
inline int ConfigFail(const char* command, const std::string& what) {
  std::fprintf(stderr, "kstctl %s: %s\n", command, what.c_str());
  return 1;
}

// Prints "kstctl COMMAND: WHAT failed: MEANING (result CODE)"; 1.
inline int ConfigFail(const char* command, const std::string& what, int code,
                      const char* meaning) {
  return ConfigFail(command, what + " failed: " + meaning + " (result " + std::to_string(code) + ")");
}

// Hands the product key's rootDirectory to the library; false, after a
// message, when it is not set.
inline bool LoadRootDirectory(const char* command) {
  char buffer[1024];
  int result = 0;
  ReadProductValue("", "rootDirectory", kRegSz, buffer, sizeof buffer, &result);
  if (result <= 0) {
    ConfigFail(command, "the product key SOFTWARE\\Kestrane has no rootDirectory");
    return false;
  }
  SetRootDirectory(std::string(buffer, strnlen(buffer, static_cast<size_t>(result))));
  return true;
}

}  // namespace kst

#endif  // KESTRANE_TOOLS_KSTCTL_CONFIG_SUPPORT_H_
