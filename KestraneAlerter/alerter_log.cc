#include "KestraneAlerter/alerter_log.h"

#include <unistd.h>

#include <atomic>
#include <set>
#include <vector>

#include "KestraneAlerter/alerter_ticker.h"
#include "KestraneAlerter/test_seams.h"

namespace kst {

static std::atomic<void (*)(const std::string&)> log_sink{nullptr};

void AlerterLog(const std::string& line) {
  if (auto sink = log_sink.load()) return sink(line);
  std::string whole = "alerter: " + line + "\n";
  ssize_t ignored = ::write(STDERR_FILENO, whole.data(), whole.size());
  (void)ignored;
}

void SetAlerterLogForTesting(void (*sink)(const std::string& line)) { log_sink = sink; }

// Beyond this many causes, those quiet for a whole interval are forgotten,
// so that replies that differ every time cannot grow the table for ever.
constexpr size_t kCausesKept = 64;

namespace {

std::string Counted(const std::string& line, int64_t count) {
  return count > 1 ? line + " (" + std::to_string(count) + " times since the last such line)" : line;
}

// The logs alive, for the ticker. Never destroyed: the ticker may still run
// when the process ends.
struct LiveLogs {
  std::mutex mutex;
  std::set<ThrottledLog*> logs;  // guarded by mutex
};

LiveLogs& Live() {
  static LiveLogs* live = new LiveLogs;
  return *live;
}

}  // namespace

ThrottledLog::ThrottledLog(int seconds) : seconds_(seconds) {
  LiveLogs& live = Live();
  std::lock_guard<std::mutex> hold(live.mutex);
  live.logs.insert(this);
}

ThrottledLog::~ThrottledLog() {
  {
    LiveLogs& live = Live();
    std::lock_guard<std::mutex> hold(live.mutex);
    live.logs.erase(this);
  }
  Flush();
}

void ThrottledLog::Flush() { WriteHeldBack(0, true); }

bool ThrottledLog::Tick(int32_t now) {
  LiveLogs& live = Live();
  std::lock_guard<std::mutex> hold(live.mutex);
  bool waiting = false;
  for (ThrottledLog* log : live.logs) waiting |= log->WriteHeldBack(now, false);
  return waiting;
}

bool ThrottledLog::WriteHeldBack(int32_t now, bool all) {
  std::vector<std::string> out;
  bool waiting = false;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    for (auto& [line, cause] : causes_) {
      if (cause.since == 0) continue;
      int64_t passed = static_cast<int64_t>(now) - cause.lastLine;
      if (!all && passed >= 0 && passed < seconds_) {
        waiting = true;
        continue;
      }
      out.push_back(Counted(line, cause.since));
      if (!all) cause.lastLine = now;
      cause.since = 0;
    }
  }
  for (const std::string& line : out) AlerterLog(line);
  return waiting;
}

void ThrottledLog::Log(const std::string& line, int32_t now) {
  std::vector<std::string> out;
  bool held = false;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (causes_.size() >= kCausesKept && causes_.find(line) == causes_.end()) {
      for (auto it = causes_.begin(); it != causes_.end();) {
        bool quiet = static_cast<int64_t>(now) - it->second.lastLine >= seconds_;
        if (quiet && it->second.since > 0) out.push_back(Counted(it->first, it->second.since));
        it = quiet ? causes_.erase(it) : std::next(it);
      }
    }
    auto [it, first] = causes_.try_emplace(line);
    Cause& cause = it->second;
    ++cause.since;
    // A clock set back lets the line through rather than holding it.
    int64_t passed = static_cast<int64_t>(now) - cause.lastLine;
    held = !first && passed >= 0 && passed < seconds_;
    if (!held) {
      out.push_back(Counted(line, cause.since));
      cause.lastLine = now;
      cause.since = 0;
    }
  }
  for (const std::string& text : out) AlerterLog(text);
  if (held) WakeTicker(&Tick);
}

}  // namespace kst
