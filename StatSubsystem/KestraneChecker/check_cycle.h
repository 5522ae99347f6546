// One tick of the checking service: bind the alerter, rebuild the picture of
// the configuration after a reload request, read the current counter values,
// ask every activated analyzer instance of every log for its judgement, and
// turn each high enough answer into a console line, an alert handed to the
// alerter and a frame in the "alertmessages" file.
#ifndef KESTRANE_STATSUBSYSTEM_KESTRANECHECKER_CHECK_CYCLE_H_
#define KESTRANE_STATSUBSYSTEM_KESTRANECHECKER_CHECK_CYCLE_H_

#include <cstdio>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "KestraneAlerter/alerter_exports.h"
#include "Ruleforge/plugin_exports.h"
#include "StatSubsystem/common/alert_message.h"
#include "StatSubsystem/common/analyzer_instance.h"
#include "StatSubsystem/common/counter_values.h"
#include "platform/module.h"

namespace kst {

// What a plug-in's `check` reports besides its level: one entry per
// anomalous rule, owned by the plug-in.
using AnomalyDetails = std::vector<AnomalyDetail>;
// The plug-in's `check` export.
using CheckFunction = CheckExport;

// An activated analyzer instance with its plug-in loaded and `check` bound.
struct CheckedInstance : AnalyzerInstance {
  std::unique_ptr<Module> pluginModule;
  CheckFunction* checkFunction = nullptr;
  // Whether the log has been told that `check` fails for this instance;
  // once per reload, not once per check.
  bool failureLogged = false;
};

// The frame's side of a check.
struct CheckControls {
  // The product key's rootDirectory, as stored.
  std::string rootDirectory;
  // Set when the configuration is to be read again; a check that runs to its
  // end clears it.
  bool* reloadRequested = nullptr;
  // Looked at before each analyzer instance (the frame takes its lock).
  std::function<bool()> stopRequested;
  // The clock of the check; the system's when empty.
  std::function<std::time_t()> now;
};

// The state one checking service keeps from one check to the next. The
// service keeps one for its whole life and never destroys it; a test may make
// and destroy as many as it likes (destruction releases the dispatcher and
// every module). Used by one thread at a time: the plug-ins, the alerter and
// the configuration library's list readers are not thread-safe.
class CheckCycle {
 public:
  // The size of the message buffer a plug-in writes into.
  static constexpr unsigned kMessageSize = 1024;

  CheckCycle();
  ~CheckCycle();
  CheckCycle(const CheckCycle&) = delete;
  CheckCycle& operator=(const CheckCycle&) = delete;

  // One check. 0 done; 1 a stop was seen between two instances (alerts
  // raised before it are written); -1 the collector's counter list cannot be
  // read (only in a check that reloads); -3 the "alertmessages" file cannot
  // be opened.
  int Check(const CheckControls& controls);

 private:
  void BindAlerter(const std::string& rootDirectory);
  void RenewDispatcher();
  int Rebuild();
  void LoadLog(const std::string& log);
  int CheckLogs(const CheckControls& controls, std::FILE* file);
  void Alert(const std::string& log, size_t logIndex, const CheckedInstance& instance, int level,
             const char* message, const std::vector<double>& features,
             const AnomalyDetails* details, std::FILE* file);
  bool AppendFrame(std::FILE* file, const std::string& frame);

  // The alerter, bound by the first check and kept for the object's life.
  bool alerterBound_ = false;
  std::unique_ptr<Module> alerter_;
  AlertDispatcher* dispatcher_ = nullptr;
  ProcessAlertMessageFn* processAlertMessage_ = nullptr;

  // The configuration as read at the last reload; the four are parallel.
  std::vector<std::string> logs_;
  std::vector<std::vector<std::string>> countersTitles_;
  std::vector<std::vector<CheckedInstance>> instances_;
  // Each log's counter ids, one per title (all bits set where the counter
  // store lacks the title); empty for a log without bound instances.
  std::vector<std::vector<uint64_t>> counterIds_;
  uint64_t timeCounterId_ = ~0ull;  // of "time::Time", likewise

  std::vector<std::string> counterNames_;  // one per collector counter path
  CounterValueReader counterValues_;       // over the same paths, same order
  std::map<std::string, double> values_;   // current value by counter name

  // The "alertmessages" file of the check in progress, as a native path.
  std::string messagesPath_;

  // Serialisation buffer of the check in progress.
  std::vector<char> buffer_;
  int capacity_ = 0;

  // Clock of the check in progress.
  int minuteOfDay_ = 0;
  int secondOfDay_ = 0;
  std::string stamp_;
};

// The name the checker gives counter path i: the object part, "::" and the
// counter part, with every backslash made an underscore. This must equal the
// title the counter store gives the same column from the exporter's header
// lines, which turn backslashes only; a slash ("Bytes Received/sec", the
// "process/index" of a thread) stays, or such counters would never find
// their current values.
std::string CheckerCounterName(const std::string& objectPart, const std::string& counterPart);

// Whether an instance is judged at `secondOfDay`: inside its daily window,
// both ends included. A window whose start lies after its end runs across
// midnight; a window whose two ends are equal is no restriction.
bool InsideDailyWindow(const TrainingPeriod& period, int secondOfDay);

}  // namespace kst

#endif  // KESTRANE_STATSUBSYSTEM_KESTRANECHECKER_CHECK_CYCLE_H_
