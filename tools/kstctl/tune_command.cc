// kstctl tune: queries or sets the sensitivity of a trained analyzer
// instance through its plug-in's tune.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "Ruleforge/plugin_exports.h"
#include "StatSubsystem/common/config_tree.h"
#include "StatSubsystem/common/product_key.h"
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
  std::unique_ptr<Module> plugin = LoadPlugin(kCommand, instance.pluginFileName);
  if (plugin == nullptr) return 1;
  auto* tune = plugin->Bind<TuneExport>("tune");
  if (tune == nullptr) {
    return ConfigFail(kCommand, "the plug-in " + instance.pluginFileName + " has no tune");
  }
  const double answer = tune(StateFilePath(instance), p);
  if (answer == -1.0) {
    return ConfigFail(kCommand, "the state file " + StateFilePath(instance) +
                                    " is missing or damaged");
  }
  if (p == -1.0) {
    std::printf("sensitivity %.5f\n", answer);
    return 0;
  }
  // Setting answers the odds it replaced, p / (1 - p); shown as the
  // sensitivity it was.
  std::printf("sensitivity set to %.5f (it was %.5f)\n", p, answer / (1.0 + answer));
  ReloadAfterChange(kCommand);
  return 0;
}

}  // namespace kst
