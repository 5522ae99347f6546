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

}  // namespace kst
