// A small service program for the service layer's tests. Modes:
//   -service      connect to the manager and serve until stopped
//   -slow-stop    as -service, but stays stop-pending for a second
//   -paused       as -service, but reports itself paused, not running
//   -fail         as -service, but a stop ends it as a failure does: stopped
//                 with 1066 and service-specific code 125, process exit 1
//   -no-dispatch  end at once without connecting
//   -hang         wait without connecting
// Every control it is given is appended to $KESTRANE_HOME/events.
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>

#include "platform/services.h"

namespace {

std::mutex g_mu;
std::condition_variable g_cv;
bool g_stop = false;
bool g_slow_stop = false;
bool g_paused = false;
bool g_fail = false;
kst::ServiceStatusHandle g_handle = 0;
kst::ServiceStatus g_status;

void Note(const std::string& line) {
  std::ofstream(std::string(std::getenv("KESTRANE_HOME")) + "/events", std::ios::app)
      << line << "\n";
}

void Report(uint32_t state) {
  g_status.current_state = state;
  kst::ReportServiceStatus(g_handle, g_status);
}

uint32_t Handler(uint32_t control, uint32_t, void*, void* context) {
  if (std::strcmp(static_cast<const char*>(context), "ctx") != 0) return 87;
  Note("control " + std::to_string(control));
  std::lock_guard<std::mutex> lock(g_mu);
  switch (control) {
    case kst::kServiceControlStop:
    case kst::kServiceControlShutdown:
      Report(kst::kServiceStopPending);
      g_stop = true;
      g_cv.notify_all();
      return 0;
    case kst::kServiceControlPause: Report(kst::kServicePaused); return 0;
    case kst::kServiceControlContinue: Report(kst::kServiceRunning); return 0;
    case kst::kServiceControlInterrogate: Report(g_status.current_state); return 0;
    case 200: return 0;
    default: return kst::kErrorCallNotImplemented;
  }
}

void ServiceMain(uint32_t argc, char** argv) {
  static char context[] = "ctx";
  Note("main " + std::to_string(argc) + " " + argv[0]);
  g_handle = kst::RegisterServiceHandler(argv[0], Handler, context, nullptr);
  g_status.controls_accepted = kst::kServiceAcceptStop |
                               kst::kServiceAcceptPauseContinue |
                               kst::kServiceAcceptShutdown;
  std::unique_lock<std::mutex> lock(g_mu);
  Report(g_paused ? kst::kServicePaused : kst::kServiceRunning);
  g_cv.wait(lock, [] { return g_stop; });
  if (g_slow_stop) {
    lock.unlock();
    ::sleep(1);
    lock.lock();
  }
  if (g_fail) {
    g_status.win32_exit_code = kst::kErrorServiceSpecificError;
    g_status.service_specific_exit_code = 125;
    Report(kst::kServiceStopped);
    lock.unlock();
    std::exit(1);
  }
  Report(kst::kServiceStopped);
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  std::printf("pid %d\n", static_cast<int>(::getpid()));
  std::fflush(stdout);
  if (mode == "-no-dispatch") return 0;
  if (mode == "-hang") {
    ::sleep(3);
    return 0;
  }
  g_slow_stop = mode == "-slow-stop";
  g_paused = mode == "-paused";
  g_fail = mode == "-fail";
  kst::ServiceTableEntry table[] = {{"test service", ServiceMain}, {nullptr, nullptr}};
  kst::WinError error = kst::RunServiceDispatcher(table);
  std::printf("dispatcher %u\n", error);
  return 0;
}
