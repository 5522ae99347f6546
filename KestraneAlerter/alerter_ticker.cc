#include "KestraneAlerter/alerter_ticker.h"

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "KestraneAlerter/alerter_time.h"
#include "KestraneAlerter/test_seams.h"

namespace kst {
namespace {

std::atomic<int> tick_ms{0};

// Never destroyed: the thread may still run when the process ends.
struct Ticker {
  std::mutex mutex;
  // Guarded by mutex: the work to call, each with whether it was woken
  // since it was last called.
  std::map<TickerWork, bool> works;
  bool running = false;
};

Ticker& TheTicker() {
  static Ticker* ticker = new Ticker;
  return *ticker;
}

void Run() {
  Ticker& ticker = TheTicker();
  for (;;) {
    int ms = tick_ms.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(ms > 0 ? ms : 1000));
    std::vector<TickerWork> due;
    {
      std::lock_guard<std::mutex> hold(ticker.mutex);
      for (auto& [work, woken] : ticker.works) {
        woken = false;
        due.push_back(work);
      }
    }
    std::vector<TickerWork> idle;
    for (TickerWork work : due) {
      if (!work(AlerterTime())) idle.push_back(work);
    }
    std::lock_guard<std::mutex> hold(ticker.mutex);
    for (TickerWork work : idle) {
      auto it = ticker.works.find(work);
      if (it != ticker.works.end() && !it->second) ticker.works.erase(it);
    }
    if (ticker.works.empty()) {
      ticker.running = false;
      return;
    }
  }
}

}  // namespace

void WakeTicker(TickerWork work) {
  Ticker& ticker = TheTicker();
  std::lock_guard<std::mutex> hold(ticker.mutex);
  ticker.works[work] = true;
  if (ticker.running) return;
  try {
    std::thread(Run).detach();
    ticker.running = true;
  } catch (const std::system_error&) {
    // The next wake tries again.
  }
}

void SetAlerterTickForTesting(int milliseconds) { tick_ms = milliseconds; }

}  // namespace kst
