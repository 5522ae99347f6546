#include "KestraneAlerter/alerter_time.h"

#include <atomic>
#include <ctime>

#include "KestraneAlerter/test_seams.h"

namespace kst {

static std::atomic<int32_t (*)()> test_clock{nullptr};

int32_t AlerterTime() {
  if (auto clock = test_clock.load()) return clock();
  return static_cast<int32_t>(std::time(nullptr));
}

void SetAlerterClockForTesting(int32_t (*clock)()) { test_clock = clock; }

}  // namespace kst
