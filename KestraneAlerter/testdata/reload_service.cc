// Test program: a service that stands in for the checking service. It takes
// the reload control (129) and stop; each control it takes is appended to
// $KESTRANE_HOME/controls.
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>

#include "platform/services.h"

namespace {

std::mutex mu;
std::condition_variable stopped;
bool stop = false;
kst::ServiceStatusHandle handle = 0;
kst::ServiceStatus status;

uint32_t Handler(uint32_t control, uint32_t, void*, void*) {
  std::ofstream(std::string(std::getenv("KESTRANE_HOME")) + "/controls", std::ios::app) << control << "\n";
  std::lock_guard<std::mutex> lock(mu);
  if (control == 129) return 0;
  if (control != kst::kServiceControlStop) return kst::kErrorCallNotImplemented;
  status.current_state = kst::kServiceStopPending;
  kst::ReportServiceStatus(handle, status);
  stop = true;
  stopped.notify_all();
  return 0;
}

void ServiceMain(uint32_t, char** argv) {
  handle = kst::RegisterServiceHandler(argv[0], Handler, nullptr, nullptr);
  status.controls_accepted = kst::kServiceAcceptStop;
  std::unique_lock<std::mutex> lock(mu);
  status.current_state = kst::kServiceRunning;
  kst::ReportServiceStatus(handle, status);
  stopped.wait(lock, [] { return stop; });
  status.current_state = kst::kServiceStopped;
  kst::ReportServiceStatus(handle, status);
}

}  // namespace

int main() {
  kst::ServiceTableEntry table[] = {{"Kestrane stat checker", ServiceMain}, {nullptr, nullptr}};
  return kst::RunServiceDispatcher(table) == kst::kErrorSuccess ? 0 : 1;
}
