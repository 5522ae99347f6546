// The log half of the configuration tree: log titles and counter titles.
#include <algorithm>

#include "StatSubsystem/common/config_tree.h"
#include "StatSubsystem/common/config_tree_keys.h"
#include "StatSubsystem/common/multi_string.h"
#include "platform/registry.h"

namespace kst {

const std::vector<std::string>& ReadLogsTitles(int* result) {
  static std::vector<std::string> titles;
  *result = -1;
  titles.clear();
  RegistryKey logs;
  if (RegistryKey::Open(LogsKeyPath(), RegAccess::kRead, &logs) != kErrorSuccess) return titles;
  RegType type = 0;
  uint32_t size = 0;
  if (logs.QueryValue("logsTitles", &type, nullptr, &size) == kErrorFileNotFound) {
    *result = 0;
    return titles;
  }
  if (!ReadMultiString(logs, "logsTitles", &titles)) return titles;
  *result = static_cast<int>(titles.size());
  return titles;
}

void AddLog(const std::string& logTitle, const std::vector<std::string>& countersTitles,
            int* result) {
  *result = -1;
  if (!NamesOwnKey(logTitle)) {
    *result = -7;
    return;
  }
  if (countersTitles.empty()) {
    *result = -8;
    return;
  }
  RegistryKey log;
  bool created = false;
  if (RegistryKey::Create(LogKeyPath(logTitle), &log, &created) != kErrorSuccess) return;
  if (!created) {
    *result = -2;
    return;
  }
  if (std::any_of(countersTitles.begin(), countersTitles.end(),
                  [](const std::string& t) { return t.empty(); })) {
    *result = -7;
    return;
  }
  if (!WriteMultiString(log, "countersTitles", countersTitles)) return;
  if (log.SetValue("analyzersTitles", kRegMultiSz, "", 0) != kErrorSuccess) return;
  log.Close();

  RegistryKey logs;
  if (RegistryKey::Open(LogsKeyPath(), RegAccess::kReadWrite, &logs) != kErrorSuccess) return;
  std::vector<std::string> titles;
  if (!ReadMultiString(logs, "logsTitles", &titles)) return;
  titles.push_back(logTitle);
  if (!WriteMultiString(logs, "logsTitles", titles)) return;
  *result = static_cast<int>(titles.size());
}

void RemoveLog(const std::string& logTitle, int* result) {
  *result = -1;
  if (!NamesOwnKey(logTitle)) {
    *result = -7;
    return;
  }
  {
    RegistryKey log;
    const WinError error = RegistryKey::Open(LogKeyPath(logTitle), RegAccess::kRead, &log);
    if (error == kErrorFileNotFound) *result = -3;
    if (error != kErrorSuccess) return;
  }
  if (DeleteKeyTree(LogKeyPath(logTitle)) != kErrorSuccess) return;
  RegistryKey logs;
  if (RegistryKey::Open(LogsKeyPath(), RegAccess::kReadWrite, &logs) != kErrorSuccess) return;
  std::vector<std::string> titles;
  if (!ReadMultiString(logs, "logsTitles", &titles)) return;
  titles.erase(std::remove(titles.begin(), titles.end(), logTitle), titles.end());
  if (!WriteMultiString(logs, "logsTitles", titles)) return;
  *result = static_cast<int>(titles.size());
}

int ReadLogList(const std::string& logTitle, std::string_view value, std::vector<std::string>* lines) {
  lines->clear();
  if (!NamesOwnKey(logTitle)) return -7;
  RegistryKey log;
  const WinError error = RegistryKey::Open(LogKeyPath(logTitle), RegAccess::kRead, &log);
  if (error == kErrorFileNotFound) return -3;
  if (error != kErrorSuccess) return -1;
  return ReadMultiString(log, value, lines) ? 0 : -1;
}

const std::vector<std::string>& ReadLogCountersTitles(const std::string& logTitle, int* result) {
  static std::vector<std::string> titles;
  *result = ReadLogList(logTitle, "countersTitles", &titles);
  if (*result == 0) *result = static_cast<int>(titles.size());
  return titles;
}

}  // namespace kst
