// The library's exported entry points, bound by name by the checking
// service and the management host. No exception leaves them.
#include <new>

#include "KestraneAlerter/alert_dispatcher.h"
#include "KestraneAlerter/dialogs/config_dialog_launch.h"
#include "KestraneAlerter/signal_checker.h"

#define KST_EXPORT extern "C" __attribute__((visibility("default")))

KST_EXPORT kst::AlertDispatcher* GetNewDispather() {
  try {
    return new kst::AlertDispatcher();
  } catch (...) {
    return nullptr;
  }
}

KST_EXPORT int32_t ProcessAlertMessage(kst::AlertDispatcher* dispatcher, const kst::AlertMessage* message) {
  try {
    return dispatcher->process(*message);
  } catch (...) {
    return 0;
  }
}

KST_EXPORT void DestroyDispather(kst::AlertDispatcher* dispatcher) {
  try {
    delete dispatcher;
  } catch (...) {
  }
}

KST_EXPORT int32_t ActivateWarningSystem() {
  try {
    return kst::signalCheckingService();
  } catch (...) {
    return -14;
  }
}

// A host that binds it as returning nothing is not disturbed by the result.
KST_EXPORT int32_t LaunchUpdaterDialog() {
  try {
    return kst::LaunchUpdaterDialog();
  } catch (...) {
    return -1;
  }
}
