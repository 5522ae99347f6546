// The alerter's one way to leave a trace: a line on the service's log
// (standard error). Any thread may call; a line is written in one piece, so
// lines of sender threads never mix.
#ifndef KESTRANE_ALERTER_ALERTER_LOG_H_
#define KESTRANE_ALERTER_ALERTER_LOG_H_

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace kst {

// Writes `line` and a line end.
void AlerterLog(const std::string& line);

// Lets the line of one cause through at most once in `seconds`, so that a
// failure repeated on every check cannot flood the log. The repeats in
// between are held back and counted; when the interval ends their count is
// written, as the cause's line ending with " (N times since the last such
// line)" (the plain line for one), whether or not the cause comes again,
// and so is every count still held back when the log is destroyed or
// flushed. Any thread may call.
class ThrottledLog {
 public:
  explicit ThrottledLog(int seconds);
  ~ThrottledLog();
  ThrottledLog(const ThrottledLog&) = delete;
  ThrottledLog& operator=(const ThrottledLog&) = delete;

  // `line` names the cause: lines that differ are causes of their own.
  // `now` in seconds, as AlerterTime gives it.
  void Log(const std::string& line, int32_t now);
  // Writes every count held back, its interval ended or not.
  void Flush();

 private:
  struct Cause {
    int32_t lastLine = 0;
    int64_t since = 0;  // occurrences held back
  };
  // Writes the counts whose interval has ended by `now`, or all of them;
  // whether any is still held back.
  bool WriteHeldBack(int32_t now, bool all);
  // The ticker's work: every live log's counts come due.
  static bool Tick(int32_t now);

  const int seconds_;
  std::mutex mutex_;
  std::map<std::string, Cause> causes_;  // guarded by mutex_
};

}  // namespace kst

#endif  // KESTRANE_ALERTER_ALERTER_LOG_H_
