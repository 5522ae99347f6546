// kstctl train: the management host's training of a new analyzer instance:
// the training period exported from the ring buffer, the log's columns cut
// from it, the plug-in's install run while a progress bar follows it, and
// the instance written and the checking service asked to reload.
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Ruleforge/exceptions.h"
#include "Ruleforge/plugin_exports.h"
#include "Ruleforge/shared_progress.h"
#include "StatSubsystem/common/config_tree.h"
#include "StatSubsystem/common/product_key.h"
#include "StatSubsystem/common/training_table.h"
#include "platform/module.h"
#include "platform/paths.h"
#include "tools/kstctl/command.h"
#include "tools/kstctl/config_support.h"
#include "tools/kstctl/host_support.h"
#include "tools/kstctl/instance_args.h"

namespace kst {

// "[#####...............]  25%": the bar a terminal shows for a fraction.
std::string ProgressBar(double fraction) {
  constexpr int kWidth = 40;
  if (!(fraction >= 0.0)) fraction = 0.0;
  if (fraction > 1.0) fraction = 1.0;
  const int filled = static_cast<int>(fraction * kWidth);
  std::string bar = "[" + std::string(filled, '#') + std::string(kWidth - filled, '.') + "]";
  char percent[8];
  std::snprintf(percent, sizeof percent, " %3d%%", static_cast<int>(fraction * 100));
  return bar + percent;
}

namespace {

// Why files cannot be written in `folder` just now, in the system's words
// ("No space left on device"); empty when a trial block goes through.
std::string WriteFailure(const std::filesystem::path& folder) {
  std::string trial = (folder / ".write-trial-XXXXXX").string();
  const int fd = ::mkstemp(trial.data());
  if (fd < 0) return std::strerror(errno);
  const std::string block(4096, '\0');
  errno = ENOSPC;  // what a short write means
  const bool written = ::write(fd, block.data(), block.size()) == static_cast<ssize_t>(block.size()) &&
                       ::fsync(fd) == 0;
  const int error = errno;
  ::close(fd);
  ::unlink(trial.c_str());
  return written ? std::string() : std::strerror(error);
}

// The number of lines of a file; -1 when it cannot be read.
int LinesOf(const std::string& native_path) {
  std::ifstream in(native_path, std::ios::binary);
  if (!in) return -1;
  int lines = 0;
  for (char c; in.get(c);) lines += c == '\n';
  return lines;
}

}  // namespace

int WriteTrainingTable(const char* command, const std::string& log,
                       const AnalyzerInstance& instance, uint32_t interval_seconds,
                       const std::string& exported, const std::string& output) {
  int result = 0;
  std::vector<std::string> wanted;
  if (instance.usesTime) wanted.push_back("time::Time");
  const std::vector<std::string>& counters = ReadLogCountersTitles(log, &result);
  if (result < 0) {
    ConfigFail(command, "reading the counters of log '" + log + "'", result,
               result == -3 ? "no such log" : "no readable counter list");
    return -1;
  }
  wanted.insert(wanted.end(), counters.begin(), counters.end());
  // Neither the exporter's run nor the cut reports a failed write: on a full
  // disk the table comes out empty or cut short, and would be blamed on the
  // counters. While the export is still there, a trial write tells.
  auto unwritable = [&] {
    for (const std::string& file : {exported, output}) {
      const std::filesystem::path folder = std::filesystem::path(NativePath(file)).parent_path();
      if (std::string cause = WriteFailure(folder); !cause.empty()) {
        ConfigFail(command, "the training table could not be written in " + folder.string() + ": " + cause);
        return true;
      }
    }
    return false;
  };
  std::error_code ignored;
  ExportTrainingData(instance.trainingPeriod, interval_seconds, exported, &result);
  if (result != 0) {
    const bool full = result == -1 && unwritable();
    std::filesystem::remove(NativePath(exported), ignored);
    if (full) return -1;
    ConfigFail(command, "exporting the training period", result,
               result == -10 ? "the period ends before it begins, or the interval is 0"
                             : kExporterFailed);
    return -1;
  }
  PrepareTrainingCsv(wanted, exported, output, &result);
  const bool full = (result <= 2 || LinesOf(NativePath(output)) != result) && unwritable();
  std::filesystem::remove(NativePath(exported), ignored);
  if (full) return -1;
  if (result < 0) {
    const char* meaning = "the exported table cannot be read";
    if (result == -11) meaning = "the output file cannot be made";
    if (result == -12) meaning = "a counter of the log is not in the ring buffer, or the log lists it twice";
    ConfigFail(command, "cutting the training table", result, meaning);
    return -1;
  }
  return result;
}

namespace {

constexpr const char* kCommand = "train";

struct TrainOptions {
  std::string log;
  AnalyzerInstance instance;
  std::string profile;                  // empty: the plug-in's first
  std::vector<std::string> assignments;  // NAME=VALUE over the profile's
  uint32_t interval_seconds = 60;
  bool have_from = false, have_till = false;
};

int Usage(const std::string& what) {
  std::fprintf(stderr, "kstctl %s: %s\n", kCommand, what.c_str());
  std::fprintf(stderr, "Run 'kstctl train --help' for the options.\n");
  return 2;
}

// A state file name made from the title: letters, digits, '-' and '.' kept,
// anything else an underscore.
std::string StateNameFor(const std::string& title) {
  std::string name;
  for (char c : title) {
    const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '.';
    name.push_back(keep ? c : '_');
  }
  return name + ".state";
}

// How many month ends lie between two calendar times, in local time.
int MonthsBetween(int32_t from, int32_t till) {
  const std::time_t t1 = from, t2 = till;
  std::tm a{}, b{};
  localtime_r(&t1, &a);
  localtime_r(&t2, &b);
  return (b.tm_year * 12 + b.tm_mon) - (a.tm_year * 12 + a.tm_mon);
}

int ParseOptions(const std::vector<std::string>& args, TrainOptions* o) {
  o->log = args[0];
  o->instance.title = args[1];
  o->instance.pluginFileName = "Discovery.dll";
  o->instance.trainingPeriod.dayTimeIntervalFrom = 0;
  // The whole day: the checker judges up to the last second of it.
  o->instance.trainingPeriod.dayTimeIntervalTill = 24 * 3600 - 1;
  TrainingPeriod& period = o->instance.trainingPeriod;
  for (size_t i = 2; i < args.size(); ++i) {
    const std::string& option = args[i];
    if (option == "--uses-time") {
      o->instance.usesTime = true;
      continue;
    }
    if (i + 1 >= args.size()) return Usage("option " + option + " needs a value");
    const std::string& value = args[++i];
    bool ok = true;
    if (option == "--plugin") {
      o->instance.pluginFileName = value;
      ok = !value.empty();
    } else if (option == "--profile") {
      o->profile = value;
    } else if (option == "--param") {
      o->assignments.push_back(value);
      ok = value.find('=') != std::string::npos;
    } else if (option == "--from") {
      ok = o->have_from = ParseDate(value, &period.dayIntervalFrom);
    } else if (option == "--till") {
      ok = o->have_till = ParseDate(value, &period.dayIntervalTill);
    } else if (option == "--window") {
      ok = ParseWindow(value, &period.dayTimeIntervalFrom, &period.dayTimeIntervalTill);
    } else if (option == "--interval") {
      ok = ParseUnsigned(value, &o->interval_seconds) && o->interval_seconds > 0;
    } else if (option == "--threshold") {
      ok = ParseThreshold(value, &o->instance.warningLevelThreshold);
    } else if (option == "--state") {
      o->instance.stateFileName = value;
      ok = !value.empty() && value.find_first_of("/\\") == std::string::npos;
    } else {
      return Usage("unknown option " + option);
    }
    if (!ok) return Usage("bad value for " + option + ": '" + value + "'");
  }
  // Refused now rather than by the registry after a long training.
  if (o->instance.title.empty() || o->instance.title.find('\\') != std::string::npos) {
    return Usage("TITLE may be neither empty nor hold a backslash");
  }
  if (!o->have_from || !o->have_till) return Usage("--from and --till are needed");
  if (period.dayIntervalFrom > period.dayIntervalTill) {
    return Usage("the training period ends before it begins");
  }
  // The exporter cuts each day from the window's start to its end, so a
  // window across midnight would export nothing, and equal ends one minute.
  if (period.dayTimeIntervalFrom >= period.dayTimeIntervalTill) {
    return Usage("the daily window must end after it begins on the same day "
                 "(leave --window out for the whole day)");
  }
  // The export takes the first and the last month of a period, so a longer
  // one would train on less than was asked; the buffer holds a month anyway.
  if (MonthsBetween(period.dayIntervalFrom, period.dayIntervalTill) > 1) {
    return Usage("the training period crosses more than one month end "
                 "(the ring buffer holds one month)");
  }
  if (o->instance.stateFileName.empty()) o->instance.stateFileName = StateNameFor(args[1]);
  if (o->instance.stateFileName.size() >= 260) {
    return Usage("the state file name is too long; give a shorter one with --state NAME");
  }
  return 0;
}

// The profile's default parameters with the NAME=VALUE assignments applied.
bool BuildParameters(Module& plugin, const TrainOptions& o, std::vector<ParameterValue>* out) {
  auto* profiles = plugin.Bind<GetParametersProfilesExport>("getParametersProfiles");
  auto* defaults = plugin.Bind<GetModuleDefaultParametersExport>("getModuleDefaultParameters");
  if (profiles == nullptr || defaults == nullptr) {
    ConfigFail(kCommand, "the plug-in " + o.instance.pluginFileName + " has no parameter profiles");
    return false;
  }
  const std::vector<std::string> names = *profiles();
  std::string profile = o.profile;
  if (profile.empty() && !names.empty()) profile = names[0];
  bool known = false;
  for (const std::string& n : names) known = known || n == profile;
  if (!known) {
    std::string list;
    for (const std::string& n : names) list += (list.empty() ? "\"" : ", \"") + n + "\"";
    ConfigFail(kCommand, "the plug-in has no profile \"" + profile + "\"; it has " + list);
    return false;
  }
  const std::vector<ParameterValue>* parameters = defaults(profile, nullptr);
  if (parameters == nullptr) {
    ConfigFail(kCommand, "the plug-in gave no parameters for profile \"" + profile + "\"");
    return false;
  }
  *out = *parameters;
  for (const std::string& assignment : o.assignments) {
    const size_t eq = assignment.find('=');
    const std::string name = assignment.substr(0, eq);
    const std::string value = assignment.substr(eq + 1);
    bool found = false;
    for (ParameterValue& p : *out) {
      if (name != p.name()) continue;
      found = true;
      if (!p.parse(value.c_str())) {
        ConfigFail(kCommand, "bad value '" + value + "' for parameter \"" + name + "\"");
        return false;
      }
    }
    if (!found) {
      ConfigFail(kCommand, "the profile has no parameter \"" + name + "\" (see 'kstctl module')");
      return false;
    }
  }
  return true;
}

// Runs install on a worker thread and draws the progress bar until it ends.
// True when trained; false after one line naming the failure.
bool RunInstall(InstallExport* install, const std::string& state_path,
                std::vector<ParameterValue>* parameters, const std::string& csv_path) {
  SharedProgress progress;
  std::atomic<bool> done{false};
  int answer = -1;
  std::string failure;
  std::thread worker([&] {
    try {
      answer = install(state_path, parameters, csv_path, &progress);
    } catch (Exception* e) {
      failure = e->message() != nullptr ? e->message() : "the training data cannot be loaded";
      delete e;
    } catch (...) {
      failure = "the plug-in failed while training";
    }
    done = true;
  });
  const bool terminal = ::isatty(STDOUT_FILENO) != 0;
  int shown = -1;
  for (;;) {
    const bool finished = done.load();
    double value = 0.0;
    progress.get(&value);
    if (finished && failure.empty() && answer == 0) value = 1.0;
    const int percent = static_cast<int>(value * 100);
    if (percent != shown && (terminal || finished || percent / 10 != shown / 10)) {
      std::printf("\rtraining %s", ProgressBar(value).c_str());
      std::fflush(stdout);
      shown = percent;
    }
    if (finished) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  worker.join();
  std::printf("\n");
  if (!failure.empty()) {
    ConfigFail(kCommand, "training failed: " + failure);
    return false;
  }
  if (answer == 1) {
    ConfigFail(kCommand, "training failed: the plug-in has this state file loaded already");
    return false;
  }
  if (answer != 0) {
    ConfigFail(kCommand, "training failed: the plug-in refused the parameters or could not write " +
                             state_path);
    return false;
  }
  return true;
}

int Train(const TrainOptions& o) {
  if (!LoadRootDirectory(kCommand)) return 1;
  int result = 0;
  const std::vector<AnalyzerInstance>& existing = ReadAnalyzerInstances(o.log, &result);
  if (result < 0) {
    return ConfigFail(kCommand, "reading the instances of log '" + o.log + "'", result,
                      result == -3 ? "no such log ('kstctl log list')" : "no readable instance list");
  }
  for (const AnalyzerInstance& other : existing) {
    if (other.title == o.instance.title) {
      return ConfigFail(kCommand, "log '" + o.log + "' has an instance '" + o.instance.title +
                                      "' already");
    }
    if (other.stateFileName == o.instance.stateFileName) {
      return ConfigFail(kCommand, "the instance '" + other.title + "' uses the state file " +
                                      o.instance.stateFileName + " already (use --state)");
    }
  }
  const std::string state_path = StateFilePath(o.instance);
  std::error_code ignored;
  if (std::filesystem::exists(state_path, ignored)) {
    return ConfigFail(kCommand, "the state file " + state_path + " exists already (use --state)");
  }

  std::unique_ptr<Module> plugin = LoadPlugin(kCommand, o.instance.pluginFileName);
  if (plugin == nullptr) return 1;
  auto* install = plugin->Bind<InstallExport>("install");
  if (install == nullptr) {
    return ConfigFail(kCommand, "the plug-in " + o.instance.pluginFileName + " has no install");
  }
  AnalyzerInstance instance = o.instance;
  if (!BuildParameters(*plugin, o, &instance.parameters)) return 1;

  MakeWorkFolders();
  const std::string temporary = RootDirectory() + "\\Temporary\\";
  const std::string exported = temporary + instance.stateFileName + ".export";
  const std::string table = temporary + instance.stateFileName + ".csv";
  auto cleanup = [&] {
    std::filesystem::remove(NativePath(exported), ignored);
    std::filesystem::remove(NativePath(table), ignored);
  };

  std::printf("exporting the training period from the ring buffer\n");
  const int lines =
      WriteTrainingTable(kCommand, o.log, instance, o.interval_seconds, exported, table);
  if (lines < 0) {
    cleanup();
    return 1;
  }
  if (lines <= 2) {
    cleanup();
    return ConfigFail(kCommand, "the ring buffer holds no samples in the training period");
  }
  std::printf("training table: %d rows\n", lines - 2);

  const bool trained = RunInstall(install, state_path, &instance.parameters, NativePath(table));
  cleanup();
  if (!trained) {
    std::filesystem::remove(state_path, ignored);
    return 1;
  }

  WriteAnalyzerInstance(o.log, instance, &result);
  if (result < 0) {
    // Whatever the failed write left behind goes, so no half-made instance
    // stays listed; the trained state file goes with it.
    if (result != -4) {
      int removed = 0;
      RemoveAnalyzerInstance(o.log, instance.title, &removed);
    }
    std::filesystem::remove(state_path, ignored);
    return ConfigFail(kCommand, "writing the instance", result, WriteInstanceMeaning(result));
  }
  std::printf("instance '%s' of log '%s' trained and activated (state file %s)\n",
              instance.title.c_str(), o.log.c_str(), state_path.c_str());
  ReloadAfterChange(kCommand);
  return 0;
}

}  // namespace

int TrainCommand(const std::vector<std::string>& args) {
  // Failures go to stderr unbuffered; a line at a time on stdout keeps them
  // after the progress that led to them when both go down one pipe.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::printf(
        "usage: kstctl train LOG TITLE --from YYYY-MM-DD --till YYYY-MM-DD [OPTION...]\n\n"
        "Trains a new analyzer instance TITLE of LOG from the collector's ring\n"
        "buffer: exports the training period, keeps the log's counters (in the\n"
        "log's order, after the time of day with --uses-time), runs the plug-in's\n"
        "install with a progress bar, writes the instance (activated) and asks the\n"
        "checking service to reload. On failure nothing new is left listed.\n"
        "\nOptions:\n"
        "  --from, --till DATE     first and last day of the training period (it\n"
        "                          may cross one month end)\n"
        "  --window HH:MM-HH:MM    daily window, not across midnight (default the\n"
        "                          whole day)\n"
        "  --interval SECONDS      sampling interval of the table (default 60)\n"
        "  --uses-time             the time of day is the first feature\n"
        "  --plugin FILE           analyzer plug-in (default Discovery.dll)\n"
        "  --profile NAME          parameter profile (default the plug-in's first)\n"
        "  --param NAME=VALUE      set one of the profile's parameters\n"
        "  --threshold N           warning level threshold 0-100 (default 0)\n"
        "  --state NAME            state file name in States (default from TITLE)\n"
        "\n'kstctl module FILE' lists a plug-in's profiles and parameters.\n"
        "\nExit status: 0 trained, 1 failed, 2 wrong usage.\n");
    return 0;
  }
  if (args.size() < 2) return Usage("LOG and TITLE are needed");
  TrainOptions options;
  if (int usage = ParseOptions(args, &options); usage != 0) return usage;
  return Train(options);
}

}  // namespace kst
