#include "tools/net/net_send.h"

#include <fcntl.h>
#include <unistd.h>
#include <utmpx.h>

#include <cstring>
#include <ctime>

namespace kst {

std::vector<Login> ReadLogins(const std::string& file) {
  std::vector<Login> logins;
  if (!file.empty() && utmpxname(file.c_str()) != 0) return logins;
  setutxent();
  while (utmpx* entry = getutxent()) {
    if (entry->ut_type != USER_PROCESS) continue;
    Login login;
    login.user.assign(entry->ut_user, strnlen(entry->ut_user, sizeof entry->ut_user));
    login.line.assign(entry->ut_line, strnlen(entry->ut_line, sizeof entry->ut_line));
    if (!login.user.empty() && !login.line.empty()) logins.push_back(login);
  }
  endutxent();
  return logins;
}

// A terminal line names a device under /dev and nothing else.
static bool SafeLine(const std::string& line) {
  return line.find("..") == std::string::npos && line.front() != '/';
}

int SendToTerminals(const std::vector<Login>& logins, const std::string& user, const std::string& message) {
  int received = 0;
  for (const Login& login : logins) {
    if (user != "*" && login.user != user) continue;
    if (!SafeLine(login.line)) continue;
    // Never become the terminal's controlling process, never wait on it.
    int fd = open(("/dev/" + login.line).c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    ssize_t written = write(fd, message.data(), message.size());
    close(fd);
    if (written == static_cast<ssize_t>(message.size())) ++received;
  }
  return received;
}

std::string TerminalMessage(const std::string& from, const std::string& to, const std::string& text) {
  char when[64] = "";
  std::time_t now = std::time(nullptr);
  std::tm local;
  if (localtime_r(&now, &local) != nullptr) std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
  std::string message = "\r\nMessage from " + from + " to " + to + " on " + when + "\r\n\r\n";
  // Terminals in raw mode need the carriage return too.
  for (char c : text) message += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return message + "\r\n";
}

}  // namespace kst
