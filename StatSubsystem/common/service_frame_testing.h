// Test-only knob of the service frame. Never included by the system's
// programs.
#ifndef KESTRANE_STATSUBSYSTEM_COMMON_SERVICE_FRAME_TESTING_H_
#define KESTRANE_STATSUBSYSTEM_COMMON_SERVICE_FRAME_TESTING_H_

#include "platform/services.h"

namespace kst {

// Called with every status the frame reports (also without a manager, as
// under "-debug"), on the reporting thread; null for none.
void SetServiceStatusObserverForTesting(void (*observer)(const ServiceStatus& status));

}  // namespace kst

#endif  // KESTRANE_STATSUBSYSTEM_COMMON_SERVICE_FRAME_TESTING_H_
