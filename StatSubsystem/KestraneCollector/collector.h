// One tick of the collector service: load the options of its service key,
// create the ring buffer when asked to (notFirstStartFlag 0) or open the one
// there is, and write the current values of every counter of optCounters
// into the slot of the current local time (layout in ring_buffer.h). The
// service around it is collector_service.h.
#ifndef KESTRANE_STATSUBSYSTEM_KESTRANECOLLECTOR_COLLECTOR_H_
#define KESTRANE_STATSUBSYSTEM_KESTRANECOLLECTOR_COLLECTOR_H_

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "StatSubsystem/KestraneCollector/buffer_file.h"
#include "StatSubsystem/common/counter_values.h"

namespace kst {

// The collector's module state. The service makes one per process and calls
// it from its service thread only.
class KestraneCollector {
 public:
  // `now` stands in for time(); it answers -1 when the time cannot be read.
  explicit KestraneCollector(std::function<time_t()> now = [] { return ::time(nullptr); });

  // Reads notFirstStartFlag, optBufferName, optTimeInt and, for an existing
  // buffer, optCollsCount and optHeadGrpOffset. 0 and *interval (minutes),
  // or: -1 notFirstStartFlag unreadable; -2 it is neither 0 nor 1;
  // -3 optBufferName unreadable; -4 optTimeInt unreadable; -5 optTimeInt <= 0;
  // -6 optCollsCount unreadable; -7 it is <= 0, or wider than header lines
  // of optHeadGrpOffset bytes can name (a damaged value, which would
  // otherwise ask for a slot of gigabytes); -8 optHeadGrpOffset unreadable;
  // -9 it is <= 0.
  int LoadParameters(uint32_t* interval);

  // One tick. 0, or: -1 parameters not loadable; -2 the existing buffer
  // cannot be opened (the service retries); -3 it is shorter than its
  // header lines, or its slots are too narrow for the date and minute
  // (optCollsCount < 2), or it ends inside a slot and its header lines do
  // not describe the slots optCollsCount and optHeadGrpOffset name; a torn
  // last slot is cut off instead, with a line on standard error (the
  // service's log); -4 a new buffer cannot be created; -5 optCounters unreadable for a new buffer; -7 counter values
  // not collectable; -8/-9/-10 optHeadGrpOffset/optCollsCount/
  // notFirstStartFlag not writable; -11 the slot cannot be written;
  // -101/-102 and -103/-104 the first and second reading of the time failed.
  // A failure of the buffer (-2, -3, -4, -8 to -11) writes one line naming
  // the file and the cause to standard error, not again while it repeats.
  //
  // A new buffer's header lines, optCollsCount and its query come from one
  // reading of optCounters, so they always agree; a slot always holds exactly
  // optCollsCount doubles (missing values are 0.0, surplus ones dropped).
  int Gather();

  // Appends one value per counter of the query to `out`, building the query
  // from optCounters first when it was never built or `reload` is set.
  // 0 or -1..-6 as CounterValueReader::Read.
  int CollectCounterValues(std::vector<double>& out, bool reload);

 private:
  int CreateBuffer(BufferFile& file, const std::string& native);
  // Writes "ring buffer <native> <problem>" to standard error (the service's
  // log) unless it was the last line written; returns `result`.
  int Problem(const std::string& native, const std::string& problem, int result);

  std::function<time_t()> now_;
  // notFirstStartFlag, optTimeInt, optCollsCount, optHeadGrpOffset and
  // optBufferName as the last load found them.
  bool existingBuffer = false;
  uint32_t timeInterval = 0;
  uint32_t recordWidth = 0;
  uint32_t headerSize = 0;
  std::string bufferFile;
  CounterValueReader counters_;
  std::string lastProblem_;  // the last fault told, until a tick succeeds
};

}  // namespace kst

#endif  // KESTRANE_STATSUBSYSTEM_KESTRANECOLLECTOR_COLLECTOR_H_
