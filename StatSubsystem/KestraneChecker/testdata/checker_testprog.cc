// The checker with a check the tests script: each check appends
// "check <milliseconds since the epoch> <reloadRequested>" to
// $KESTRANE_HOME/checks and returns the number in $KESTRANE_HOME/check_result
// (0 when missing); a check that succeeds clears the reload request.
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>

#include "StatSubsystem/KestraneChecker/checker_service.h"

namespace {

int ScriptedCheck() {
  std::string home = std::getenv("KESTRANE_HOME");
  long long now = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count();
  std::ofstream(home + "/checks", std::ios::app)
      << "check " << now << " " << kst::Checker().reloadRequested << "\n";
  int result = 0;
  std::ifstream(home + "/check_result") >> result;
  if (result >= 0) kst::Checker().reloadRequested = false;
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  kst::SetCheckerCheck(ScriptedCheck);
  return kst::RunServiceProgram(kst::CheckerServiceFrame(), argc, argv);
}
