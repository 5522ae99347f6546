// The console program: shows the collector settings dialog, or, with the
// one argument "-install", sets up and starts collection of every system
// counter without showing the dialog (message boxes still appear).
#ifndef KESTRANE_STATSUBSYSTEM_KESTRANECONSOLE_CONSOLE_APP_H_
#define KESTRANE_STATSUBSYSTEM_KESTRANECONSOLE_CONSOLE_APP_H_

#include <string>
#include <vector>

namespace kst {

class ConsoleApp {
 public:
  // args: the command line's words after the program name. The exit code:
  // 1 when the silent set-up showed a failure, or when the dialog cannot be
  // shown for want of a display (said on standard error); else 0.
  int InitInstance(const std::vector<std::string>& args);
};

}  // namespace kst

#endif  // KESTRANE_STATSUBSYSTEM_KESTRANECONSOLE_CONSOLE_APP_H_
