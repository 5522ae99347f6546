// kstctl svc: the services of the installation: start, control, query,
// list, and start every automatic service (what the init system runs).
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "StatSubsystem/common/service_control.h"
#include "platform/services.h"
#include "tools/kstctl/action_table.h"
#include "tools/kstctl/command.h"

namespace kst {
namespace {

constexpr const char* kCommand = "svc";

const char* ErrorText(WinError error) {
  switch (error) {
    case kErrorFileNotFound: return "the program is missing";
    case kErrorPathNotFound: return "the program's folder is missing";
    case kErrorAccessDenied: return "access denied";
    case kErrorInvalidParameter: return "invalid argument";
    case kErrorCallNotImplemented: return "the service does not handle this control";
    case kErrorServiceRequestTimeout: return "the program did not connect in time";
    case kErrorServiceAlreadyRunning: return "the service is already running";
    case kErrorServiceDisabled: return "the service is disabled";
    case kErrorServiceDoesNotExist: return "no such service";
    case kErrorServiceCannotAcceptCtrl: return "the service cannot accept this control now";
    case kErrorServiceNotActive: return "the service is not running";
    case kErrorServiceMarkedForDelete: return "the service is marked for deletion";
    default: return "failed";
  }
}

const char* StateName(uint32_t state) {
  static const char* const kNames[] = {"stopped",          "start pending", "stop pending",
                                       "running",          "continue pending",
                                       "pause pending",    "paused"};
  return state >= 1 && state <= 7 ? kNames[state - 1] : "unknown";
}

const char* StartTypeName(uint32_t start_type) {
  switch (start_type) {
    case kServiceAutoStart: return "automatic";
    case kServiceDemandStart: return "manual";
    case kServiceDisabled: return "disabled";
    default: return "other";
  }
}

int Fail(const std::string& what, WinError error, const std::string& why = {}) {
  std::fprintf(stderr, "kstctl %s: %s: %s (error %u)%s\n", kCommand, what.c_str(),
               ErrorText(error), error, why.empty() ? "" : (": " + why).c_str());
  return 1;
}

// Run as root, a start trusts the registry's service entries only when no
// other user could have changed them: false after a line naming the path
// and why.
bool InstallationIsSafe(const std::string& what) {
  const std::string unsafe = UnsafeInstallationReason();
  if (unsafe.empty()) return true;
  std::fprintf(stderr, "kstctl %s: %s: refused: %s\n", kCommand, what.c_str(), unsafe.c_str());
  return false;
}

// Why a start was denied, where the service's log tells it; empty when it
// does not.
std::string LogFault(const std::string& name) {
  const std::string log = ServiceLogPath(name);
  struct stat st;
  if (::lstat(log.c_str(), &st) != 0) return {};
  if (S_ISLNK(st.st_mode)) return log + " is a symbolic link; a service's log is never written through one";
  if (!S_ISREG(st.st_mode)) return log + " is not a plain file";
  return {};
}

// A service named by its name or by a short identifier (kstChecker, kstCollector).
WinError OpenNamed(const std::string& word, uint32_t access, std::unique_ptr<Service>* service) {
  std::string name = word;
  std::string mapped;
  if (ServiceDisplayName(word, &mapped) == 0) name = mapped;
  std::unique_ptr<ServiceManager> manager;
  WinError error = ServiceManager::Open(kManagerConnect, &manager);
  if (error != kErrorSuccess) return error;
  return manager->OpenService(name, access, service);
}

void PrintStatus(const std::string& name, const ServiceStatus& status) {
  std::printf("%s: %s\n", name.c_str(), StateName(status.current_state));
}

int Start(const ActionArgs& args) {
  const std::string what = "start '" + args[0] + "'";
  if (!InstallationIsSafe(what)) return 1;
  std::unique_ptr<Service> service;
  WinError error = OpenNamed(args[0], kServiceStart | kServiceQueryStatus, &service);
  if (error == kErrorSuccess) error = service->Start();
  if (error != kErrorSuccess) {
    const bool denied = error == kErrorAccessDenied && service != nullptr;
    return Fail(what, error, denied ? LogFault(service->name()) : "");
  }
  ServiceStatus status;
  service->QueryStatus(&status);
  PrintStatus(service->name(), status);
  return 0;
}

int SendControl(const std::string& word, uint32_t control) {
  std::unique_ptr<Service> service;
  WinError error = OpenNamed(word, kServiceAllAccess, &service);
  ServiceStatus status;
  if (error == kErrorSuccess) error = service->Control(control, &status);
  if (error != kErrorSuccess) {
    return Fail("control " + std::to_string(control) + " to '" + word + "'", error);
  }
  PrintStatus(service->name(), status);
  return 0;
}

int Stop(const ActionArgs& args) { return SendControl(args[0], kServiceControlStop); }
int Pause(const ActionArgs& args) { return SendControl(args[0], kServiceControlPause); }
int Continue(const ActionArgs& args) { return SendControl(args[0], kServiceControlContinue); }

int Control(const ActionArgs& args) {
  char* end = nullptr;
  unsigned long code = std::strtoul(args[0].c_str(), &end, 10);
  if (args[0].empty() || *end != '\0' || code > 255) {
    std::fprintf(stderr, "kstctl %s: '%s' is not a control code (1-5, 128-255)\n", kCommand,
                 args[0].c_str());
    return 2;
  }
  return SendControl(args[1], static_cast<uint32_t>(code));
}

int Query(const ActionArgs& args) {
  std::unique_ptr<Service> service;
  WinError error = OpenNamed(args[0], kServiceQueryStatus | kServiceQueryConfig, &service);
  ServiceStatus status;
  ServiceConfig config;
  if (error == kErrorSuccess) error = service->QueryStatus(&status);
  if (error == kErrorSuccess) error = service->QueryConfig(&config);
  if (error != kErrorSuccess) return Fail("query '" + args[0] + "'", error);
  std::printf("name:        %s\n", config.name.c_str());
  std::printf("display:     %s\n", config.display_name.c_str());
  std::printf("description: %s\n", config.description.c_str());
  std::printf("command:     %s\n", config.image_path.c_str());
  std::printf("start:       %s\n", StartTypeName(config.start_type));
  std::printf("state:       %s\n", StateName(status.current_state));
  std::printf("accepts:    %s%s%s\n",
              status.controls_accepted & kServiceAcceptStop ? " stop" : "",
              status.controls_accepted & kServiceAcceptPauseContinue ? " pause/continue" : "",
              status.controls_accepted & kServiceAcceptShutdown ? " shutdown" : "");
  std::printf("exit code:   %u (service-specific %u)\n", status.win32_exit_code,
              status.service_specific_exit_code);
  return 0;
}

// Calls fn for every installed service with its configuration and status.
template <typename Fn>
int ForEachService(Fn fn) {
  std::unique_ptr<ServiceManager> manager;
  std::vector<std::string> names;
  WinError error = ServiceManager::Open(kManagerConnect, &manager);
  if (error == kErrorSuccess) error = manager->ListServices(&names);
  if (error != kErrorSuccess) return Fail("list", error);
  int exit_code = 0;
  for (const std::string& name : names) {
    std::unique_ptr<Service> service;
    ServiceConfig config;
    ServiceStatus status;
    error = manager->OpenService(name, kServiceAllAccess, &service);
    if (error == kErrorSuccess) error = service->QueryConfig(&config);
    if (error == kErrorSuccess) error = service->QueryStatus(&status);
    if (error != kErrorSuccess) {
      exit_code = Fail("'" + name + "'", error);
      continue;
    }
    if (fn(service.get(), config, status) != 0) exit_code = 1;
  }
  return exit_code;
}

int List(const ActionArgs&) {
  return ForEachService([](Service* service, const ServiceConfig& config,
                           const ServiceStatus& status) {
    std::printf("%-28s %-16s %s\n", service->name().c_str(), StateName(status.current_state),
                StartTypeName(config.start_type));
    return 0;
  });
}

int StartAll(const ActionArgs&) {
  if (!InstallationIsSafe("start-all")) return 1;
  return ForEachService([](Service* service, const ServiceConfig& config,
                           const ServiceStatus& status) {
    if (config.start_type != kServiceAutoStart || status.current_state != kServiceStopped) {
      return 0;
    }
    WinError error = service->Start();
    if (error != kErrorSuccess && error != kErrorServiceAlreadyRunning) {
      return Fail("start '" + service->name() + "'", error,
                  error == kErrorAccessDenied ? LogFault(service->name()) : "");
    }
    std::printf("%s: started\n", service->name().c_str());
    return 0;
  });
}

const Action kActions[] = {
    {"start", "start NAME", "start a service and wait until its program connects", 1, 1, Start},
    {"stop", "stop NAME", "send the stop control", 1, 1, Stop},
    {"pause", "pause NAME", "send the pause control", 1, 1, Pause},
    {"continue", "continue NAME", "send the continue control", 1, 1, Continue},
    {"control", "control CODE NAME", "send a control code (4 interrogates, 129 reloads the checker)",
     2, 2, Control},
    {"query", "query NAME", "show a service's configuration and status", 1, 1, Query},
    {"list", "list", "list the installed services with their states", 0, 0, List},
    {"start-all", "start-all", "start every stopped automatic service (run at system start)", 0,
     0, StartAll},
};

}  // namespace

int SvcCommand(const std::vector<std::string>& args) {
  return DispatchAction(kCommand, kActions,
                        "Starts, controls and lists the installation's services.\n",
                        "\nNAME is a service's name (\"Kestrane stat checker\") or its short\n"
                        "identifier (kstChecker, kstCollector).\n",
                        args);
}

}  // namespace kst
