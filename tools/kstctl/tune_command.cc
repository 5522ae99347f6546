// kstctl tune: queries or sets the sensitivity of a trained analyzer
// instance through its plug-in's tune.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Ruleforge/plugin_exports.h"
#include "StatSubsystem/common/config_tree.h"
#include "StatSubsystem/common/product_key.h"
#include "platform/durable_file.h"
#include "platform/module.h"
#include "platform/paths.h"
#include "tools/kstctl/command.h"
#include "tools/kstctl/config_support.h"
#include "tools/kstctl/host_support.h"

namespace kst {
namespace {

constexpr const char* kCommand = "tune";

int Usage() {
  std::fprintf(stderr, "usage: kstctl tune LOG INSTANCE [P]\n");
  return 2;
}

}  // namespace

bool FindInstance(const char* command, const std::string& log, const std::string& title,
                  AnalyzerInstance* found) {
  int result = 0;
  const std::vector<AnalyzerInstance>& instances = ReadAnalyzerInstances(log, &result);
  if (result < 0) {
    ConfigFail(command, "reading the instances of log '" + log + "'", result,
               result == -3 ? "no such log" : "the log has no readable instance list");
    return false;
  }
  for (const AnalyzerInstance& instance : instances) {
    if (instance.title == title) {
      *found = instance;
      return true;
    }
  }
  ConfigFail(command, "log '" + log + "' has no readable instance '" + title + "'");
  return false;
}

std::string StateFilePath(const AnalyzerInstance& instance) {
  return NativePath(RootDirectory() + "\\States\\" + instance.stateFileName);
}

namespace {

// Loads the instance's plug-in and binds its tune; null after a message.
std::unique_ptr<Module> LoadTune(const AnalyzerInstance& instance, TuneExport** tune) {
  std::unique_ptr<Module> plugin = LoadPlugin(kCommand, instance.pluginFileName);
  if (plugin == nullptr) return nullptr;
  *tune = plugin->Bind<TuneExport>("tune");
  if (*tune == nullptr) {
    ConfigFail(kCommand, "the plug-in " + instance.pluginFileName + " has no tune");
    return nullptr;
  }
  return plugin;
}

}  // namespace

int TuneCommand(const std::vector<std::string>& args) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::printf(
        "usage: kstctl tune LOG INSTANCE [P]\n\n"
        "Without P prints the instance's sensitivity; with P (0 to 1) sets it,\n"
        "rewrites the instance's state file and asks the checking service to\n"
        "reload, so that its next check uses the new sensitivity.\n"
        "\nExit status: 0 done, 1 failed, 2 wrong usage.\n");
    return 0;
  }
  if (args.size() < 2 || args.size() > 3) return Usage();
  double p = -1.0;
  if (args.size() == 3) {
    char* end = nullptr;
    p = std::strtod(args[2].c_str(), &end);
    if (args[2].empty() || *end != '\0' || !(p >= 0.0 && p <= 1.0)) {
      std::fprintf(stderr, "kstctl %s: P must be a number from 0 to 1, not '%s'\n", kCommand,
                   args[2].c_str());
      return 2;
    }
  }
  if (!LoadRootDirectory(kCommand)) return 1;
  AnalyzerInstance instance;
  if (!FindInstance(kCommand, args[0], args[1], &instance)) return 1;
  const std::string state = StateFilePath(instance);
  TuneExport* tune = nullptr;
  std::unique_ptr<Module> plugin = LoadTune(instance, &tune);
  if (plugin == nullptr) return 1;
  const double before = tune(state, -1.0);
  if (before == -1.0) {
    return ConfigFail(kCommand, "the state file " + state + " is missing or damaged");
  }
  if (p == -1.0) {
    std::printf("sensitivity %.5f\n", before);
    return 0;
  }
  // The plug-in rewrites the file it is given in place and does not say
  // when that fails, so a full disk would leave the state file cut short. It
  // tunes a copy instead, which replaces the state file once a fresh load of
  // the plug-in reads the new sensitivity back from it.
  const std::string copy = state + ".tuning";
  auto fail = [&](const std::string& why) {
    std::error_code ignored;
    std::filesystem::remove(copy, ignored);
    char stays[64];
    std::snprintf(stays, sizeof stays, "; the sensitivity stays %.5f", before);
    return ConfigFail(kCommand, "the state file " + state + " could not be written: " + why + stays);
  };
  std::error_code error;
  std::filesystem::copy_file(state, copy, std::filesystem::copy_options::overwrite_existing, error);
  if (error) return fail(error.message());
  tune(copy, p);
  const double wanted = tune(copy, -1.0);
  plugin.reset();
  plugin = LoadTune(instance, &tune);
  if (plugin == nullptr) return fail("the plug-in could not be loaded again to read it back");
  const double stored = tune(copy, -1.0);
  if (stored != wanted) return fail("the plug-in did not store the new sensitivity");
  if (!SyncFileToDisk(copy)) return fail(std::strerror(errno));
  std::filesystem::rename(copy, state, error);
  if (error) return fail(error.message());
  std::printf("sensitivity set to %.5f (it was %.5f)\n", stored, before);
  ReloadAfterChange(kCommand);
  return 0;
}

}  // namespace kst
