// kstctl instance: writes, removes and re-statuses the analyzer instances of
// a log.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "StatSubsystem/common/config_tree.h"
#include "tools/kstctl/action_table.h"
#include "tools/kstctl/command.h"
#include "tools/kstctl/config_support.h"
#include "tools/kstctl/instance_args.h"

namespace kst {
namespace {

constexpr const char* kCommand = "instance";

int Usage(const std::string& what) {
  std::fprintf(stderr, "kstctl %s: %s\n", kCommand, what.c_str());
  return 2;
}

int Add(const ActionArgs& args) {
  AnalyzerInstance instance;
  instance.title = args[1];
  instance.pluginFileName = args[2];
  instance.stateFileName = args[3];
  for (size_t i = 4; i < args.size(); ++i) {
    const std::string& option = args[i];
    if (option == "--uses-time") {
      instance.usesTime = true;
      continue;
    }
    if (i + 1 >= args.size()) return Usage("option " + option + " needs a value");
    const std::string& value = args[++i];
    TrainingPeriod& period = instance.trainingPeriod;
    bool ok = true;
    if (option == "--threshold") {
      ok = ParseThreshold(value, &instance.warningLevelThreshold);
    } else if (option == "--from") {
      ok = ParseDate(value, &period.dayIntervalFrom);
    } else if (option == "--till") {
      ok = ParseDate(value, &period.dayIntervalTill);
    } else if (option == "--window") {
      ok = ParseWindow(value, &period.dayTimeIntervalFrom, &period.dayTimeIntervalTill);
    } else if (option == "--param") {
      std::optional<ParameterValue> parameter = ParseParameterLine(value);
      ok = parameter.has_value();
      if (ok) instance.parameters.push_back(*parameter);
    } else {
      return Usage("unknown option " + option);
    }
    if (!ok) return Usage("bad value for " + option + ": '" + value + "'");
  }

  int result = 0;
  WriteAnalyzerInstance(args[0], instance, &result);
  if (result >= 0) {
    std::printf("%d instances in log %s\n", result, args[0].c_str());
    return 0;
  }
  return ConfigFail(kCommand, "writing instance '" + instance.title + "'", result,
                    WriteInstanceMeaning(result));
}

int Remove(const ActionArgs& args) {
  if (!LoadRootDirectory(kCommand)) return 1;
  int result = 0;
  RemoveAnalyzerInstance(args[0], args[1], &result);
  if (result >= 0) {
    std::printf("%d instances left in log %s\n", result, args[0].c_str());
    return 0;
  }
  const char* meaning = "registry failure";
  if (result == -7) meaning = "a title empty or with a backslash";
  if (result == -3) meaning = "no such log";
  if (result == -5) meaning = "no such instance, or the log's instance titles are unreadable";
  return ConfigFail(kCommand, "removing instance '" + args[1] + "'", result, meaning);
}

int Status(const ActionArgs& args) {
  int result = 0;
  if (args.size() == 2) {
    int status = 0;
    ReadInstanceStatus(args[0], args[1], &status, &result);
    if (result < 0) {
      return ConfigFail(kCommand, "reading the status of '" + args[1] + "'", result,
                        result == -3   ? "no such instance"
                        : result == -7 ? "a title empty or with a backslash"
                                       : "no readable status value");
    }
    const char* text = InstanceStatusText(status);
    std::printf("%s\n", text != nullptr ? text : "unknown");
    return 0;
  }
  const int status = InstanceStatusCode(args[2].c_str());
  if (status == kStatusUnknown) return Usage("status must be activated, training or deactivated");
  WriteInstanceStatus(args[0], args[1], status, &result);
  if (result >= 0) return 0;
  return ConfigFail(kCommand, "setting the status of '" + args[1] + "'", result,
                    result == -3   ? "no such instance"
                    : result == -7 ? "a title empty or with a backslash"
                                   : "registry failure");
}

const Action kActions[] = {
    {"add", "add LOG TITLE PLUGIN STATE-FILE [OPTION...]",
     "write an activated analyzer instance into LOG", 4, SIZE_MAX, Add},
    {"remove", "remove LOG TITLE", "delete the instance's state file, its key and its title",
     2, 2, Remove},
    {"status", "status LOG TITLE [STATUS]",
     "print the instance's status, or set it (activated, training, deactivated)", 2, 3, Status},
};

}  // namespace

int InstanceCommand(const std::vector<std::string>& args) {
  return DispatchAction(kCommand, kActions,
                        "Writes, removes and re-statuses the analyzer instances of a log\n"
                        "(see 'kstctl log list' for what is there).\n",
                        "\nOptions of add:\n"
                        "  --uses-time            the time of day is the first feature\n"
                        "  --threshold N          warning level threshold, 0 to 100 (default 0)\n"
                        "  --from YYYY-MM-DD      first day of the training period\n"
                        "  --till YYYY-MM-DD      last day of the training period\n"
                        "  --window HH:MM-HH:MM   daily training window, 00:00 to 23:59\n"
                        "  --param LINE           a parameter as stored: 'INT name=3',\n"
                        "                         'FLOAT name=0.5' or 'STRING name=text'\n"
                        "\nExit status: 0 done, 1 failed, 2 wrong usage.\n",
                        args);
}

}  // namespace kst
