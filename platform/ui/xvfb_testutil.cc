#include "platform/ui/xvfb_testutil.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

// Every test on real windows starts the server: the font libraries under
// the toolkit keep caches for the whole process.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\nleak:libXft.so\nleak:libX11.so\n";
}

namespace kst::ui::testing {
namespace {

pid_t g_server = -1;

void StopServer() {
  if (g_server <= 0) return;
  kill(g_server, SIGTERM);
  int status = 0;
  waitpid(g_server, &status, 0);
  g_server = -1;
}

bool Start() {
  int fds[2];
  if (pipe(fds) != 0) return false;
  pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    close(fds[0]);
    prctl(PR_SET_PDEATHSIG, SIGTERM);  // no server outlives a crashed test
    std::string fd = std::to_string(fds[1]);
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
           "-noreset", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  // The server writes its display number once it accepts clients.
  std::string number;
  char c;
  while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  close(fds[0]);
  if (number.empty()) {
    int status = 0;
    waitpid(pid, &status, 0);
    return false;
  }
  g_server = pid;
  std::atexit(StopServer);
  setenv("DISPLAY", (":" + number).c_str(), 1);
  return true;
}

}  // namespace

bool StartVirtualDisplay() {
  static const bool started = Start();
  return started;
}

}  // namespace kst::ui::testing
