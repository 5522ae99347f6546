// The exporter program's course: parse, then one export or two.
#ifndef KESTRANE_EXPORTER_EXPORTER_RUN_H_
#define KESTRANE_EXPORTER_EXPORTER_RUN_H_

#include <iosfwd>

#include "StatSubsystem/KestraneExporter/buffer_exporter.h"
#include "StatSubsystem/KestraneExporter/exporter_options.h"

namespace kst {

// Exports the previous month from firstDay to its end, then the current month
// from day 1 to lastDay (appended, without header lines) into the same
// output. 0; -1 the current time cannot be read; -2 the first run failed;
// -3 the second. A failed run's message goes to `err`.
int ExportAcrossMonthEnd(ExporterOptions* options, BufferExporter* exporter,
                         const LocalTimeSource& clock, std::ostream& err);

// Exit codes besides 0 (the table was written; -help alone is no failure).
// Whoever starts the program may still judge by the output file alone.
inline constexpr int kExitExportFailed = 1;  // after the export's error line
inline constexpr int kExitParseError = 2;    // after a bad option and the usage

// The whole program with its messages on `err`; the result is the exit code.
int RunExporter(int argc, const char* const* argv, BufferExporter* exporter,
                const LocalTimeSource& clock, std::ostream& err);

}  // namespace kst

#endif  // KESTRANE_EXPORTER_EXPORTER_RUN_H_
