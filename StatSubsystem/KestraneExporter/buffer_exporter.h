// One export: the ring buffer's slots that pass the option filters, written
// as CSV statistics.
//
// CSV statistics (";" between cells, no quoting, LF after every line):
//   "time;<object 1>;...;<object n>"   unless noHeaders; backslashes made "_"
//   "Time;<counter 1>;...;<counter n>" unless noHeaders
//   "<minute>;<value 1>;...;<value n>" one row per accepted slot, file order,
//                                      values as printf's "%.18g"
// Every line has recordWidth - 1 cells.
#ifndef KESTRANE_EXPORTER_BUFFER_EXPORTER_H_
#define KESTRANE_EXPORTER_BUFFER_EXPORTER_H_

#include <cstdint>
#include <ctime>
#include <functional>
#include <iosfwd>
#include <string>

#include "StatSubsystem/KestraneExporter/exporter_options.h"
#include "StatSubsystem/common/regular_file.h"

namespace kst {

// Fills *now with the current local time; false when it cannot be read.
using LocalTimeSource = std::function<bool(std::tm* now)>;
bool SystemLocalTime(std::tm* now);

// The collector's description of its ring buffer, from its service key.
struct CollectorSettings {
  uint32_t timeInterval = 0;  // optTimeInt: minutes per slot
  std::string bufferFile;     // optBufferName
  int32_t headerSize = 0;     // optHeadGrpOffset: file offset of slot 0
  int32_t recordWidth = 0;    // optCollsCount: doubles per slot
};

// Standard output or a file, whichever the options name.
class OutputTarget {
 public:
  // `standard_output` is what an empty file name selects; not owned.
  explicit OutputTarget(std::ostream* standard_output) : standard_output_(standard_output) {}

  // An empty name selects standard output and always succeeds. Otherwise the
  // file (a system path text) is opened for writing, truncated or appended
  // to: a regular file, a character device or a FIFO that a reader holds
  // open (one without would block the export).
  OutputFileStatus Open(const std::string& fileName, bool truncate);
  std::ostream& Stream();
  // False when anything written could not be (a full disk).
  bool Close();

 private:
  std::ostream* standard_output_;
  RegularFileBuf file_buffer_;
  std::ostream file_{&file_buffer_};
  bool to_file_ = false;
};

// Not thread-safe; one export at a time. The spacing filter's last kept
// minute lives as long as the object, so that the two runs of an export
// across the month end share it.
class BufferExporter {
 public:
  explicit BufferExporter(LocalTimeSource clock = SystemLocalTime,
                          std::ostream* standard_output = nullptr);

  // Reads optTimeInt (-1), optHeadGrpOffset (-2), optCollsCount (-3) and
  // optBufferName (-4) from the collector's service key; 0.
  int LoadCollectorSettings();

  // One export into options->outputFile. 0; -1 settings not loadable (or
  // unusable: an interval of 0, fewer than two doubles per slot); -2 output
  // not openable; -3 ring buffer not openable; -4 local time not readable;
  // -5 the ring buffer is no regular file; -6 its header lines are damaged
  // (no ";", or no LF within their bound) or do not describe the slots
  // optHeadGrpOffset and optCollsCount name (checked with -ngh too);
  // -7 the output is a folder, block device or socket; -8 the output could
  // not be written whole; -9 the output is a FIFO that nobody reads.
  // Nothing past the month's last slot is read.
  // The filters fill in defaults (day, month, end time) in *options.
  int Export(ExporterOptions* options, bool truncate);

  // Reads one slot's date key and minute from `input` and applies the
  // filters; on acceptance writes the minute cell to `output` and returns 1,
  // else -1. Leaves `input` before the slot's values.
  int AcceptRecord(std::istream& input, std::ostream& output, ExporterOptions* options);

  const CollectorSettings& settings() const { return settings_; }

 private:
  bool Accept(int date_key, int minute, ExporterOptions* options);

  LocalTimeSource clock_;
  std::ostream* standard_output_;
  CollectorSettings settings_;
  int currentMonth_ = 0;
  int currentDay_ = 0;
  int lastKeptMinute_ = -1;
};

}  // namespace kst

#endif  // KESTRANE_EXPORTER_BUFFER_EXPORTER_H_
