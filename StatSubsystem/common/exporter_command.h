// Running the exporter program as a child, the way the configuration library
// prepares its tables: a quoted path under the root directory, the empty
// buffer-name argument, then the options.
#ifndef KESTRANE_STATSUBSYSTEM_COMMON_EXPORTER_COMMAND_H_
#define KESTRANE_STATSUBSYSTEM_COMMON_EXPORTER_COMMAND_H_

#include <string>

namespace kst {

// '"' root directory '\' "KestraneExporter.exe" '"'.
std::string QuotedExporterPath();

// QuotedExporterPath(), a blank and the empty buffer-name argument, then
// `options` (which begin with their own blank).
std::string ExporterCommandLine(const std::string& options);

// The root directory followed by "\Temporary\temporary".
std::string TemporaryExportPath();

// The exporter run that writes only what the header lines need:
// ExporterCommandLine(" -day 1 -starttime 23:40 -of ") + '"' + output + '"'.
std::string HeaderOnlyCommandLine(const std::string& output_path);

// Runs the command hidden and waits for it without a time limit; its exit
// code is not looked at. False when it cannot be started.
bool RunExporterAndWait(const std::string& command_line);

}  // namespace kst

#endif  // KESTRANE_STATSUBSYSTEM_COMMON_EXPORTER_COMMAND_H_
