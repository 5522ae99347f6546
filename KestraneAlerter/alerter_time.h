// The alerter's clock: seconds since 1970-01-01 00:00 UTC as a signed
// 32-bit number, the time every wait and window is measured in.
#ifndef KESTRANE_ALERTER_ALERTER_TIME_H_
#define KESTRANE_ALERTER_ALERTER_TIME_H_

#include <cstdint>

namespace kst {

int32_t AlerterTime();

// True when `last` + `wait` seconds lie after `now`. Computed wide, so a
// large wait holds rather than wrapping around.
inline bool StillWaiting(int32_t last, int32_t wait, int32_t now) {
  return static_cast<int64_t>(last) + wait > now;
}

}  // namespace kst

#endif  // KESTRANE_ALERTER_ALERTER_TIME_H_
