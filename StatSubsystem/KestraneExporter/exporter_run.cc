#include "StatSubsystem/KestraneExporter/exporter_run.h"

#include <ostream>

#include "StatSubsystem/common/regular_file.h"
#include "platform/paths.h"

namespace kst {

int ExportAcrossMonthEnd(ExporterOptions* options, BufferExporter* exporter,
                         const LocalTimeSource& clock, std::ostream& err) {
  std::tm now{};
  if (!clock(&now)) return -1;
  const int current = now.tm_mon + 1;
  const int previous = current == 1 ? 12 : current - 1;

  // A FIFO's reader would meet the end of its input between the two runs.
  RegularFileBuf stream_held;
  if (!options->outputFile.empty()) {
    stream_held.OpenForOutput(NativePath(options->outputFile), false, /*streams_only=*/true);
  }

  // The end bound belongs to the range's last day and the start bound to its
  // first, not to the month end between them; -e applies both everywhere.
  const int start_time = options->startTime;
  const int end_time = options->endTime;
  const int last_day = options->lastDay;
  options->lastDay = 31;
  options->month = previous;
  if (!options->allDays) options->endTime = -1;
  int code = exporter->Export(options, true);
  if (code != 0) {
    PrintExporterError(err, ExportFailureMessage(code));
    return -2;
  }

  options->lastDay = last_day;
  options->firstDay = 1;
  options->month = current;
  options->noHeaders = true;
  options->endTime = end_time;
  if (!options->allDays) options->startTime = -1;
  code = exporter->Export(options, false);
  options->startTime = start_time;
  if (code != 0) {
    PrintExporterError(err, ExportFailureMessage(code));
    return -3;
  }
  return 0;
}

int RunExporter(int argc, const char* const* argv, BufferExporter* exporter,
                const LocalTimeSource& clock, std::ostream& err) {
  ExporterOptions options;
  const int parsed = ParseExporterOptions(argc, argv, &options);
  if (parsed < 0) {
    PrintExporterError(err, parsed == -1 ? "bad parameter" : "bad parameter value");
    PrintExporterUsage(err);
    return kExitParseError;
  }
  if (options.help) PrintExporterUsage(err);

  if (IsSingleMonthRun(options)) {
    const int code = exporter->Export(&options, true);
    if (code != 0) {
      PrintExporterError(err, ExportFailureMessage(code));
      return kExitExportFailed;
    }
  } else if (const int code = ExportAcrossMonthEnd(&options, exporter, clock, err); code != 0) {
    if (code == -1) PrintExporterError(err, "internal error (2)");
    return kExitExportFailed;
  }
  return 0;
}

}  // namespace kst
