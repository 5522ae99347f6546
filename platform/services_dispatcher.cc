// The service program's side: the dispatcher that serves controls on the
// main thread while the service's main function runs on a thread of its own.

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "platform/registry.h"
#include "platform/services.h"
#include "platform/services_channel.h"

namespace kst {

namespace sc = service_channel;

namespace {

// Process-wide and never destroyed: the service thread may end the process
// with exit() while the main thread still serves.
struct Dispatcher {
  std::mutex mu;
  std::string name;
  ServiceStatus status;                     // guarded by mu
  ServiceControlHandler handler = nullptr;  // guarded by mu
  void* context = nullptr;                  // guarded by mu
  bool main_returned = false;               // guarded by mu
  int status_fd = -1;                       // the reserved final status; guarded by mu
  bool final_kept = false;                  // guarded by mu
  bool termination_pending = false;         // main thread only
  int wake_write = -1;
};

std::atomic<Dispatcher*> g_dispatcher{nullptr};
std::atomic<bool> g_dispatcher_called{false};
// Keeps a finished dispatcher reachable; see Dispatcher.
std::atomic<Dispatcher*> g_retired{nullptr};

void Wake(Dispatcher* d) {
  char byte = 1;
  ssize_t ignored = ::write(d->wake_write, &byte, 1);
  (void)ignored;
}

bool IsPending(uint32_t state) {
  return state == kServiceStartPending || state == kServiceStopPending ||
         state == kServiceContinuePending || state == kServicePausePending;
}

// The accepted-control bit a control needs, or 0 when any handler may take it.
uint32_t AcceptBitFor(uint32_t control) {
  switch (control) {
    case kServiceControlStop: return kServiceAcceptStop;
    case kServiceControlPause:
    case kServiceControlContinue: return kServiceAcceptPauseContinue;
    case kServiceControlShutdown: return kServiceAcceptShutdown;
    default: return 0;
  }
}

bool IsKnownControl(uint32_t control) {
  return (control >= kServiceControlStop && control <= kServiceControlShutdown) ||
         (control >= kServiceUserControlFirst && control <= kServiceUserControlLast);
}

// Hands one control to the registered handler, on this (the main) thread.
WinError DeliverControl(Dispatcher* d, uint32_t control, ServiceStatus* after) {
  ServiceControlHandler handler;
  void* context;
  {
    std::lock_guard<std::mutex> lock(d->mu);
    *after = d->status;
    if (!IsKnownControl(control)) return kErrorInvalidParameter;
    if (d->status.current_state == kServiceStopped) return kErrorServiceNotActive;
    handler = d->handler;
    context = d->context;
    if (control == kServiceControlInterrogate) {
      // A pending service is answered from its last report: its handler
      // would report a settled state over the pending one (a stop pending
      // would look running and then take a pause that undoes the stop).
      if (IsPending(d->status.current_state)) return kErrorSuccess;
    } else {
      uint32_t bit = AcceptBitFor(control);
      if (handler == nullptr || IsPending(d->status.current_state) ||
          (bit != 0 && (d->status.controls_accepted & bit) == 0)) {
        return kErrorServiceCannotAcceptCtrl;
      }
    }
  }
  uint32_t answer = handler != nullptr ? handler(control, 0, nullptr, context) : 0;
  std::lock_guard<std::mutex> lock(d->mu);
  *after = d->status;
  return answer;
}

void ServeConnection(Dispatcher* d, int fd) {
  ucred peer{};
  socklen_t length = sizeof(peer);
  unsigned char in[sc::kRequestSize];
  unsigned char out[sc::kAnswerSize];
  if (!sc::ReadFully(fd, in, sizeof(in), /*timeout_ms=*/1000)) return;
  WinError error = kErrorSuccess;
  ServiceStatus status;
  sc::Request request;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 ||
      (peer.uid != ::geteuid() && peer.uid != 0)) {
    error = kErrorAccessDenied;
  } else if (!sc::DecodeRequest(in, &request)) {
    error = kErrorInvalidParameter;
  } else if (request.operation == sc::kOperationQuery) {
    std::lock_guard<std::mutex> lock(d->mu);
    status = d->status;
  } else if (request.operation == sc::kOperationControl) {
    error = DeliverControl(d, request.control, &status);
  } else {
    error = kErrorInvalidParameter;
  }
  sc::EncodeAnswer(error, status, out);
  sc::WriteFully(fd, out, sizeof(out));
}

// SIGTERM is how this system says it is going down. A service that cannot
// take the control yet (still starting) gets it at its next status report.
void DeliverTermination(Dispatcher* d) {
  uint32_t accepted;
  {
    std::lock_guard<std::mutex> lock(d->mu);
    accepted = d->status.controls_accepted;
  }
  uint32_t control = (accepted & kServiceAcceptShutdown) ? kServiceControlShutdown
                                                         : kServiceControlStop;
  ServiceStatus ignored;
  d->termination_pending =
      DeliverControl(d, control, &ignored) == kErrorServiceCannotAcceptCtrl;
}

// Deletes the service's key when it was marked for deletion while running.
void DeleteIfMarked(const std::string& name) {
  std::string path = std::string(sc::kServicesKey) + "\\" + name;
  RegistryKey key;
  if (RegistryKey::Open(path, RegAccess::kRead, &key) != kErrorSuccess) return;
  uint32_t size = 0;
  bool marked = key.QueryValue("DeleteFlag", nullptr, nullptr, &size) == kErrorSuccess;
  key.Close();
  if (marked) DeleteKeyTree(path);
}

// Reads and forgets what the manager put in the environment.
bool TakeStartupEnvironment(int* fd, std::string* name) {
  const char* fd_text = std::getenv(sc::kStartupFdVariable);
  const char* name_text = std::getenv(sc::kNameVariable);
  bool ok = fd_text != nullptr && name_text != nullptr && *name_text != '\0';
  if (ok) {
    char* end = nullptr;
    long value = std::strtol(fd_text, &end, 10);
    ok = end != fd_text && *end == '\0' && value >= 0 && value < 65536 &&
         ::fcntl(static_cast<int>(value), F_SETFD, FD_CLOEXEC) == 0;
    if (ok) {
      *fd = static_cast<int>(value);
      *name = name_text;
    }
  }
  ::unsetenv(sc::kStartupFdVariable);
  ::unsetenv(sc::kNameVariable);
  return ok;
}

void ReportStartup(int fd, WinError error) {
  unsigned char out[4];
  sc::Put32(out, error);
  sc::WriteFully(fd, out, sizeof(out));
  ::close(fd);
}

}  // namespace

