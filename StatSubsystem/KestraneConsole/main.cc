#include <string>
#include <vector>

#include "StatSubsystem/KestraneConsole/console_app.h"

namespace {
kst::ConsoleApp theApp;
}  // namespace

int main(int argc, char** argv) {
  return theApp.InitInstance(std::vector<std::string>(argv + 1, argv + argc));
}
