// Inside the counter layer: where raw counter values come from. A query owns
// one source; the machine's source reads /proc and /sys, the scripted source
// replays a file of values (see perfcounters.h). Not for callers outside the
// perfcounters*.cc files.
#ifndef KESTRANE_PLATFORM_PERFCOUNTERS_SOURCE_H_
#define KESTRANE_PLATFORM_PERFCOUNTERS_SOURCE_H_

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/perfcounters.h"

namespace kst::perf {

// How a raw value becomes a shown value.
enum class CounterKind {
  kGauge,      // raw as it is
  kRate,       // (raw - raw before) / (base - base before), base in seconds
  kTimeShare,  // 100 * (raw - raw before) / (base - base before)
};

struct CounterDef {
  std::string name;
  CounterKind kind;
};

struct ObjectDef {
  std::string name;
  bool has_instances;
  std::vector<CounterDef> counters;
};

struct RawValue {
  double raw = 0.0;
  double base = 0.0;
  bool valid = false;
};

// One instance in one reading; an object without instances reads as one
// entry with empty names.
struct InstanceSample {
  std::string parent;
  std::string name;
  // Another name by which a path still finds this instance when no instance
  // bears it: the name a process had before it was named by its program's
  // whole file name (the kernel's name, cut to 15 characters); empty when
  // there is none.
  std::string alias_parent;
  std::string alias;
  std::vector<RawValue> values;  // one per counter of the object, in its order
};

using ObjectSample = std::vector<InstanceSample>;

class CounterSource {
 public:
  virtual ~CounterSource() = default;

  // The objects, fixed for the source's life.
  virtual const std::vector<ObjectDef>& Objects() const = 0;

  // Starts the next collection; every Sample until the next call belongs to
  // it (one time base for all objects, one tick of a script).
  virtual void BeginCollection() = 0;

  // Reads one object's instances and raw values in the current collection.
  virtual void Sample(size_t object, ObjectSample* out) = 0;
};

// The machine's source; `root` is the folder that stands for "/" when its
// /proc and /sys files are read (a copy of them in a test), empty for the
// machine itself.
std::unique_ptr<CounterSource> NewMachineSource(const std::string& root = "");

// Helpers the machine source shares between its files.
// The whole of a small file such as /proc/stat; false when it cannot be read.
bool ReadSmallFile(const std::string& path, std::string* out);
// A name from the system made fit for an instance: characters that a path
// gives a meaning ("/", "\", "(", ")") and the ";" of the ring buffer's
// header lines become "_".
std::string InstanceName(std::string_view raw);
// Of the "Key:   123 kB" and "key 123" lines of a /proc text, the first
// number of the last line that names `key` itself, not a longer key that
// begins or ends with it; 0 when no line does.
double KeyValue(std::string_view text, std::string_view key);
// The Process and Thread objects.
ObjectDef ProcessObject();
ObjectDef ThreadObject();

// Samples the Process and Thread objects at `now` seconds on the clock that
// rate counters use. Sums over tasks (all processes of one name, the totals)
// grow by what each living task did since its last reading, so a task that
// ends does not take the CPU time it used out of them. One per source.
class TaskSampler {
 public:
  // `root` as for NewMachineSource.
  explicit TaskSampler(const std::string& root);
  ~TaskSampler();
  void SampleProcesses(double now, ObjectSample* out);
  void SampleThreads(double now, ObjectSample* out);

 private:
  struct Sums;
  const std::string proc_;  // the /proc folder
  std::unique_ptr<Sums> processes_;
  std::unique_ptr<Sums> threads_;
};

// Reads the script file; kPdhSourceUnreadable when it cannot be read or a
// line makes no sense.
PdhStatus NewScriptedSource(const std::string& file, std::unique_ptr<CounterSource>* out);

// A query over `source`, as OpenQuery makes one.
std::unique_ptr<PerfQuery> NewQuery(std::unique_ptr<CounterSource> source);

// The source for a new query: the script named by KESTRANE_PERF_SCRIPT when
// it is set, else the machine.
PdhStatus OpenSource(std::unique_ptr<CounterSource>* source);


}  // namespace kst::perf

#endif  // KESTRANE_PLATFORM_PERFCOUNTERS_SOURCE_H_
