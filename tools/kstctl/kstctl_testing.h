// Test-only: runs the built kstctl program as an administrator would.
#ifndef KESTRANE_TOOLS_KSTCTL_KSTCTL_TESTING_H_
#define KESTRANE_TOOLS_KSTCTL_KSTCTL_TESTING_H_

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace kst {

struct KstctlOutcome {
  int status = -1;
  std::string out;
  std::string err;
};

inline std::string ShellQuote(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Runs build/bin/kstctl with the words given, under the test's KESTRANE_HOME.
// Its standard error is kept outside the home, which may be a full disk.
inline KstctlOutcome Kstctl(const std::vector<std::string>& words, const std::string& /*home*/) {
  const char* bin = std::getenv("KST_BIN_DIR");
  std::string command = ShellQuote(std::string(bin ? bin : "bin") + "/kstctl");
  for (const std::string& w : words) command += " " + ShellQuote(w);
  std::string err_file = (std::filesystem::temp_directory_path() / "kstctl-stderr-XXXXXX").string();
  const int err_fd = ::mkstemp(err_file.data());
  if (err_fd >= 0) ::close(err_fd);
  command += " 2>" + ShellQuote(err_file);
  KstctlOutcome outcome;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) {
    std::remove(err_file.c_str());
    return outcome;
  }
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) outcome.out.append(buf, n);
  int status = ::pclose(pipe);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::stringstream err;
  err << std::ifstream(err_file).rdbuf();
  outcome.err = err.str();
  std::remove(err_file.c_str());
  return outcome;
}

}  // namespace kst

#endif  // KESTRANE_TOOLS_KSTCTL_KSTCTL_TESTING_H_
