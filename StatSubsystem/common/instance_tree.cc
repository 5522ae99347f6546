// The analyzer-instance half of the configuration tree.
#include <algorithm>
#include <cstring>
#include <filesystem>

#include "StatSubsystem/common/config_tree.h"
#include "StatSubsystem/common/config_tree_keys.h"
#include "StatSubsystem/common/multi_string.h"
#include "StatSubsystem/common/product_key.h"
#include "platform/paths.h"
#include "platform/registry.h"

namespace kst {
namespace {

// File names are read into buffers of this many bytes, the zero included.
constexpr uint32_t kFileNameBufferSize = 260;
// The status text is read into 12 bytes, the last one forced to zero.
constexpr uint32_t kStatusBufferSize = 12;

// A REG_SZ value of at most `buffer_size` bytes, up to its first zero (a text
// stored without one is taken whole).
bool ReadText(const RegistryKey& key, std::string_view name, uint32_t buffer_size,
              std::string* text) {
  std::string buffer(buffer_size, '\0');
  uint32_t size = buffer_size;
  RegType type = 0;
  if (key.QueryValue(name, &type, buffer.data(), &size) != kErrorSuccess || type != kRegSz) {
    return false;
  }
  buffer.resize(size);
  *text = buffer.substr(0, buffer.find('\0'));
  return true;
}

bool WriteText(RegistryKey& key, std::string_view name, const std::string& text) {
  return key.SetValue(name, kRegSz, text.c_str(), static_cast<uint32_t>(text.size() + 1)) ==
         kErrorSuccess;
}

// A 4-byte value of the given type (any type when `type` is 0).
bool ReadFourBytes(const RegistryKey& key, std::string_view name, RegType type, int32_t* value) {
  unsigned char bytes[4];
  uint32_t size = sizeof bytes;
  RegType stored = 0;
  if (key.QueryValue(name, &stored, bytes, &size) != kErrorSuccess || size != sizeof bytes) {
    return false;
  }
  if (type != 0 && stored != type) return false;
  const uint32_t v = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
  *value = static_cast<int32_t>(v);
  return true;
}

bool WriteFourBytes(RegistryKey& key, std::string_view name, RegType type, int32_t value) {
  const uint32_t v = static_cast<uint32_t>(value);
  const unsigned char bytes[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                                  static_cast<unsigned char>(v >> 16),
                                  static_cast<unsigned char>(v >> 24)};
  return key.SetValue(name, type, bytes, sizeof bytes) == kErrorSuccess;
}

// Reads the instance `title` of the log; false when its key or a value is
// missing or malformed.
bool ReadInstance(const std::string& logTitle, const std::string& title,
                  AnalyzerInstance* instance) {
  RegistryKey key;
  if (RegistryKey::Open(InstanceKeyPath(logTitle, title), RegAccess::kRead, &key) != kErrorSuccess) {
    return false;
  }
  instance->title = title;
  int32_t uses_time = 0, threshold = 0;
  TrainingPeriod& period = instance->trainingPeriod;
  std::vector<std::string> lines;
  if (!ReadText(key, "pluginFileName", kFileNameBufferSize, &instance->pluginFileName) ||
      !ReadText(key, "stateFileName", kFileNameBufferSize, &instance->stateFileName) ||
      !ReadFourBytes(key, "usesTime", kRegDword, &uses_time) ||
      !ReadFourBytes(key, "warningLevelThreshold", kRegDword, &threshold) ||
      static_cast<uint32_t>(threshold) > 100 ||
      !ReadFourBytes(key, "dayTimeIntervalFrom", kRegDword, &period.dayTimeIntervalFrom) ||
      !ReadFourBytes(key, "dayTimeIntervalTill", kRegDword, &period.dayTimeIntervalTill) ||
      !ReadFourBytes(key, "dayIntervalFrom", kRegBinary, &period.dayIntervalFrom) ||
      !ReadFourBytes(key, "dayIntervalTill", 0, &period.dayIntervalTill) ||
      !ReadMultiString(key, "parameters", &lines)) {
    return false;
  }
  instance->usesTime = uses_time != 0;
  instance->warningLevelThreshold = static_cast<int8_t>(threshold);
  instance->parameters.clear();
  for (const std::string& line : lines) {
    if (std::optional<ParameterValue> parameter = ParseParameterLine(line)) {
      instance->parameters.push_back(*parameter);
    }
  }
  return true;
}

bool FitsFileNameBuffer(const std::string& name) {
  return !name.empty() && name.size() < kFileNameBufferSize;
}

// Deletes the state file `name` under the root's States folder. Only a file
// inside that folder goes: an empty name must not take the folder itself, nor
// one that climbs out with ".." a file beyond it. A missing file is fine.
void RemoveStateFile(const std::string& name) {
  namespace fs = std::filesystem;
  const fs::path states = fs::path(NativePath(RootDirectory() + "\\States")).lexically_normal();
  const fs::path file =
      fs::path(NativePath(RootDirectory() + "\\States\\" + name)).lexically_normal();
  const fs::path inside = file.lexically_relative(states);
  if (inside.empty() || inside == "." || *inside.begin() == "..") return;
  std::error_code ignored;
  if (fs::is_directory(fs::symlink_status(file, ignored))) return;
  fs::remove(file, ignored);
}

// True, with *result -7, when either title names no key of its own.
bool EmptyTitle(const std::string& a, const std::string& b, int* result) {
  if (NamesOwnKey(a) && NamesOwnKey(b)) return false;
  *result = -7;
  return true;
}

}  // namespace

const std::vector<AnalyzerInstance>& ReadAnalyzerInstances(const std::string& logTitle,
                                                           int* result) {
  static std::vector<AnalyzerInstance> instances;
  instances.clear();
  std::vector<std::string> titles;
  *result = ReadLogList(logTitle, "analyzersTitles", &titles);
  if (*result != 0) return instances;
  for (const std::string& title : titles) {
    AnalyzerInstance instance;
    if (ReadInstance(logTitle, title, &instance)) instances.push_back(instance);
  }
  *result = static_cast<int>(instances.size());
  return instances;
}

void WriteAnalyzerInstance(const std::string& logTitle, const AnalyzerInstance& instance,
                           int* result) {
  *result = -1;
  if (!NamesOwnKey(logTitle)) {
    *result = -7;
    return;
  }
  // A file name the readers' buffers cannot take back is refused too: the
  // instance would be written, yet never read.
  if (!NamesOwnKey(instance.title) || !FitsFileNameBuffer(instance.pluginFileName) ||
      !FitsFileNameBuffer(instance.stateFileName)) {
    *result = -9;
    return;
  }
  RegistryKey log;
  const WinError error = RegistryKey::Open(LogKeyPath(logTitle), RegAccess::kReadWrite, &log);
  if (error != kErrorSuccess) {
    if (error == kErrorFileNotFound) *result = -3;
    return;
  }
  RegistryKey key;
  bool created = false;
  if (RegistryKey::Create(InstanceKeyPath(logTitle, instance.title), &key, &created) !=
      kErrorSuccess) {
    return;
  }
  if (!created) {
    *result = -4;
    return;
  }
  if (!WriteText(key, "pluginFileName", instance.pluginFileName) ||
      !WriteText(key, "stateFileName", instance.stateFileName)) {
    return;
  }
  std::vector<std::string> lines;
  size_t bytes = 1;
  for (const ParameterValue& parameter : instance.parameters) {
    if (parameter.kind() == kParamNone) {
      *result = -9;
      return;
    }
    lines.push_back(parameter.line());
    bytes += lines.back().size() + 1;
  }
  // What the readers could not take back is refused here.
  if (bytes > kMultiStringBufferSize) {
    *result = -9;
    return;
  }
  const TrainingPeriod& period = instance.trainingPeriod;
  if (!WriteMultiString(key, "parameters", lines) ||
      !WriteFourBytes(key, "usesTime", kRegDword, instance.usesTime ? 1 : 0) ||
      !WriteFourBytes(key, "warningLevelThreshold", kRegDword, instance.warningLevelThreshold) ||
      !WriteFourBytes(key, "dayTimeIntervalFrom", kRegDword, period.dayTimeIntervalFrom) ||
      !WriteFourBytes(key, "dayTimeIntervalTill", kRegDword, period.dayTimeIntervalTill) ||
      !WriteFourBytes(key, "dayIntervalFrom", kRegBinary, period.dayIntervalFrom) ||
      !WriteFourBytes(key, "dayIntervalTill", kRegBinary, period.dayIntervalTill)) {
    return;
  }
  key.Close();

  std::vector<std::string> titles;
  if (!ReadMultiString(log, "analyzersTitles", &titles)) return;
  titles.push_back(instance.title);
  if (!WriteMultiString(log, "analyzersTitles", titles)) return;
  log.Close();

  WriteInstanceStatus(logTitle, instance.title, kStatusActivated, result);
  if (*result >= 0) *result = static_cast<int>(titles.size());
}

void RemoveAnalyzerInstance(const std::string& logTitle, const std::string& instanceTitle,
                            int* result) {
  *result = -1;
  if (EmptyTitle(logTitle, instanceTitle, result)) return;
  RegistryKey log;
  const WinError error = RegistryKey::Open(LogKeyPath(logTitle), RegAccess::kReadWrite, &log);
  if (error != kErrorSuccess) {
    if (error == kErrorFileNotFound) *result = -3;
    return;
  }
  std::string state_file;
  {
    RegistryKey key;
    if (RegistryKey::Open(InstanceKeyPath(logTitle, instanceTitle), RegAccess::kRead, &key) !=
        kErrorSuccess) {
      *result = -5;
      return;
    }
    if (!ReadText(key, "stateFileName", kFileNameBufferSize, &state_file)) return;
  }
  RemoveStateFile(state_file);
  if (DeleteKeyTree(InstanceKeyPath(logTitle, instanceTitle)) != kErrorSuccess) return;

  std::string bytes;
  RegType type = 0;
  if (log.QueryValue("analyzersTitles", &type, &bytes) != kErrorSuccess ||
      bytes.size() > kMultiStringBufferSize) {
    *result = -5;
    return;
  }
  if (type != kRegMultiSz) {
    *result = 0;
    return;
  }
  std::vector<std::string> titles;
  DecodeMultiString(bytes, &titles);
  titles.erase(std::remove(titles.begin(), titles.end(), instanceTitle), titles.end());
  if (!WriteMultiString(log, "analyzersTitles", titles)) return;
  *result = static_cast<int>(titles.size());
}

void ReadInstanceStatus(const std::string& logTitle, const std::string& instanceTitle,
                        int* status, int* result) {
  *result = -1;
  *status = kStatusUnknown;
  if (EmptyTitle(logTitle, instanceTitle, result)) return;
  RegistryKey key;
  const WinError error =
      RegistryKey::Open(InstanceKeyPath(logTitle, instanceTitle), RegAccess::kRead, &key);
  if (error != kErrorSuccess) {
    if (error == kErrorFileNotFound) *result = -3;
    return;
  }
  std::string text;
  if (!ReadText(key, "status", kStatusBufferSize, &text)) return;
  // The twelfth byte is forced to zero, so at most 11 characters count.
  if (text.size() > kStatusBufferSize - 1) text.resize(kStatusBufferSize - 1);
  *status = InstanceStatusCode(text.c_str());
  *result = 0;
}

void WriteInstanceStatus(const std::string& logTitle, const std::string& instanceTitle,
                         int status, int* result) {
  *result = -1;
  if (EmptyTitle(logTitle, instanceTitle, result)) return;
  const char* text = InstanceStatusText(status);
  if (text == nullptr) {
    *result = -13;
    return;
  }
  RegistryKey key;
  const WinError error = RegistryKey::Open(InstanceKeyPath(logTitle, instanceTitle),
                                           RegAccess::kReadWrite, &key);
  if (error != kErrorSuccess) {
    if (error == kErrorFileNotFound) *result = -3;
    return;
  }
  if (!WriteText(key, "status", text)) return;
  *result = 0;
}

}  // namespace kst
