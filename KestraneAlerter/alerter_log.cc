#include "KestraneAlerter/alerter_log.h"

#include <unistd.h>

#include <atomic>

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

void ThrottledLog::Log(const std::string& line, int32_t now) {
  std::string out;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (causes_.size() >= kCausesKept && causes_.find(line) == causes_.end()) {
      for (auto it = causes_.begin(); it != causes_.end();) {
        bool quiet = static_cast<int64_t>(now) - it->second.lastLine >= seconds_;
        it = quiet ? causes_.erase(it) : std::next(it);
      }
    }
    auto [it, first] = causes_.try_emplace(line);
    Cause& cause = it->second;
    ++cause.since;
    // A clock set back lets the line through rather than holding it.
    int64_t passed = static_cast<int64_t>(now) - cause.lastLine;
    if (!first && passed >= 0 && passed < seconds_) return;
    out = line;
    if (cause.since > 1) out += " (" + std::to_string(cause.since) + " times since the last such line)";
    cause.lastLine = now;
    cause.since = 0;
  }
  AlerterLog(out);
}

}  // namespace kst
