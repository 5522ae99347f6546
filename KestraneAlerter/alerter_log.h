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
// between are counted, and the next line of that cause ends with
// " (N times since the last such line)". Any thread may call.
class ThrottledLog {
 public:
  explicit ThrottledLog(int seconds) : seconds_(seconds) {}

  // `line` names the cause: lines that differ are causes of their own.
  // `now` in seconds, as AlerterTime gives it.
  void Log(const std::string& line, int32_t now);

 private:
  struct Cause {
    int32_t lastLine = 0;
    int64_t since = 0;  // occurrences not yet on the log
  };
  const int seconds_;
  std::mutex mutex_;
  std::map<std::string, Cause> causes_;  // guarded by mutex_
};

}  // namespace kst

#endif  // KESTRANE_ALERTER_ALERTER_LOG_H_
