// kstctl log: the logs of the configuration tree, with their counters and
// analyzer instances.
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "StatSubsystem/common/config_tree.h"
#include "tools/kstctl/action_table.h"
#include "tools/kstctl/command.h"
#include "tools/kstctl/config_support.h"

namespace kst {
namespace {

constexpr const char* kCommand = "log";

std::string LocalDate(int32_t calendar_time) {
  const std::time_t t = calendar_time;
  std::tm fields{};
  char text[32];
  if (localtime_r(&t, &fields) == nullptr ||
      std::strftime(text, sizeof text, "%Y-%m-%d", &fields) == 0) {
    return std::to_string(calendar_time);
  }
  return text;
}

std::string TimeOfDay(int32_t seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", seconds / 3600, seconds % 3600 / 60,
                seconds % 60);
  return text;
}

const char* StatusName(int status) {
  const char* text = InstanceStatusText(status);
  return text != nullptr ? text : "unknown";
}

void PrintInstance(const std::string& log, const AnalyzerInstance& instance) {
  const TrainingPeriod& period = instance.trainingPeriod;
  std::printf("  instance %s\n", instance.title.c_str());
  std::printf("    plug-in:         %s\n", instance.pluginFileName.c_str());
  std::printf("    state file:      %s\n", instance.stateFileName.c_str());
  std::printf("    uses time:       %s\n", instance.usesTime ? "yes" : "no");
  std::printf("    threshold:       %d\n", instance.warningLevelThreshold);
  std::printf("    training period: %s to %s, daily %s to %s\n",
              LocalDate(period.dayIntervalFrom).c_str(), LocalDate(period.dayIntervalTill).c_str(),
              TimeOfDay(period.dayTimeIntervalFrom).c_str(),
              TimeOfDay(period.dayTimeIntervalTill).c_str());
  std::printf("    parameters:     ");
  if (instance.parameters.empty()) std::printf(" none");
  for (const ParameterValue& parameter : instance.parameters) {
    std::printf(" \"%s\"", parameter.line().c_str());
  }
  std::printf("\n");
  int status = 0, result = 0;
  ReadInstanceStatus(log, instance.title, &status, &result);
  std::printf("    status:          %s\n", result == 0 ? StatusName(status) : "unreadable");
}

// Prints one log; false when it cannot be read.
bool PrintLog(const std::string& log) {
  int result = 0;
  const std::vector<std::string> counters = ReadLogCountersTitles(log, &result);
  if (result < 0) {
    ConfigFail(kCommand, "log '" + log + "'", result,
               result == -3   ? "no such log"
               : result == -7 ? "log title empty or with a backslash"
                              : "its counter titles cannot be read");
    return false;
  }
  std::printf("log %s\n", log.c_str());
  for (const std::string& counter : counters) std::printf("  counter %s\n", counter.c_str());
  const std::vector<AnalyzerInstance> instances = ReadAnalyzerInstances(log, &result);
  if (result < 0) {
    ConfigFail(kCommand, "instances of log '" + log + "'", result,
               "its instance titles cannot be read");
    return false;
  }
  for (const AnalyzerInstance& instance : instances) PrintInstance(log, instance);
  return true;
}

int List(const ActionArgs& args) {
  if (!args.empty()) return PrintLog(args[0]) ? 0 : 1;
  int result = 0;
  const std::vector<std::string> logs = ReadLogsTitles(&result);
  if (result < 0) {
    return ConfigFail(kCommand, "reading the log titles", result,
                      "no Logs key (run 'kstctl store setup') or a malformed logsTitles");
  }
  bool ok = true;
  for (const std::string& log : logs) ok = PrintLog(log) && ok;
  return ok ? 0 : 1;
}

int Add(const ActionArgs& args) {
  const std::vector<std::string> counters(args.begin() + 1, args.end());
  int result = 0;
  AddLog(args[0], counters, &result);
  if (result >= 0) {
    std::printf("%d logs\n", result);
    return 0;
  }
  const char* meaning = "registry failure, or the counter store was never set up";
  if (result == -7) meaning = "empty counter title, or a log title empty or with a backslash";
  if (result == -2) meaning = "the log exists already";
  return ConfigFail(kCommand, "adding log '" + args[0] + "'", result, meaning);
}

int Remove(const ActionArgs& args) {
  int result = 0;
  RemoveLog(args[0], &result);
  if (result >= 0) {
    std::printf("%d logs left\n", result);
    return 0;
  }
  const char* meaning = "registry failure";
  if (result == -7) meaning = "log title empty or with a backslash";
  if (result == -3) meaning = "no such log";
  return ConfigFail(kCommand, "removing log '" + args[0] + "'", result, meaning);
}

const Action kActions[] = {
    {"list", "list [LOG]",
     "print every log (or LOG) with its counters and analyzer instances", 0, 1, List},
    {"add", "add LOG COUNTER...", "add a log of counter titles (\"object::counter\")", 2,
     SIZE_MAX, Add},
    {"remove", "remove LOG", "remove a log with its instances (state files stay)", 1, 1,
     Remove},
};

}  // namespace

int LogCommand(const std::vector<std::string>& args) {
  return DispatchAction(kCommand, kActions,
                        "Reads and changes the logs of the configuration tree under\n"
                        "SOFTWARE\\Kestrane\\Internal\\Logs.\n",
                        "\nExit status: 0 done, 1 failed, 2 wrong usage.\n", args);
}

}  // namespace kst
