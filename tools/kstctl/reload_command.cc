// kstctl reload: asks the checking service to reload its configuration
// through the alerter library's ActivateWarningSystem, as the alerter's
// configuration dialog does; and the library loading the other host
// subcommands share.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "KestraneAlerter/alerter_exports.h"
#include "StatSubsystem/common/service_names.h"
#include "platform/module.h"
#include "platform/services.h"
#include "tools/kstctl/command.h"
#include "tools/kstctl/config_support.h"
#include "tools/kstctl/host_support.h"

namespace kst {

namespace {

// A bare name is looked for in the root directory first, where the checking
// service loads it from, then beside kstctl and where the system looks.
std::unique_ptr<Module> LoadFromInstallation(const char* command, const char* what,
                                             const std::string& file) {
  std::string error;
  const std::string root = ProductRootOrEmpty();
  if (!root.empty() && file.find_first_of("/\\") == std::string::npos) {
    std::unique_ptr<Module> module = LoadModule(root + "\\" + file, &error);
    if (module != nullptr) return module;
  }
  std::unique_ptr<Module> module = LoadModule(file, &error);
  if (module == nullptr) {
    std::fprintf(stderr, "kstctl %s: cannot load %s %s: %s\n", command, what, file.c_str(),
                 error.c_str());
  }
  return module;
}

// Whether this user may not send the checking service controls at all,
// which the library's answer does not tell from a service that is down.
bool ControlsDenied() {
  std::unique_ptr<ServiceManager> manager;
  std::unique_ptr<Service> checker;
  ServiceStatus status;
  return ServiceManager::Open(kManagerConnect, &manager) == kErrorSuccess &&
         manager->OpenService(ServiceNameTable[kCheckerServiceName], kServiceInterrogate,
                              &checker) == kErrorSuccess &&
         checker->Control(kServiceControlInterrogate, &status) == kErrorAccessDenied;
}

}  // namespace

std::unique_ptr<Module> LoadPlugin(const char* command, const std::string& file) {
  return LoadFromInstallation(command, "the plug-in", file);
}

std::unique_ptr<Module> LoadAlerter(const char* command) {
  return LoadFromInstallation(command, "the alerter library", "KestraneAlerter.dll");
}

bool RequestReload(const char* command) {
  // Loaded once and never unloaded: the library keeps its own registry
  // connection for the life of the process, and an unload would lose it.
  static Module* const alerter = LoadAlerter(command).release();
  if (alerter == nullptr) return false;
  auto* activate = alerter->Bind<ActivateWarningSystemFn>("ActivateWarningSystem");
  if (activate == nullptr) {
    std::fprintf(stderr, "kstctl %s: the alerter library has no ActivateWarningSystem\n", command);
    return false;
  }
  const int32_t result = activate();
  const char* meaning = nullptr;
  switch (result) {
    case 0:
      std::printf("reload requested: the checking service reloads before its next check\n");
      return true;
    case -12:
      meaning = "the service manager cannot be opened";
      break;
    case -13:
      meaning = "the checking service is not installed";
      break;
    case -14:
      meaning = ControlsDenied()
                    ? "access denied: only the checking service's owner or root may send it controls"
                    : "the checking service refused the request (is it running?)";
      break;
    default:
      meaning = "unknown answer";
  }
  std::fprintf(stderr, "kstctl %s: reload not requested: %s (result %d)\n", command, meaning,
               result);
  return false;
}

void ReloadAfterChange(const char* command) {
  std::fflush(stdout);
  if (!RequestReload(command)) {
    std::printf("the checking service will use it when it next starts or reloads\n");
  }
}

int ReloadCommand(const std::vector<std::string>& args) {
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
    std::printf(
        "usage: kstctl reload\n\n"
        "Asks the running checking service to reload its configuration (logs,\n"
        "analyzer instances, plug-ins, notification profiles and\n"
        "userNotificationStatus) before its next check, through the alerter\n"
        "library's ActivateWarningSystem.\n"
        "\nExit status: 0 requested, 1 failed, 2 wrong usage.\n");
    return 0;
  }
  if (!args.empty()) {
    std::fprintf(stderr, "usage: kstctl reload\n");
    return 2;
  }
  return RequestReload("reload") ? 0 : 1;
}

}  // namespace kst
