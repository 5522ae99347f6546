// Test-only: a FIFO where a data file belongs, with a bound on how long a
// reader could hang on it. Never included by the system's programs.
#ifndef KESTRANE_PLATFORM_ROOT_DOORS_TESTING_H_
#define KESTRANE_PLATFORM_ROOT_DOORS_TESTING_H_

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace kst {

// Makes a FIFO at `path` that nobody writes or reads. Code that opens it
// the blocking way would hang for ever: after `seconds` the FIFO is opened
// for writing and closed again, over and over, so that such a reader goes
// on, and held open for reading (what comes is drained) so that such a
// writer goes on, and the test ends; waited() then tells it happened.
// Removes the FIFO.
class UnwrittenFifo {
 public:
  explicit UnwrittenFifo(const std::string& path, int seconds = 5)
      : path_(path), made_(::mkfifo(path.c_str(), 0644) == 0) {
    rescuer_ = std::thread([this, seconds] {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
      while (!done_ && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      int reading = -1;
      while (!done_) {
        // Succeeds only while a reader is there; once this one holds the
        // FIFO it merely lets later readers go.
        const int fd = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) {
          if (reading < 0) waited_ = true;
          ::close(fd);
        }
        if (reading < 0) reading = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK);
        char drained[4096];
        while (reading >= 0 && ::read(reading, drained, sizeof drained) > 0) waited_ = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      if (reading >= 0) ::close(reading);
    });
  }
  ~UnwrittenFifo() {
    done_ = true;
    rescuer_.join();
    ::unlink(path_.c_str());
  }
  UnwrittenFifo(const UnwrittenFifo&) = delete;
  UnwrittenFifo& operator=(const UnwrittenFifo&) = delete;

  bool made() const { return made_; }
  // Whether a reader had to be let go.
  bool waited() const { return waited_; }

 private:
  const std::string path_;
  const bool made_;
  std::atomic<bool> done_{false};
  std::atomic<bool> waited_{false};
  std::thread rescuer_;
};

// The user nobody's number, for files that another user owns.
inline uid_t NobodyUid() {
  const passwd* nobody = ::getpwnam("nobody");
  return nobody != nullptr ? nobody->pw_uid : 65534;
}

}  // namespace kst

#endif  // KESTRANE_PLATFORM_ROOT_DOORS_TESTING_H_
