#include "StatSubsystem/KestraneChecker/check_cycle.h"
#include "StatSubsystem/KestraneChecker/checker_service.h"

namespace kst {

int CheckerOwnCheck() {
  // Kept for the life of the process: the alerter is never released.
  static CheckCycle* const cycle = new CheckCycle;
  CheckControls controls;
  controls.rootDirectory = Checker().rootDirectory;
  controls.reloadRequested = &Checker().reloadRequested;
  controls.stopRequested = StopRequested;
  return cycle->Check(controls);
}

}  // namespace kst
