// KestraneChecker: installs, removes and runs the checking service.
#include "StatSubsystem/KestraneChecker/checker_service.h"

int main(int argc, char** argv) {
  return kst::RunServiceProgram(kst::CheckerServiceFrame(), argc, argv);
}
