// The counter browser: a modal dialog where the user picks performance
// counters of this machine (an object, then counters and instances) and adds
// them, as many times as he likes, until he closes it. Each add hands the
// chosen paths to the caller's callback through the caller's buffer.
//
// UI thread only. The settings and the buffer belong to the caller; the
// callback may replace the buffer (and its length) while it runs.
#ifndef KST_PLATFORM_UI_COUNTER_BROWSER_H_
#define KST_PLATFORM_UI_COUNTER_BROWSER_H_

#include <cstdint>
#include <functional>
#include <string>

#include "platform/perfcounters.h"

namespace kst::ui {

class Window;

// Ids of the browser's controls, for tests that play the user.
inline constexpr int kBrowseObjectId = 1101;
inline constexpr int kBrowseCountersId = 1102;
inline constexpr int kBrowseInstancesId = 1103;
inline constexpr int kBrowseAddId = 1104;

struct CounterBrowseSettings {
  // Offer "*" (every instance) ahead of the object's instances.
  bool wildcard_instances = false;
  // Let only one counter and one instance be chosen at a time.
  bool single_counter_per_add = false;
  // Paths without the "\\host" part.
  bool local_counters_only = false;
  std::string caption = "Browse Performance Counters";

  // Where an add puts its paths: each followed by a NUL, one NUL more at the
  // end. buffer_length is its size in chars.
  char* buffer = nullptr;
  uint32_t buffer_length = 0;
  // What the browser tells the callback: kPdhSuccess when the buffer holds
  // the paths, kPdhMoreData when they did not fit. The callback answers
  // kPdhRetry after giving a larger buffer (the browser then tries again),
  // anything else to drop the add.
  PdhStatus callback_status = kPdhSuccess;
  std::function<PdhStatus(uintptr_t)> callback;
  uintptr_t callback_argument = 0;
};

// Shows the browser until the user closes it. kPdhSuccess, or the failure of
// the enumeration of objects (nothing is shown then).
PdhStatus BrowseCounters(CounterBrowseSettings& settings, Window* owner);

}  // namespace kst::ui

#endif  // KST_PLATFORM_UI_COUNTER_BROWSER_H_
