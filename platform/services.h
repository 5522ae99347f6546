// The service manager: installs, starts, controls and removes the machine's
// services, and, inside a service program, connects the program to it.
//
// The service database is the registry: a service is the key
// System\CurrentControlSet\Services\<name> holding ImagePath (REG_SZ, the
// command line), DisplayName, Description (REG_SZ), Start and Type
// (REG_DWORD). Removing a service deletes its key with every value in it.
//
// Starting runs ImagePath (split as platform/process does) as a daemon: no
// terminal, standard input from /dev/null, standard output and error
// appended to $KESTRANE_HOME/log/<name>.log (never through a symbolic
// link). Run as root, the start refuses an unsafe installation
// (UnsafeInstallationReason) with kErrorAccessDenied and a line on standard
// error. The start returns once the
// program's dispatcher (RunServiceDispatcher) has connected. The dispatcher
// then serves controls and status queries on a Unix-domain socket in
// $KESTRANE_HOME/run, a folder only its owner may enter; it answers only
// peers running as the socket's owner or as root.
//
// Errors are Win32 numbers: 2/3 program or its folder missing, 5 access
// denied, 87 bad argument, 1053 the program did not connect in time, 1056
// already running, 1058 disabled, 1060 no such service, 1061 the service
// does not accept the control now, 1062 not running, 1063 not started by
// the manager, 1072 marked for deletion, 1073 exists already.
//
// Threads: the manager objects may be used from any thread, one object by
// one thread at a time. The dispatcher functions are for the service
// program: see each.
#ifndef KESTRANE_PLATFORM_SERVICES_H_
#define KESTRANE_PLATFORM_SERVICES_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win_errors.h"

namespace kst {

inline constexpr WinError kErrorInvalidData = 13;
inline constexpr WinError kErrorCallNotImplemented = 120;
inline constexpr WinError kErrorServiceDisabled = 1058;
inline constexpr WinError kErrorProcessAborted = 1067;

// Service types, start types, states, controls and accepted-control bits.
inline constexpr uint32_t kServiceWin32OwnProcess = 0x10;

inline constexpr uint32_t kServiceAutoStart = 2;
inline constexpr uint32_t kServiceDemandStart = 3;
inline constexpr uint32_t kServiceDisabled = 4;

inline constexpr uint32_t kServiceStopped = 1;
inline constexpr uint32_t kServiceStartPending = 2;
inline constexpr uint32_t kServiceStopPending = 3;
inline constexpr uint32_t kServiceRunning = 4;
inline constexpr uint32_t kServiceContinuePending = 5;
inline constexpr uint32_t kServicePausePending = 6;
inline constexpr uint32_t kServicePaused = 7;

inline constexpr uint32_t kServiceControlStop = 1;
inline constexpr uint32_t kServiceControlPause = 2;
inline constexpr uint32_t kServiceControlContinue = 3;
inline constexpr uint32_t kServiceControlInterrogate = 4;
inline constexpr uint32_t kServiceControlShutdown = 5;
// Codes 128 to 255 belong to the service program.
inline constexpr uint32_t kServiceUserControlFirst = 128;
inline constexpr uint32_t kServiceUserControlLast = 255;

inline constexpr uint32_t kServiceAcceptStop = 1;
inline constexpr uint32_t kServiceAcceptPauseContinue = 2;
inline constexpr uint32_t kServiceAcceptShutdown = 4;

// Access rights: what a handle was opened for. An operation the handle was
// not opened for answers kErrorAccessDenied.
inline constexpr uint32_t kManagerConnect = 0x1;
inline constexpr uint32_t kManagerCreateService = 0x2;

inline constexpr uint32_t kServiceQueryConfig = 0x1;
inline constexpr uint32_t kServiceChangeConfig = 0x2;
inline constexpr uint32_t kServiceQueryStatus = 0x4;
inline constexpr uint32_t kServiceStart = 0x10;
inline constexpr uint32_t kServiceStop = 0x20;
inline constexpr uint32_t kServicePauseContinue = 0x40;
inline constexpr uint32_t kServiceInterrogate = 0x80;
inline constexpr uint32_t kServiceUserDefinedControl = 0x100;
inline constexpr uint32_t kServiceDelete = 0x10000;
inline constexpr uint32_t kServiceReadControl = 0x20000;
inline constexpr uint32_t kServiceAllAccess = 0x301f7;

struct ServiceStatus {
  uint32_t service_type = kServiceWin32OwnProcess;
  uint32_t current_state = kServiceStopped;
  uint32_t controls_accepted = 0;
  uint32_t win32_exit_code = 0;
  uint32_t service_specific_exit_code = 0;
  uint32_t check_point = 0;
  uint32_t wait_hint = 0;
};

struct ServiceConfig {
  std::string name;          // the key's name; compared without ASCII case
  std::string display_name;  // empty: the name
  std::string image_path;    // the command line that starts it
  std::string description;
  uint32_t start_type = kServiceDemandStart;
};

// An open service. The destructor closes it.
class Service {
 public:
  virtual ~Service() = default;

  const std::string& name() const { return name_; }

  // Needs kServiceChangeConfig.
  virtual WinError SetDescription(std::string_view description) = 0;
  // Needs kServiceQueryConfig.
  virtual WinError QueryConfig(ServiceConfig* config) = 0;

