#include "KestraneAlerter/signal_checker.h"

#include <memory>

#include "StatSubsystem/common/service_control.h"
#include "StatSubsystem/common/service_names.h"
#include "platform/services.h"

namespace kst {

int signalCheckingService() {
  std::unique_ptr<ServiceManager> manager;
  if (ServiceManager::Open(kManagerConnect, &manager) != kErrorSuccess) return -12;
  std::unique_ptr<Service> checker;
  if (manager->OpenService(ServiceNameTable[kCheckerServiceName], kServiceUserDefinedControl | kServiceStop, &checker) !=
      kErrorSuccess) {
    return -13;
  }
  return checker->Control(reloadControlCode, nullptr) == kErrorSuccess ? 0 : -14;
}

}  // namespace kst
