#include "StatSubsystem/common/collector_options.h"

#include <cstdio>

#include "StatSubsystem/common/service_keys.h"
#include "StatSubsystem/common/service_names.h"
#include "platform/process.h"

namespace kst {

std::string ProgramFolder() {
  std::string path = CurrentProgramPath();
  return path.substr(0, path.rfind('/') + 1);
}

CollectorFields DefaultCollectorFields(const std::string& root, const std::string& program_folder) {
  CollectorFields fields;
  fields.buffer_name = root.empty() ? program_folder + "cbuffer" : root + "\\cbuffer";
  fields.csv_name = root.empty() ? program_folder + "CSVoutp" : root + "\\CSVoutp";
  return fields;
}

int CollectorIntervalFromText(const std::string& text) {
  int interval = 0;
  if (std::sscanf(text.substr(0, 4).c_str(), "%d", &interval) != 1) return 10;
  return interval;
}

bool WriteCollectorOptions(const CollectorFields& fields, const std::string& program_folder,
                           std::string* buffer_written) {
  const char* const collector = ServiceNameTable[kCollectorId];
  std::string buffer_name = fields.buffer_name.substr(0, 1023);
  if (buffer_name.empty()) buffer_name = program_folder + "cbuffer";
  const std::string csv_name = fields.csv_name.empty() ? program_folder + "CSVoutp" : fields.csv_name;
  const int interval = CollectorIntervalFromText(fields.interval_text);
  bool ok = WriteServiceDword(collector, "notFirstStartFlag", 0) == 0;
  ok = WriteServiceString(collector, "optBufferName", buffer_name) == 0 && ok;
  ok = WriteServiceString(collector, "csvFileName", csv_name) == 0 && ok;
  ok = WriteServiceDword(collector, "optTimeInt", interval) == 0 && ok;
  ok = WriteServiceMultiString(collector, "optCounters", fields.counters) == 0 && ok;
  if (buffer_written != nullptr) *buffer_written = buffer_name;
  return ok;
}

bool ReadCollectorTickOptions(std::vector<RegistryKey::Value>* values) {
  static const std::string path = ServiceKeyPath(ServiceNameTable[kCollectorId]);
  return ReadKeyValues(path,
                       {"notFirstStartFlag", "optBufferName", "optTimeInt", "optCollsCount",
                        "optHeadGrpOffset"},
                       values) == kErrorSuccess;
}

}  // namespace kst
