// Key paths of the configuration tree's logs, and the read of a log's lists,
// for the library's own files.
#ifndef KESTRANE_STATSUBSYSTEM_COMMON_CONFIG_TREE_KEYS_H_
#define KESTRANE_STATSUBSYSTEM_COMMON_CONFIG_TREE_KEYS_H_

#include <string>
#include <string_view>
#include <vector>

#include "StatSubsystem/common/product_key.h"

namespace kst {

// A title names a key of its own only when it is not empty and holds no
// backslash: "L\I" would reach log L's instance I, and "\" the Logs key
// itself, whose removal would take every log with it.
inline bool NamesOwnKey(const std::string& title) {
  return !title.empty() && title.find('\\') == std::string::npos;
}

inline std::string LogsKeyPath() { return std::string(kConfigurationKeyPath) + "\\Logs"; }

inline std::string LogKeyPath(const std::string& logTitle) {
  return LogsKeyPath() + "\\" + logTitle;
}

inline std::string InstanceKeyPath(const std::string& logTitle, const std::string& instanceTitle) {
  return LogKeyPath(logTitle) + "\\" + instanceTitle;
}

// Reads the multi-string `value` of log logTitle's key into *lines (emptied
// first). 0; -7 the title names no key of its own; -3 no such log; -1 any
// other failure, *lines then empty.
int ReadLogList(const std::string& logTitle, std::string_view value, std::vector<std::string>* lines);

}  // namespace kst

#endif  // KESTRANE_STATSUBSYSTEM_COMMON_CONFIG_TREE_KEYS_H_
