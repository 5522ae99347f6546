// Performance counters: the machine's live figures (processors, memory,
// disks, network interfaces, processes, threads) named by counter paths
//
//   \\host\object(parent/instance)\counter
//
// The host part is optional and may only name this machine (its host name,
// "localhost" or ".", compared without regard to case). The instance part is
// present exactly for objects that have instances; "parent/" only for
// instances that have a parent (the Thread object's "process/index").
// Names compare without regard to ASCII case.
//
// Values come from one of two sources, chosen per query and per call below:
//  - the machine itself (/proc and /sys), the default;
//  - a scripted source, when the environment variable KESTRANE_PERF_SCRIPT
//    names a file. The file is read when a query is opened (or an
//    enumeration made), so tests and end-to-end runs of the services get
//    known values without any code change. Its lines:
//        # comment                       (blank lines are skipped too)
//        rate \Object(instance)\Counter  the counter is a rate counter
//        tick                            starts the next tick
//        \Object(instance)\Counter = 12.5
//    A path may leave out its leading backslash and has no host. Objects,
//    instances and counters are those the file names anywhere; an object
//    has instances when its paths carry them. Values before the first
//    "tick" belong to tick 1. A value not given in a tick keeps the value of
//    the tick before. The n-th collection of a query reads tick n, and every
//    collection after the last tick reads the last one again. Ticks are one
//    second apart, so a rate counter shows the difference of its values.
//
// Counter kinds: a gauge shows its value from the first collection on; a rate
// or time-share counter (names ending in "/sec", most "%" counters) needs two
// collections and has no valid value before the second.
//
// Threads: a query is used by one thread at a time. The free functions may be
// called from any thread.
#ifndef KESTRANE_PLATFORM_PERFCOUNTERS_H_
#define KESTRANE_PLATFORM_PERFCOUNTERS_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kst {

// Result of every counter operation. kPdhMoreData and kPdhRetry keep the
// numbers that browsing callers compare with; the failures are ours.
using PdhStatus = uint32_t;
inline constexpr PdhStatus kPdhSuccess = 0;
inline constexpr PdhStatus kPdhMoreData = 0x800007D2;
inline constexpr PdhStatus kPdhRetry = 0x800007D4;
inline constexpr PdhStatus kPdhNoData = 0x800007D5;        // nothing collected yet
inline constexpr PdhStatus kPdhInvalidData = 0xC0000B01;   // no valid value (yet)
inline constexpr PdhStatus kPdhBadPath = 0xC0000B02;       // not a counter path
inline constexpr PdhStatus kPdhNoMachine = 0xC0000B03;     // host is not this machine
inline constexpr PdhStatus kPdhNoObject = 0xC0000B04;
inline constexpr PdhStatus kPdhNoInstance = 0xC0000B05;
inline constexpr PdhStatus kPdhNoCounter = 0xC0000B06;
inline constexpr PdhStatus kPdhInvalidHandle = 0xC0000B07; // unknown counter or closed query
inline constexpr PdhStatus kPdhSourceUnreadable = 0xC0000B08;  // the script cannot be read

// A counter path taken apart. Empty host: none given. has_instance tells
// "Memory" from "Memory()".
struct CounterPath {
  std::string host;
  std::string object;
  bool has_instance = false;
  std::string parent;    // empty when the instance has none
  std::string instance;
  std::string counter;
};

// Splits `path`; kPdhBadPath when it does not start with a backslash, lacks
// an object or a counter, or has unbalanced parentheses.
PdhStatus ParseCounterPath(std::string_view path, CounterPath* out);

// The text of a path, with "\\host" only when host is not empty.
std::string MakeCounterPath(const CounterPath& path);

// True when `host` names this machine: empty, ".", "localhost" or the host
// name, without regard to case.
bool IsLocalMachine(std::string_view host);

// This machine's host name (at most 255 characters); false when it cannot
// be read.
bool LocalHostName(std::string* name);

// Identifies a counter within its query; 0 is never a valid handle.
using PerfCounterHandle = uint32_t;

// A real-time query: a set of counters collected together.
class PerfQuery {
 public:
  virtual ~PerfQuery() = default;

  // Adds the counter of `path`. On failure *counter is 0 and the status says
  // why (bad path, another machine, unknown object, instance or counter).
  virtual PdhStatus AddCounter(std::string_view path, PerfCounterHandle* counter) = 0;

  // Removes a counter; kPdhInvalidHandle when it is not in the query.
  virtual PdhStatus RemoveCounter(PerfCounterHandle counter) = 0;

  // Samples every counter of the query once. A query without counters
  // collects successfully.
  virtual PdhStatus Collect() = 0;

  // The counter's value from the latest collection (and, for rate and
  // time-share counters, the one before). kPdhNoData before the first
  // collection, kPdhInvalidData when the counter has no valid value: a rate
  // counter after one collection, an instance that has gone away.
  virtual PdhStatus GetFormattedValue(PerfCounterHandle counter, double* value) const = 0;

  // Releases the counters. Every later call, Close included, fails with
  // kPdhInvalidHandle.
  virtual PdhStatus Close() = 0;
};

// Opens a real-time query on this machine's counters (or the scripted source,
// see above). On failure *query is left empty.
PdhStatus OpenQuery(std::unique_ptr<PerfQuery>* query);

// The objects of `host` (this machine only), in a fixed order.
PdhStatus EnumObjects(std::string_view host, std::vector<std::string>* objects);

// The counters of `object` and its current instances ("parent/name" for an
// instance with a parent). An object without instances gives an empty list.
PdhStatus EnumObjectItems(std::string_view host, std::string_view object,
                          std::vector<std::string>* counters,
                          std::vector<std::string>* instances);

// Expands "*" in the object, parent, instance and counter parts of
// `wildcard_path` (a "*" may stand for any run of characters in a name)
// into every matching counter path, counter by counter and instance by
// instance within an object, objects in EnumObjects order. The result keeps
// the host part as given; objects without instances match any instance part.
// The result is a multi-string: each path followed by a NUL, and one NUL
// more at the end. *length is the buffer's size in chars on entry; when the
// buffer is null or too small the call answers kPdhMoreData and sets *length
// to the size needed, else it fills the buffer and sets *length to the size
// used.
PdhStatus ExpandCounterPath(std::string_view wildcard_path, char* buffer, uint32_t* length);

// The same expansion as a list.
PdhStatus ExpandCounterPath(std::string_view wildcard_path, std::vector<std::string>* paths);

}  // namespace kst

#endif  // KESTRANE_PLATFORM_PERFCOUNTERS_H_
