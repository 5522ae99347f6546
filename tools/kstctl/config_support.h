// What the configuration subcommands of kstctl share: the root directory the
// library builds its paths under, and the one way they report a failure.
#ifndef KESTRANE_TOOLS_KSTCTL_CONFIG_SUPPORT_H_
#define KESTRANE_TOOLS_KSTCTL_CONFIG_SUPPORT_H_

#include <cstdio>
#include <filesystem>
#include <string>

#include "StatSubsystem/common/product_key.h"
#include "platform/paths.h"
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

// What a failed exporter run (result -1) most likely means.
inline constexpr const char* kExporterFailed =
    "the exporter could not run or wrote nothing (is KestraneExporter in the root directory, "
    "and has the collector made its ring buffer?)";

// What a failed WriteAnalyzerInstance's result means.
inline const char* WriteInstanceMeaning(int result) {
  switch (result) {
    case -7:
      return "log title empty or with a backslash";
    case -9:
      return "title empty or with a backslash, plug-in or state file name empty or of 260 "
             "characters or more, or parameters too long";
    case -3:
      return "no such log";
    case -4:
      return "the instance exists already (or a failed earlier attempt left its key)";
    default:
      return "registry failure";
  }
}

// The product key's rootDirectory; empty when it cannot be read.
inline std::string ProductRootOrEmpty() {
  int result = 0;
  return ReadProductRootDirectory(1024, &result);
}

// Hands the product key's rootDirectory to the library; false, after a
// message, when it is not set.
inline bool LoadRootDirectory(const char* command) {
  const std::string root = ProductRootOrEmpty();
  if (root.empty()) {
    ConfigFail(command, "the product key SOFTWARE\\Kestrane has no rootDirectory");
    return false;
  }
  SetRootDirectory(root);
  return true;
}

// Makes the root directory's Temporary and States folders (an existing one
// is fine): the exporter's output and the state files go there, and a new
// installation has neither. REQUIRES: the root directory is set.
inline void MakeWorkFolders() {
  std::error_code ignored;
  std::filesystem::create_directories(NativePath(RootDirectory() + "\\Temporary"), ignored);
  std::filesystem::create_directories(NativePath(RootDirectory() + "\\States"), ignored);
}

}  // namespace kst

#endif  // KESTRANE_TOOLS_KSTCTL_CONFIG_SUPPORT_H_
