#include "StatSubsystem/common/exporter_command.h"

#include "StatSubsystem/common/product_key.h"
#include "StatSubsystem/common/service_names.h"
#include "platform/process.h"

namespace kst {

std::string QuotedExporterPath() {
  return "\"" + RootDirectory() + "\\" + ServiceNameTable[kExporterProgram] + "\"";
}

std::string ExporterCommandLine(const std::string& options) {
  return QuotedExporterPath() + " " + "" + options;
}

std::string TemporaryExportPath() { return RootDirectory() + "\\Temporary\\temporary"; }

std::string HeaderOnlyCommandLine(const std::string& output_path) {
  return ExporterCommandLine(" -day 1 -starttime 23:40 -of ") + "\"" + output_path + "\"";
}

bool RunExporterAndWait(const std::string& command_line) {
  ProcessOptions options;
  options.hidden = true;
  return RunProgramAndWait(command_line, options, nullptr) == kErrorSuccess;
}

}  // namespace kst
