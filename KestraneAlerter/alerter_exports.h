// The types of the alerter library's exports, for those that bind them by
// name: GetNewDispather, ProcessAlertMessage, DestroyDispather,
// ActivateWarningSystem.
#ifndef KESTRANE_ALERTER_ALERTER_EXPORTS_H_
#define KESTRANE_ALERTER_ALERTER_EXPORTS_H_

#include <cstdint>

namespace kst {

class AlertDispatcher;
class AlertMessage;

// A new dispatcher over the default profile, or null.
using GetNewDispatherFn = AlertDispatcher*();
// -1 when the dispatcher is enabled and has no profile, else 0. The
// message is only read during the call.
using ProcessAlertMessageFn = int32_t(AlertDispatcher*, const AlertMessage*);
// Frees a dispatcher; null is ignored.
using DestroyDispatherFn = void(AlertDispatcher*);
// Asks the checking service to reload: 0, -12, -13 or -14.
using ActivateWarningSystemFn = int32_t();

}  // namespace kst

#endif  // KESTRANE_ALERTER_ALERTER_EXPORTS_H_
