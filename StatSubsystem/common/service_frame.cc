#include "StatSubsystem/common/service_frame.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <thread>

#include "StatSubsystem/common/service_frame_testing.h"
#include "StatSubsystem/common/service_keys.h"
#include "platform/process.h"
#include "platform/services.h"

namespace kst {

namespace {

// Never destroyed: the service thread may end the process while the main
// thread still serves controls.
struct FrameState {
  std::mutex stateLock;
  int runState = kRunStateRunning;  // guarded by stateLock
  bool stopRequested = false;       // guarded by stateLock
  ServiceStatus serviceStatus;      // the service thread's record
  std::atomic<ServiceStatusHandle> statusHandle{0};
  const ServiceFrame* frame = nullptr;
  std::atomic<void (*)(const ServiceStatus&)> statusObserver{nullptr};
};

FrameState& State() {
  static FrameState* state = new FrameState;
  return *state;
}

const ServiceFrame& Frame() { return *State().frame; }

void Report(const ServiceStatus& status) {
  if (auto* observer = State().statusObserver.load()) observer(status);
  ReportServiceStatus(State().statusHandle, status);
}

// A failed load or tick: stopped with a service-specific code, the error
// reported, the process ended.
[[noreturn]] void StopOnFailure(uint32_t exit_code, int error_code, const char* function,
                                int result) {
  FrameState& s = State();
  s.serviceStatus.win32_exit_code = kErrorServiceSpecificError;
  s.serviceStatus.service_specific_exit_code = exit_code;
  s.serviceStatus.current_state = kServiceStopped;
  Report(s.serviceStatus);
  ReportError(error_code,
              std::string(function) + " call failed with return value " + std::to_string(result));
  std::exit(1);
}

void ReportStopped() {
  FrameState& s = State();
  s.serviceStatus.current_state = kServiceStopped;
  Report(s.serviceStatus);
}

// One tick and its retries. False when the service was stopped meanwhile.
bool TickUntilDone() {
  const ServiceFrame& f = Frame();
  while (true) {
    int result = f.tick();
    if (result >= 0) return true;
    if (result != f.retry_result) {
      StopOnFailure(f.tick_failure_exit, f.tick_error_code, f.tick_name, result);
    }
    if (WaitInterruptible(2000) == 0) return false;
  }
}

// What the program will not do, and why: one line on standard error (the
// service's log).
void TellRefusal(const ServiceFrame& frame, const std::string& why) {
  std::fprintf(stderr, "%s: %s\n", frame.service.name, why.c_str());
  std::fflush(stderr);
}

// Run as root in an installation that another user can change, the service
// would write where they point it and read what they planted: it does not
// run, and a running one does not read its configuration again (it goes on
// with what it read while the installation was safe).
bool RefuseUnsafeInstallation(const ServiceFrame& frame, const char* doing) {
  const std::string reason = UnsafeInstallationReason();
  if (reason.empty()) return false;
  TellRefusal(frame, std::string("refusing to ") + doing + " as root: " + reason);
  return true;
}

}  // namespace

void UseServiceFrame(const ServiceFrame& frame) { State().frame = &frame; }

const char* DispatcherErrorText(WinError error, int* code) {
  switch (error) {
    case kErrorInvalidData:
      *code = 92;
      return "'StartServiceCtrlDispatcher' error: ERROR_INVALID_DATA";
    case kErrorServiceAlreadyRunning:
      *code = 92;
      return "'StartServiceCtrlDispatcher' error: ERROR_SERVICE_ALREADY_RUNNING";
    case kErrorFailedServiceControllerConnect:
      *code = 91;
      return "'StartServiceCtrlDispatcher' error: ERROR_FAILED_SERVICE_CONTROLLER_CONNECT";
    default:
      *code = 100;
      return "'StartServiceCtrlDispatcher' error: unknown error";
  }
}

void SetServiceStatusObserverForTesting(void (*observer)(const ServiceStatus& status)) {
  State().statusObserver = observer;
}

int RunServiceProgram(const ServiceFrame& frame, int argc, char** argv) {
  UseServiceFrame(frame);
  if (argc < 2) {
    ReportError(1, "help");
    return 0;
  }
  for (int i = 1; i < argc; ++i) {
    std::string word = argv[i];
    std::string error;
    if (word == frame.service.install_word) {
      if (!InstallService(frame.service, &error)) {
        TellRefusal(frame, "cannot install the service: " + error);
        return 1;
      }
    } else if (word == frame.service.remove_word) {
      if (!RemoveService(frame.service, &error)) {
        TellRefusal(frame, "cannot remove the service: " + error);
        return 1;
      }
    } else if ((word == "-debug" || word == "-service") && RefuseUnsafeInstallation(frame, "run")) {
      return 1;
    } else if (word == "-debug") {
      ServiceMain(0, nullptr);
    } else if (word == "-service") {
      ServiceTableEntry table[] = {{frame.service.name, ServiceMain}, {nullptr, nullptr}};
      WinError error = RunServiceDispatcher(table);
      if (error != kErrorSuccess) {
        int code = 0;
        const char* text = DispatcherErrorText(error, &code);
        ReportError(code, text);
      }
    }
  }
  return 0;
}

void ServiceMain(uint32_t /*argc*/, char** /*argv*/) {
  FrameState& s = State();
  const ServiceFrame& f = Frame();
  if (f.prepare != nullptr && !f.prepare()) return;
  {
    std::lock_guard<std::mutex> lock(s.stateLock);
    s.stopRequested = false;
  }
  s.statusHandle = RegisterServiceHandler(f.service.name, ServiceCtrlHandler,
                                           const_cast<char*>(f.service.identifier), nullptr);
  s.serviceStatus = ServiceStatus();
  s.serviceStatus.service_type = kServiceWin32OwnProcess;
  s.serviceStatus.current_state = kServiceStartPending;
  s.serviceStatus.controls_accepted = f.controls_accepted;
  s.serviceStatus.check_point = 1;
  s.serviceStatus.wait_hint = 2000;
  Report(s.serviceStatus);
  auto report_running = [&] {
    s.serviceStatus.current_state = kServiceRunning;
    s.serviceStatus.check_point = 2;
    s.serviceStatus.wait_hint = 0;
    Report(s.serviceStatus);
    RaiseCurrentThreadPriority(f.priority_steps);
  };
  if (f.running_before_load) report_running();
  int interval = 0;
  int result = f.load_parameters(&interval);
  if (result < 0) {
    StopOnFailure(f.load_failure_exit, 11, f.load_parameters_name, result);
  }
  if (!f.running_before_load) report_running();
  f.tick();
  while (true) {
    int waited = WaitInterruptible(static_cast<int64_t>(interval) * f.interval_unit_ms);
    if (waited == 0) break;
    if (waited == kRunStateReload && !RefuseUnsafeInstallation(f, "reload")) {
      f.load_parameters(&interval);
    }
    if (!TickUntilDone()) break;
  }
  ReportStopped();
}

uint32_t ServiceCtrlHandler(uint32_t control, uint32_t /*event_type*/, void* /*event_data*/,
                            void* /*context*/) {
  FrameState& s = State();
  const ServiceFrame& f = Frame();
  std::lock_guard<std::mutex> lock(s.stateLock);
  ServiceStatus fresh;
  fresh.service_type = kServiceWin32OwnProcess;
  fresh.controls_accepted = f.controls_accepted;
  switch (control) {
    case kServiceControlStop:
    case kServiceControlShutdown:
      fresh.current_state = kServiceStopPending;
      fresh.check_point = 4;
      s.runState = kRunStateStopped;
      s.stopRequested = true;
      break;
    case kServiceControlPause:
      fresh.current_state = kServicePaused;
      fresh.check_point = 6;
      s.runState = kRunStatePaused;
      s.stopRequested = true;
      break;
    case kServiceControlContinue:
      fresh.current_state = kServiceRunning;
      fresh.check_point = 6;
      s.runState = kRunStateRunning;
      s.stopRequested = false;
      break;
    case kServiceControlInterrogate:
      fresh.current_state = s.runState == kRunStatePaused ? kServicePaused : kServiceRunning;
      fresh.check_point = 5;
      break;
    default:
      if (f.reload_control == 0 || control != f.reload_control) return kErrorCallNotImplemented;
      // A paused service ignores the request.
      if (s.runState != kRunStatePaused) s.runState = kRunStateReload;
      return 0;
  }
  Report(fresh);
  return 0;
}

int WaitInterruptible(int64_t milliseconds) {
  FrameState& s = State();
  int64_t deadline = static_cast<int64_t>(std::time(nullptr)) + milliseconds / 1000;
  while (true) {
    {
      std::lock_guard<std::mutex> lock(s.stateLock);
      if (s.runState == kRunStateStopped) return 0;
      if (s.runState == kRunStateReload) {
        s.runState = kRunStateRunning;
        return kRunStateReload;
      }
      if (s.runState == kRunStatePaused) ++deadline;
    }
    if (static_cast<int64_t>(std::time(nullptr)) >= deadline) return 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  }
}

void ReportError(int code, const std::string& message) {
  if (code == 1) {
    PrintUsage();
    return;
  }
  SaveLastError(code, message);
  std::fprintf(stderr, "error %d: %s\n", code, message.c_str());
  std::fflush(stderr);
}

int SaveLastError(int code, const std::string& message) {
  const char* identifier = Frame().service.identifier;
  if (WriteServiceDword(identifier, "lastErrorNo", code) < 0) return -1;
  if (WriteServiceString(identifier, "lastErrorMessage", message) < 0) return -2;
  return 0;
}

void PrintUsage() {
  std::printf("usage: %s [options]\n", "service.exe");
  std::printf("options:\n");
  std::printf("-install\tinstalls the service in SCM database\n");
  std::printf("-remove\tremoves the service from SCM database\n");
  std::printf("-debug\truns the service as normal process\n");
  std::printf("-service\truns the process as a service\n");
  std::fflush(stdout);
}

bool StopRequested() {
  FrameState& s = State();
  std::lock_guard<std::mutex> lock(s.stateLock);
  return s.stopRequested;
}

int RunState() {
  FrameState& s = State();
  std::lock_guard<std::mutex> lock(s.stateLock);
  return s.runState;
}

}  // namespace kst
