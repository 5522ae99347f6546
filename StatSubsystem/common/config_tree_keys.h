// Key paths of the configuration tree's logs, for the library's own files.
#ifndef KESTRANE_STATSUBSYSTEM_COMMON_CONFIG_TREE_KEYS_H_
#define KESTRANE_STATSUBSYSTEM_COMMON_CONFIG_TREE_KEYS_H_

#include <string>

#include "StatSubsystem/common/product_key.h"

namespace kst {

inline std::string LogsKeyPath() { return std::string(kConfigurationKeyPath) + "\\Logs"; }

inline std::string LogKeyPath(const std::string& logTitle) {
  return LogsKeyPath() + "\\" + logTitle;
}

inline std::string InstanceKeyPath(const std::string& logTitle, const std::string& instanceTitle) {
  return LogKeyPath(logTitle) + "\\" + instanceTitle;
}

}  // namespace kst

#endif  // KESTRANE_STATSUBSYSTEM_COMMON_CONFIG_TREE_KEYS_H_
