// The exporter's command line: the option record, its parser, the usage and
// error texts, and the choice between one run and a run across the month end.
#ifndef KESTRANE_EXPORTER_EXPORTER_OPTIONS_H_
#define KESTRANE_EXPORTER_EXPORTER_OPTIONS_H_

#include <ostream>
#include <string>

namespace kst {

// What one export selects. -1 marks an option that was not given.
struct ExporterOptions {
  bool noHeaders = false;  // -ngh: leave out the group and header lines
  bool help = false;       // -help
  int month = -1;          // -month: 1..12; 0 or -1 the current month
  bool allDays = false;    // -e: time bounds apply to every day of the set
  int interval = -1;       // -i: least spacing in minutes between rows
  int startTime = -1;      // -starttime: minute of the day
  int endTime = -1;        // -endtime: minute of the day; 0 reads as 1439
  int day = -1;            // -day: 1..31; 0 the current day
  int firstDay = -1;       // -days D1-D2
  int lastDay = -1;
  std::string outputFile;  // -of; empty: standard output
};

// Only argv[0] .. argv[kExporterMaxWords - 1] are looked at.
inline constexpr int kExporterMaxWords = 19;

// Parses the words after the program name. Returns 0 and fills *options, or a
// negative code and leaves *options untouched: -1 a word beginning with "-"
// is no option word; -2 bad -day value; -3 -days; -4 -starttime; -5 -endtime;
// -6 -i; -7 -month or -of.
int ParseExporterOptions(int argc, const char* const* argv, ExporterOptions* options);

// True when one export over one month serves; false when the day range wraps
// from the previous month into the current one (-days D1-D2 with D1 >= D2 and
// neither -month nor -day).
bool IsSingleMonthRun(const ExporterOptions& options);

// The program's usage and its error line ("KestraneExporter.exe: error ...").
void PrintExporterUsage(std::ostream& err);
void PrintExporterError(std::ostream& err, const std::string& message);

// The message that the program prints for a failed export's code.
const char* ExportFailureMessage(int code);

}  // namespace kst

#endif  // KESTRANE_EXPORTER_EXPORTER_OPTIONS_H_
