#include "platform/ui/xvfb_testutil.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

// Every test on real windows starts the server: the font libraries under
// the toolkit keep caches for the whole process.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\nleak:libXft.so\nleak:libX11.so\n";
}

namespace kst::ui::testing {
namespace {

pid_t g_server = -1;
std::string g_home;

void StopServer() {
  if (g_server > 0) {
    kill(g_server, SIGTERM);
    int status = 0;
    waitpid(g_server, &status, 0);
    g_server = -1;
  }
  std::error_code ignored;
  if (!g_home.empty()) std::filesystem::remove_all(g_home, ignored);
}

// The toolkit and the font libraries write their settings and caches under
// the home: a private one keeps the person's own untouched.
bool UsePrivateHome() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kst_ui_home.XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return false;
  g_home = pattern;
  setenv("HOME", g_home.c_str(), 1);
  setenv("XDG_CONFIG_HOME", (g_home + "/.config").c_str(), 1);
  setenv("XDG_CACHE_HOME", (g_home + "/.cache").c_str(), 1);
  return true;
}

bool Start() {
  if (!UsePrivateHome()) return false;
  std::atexit(StopServer);
  int fds[2];
  if (pipe(fds) != 0) return false;
  pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    close(fds[0]);
    prctl(PR_SET_PDEATHSIG, SIGTERM);  // no server outlives a crashed test
    std::string fd = std::to_string(fds[1]);
    // Clients reach it by the abstract socket only: no socket file (nor
    // its shared folder in /tmp) is made.
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
           "-nolisten", "unix", "-noreset", static_cast<char*>(nullptr));
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
  setenv("DISPLAY", (":" + number).c_str(), 1);
  return true;
}

}  // namespace

bool StartVirtualDisplay() {
  static const bool started = Start();
  return started;
}

}  // namespace kst::ui::testing
