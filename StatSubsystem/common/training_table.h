// Preparing an analyzer instance's training table: the exporter's CSV of the
// training period, then only the wanted columns in the wanted order.
#ifndef KESTRANE_STATSUBSYSTEM_COMMON_TRAINING_TABLE_H_
#define KESTRANE_STATSUBSYSTEM_COMMON_TRAINING_TABLE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "StatSubsystem/common/analyzer_instance.h"

namespace kst {

// One exporter run of a training export: the option text that follows the
// exporter's quoted path directly (the empty buffer-name argument inside it,
// the interval rounded up to whole minutes, the daily window as "hh:mm") and
// the file it writes.
struct TrainingExportRun {
  std::string options;      // begins with a blank
  std::string output_path;  // where this run writes

  // QuotedExporterPath() followed by `options`.
  std::string CommandLine() const;
};
// The one or two runs that cover `period` (only its day and month count,
// taken in local time); the second, when there is one, writes to the output
// path followed by ".0" and leaves out the header lines.
std::vector<TrainingExportRun> TrainingExportRuns(const TrainingPeriod& period,
                                                  uint32_t interval_seconds,
                                                  const std::string& output_path);

// Runs the exporter over the period (rows every interval, rounded up to whole
// minutes) into `output_path`, joining the second month of a period across a
// month end onto the first: its lines follow, each with a LF, and when its
// file ends with a LF one empty line closes the table. 0 the output exists afterwards; -10 the period
// ends before it begins or the interval is 0; -1 the exporter cannot be
// started or wrote nothing. Blocks while the exporter runs.
void ExportTrainingData(const TrainingPeriod& period, uint32_t interval_seconds,
                        const std::string& output_path, int* result);

// Copies from the CSV `input_path` the columns of `wanted` titles
// ("object::counter"), in that order, header lines included, to
// `output_path`, up to the first line whose number of cells differs from the
// counter line's. A column goes to the first wanted title that names it, so a
// title wanted twice leaves its second entry without one. Number of lines
// written; -1 the input cannot be opened; -11 the output cannot be made; -12
// a wanted title has no column (the output is then empty).
void PrepareTrainingCsv(const std::vector<std::string>& wanted, const std::string& input_path,
                        const std::string& output_path, int* result);

}  // namespace kst

#endif  // KESTRANE_STATSUBSYSTEM_COMMON_TRAINING_TABLE_H_
