// Test-only knobs of the service layer. Never included by the system's
// programs.
#ifndef KESTRANE_PLATFORM_SERVICES_TESTING_H_
#define KESTRANE_PLATFORM_SERVICES_TESTING_H_

namespace kst {

// How long a start waits for the program's dispatcher (30 s by default).
void SetServiceStartTimeoutForTesting(int milliseconds);

}  // namespace kst

#endif  // KESTRANE_PLATFORM_SERVICES_TESTING_H_