WinError RunServiceDispatcher(const ServiceTableEntry* table) {
  if (table == nullptr || table[0].name == nullptr || table[0].main == nullptr) {
    return kErrorInvalidData;
  }
  if (g_dispatcher_called.exchange(true)) return kErrorServiceAlreadyRunning;
  int startup_fd = -1;
  std::string name;
  if (!TakeStartupEnvironment(&startup_fd, &name)) {
    g_dispatcher_called = false;
    return kErrorFailedServiceControllerConnect;
  }
  WinError error = sc::EnsureRunFolder();
  int listen_fd = -1;
  if (error == kErrorSuccess) listen_fd = sc::Listen(name, &error);
  int wake[2] = {-1, -1};
  if (error == kErrorSuccess && ::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    error = sc::ErrnoToWinError(errno);
  }
  // Before the main function can report its stop.
  int status_fd = -1;
  if (error == kErrorSuccess) status_fd = sc::ReserveFinalStatus(name, &error);
  if (error != kErrorSuccess) {
    ReportStartup(startup_fd, error);
    if (listen_fd >= 0) ::close(listen_fd);
    if (wake[0] >= 0) ::close(wake[0]);
    if (wake[1] >= 0) ::close(wake[1]);
    return error;
  }

  auto* d = new Dispatcher;
  d->name = name;
  d->status.current_state = kServiceStartPending;
  d->wake_write = wake[1];
  d->status_fd = status_fd;
  g_dispatcher = d;

  // The main function's thread inherits the blocked SIGTERM, so it reaches
  // only this thread's descriptor.
  sigset_t term;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  ::pthread_sigmask(SIG_BLOCK, &term, nullptr);
  int signal_fd = ::signalfd(-1, &term, SFD_CLOEXEC | SFD_NONBLOCK);

  ServiceMainFunction main_function = table[0].main;
  std::thread service_thread([d, main_function] {
    std::string argv0 = d->name;
    char* argv[] = {argv0.data(), nullptr};
    main_function(1, argv);
    std::lock_guard<std::mutex> lock(d->mu);
    d->main_returned = true;
    Wake(d);
  });
  ReportStartup(startup_fd, kErrorSuccess);

  while (true) {
    pollfd fds[3] = {{listen_fd, POLLIN, 0}, {wake[0], POLLIN, 0}, {signal_fd, POLLIN, 0}};
    int r = ::poll(fds, signal_fd >= 0 ? 3 : 2, -1);
    if (r < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents) {
      char drain[64];
      while (::read(wake[0], drain, sizeof(drain)) > 0) {
      }
      {
        std::lock_guard<std::mutex> lock(d->mu);
        if (d->main_returned || d->status.current_state == kServiceStopped) break;
      }
      if (d->termination_pending) DeliverTermination(d);
    }
    if (signal_fd >= 0 && fds[2].revents) {
      signalfd_siginfo info;
      while (::read(signal_fd, &info, sizeof(info)) > 0) {
      }
      DeliverTermination(d);
    }
    if (fds[0].revents) {
      int fd = ::accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) {
        ServeConnection(d, fd);
        ::close(fd);
      }
    }
  }
  // Unlink before closing: once the socket is gone, a new start may bind
  // the same name.
  ::unlink(sc::ServiceFile(name, ".sock").c_str());
  ::close(listen_fd);
  service_thread.join();
  if (signal_fd >= 0) ::close(signal_fd);
  ::pthread_sigmask(SIG_UNBLOCK, &term, nullptr);
  {
    std::lock_guard<std::mutex> lock(d->mu);
    d->status.current_state = kServiceStopped;
    // A main function that returned without reporting its stop did not
    // end unexpectedly: its last report stands, as stopped.
    if (!d->final_kept) sc::KeepFinalStatus(d->status_fd, d->status);
    ::close(d->status_fd);
    d->status_fd = -1;
  }
  DeleteIfMarked(name);
  g_dispatcher = nullptr;
  g_retired = d;
  g_dispatcher_called = false;
  ::close(wake[0]);
  ::close(wake[1]);
  // d stays: a late status report from another thread must not touch freed
  // memory.
  return kErrorSuccess;
}

ServiceStatusHandle RegisterServiceHandler(std::string_view /*name*/,
                                           ServiceControlHandler handler,
                                           void* context, WinError* error) {
  Dispatcher* d = g_dispatcher.load();
  if (d == nullptr) {
    if (error != nullptr) *error = kErrorFailedServiceControllerConnect;
    return 0;
  }
  std::lock_guard<std::mutex> lock(d->mu);
  d->handler = handler;
  d->context = context;
  if (error != nullptr) *error = kErrorSuccess;
  return reinterpret_cast<ServiceStatusHandle>(d);
}

WinError ReportServiceStatus(ServiceStatusHandle handle, const ServiceStatus& status) {
  Dispatcher* d = g_dispatcher.load();
  if (handle == 0 || d == nullptr || handle != reinterpret_cast<ServiceStatusHandle>(d)) {
    return kErrorInvalidHandle;
  }
  std::lock_guard<std::mutex> lock(d->mu);
  d->status = status;
  if (status.current_state == kServiceStopped && d->status_fd >= 0) {
    d->final_kept = sc::KeepFinalStatus(d->status_fd, status);
  }
  Wake(d);
  return kErrorSuccess;
}

}  // namespace kst