  // Starts the program and waits until its dispatcher has connected (at
  // most 30 s). The service may still be start-pending on return. A program
  // that ends without connecting gives kErrorServiceRequestTimeout at once.
  // Needs kServiceStart.
  virtual WinError Start() = 0;

  // Sends a control code and waits for the program's handler to take it.
  // *status (may be null) gets the status after the control, also when the
  // service answers kErrorServiceCannotAcceptCtrl. A handler answer other
  // than 0 is the error. A pending service (starting, stopping, ...) takes
  // no control (kErrorServiceCannotAcceptCtrl) but interrogate, which it
  // answers with its last status without calling the handler. Needs the right of the control: stop and shutdown
  // kServiceStop, pause and continue kServicePauseContinue, interrogate
  // kServiceInterrogate, 128-255 kServiceUserDefinedControl. Other codes
  // give kErrorInvalidParameter.
  virtual WinError Control(uint32_t control, ServiceStatus* status) = 0;

  // The last status the program reported; a service whose program is not
  // running is stopped, with the exit codes of its last stopped report (0
  // when its main function returned without one or it never ran;
  // kErrorProcessAborted when the program ended otherwise, or when its
  // report could not be kept). Needs kServiceQueryStatus.
  virtual WinError QueryStatus(ServiceStatus* status) = 0;

  // Deletes the service: at once when it is not running, otherwise once its
  // program has stopped (until then it is marked for deletion: it cannot be
  // started, opened anew or created again). Needs kServiceDelete.
  virtual WinError Delete() = 0;

 protected:
  explicit Service(std::string name) : name_(std::move(name)) {}

 private:
  std::string name_;
};

// The log a started service's standard output and error go to:
// $KESTRANE_HOME/log/<name>.log, '/' in the name written as '_'. The
// manager never writes it through a symbolic link.
std::string ServiceLogPath(std::string_view name);

// The manager of this machine's services (of the installation under
// KestraneHome()).
class ServiceManager {
 public:
  // kManagerCreateService needs a writable registry (else
  // kErrorAccessDenied).
  static WinError Open(uint32_t access, std::unique_ptr<ServiceManager>* manager);

  virtual ~ServiceManager() = default;

  // Creates the service and opens it with the given access.
  // kErrorServiceExists when it exists; needs kManagerCreateService.
  virtual WinError CreateService(const ServiceConfig& config, uint32_t access,
                                 std::unique_ptr<Service>* service) = 0;
  // kErrorServiceDoesNotExist when there is no such service.
  virtual WinError OpenService(std::string_view name, uint32_t access,
                               std::unique_ptr<Service>* service) = 0;
  // The names of all services, in the registry's order.
  virtual WinError ListServices(std::vector<std::string>* names) = 0;
};

// Whether root may run the installation's services: a user who could change
// a file that a service run as root reads, loads or starts, or swap it for a
// symbolic link, could make root run a program of theirs or write where they
// point it. Running as root, KestraneHome() (a symbolic link to it counts
// when root owns it and its target passes), its log and run folders, the
// registry database and its journal files (never links), the folders States
// and Profiles with each entry in them, and every other entry in the home
// (programs, libraries, the buffer) are each walked from "/" as
// UnsafePathReason (platform/root_doors.h) walks a path. Empty when that
// holds or when this process is not root; otherwise what is wrong, naming
// the path.
std::string UnsafeInstallationReason();

// ---- Inside a service program ----

using ServiceMainFunction = void (*)(uint32_t argc, char** argv);
// Called on the dispatcher's thread (the program's main thread) with the
// control code; returns 0 when it handled it, else an error such as
// kErrorCallNotImplemented.
using ServiceControlHandler = uint32_t (*)(uint32_t control, uint32_t event_type,
                                           void* event_data, void* context);

struct ServiceTableEntry {
  const char* name;
  ServiceMainFunction main;
};

// Connects the program to the manager that started it, runs the first
// entry's main function on a thread of its own (argv holds the service's
// name) and serves controls on the calling thread until the service has
// reported itself stopped, or its main function has returned, and that
// function has returned. Then returns kErrorSuccess. SIGTERM counts as the
// shutdown control (as stop when shutdown is not accepted). The table ends
// with an entry whose name is null; an empty table gives kErrorInvalidData.
// A program not started by the manager gets
// kErrorFailedServiceControllerConnect, a second call while the first
// serves gets kErrorServiceAlreadyRunning.
WinError RunServiceDispatcher(const ServiceTableEntry* table);

// 0: no handle.
using ServiceStatusHandle = uintptr_t;

// Registers the control handler of the running service; context is handed
// to every call. Without a dispatcher in this process the answer is 0 and
// *error (may be null) is kErrorFailedServiceControllerConnect.
ServiceStatusHandle RegisterServiceHandler(std::string_view name,
                                           ServiceControlHandler handler,
                                           void* context, WinError* error);

// Stores the status that queries and controls report. Any thread may call.
// kErrorInvalidHandle for the 0 handle.
WinError ReportServiceStatus(ServiceStatusHandle handle, const ServiceStatus& status);

}  // namespace kst

#endif  // KESTRANE_PLATFORM_SERVICES_H_
