// The frame both service programs share: the program entry with its
// command-line words, the service entry point with its wait-and-tick loop,
// the control handler, the interruptible one-second wait, and the reporting
// of errors to standard error and to the service's key. A program describes
// what differs (ServiceFrame) and hands its main over to RunServiceProgram.
//
// Process-wide state (one frame per process): the run-state word
// (0 stopped, 1 running, 2 paused, 3 reload requested) and the stop flag,
// both only under one lock, and the service status.
//
// Threads: in a service the dispatcher's thread (the main thread) runs
// ServiceCtrlHandler; the service thread runs ServiceMain, the wait and the
// ticks. With "-debug" ServiceMain runs on the main thread.
#ifndef KESTRANE_STATSUBSYSTEM_COMMON_SERVICE_FRAME_H_
#define KESTRANE_STATSUBSYSTEM_COMMON_SERVICE_FRAME_H_

#include <cstdint>
#include <string>

#include "StatSubsystem/common/service_install.h"
#include "platform/win_errors.h"

namespace kst {

inline constexpr int kRunStateStopped = 0;
inline constexpr int kRunStateRunning = 1;
inline constexpr int kRunStatePaused = 2;
inline constexpr int kRunStateReload = 3;

// What a service program adds to the frame.
struct ServiceFrame {
  ServiceIdentity service;
  // Accepted controls as reported in every status (stop, pause/continue,
  // shutdown: 7).
  uint32_t controls_accepted = 7;
  // The user control that asks for a reload (the run state 3); 0 for none.
  uint32_t reload_control = 0;
  // Run before anything else; false ends ServiceMain at once, silently.
  // May be null.
  bool (*prepare)() = nullptr;
  // True: report running before the parameters load (and raise the
  // priority then); false: after they loaded.
  bool running_before_load = false;
  int priority_steps = 1;  // 1 above normal, 2 highest
  // Loads the parameters and gives the interval between ticks.
  int (*load_parameters)(int* interval) = nullptr;
  const char* load_parameters_name = "";  // as the error message names it
  int64_t interval_unit_ms = 1;           // milliseconds per interval unit
  // One tick of the service's work: 0 or more is done.
  int (*tick)() = nullptr;
  const char* tick_name = "";
  // A tick result that is retried after a 2 s wait instead of stopping.
  int retry_result = 0;
  // Service-specific exit codes of a failed load and a failed tick, and
  // the ReportError code of a failed tick.
  uint32_t load_failure_exit = 0;
  uint32_t tick_failure_exit = 0;
  int tick_error_code = 12;
};

// The program's main: the command-line words in order ("-install",
// "-remove", "-debug", "-service"; others are ignored; none prints the
// usage). Returns 0, or 1 after a line on standard error when "-install" or
// "-remove" could not change the service database (the words after it are
// not carried out), or when "-debug" or "-service" would run as root in an
// installation another user can change.
int RunServiceProgram(const ServiceFrame& frame, int argc, char** argv);

// The report of a dispatcher that could not start: its text, and its
// ReportError code through *code.
const char* DispatcherErrorText(WinError error, int* code);

// Makes frame the process's frame without running anything (for tests
// that drive ServiceMain, the handler or the wait themselves).
void UseServiceFrame(const ServiceFrame& frame);

// The service entry point; its arguments are not read. Reports stopped and
// returns when a wait sees the run state 0. A failed load or tick reports
// stopped with 1066 and the service-specific code, reports the error and
// ends the process with exit code 1. Run as root in an installation another
// user can change (UnsafeInstallationReason), a reload request is refused
// with a line on standard error: the parameters are not loaded again and the
// ticks go on with what they read before.
void ServiceMain(uint32_t argc, char** argv);

// The control handler (context: the service's identifier). Returns 0, or
// 120 for a control it does not handle.
uint32_t ServiceCtrlHandler(uint32_t control, uint32_t event_type, void* event_data,
                            void* context);

// Waits the given time in one-second steps, the clock held while paused.
// 0 stopped, 1 the time is up, 3 a reload was requested (the run state is
// then set back to 1).
int WaitInterruptible(int64_t milliseconds);

// Code 1 prints the usage; any other code is saved with SaveLastError and
// written to standard error as "error <code>: <message>".
void ReportError(int code, const std::string& message);

// Stores lastErrorNo and lastErrorMessage in the service's key.
// 0; -1 the number could not be written (the message is then not tried);
// -2 the message could not be written.
int SaveLastError(int code, const std::string& message);

void PrintUsage();

// The stop flag: set by stop, shutdown and pause, cleared by continue.
bool StopRequested();

// The run-state word (for tests and for the tick).
int RunState();

}  // namespace kst

#endif  // KESTRANE_STATSUBSYSTEM_COMMON_SERVICE_FRAME_H_
