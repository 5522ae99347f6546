// kstctl module: what an analyzer plug-in says about itself through its
// getters: title, description, required counters, parameter profiles and
// each profile's default parameters.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Ruleforge/plugin_exports.h"
#include "platform/module.h"
#include "tools/kstctl/command.h"
#include "tools/kstctl/host_support.h"

namespace kst {

// One parameter as the host shows it: its stored line, then its default and
// limits, then its description.
std::string DescribeParameter(ParameterValue& p) {
  std::string text = p.line();
  char extra[160] = "";
  const ParameterValue::Data& d = p.data();
  switch (p.kind()) {
    case kParamInt:
      std::snprintf(extra, sizeof extra, "  (default %d, %d to %d, step %d)", d.i.defaultValue,
                    d.i.minimum, d.i.maximum, d.i.step);
      break;
    case kParamReal:
      std::snprintf(extra, sizeof extra, "  (default %.5f, %.5f to %.5f)", d.r.defaultValue,
                    d.r.minimum, d.r.maximum);
      break;
    case kParamString:
      std::snprintf(extra, sizeof extra, "  (default \"%.100s\")", d.s.defaultValue);
      break;
    default:
      break;
  }
  text += extra;
  if (p.description() != nullptr && *p.description() != '\0') {
    text += std::string("\n        ") + p.description();
  }
  return text;
}

namespace {

constexpr const char* kCommand = "module";

int Show(const std::string& file) {
  std::unique_ptr<Module> plugin = LoadPlugin(kCommand, file);
  if (plugin == nullptr) return 1;
  auto* title = plugin->Bind<GetModuleTitleExport>("getModuleTitle");
  auto* info = plugin->Bind<GetModuleInfoExport>("getModuleInfo");
  auto* required = plugin->Bind<GetLogRequiredCountersTitlesExport>("getLogRequiredCountersTitles");
  auto* profiles = plugin->Bind<GetParametersProfilesExport>("getParametersProfiles");
  auto* defaults = plugin->Bind<GetModuleDefaultParametersExport>("getModuleDefaultParameters");
  if (title == nullptr || info == nullptr || required == nullptr || profiles == nullptr ||
      defaults == nullptr) {
    std::fprintf(stderr, "kstctl %s: %s is not an analyzer plug-in (a getter is missing)\n",
                 kCommand, file.c_str());
    return 1;
  }
  std::printf("title: %s\n", title()->c_str());
  std::printf("description:\n  ");
  for (char c : *info()) {
    std::putchar(c);
    if (c == '\n') std::printf("  ");
  }
  std::printf("\nrequired counters:");
  const std::vector<std::string>& counters = *required();
  if (counters.empty()) std::printf(" none");
  std::printf("\n");
  for (const std::string& c : counters) std::printf("  %s\n", c.c_str());
  // Copy the names: the defaults getter may rebuild module-owned lists.
  const std::vector<std::string> names = *profiles();
  std::printf("parameter profiles: %zu\n", names.size());
  for (const std::string& name : names) {
    double figure = 0.0;
    std::vector<ParameterValue>* parameters = defaults(name, &figure);
    std::printf("  profile \"%s\" (figure %.2f)\n", name.c_str(), figure);
    if (parameters == nullptr) continue;
    for (ParameterValue& p : *parameters) std::printf("    %s\n", DescribeParameter(p).c_str());
  }
  return 0;
}

}  // namespace

int ModuleCommand(const std::vector<std::string>& args) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::printf(
        "usage: kstctl module [FILE]\n\n"
        "Loads the analyzer plug-in FILE (default Discovery.dll; a bare name is\n"
        "looked for in the root directory, where the checking service loads it\n"
        "from, then beside kstctl) and prints its title, description, the\n"
        "counters it requires, its parameter profiles and each profile's default\n"
        "parameters, as 'kstctl train' takes them.\n"
        "\nExit status: 0 done, 1 failed, 2 wrong usage.\n");
    return 0;
  }
  if (args.size() > 1) {
    std::fprintf(stderr, "usage: kstctl module [FILE]\n");
    return 2;
  }
  return Show(args.empty() ? "Discovery.dll" : args[0]);
}

}  // namespace kst
