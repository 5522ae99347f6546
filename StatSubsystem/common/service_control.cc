#include "StatSubsystem/common/service_control.h"

#include <chrono>
#include <memory>
#include <thread>

#include "StatSubsystem/common/service_keys.h"
#include "StatSubsystem/common/service_names.h"
#include "platform/services.h"

namespace kst {

namespace {

// Maps the identifier, opens the manager and the service: 0; -3 unknown
// identifier; -1 no manager; -2 the service cannot be opened.
int OpenByIdentifier(const std::string& identifier, uint32_t access,
                     std::unique_ptr<Service>* service) {
  std::string name;
  if (ServiceDisplayName(identifier, &name) != 0) return -3;
  std::unique_ptr<ServiceManager> manager;
  if (ServiceManager::Open(kManagerConnect, &manager) != kErrorSuccess) return -1;
  if (manager->OpenService(name, access, service) != kErrorSuccess) return -2;
  return 0;
}

int SendControl(const std::string& identifier, uint32_t access, uint32_t control) {
  std::unique_ptr<Service> service;
  int result = OpenByIdentifier(identifier, access, &service);
  if (result != 0) return result;
  WinError error = service->Control(control, nullptr);
  return error == kErrorSuccess ? 0 : ControlErrorCode(error);
}

}  // namespace

int StartErrorCode(WinError error) {
  switch (error) {
    case kErrorAccessDenied: return -4;
    case kErrorPathNotFound: return -5;
    case kErrorServiceAlreadyRunning: return -6;
    case 1055: return -7;  // database locked
    case kErrorServiceDisabled: return -8;
    case kErrorServiceMarkedForDelete: return -9;
    case kErrorServiceRequestTimeout: return -10;
    case 1069: return -11;  // logon failed
    case 86: return -12;    // wrong network password
    default: return -13;
  }
}

int ControlErrorCode(WinError error) {
  switch (error) {
    case kErrorAccessDenied: return -4;
    case kErrorServiceCannotAcceptCtrl: return -15;
    case kErrorServiceNotActive: return -16;
    default: return -13;
  }
}

int ServiceStateOf(WinError error, uint32_t reported, int* state) {
  if (error == kErrorServiceNotActive) {
    *state = kServiceStateStopped;
  } else if (error == kErrorServiceDisabled) {
    *state = kServiceStateDisabled;
  } else if (error != kErrorSuccess) {
    return -13;
  } else if (reported == kServiceRunning || reported == kServiceStartPending ||
             reported == kServiceContinuePending) {
    *state = kServiceStateRunning;
  } else if (reported == kServicePaused) {
    *state = kServiceStatePaused;
  } else if (reported == kServiceStopped || reported == kServiceStopPending) {
    *state = kServiceStateStopped;
  }
  return 0;
}

int ServiceDisplayName(const std::string& identifier, std::string* name) {
  if (identifier == ServiceNameTable[kCollectorId]) {
    *name = ServiceNameTable[kCollectorServiceName];
  } else if (identifier == ServiceNameTable[kCheckerId]) {
    *name = ServiceNameTable[kCheckerServiceName];
  } else {
    return -1;
  }
  return 0;
}

int StartServiceByName(const std::string& identifier, std::string* detail) {
  std::unique_ptr<Service> service;
  int result = OpenByIdentifier(identifier, kServiceStart | kServiceInterrogate, &service);
  if (result != 0) return result;
  WinError error = service->Start();
  if (error != kErrorSuccess) return StartErrorCode(error);
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  ServiceStatus status;
  if (service->Control(kServiceControlInterrogate, &status) != kErrorSuccess ||
      status.current_state == kServiceRunning ||
      status.current_state == kServiceStartPending) {
    return 0;
  }
  // The service's own last error (the collector's, when it is the collector).
  int number = 0;
  if (ReadServiceDword(identifier, "lastErrorNo", &number) < 0) return -13;
  std::string message;
  ReadServiceString(identifier, "lastErrorMessage", &message);
  if (detail != nullptr) {
    *detail = "service error " + std::to_string(number) + " " + message;
  }
  return -14;
}

int StopServiceByName(const std::string& identifier) {
  return SendControl(identifier, kServiceStop, kServiceControlStop);
}

int PauseServiceByName(const std::string& identifier) {
  return SendControl(identifier, kServicePauseContinue, kServiceControlPause);
}

int ContinueServiceByName(const std::string& identifier) {
  return SendControl(identifier, kServicePauseContinue, kServiceControlContinue);
}

int SendReloadControl(const std::string& identifier) {
  if (identifier != ServiceNameTable[kCheckerId]) return -15;
  return SendControl(identifier, kServiceUserDefinedControl, reloadControlCode);
}

int QueryServiceState(const std::string& identifier, int* state) {
  std::unique_ptr<Service> service;
  const int opened = OpenByIdentifier(identifier, kServiceInterrogate | kServiceReadControl, &service);
  if (opened == -2) {
    *state = kServiceStateNotInstalled;
    return 0;
  }
  if (opened != 0) return opened;
  ServiceStatus status;
  const WinError error = service->Control(kServiceControlInterrogate, &status);
  return ServiceStateOf(error, status.current_state, state);
}

int ServiceErrorText(int code, std::string* text) {
  static const char* const kTexts[] = {
      "couldn't connect to SCManager",
      "OpenService() failed (possibly service is not installed)",
      "bad module name",
      "access denied",
      "invalid expected binary file",
      "service is already running",
      "service database locked",
      "service is disabled",
      "service is marked for delete",
      "service request time out",
      "logon failed",
      "the specified network password is not correct",
      "unknown error",
      "last error message",
      "service cannot accept control",
      "service has not been started",
  };
  if (code <= -1 && code >= -16) {
    *text = kTexts[-code - 1];
  } else {
    *text = "unknown error";
  }
  return 0;
}

}  // namespace kst
