// Test-only helpers of the counter layer. Never included by the system's
// programs.
#ifndef KESTRANE_PLATFORM_PERFCOUNTERS_TESTING_H_
#define KESTRANE_PLATFORM_PERFCOUNTERS_TESTING_H_

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace kst {

// A program of the given file name (a copy of sleep in `folder`) running
// for the object's lifetime, as the machine's Process object shows it.
// started() is false when it was not seen running its program within 10 s.
class RunningProgram {
 public:
  RunningProgram(const std::string& folder, const std::string& name) {
    const std::string program = folder + "/" + name;
    std::filesystem::copy_file("/bin/sleep", program, std::filesystem::copy_options::overwrite_existing);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::execl(program.c_str(), program.c_str(), "60", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    // The kernel keeps at most 15 characters of the name.
    const std::string kernel_name = name.substr(0, 15);
    const std::string comm = "/proc/" + std::to_string(pid_) + "/comm";
    for (int i = 0; pid_ > 0 && i < 1000 && !started_; ++i) {
      std::string seen;
      std::ifstream(comm) >> seen;
      started_ = seen == kernel_name;
      if (!started_) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~RunningProgram() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  bool started() const { return started_; }

 private:
  pid_t pid_ = -1;
  bool started_ = false;
};

}  // namespace kst

#endif  // KESTRANE_PLATFORM_PERFCOUNTERS_TESTING_H_
