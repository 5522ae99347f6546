// Starting, stopping and watching the two services by their short
// identifiers ("kstCollector", "kstChecker"). Every function answers 0 or a
// small negative code that ServiceErrorText turns into the text shown to
// the user; none shows anything itself. The manager is opened on this
// machine with connect access; every handle is closed before return.
#ifndef KESTRANE_STATSUBSYSTEM_COMMON_SERVICE_CONTROL_H_
#define KESTRANE_STATSUBSYSTEM_COMMON_SERVICE_CONTROL_H_

#include <cstdint>
#include <string>

#include "platform/win_errors.h"

namespace kst {

// The checker's user control that makes it reload its configuration.
inline constexpr unsigned reloadControlCode = 129;

// States of QueryServiceState.
inline constexpr int kServiceStateStopped = 0;
inline constexpr int kServiceStateRunning = 1;
inline constexpr int kServiceStatePaused = 2;
inline constexpr int kServiceStateDisabled = 3;
inline constexpr int kServiceStateNotInstalled = 4;

// The service manager name of an identifier. 0, or -1 for any other
// identifier.
int ServiceDisplayName(const std::string& identifier, std::string* name);

// Starts the service, waits a second and looks whether it came up. When it
// reports neither running nor start-pending, its last error is read from
// its key: -14, and *detail (may be null) gets "service error <number>
// <message>".
int StartServiceByName(const std::string& identifier, std::string* detail = nullptr);
int StopServiceByName(const std::string& identifier);
int PauseServiceByName(const std::string& identifier);
int ContinueServiceByName(const std::string& identifier);
// The reload control, for the checker only (-15 for anything else, at once).
int SendReloadControl(const std::string& identifier);

// 0 and *state; a service that is not installed is state 4 with result 0.
// -1, -3, -13 on failure. A service in pause-pending leaves *state alone.
int QueryServiceState(const std::string& identifier, int* state);

// The code of a start that the manager refused with `error`.
int StartErrorCode(WinError error);
// The code of a control that the service or the manager refused.
int ControlErrorCode(WinError error);
// What an interrogation tells QueryServiceState: 0 with *state set from the
// reported state (left alone for pause-pending), or -13 for an error other
// than "not active" (stopped) and "disabled".
int ServiceStateOf(WinError error, uint32_t reported, int* state);

// The text of a code; any code outside the table is "unknown error".
// Always 0.
int ServiceErrorText(int code, std::string* text);

}  // namespace kst

#endif  // KESTRANE_STATSUBSYSTEM_COMMON_SERVICE_CONTROL_H_
