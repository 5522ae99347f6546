// The collector's counter list (optCounters in its service key) and the
// current values of those counters. The checker watches exactly the counters
// the collector samples; both name a counter by the object part and the
// counter part of its path, and both sample them through one query.
#ifndef KESTRANE_STATSUBSYSTEM_COMMON_COUNTER_VALUES_H_
#define KESTRANE_STATSUBSYSTEM_COMMON_COUNTER_VALUES_H_

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/perfcounters.h"

namespace kst {

// The counter part of a path: the text after its last backslash.
std::string CounterNamePart(std::string_view path);

// The object part of a path: what lies between the backslash that ends the
// host part (or, without a host, nothing) and the last backslash, so
// "\\PC1\Processor(_Total)\% Processor Time" gives "Processor(_Total)" and
// "\Memory\Available Bytes" gives "\Memory" (the leading backslash stays;
// readers turn it into an underscore). A text without any backslash has no
// object part and no counter part apart from itself: its object part is empty
// and its counter part the whole text.
std::string CounterObjectPart(std::string_view path);

// Reads optCounters from the collector's service key into *paths (emptied
// first). 0, or a negative code when the value cannot be read.
int ReadCollectorCounterPaths(std::vector<std::string>* paths);

// The object parts (counter parts) of optCounters, in its order. The list is
// read and split on the first call and when `reread` is true, and kept for
// the process otherwise. 0, or -1 when optCounters cannot be read: the kept
// list is then empty, and later calls without reread answer it (empty) with
// 0. `out` is emptied first.
int ReadObjectNames(std::vector<std::string>& out, bool reread);
int ReadCounterNames(std::vector<std::string>& out, bool reread);

// One performance query over a list of counter paths; each path owns a slot,
// and a path that cannot be added leaves its slot empty. One thread at a time.
class CounterSampler {
 public:
  CounterSampler() = default;
  CounterSampler(const CounterSampler&) = delete;
  CounterSampler& operator=(const CounterSampler&) = delete;

  // Removes every counter of the query (the first failure answers -1) and
  // closes it (-2); afterwards no query exists. 0 when none existed.
  int Drop();

  // Opens a new query over `paths` (-4 when it cannot be opened, leaving
  // none). REQUIRES: no query exists (Drop first).
  int Build(const std::vector<std::string>& paths);

  // Collects once and appends one value per slot to `out`, 0.0 for a slot
  // without a valid value. -6 when there is no query or it cannot collect;
  // `out` is then left as it was.
  int Collect(std::vector<double>& out);

  size_t size() const { return handles_.size(); }

 private:
  std::unique_ptr<PerfQuery> query_;
  std::vector<PerfCounterHandle> handles_;  // 0 for an empty slot
};

// The query over optCounters kept from one call to the next, as both
// services use it. One thread at a time.
class CounterValueReader {
 public:
  // Appends the current value of every counter of optCounters to `out`. The
  // query is built on the first call and when `rebuild` is true (re-reading
  // optCounters), and kept otherwise. 0; -1 a counter cannot be removed from
  // the old query; -2 the old query cannot be closed; -3 optCounters cannot
  // be read; -4 a new query cannot be opened; -6 the query cannot collect.
  int Read(std::vector<double>& out, bool rebuild);

  // Builds the query now on a list the caller has read already, so that what
  // the caller derived from that list and the values stay in step. 0, -1, -2
  // or -4 as above.
  int Rebuild(const std::vector<std::string>& paths);

 private:
  CounterSampler sampler_;
  bool built_ = false;
};

// Read() of the process's one CounterValueReader.
int ReadCurrentCounterValues(std::vector<double>& out, bool rebuild);

}  // namespace kst

#endif  // KESTRANE_STATSUBSYSTEM_COMMON_COUNTER_VALUES_H_
