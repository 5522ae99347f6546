// The checking service's side of the service frame: its entries, its two
// start-up parameters, and the check each tick runs.
#ifndef KESTRANE_STATSUBSYSTEM_KESTRANECHECKER_CHECKER_SERVICE_H_
#define KESTRANE_STATSUBSYSTEM_KESTRANECHECKER_CHECKER_SERVICE_H_

#include <string>

#include "StatSubsystem/common/service_frame.h"

namespace kst {

// The checker's state between ticks. Touched only by the service thread.
struct CheckerState {
  // The interval between checks lives in the frame's ServiceMain.
  std::string rootDirectory;    // the product key's rootDirectory, read at start
  bool reloadRequested = true;  // the next check rebuilds its configuration
};
CheckerState& Checker();

class KestraneChecker {
 public:
  // Requires a configured collector (its notFirstStartFlag) and a positive
  // intervalBetweenCheckings: 0 with *interval set and a reload requested;
  // -1 collector not configured, -2 interval unreadable, -3 interval not
  // positive (nothing changes then).
  static int LoadParameters(int* interval);

  // One check: the function SetCheckerCheck installed, or the program's own
  // check (CheckerOwnCheck).
  static int Check();
};

// The program's own check, in its own file.
int CheckerOwnCheck();

// Replaces the check each tick runs (for test programs). Call before
// RunServiceProgram.
using CheckerCheckFunction = int (*)();
void SetCheckerCheck(CheckerCheckFunction check);

// The checking service's frame.
const ServiceFrame& CheckerServiceFrame();

}  // namespace kst

#endif  // KESTRANE_STATSUBSYSTEM_KESTRANECHECKER_CHECKER_SERVICE_H_
