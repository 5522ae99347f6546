#include "StatSubsystem/common/counter_store.h"

#include <fcntl.h>

#include <filesystem>
#include <istream>
#include <set>

#include "StatSubsystem/common/config_tree_keys.h"
#include "StatSubsystem/common/csv_cells.h"
#include "StatSubsystem/common/exporter_command.h"
#include "StatSubsystem/common/multi_string.h"
#include "StatSubsystem/common/product_key.h"
#include "StatSubsystem/common/regular_file.h"
#include "platform/paths.h"
#include "platform/registry.h"

namespace kst {
namespace {

constexpr const char* kCellSeparators = ";\r\n";

// Removes the exporter's output when the operation ends, however it ends.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::string native_path) : path_(std::move(native_path)) { Remove(); }
  ~TemporaryFile() { Remove(); }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

 private:
  void Remove() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  std::string path_;
};

// Runs the exporter for the two header lines into the temporary file and
// reads them without their first cell. An earlier run's file is removed
// first, so that an exporter that writes nothing is never mistaken for one
// that did. `skip_buffer_name` passes over a first line "cbuffer".
bool ExportHeaderCells(bool skip_buffer_name, std::vector<std::string>* objects,
                       std::vector<std::string>* counters) {
  const std::string native = NativePath(TemporaryExportPath());
  std::error_code ignored;
  std::filesystem::remove(native, ignored);
  if (!RunExporterAndWait(HeaderOnlyCommandLine(TemporaryExportPath()))) return false;
  RegularFileBuf file;
  std::istream in(&file);
  if (!OpenDataFileBuf(native, O_RDONLY, &file)) return false;
  std::string line;
  if (!ReadTextLine(in, &line)) return false;
  if (skip_buffer_name && line == "cbuffer" && !ReadTextLine(in, &line)) return false;
  *objects = SplitCells(line, kCellSeparators);
  if (!ReadTextLine(in, &line)) line.clear();
  *counters = SplitCells(line, kCellSeparators);
  // The first cell of each line is the minute column's.
  if (!objects->empty()) objects->erase(objects->begin());
  if (!counters->empty()) counters->erase(counters->begin());
  return true;
}

// Draws a new identifier for `title` and records it both ways.
bool RegisterCounter(const std::string& title) {
  const int64_t id = RandomId64();
  unsigned char bytes[8];
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<unsigned char>(static_cast<uint64_t>(id) >> (8 * i));
  RegistryKey by_title;
  if (RegistryKey::Create(CounterByTitleKeyPath(title), &by_title) != kErrorSuccess ||
      by_title.SetValue("id", kRegBinary, bytes, sizeof bytes) != kErrorSuccess) {
    return false;
  }
  RegistryKey by_id;
  return RegistryKey::Create(CounterByIdKeyPath(id), &by_id) == kErrorSuccess &&
         by_id.SetValue("title", kRegSz, title.c_str(), static_cast<uint32_t>(title.size() + 1)) ==
             kErrorSuccess;
}

// Makes the log key of `object` anew, with no counters and no instances.
bool RecreateLog(const std::string& object) {
  const WinError deleted = DeleteKeyTree(LogKeyPath(object));
  if (deleted != kErrorSuccess && deleted != kErrorFileNotFound) return false;
  RegistryKey log;
  return RegistryKey::Create(LogKeyPath(object), &log) == kErrorSuccess &&
         log.SetValue("analyzersTitles", kRegMultiSz, "", 0) == kErrorSuccess &&
         log.SetValue("countersTitles", kRegMultiSz, "", 0) == kErrorSuccess;
}

}  // namespace

void InitializeCounterStore(int* result) {
  *result = -1;
  std::error_code ignored;
  std::filesystem::create_directories(NativePath(RootDirectory() + "\\Temporary"), ignored);
  std::filesystem::create_directories(NativePath(RootDirectory() + "\\States"), ignored);

  RegistryKey logs;
  if (RegistryKey::Create(LogsKeyPath(), &logs) != kErrorSuccess) return;
  for (const char* sub : {"\\Counters", "\\Counters\\byTitle", "\\Counters\\byId"}) {
    RegistryKey key;
    if (RegistryKey::Create(std::string(kConfigurationKeyPath) + sub, &key) != kErrorSuccess) return;
  }

  TemporaryFile output(NativePath(TemporaryExportPath()));
  std::vector<std::string> objects, counters;
  if (!ExportHeaderCells(true, &objects, &counters)) return;

  // One log per object, in order of first appearance.
  std::vector<std::string> logs_titles;
  std::set<std::string> seen;
  for (size_t j = 0; j < objects.size(); ++j) {
    if (j > 0 && objects[j] == objects[j - 1]) continue;
    if (!seen.insert(objects[j]).second) continue;
    logs_titles.push_back(objects[j]);
    if (!RecreateLog(objects[j])) return;
  }
  if (!WriteMultiString(logs, "logsTitles", logs_titles)) return;
  logs.Close();

  size_t registered = 0;
  bool extra_counters = false;
  RegistryKey log;
  std::vector<std::string> log_counters;
  for (size_t j = 0; j < counters.size(); ++j) {
    if (j >= objects.size()) {
      extra_counters = true;
      break;
    }
    const std::string title = objects[j] + "::" + counters[j];
    if (!RegisterCounter(title)) return;
    ++registered;
    if (j == 0 || objects[j] != objects[j - 1]) {
      if (log.is_open() && !WriteMultiString(log, "countersTitles", log_counters)) return;
      log.Close();
      if (RegistryKey::Open(LogKeyPath(objects[j]), RegAccess::kReadWrite, &log) != kErrorSuccess ||
          !ReadMultiString(log, "countersTitles", &log_counters)) {
        return;
      }
    }
    log_counters.push_back(title);
  }
  if (log.is_open() && !WriteMultiString(log, "countersTitles", log_counters)) return;
  if (!extra_counters && registered == objects.size()) *result = 0;
}

const std::vector<std::string>& ExportLastDay(int* result) {
  static std::vector<std::string> titles;
  *result = -1;
  titles.clear();
  std::vector<std::string> counters;
  if (!ExportHeaderCells(false, &titles, &counters)) {
    titles.clear();
    return titles;
  }
  if (counters.size() != titles.size()) {
    titles.clear();
    return titles;
  }
  for (size_t i = 0; i < counters.size(); ++i) titles[i] += "::" + counters[i];
  *result = static_cast<int>(titles.size());
  return titles;
}

}  // namespace kst
