// A thread of the alerter's own that looks about once a second for work
// come due (held-back log counts, mail to try again); it runs only while
// some work waits.
#ifndef KESTRANE_ALERTER_ALERTER_TICKER_H_
#define KESTRANE_ALERTER_ALERTER_TICKER_H_

#include <cstdint>

namespace kst {

// Work is called with the alerter's time; it answers whether any of its own
// still waits.
using TickerWork = bool (*)(int32_t now);

// Has `work` called about once a second, from now on until it answers that
// nothing waits, on the ticker's thread and with no lock of the ticker's
// held. Any thread may call, holding any lock that `work` does not take.
void WakeTicker(TickerWork work);

}  // namespace kst

#endif  // KESTRANE_ALERTER_ALERTER_TICKER_H_
