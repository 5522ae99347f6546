// The generated behaviour of the demonstration machine: one load figure
// that follows the time of day, and each counter a function of it, so that
// the counters of a log rise and fall together as on a real server. The
// same model writes the month of history and the current values the
// checker is shown.
#ifndef KESTRANE_TOOLS_E2E_DEMO_MODEL_H_
#define KESTRANE_TOOLS_E2E_DEMO_MODEL_H_

#include <cstdint>
#include <ctime>
#include <string>

namespace kst {

// The load at local time `when`, 0..1: low at night, high in the
// afternoon, lower at weekends, with a little noise that depends only on
// the minute, so that the same time always gives the same load.
double DemoLoad(std::time_t when);

// The value of the counter named `counter` (the counter part of its path,
// such as "Available MBytes") under `load`. Known counters get realistic
// magnitudes and directions; any other rises from 100 to 200.
double DemoValue(const std::string& counter, double load);

// The load that breaks the counters' usual agreement: counter number
// `index` of a log shows a low or a high load, alternately, so that
// neighbouring counters contradict each other while each stays within the
// range it had in the history.
double BrokenLoad(int index);

}  // namespace kst

#endif  // KESTRANE_TOOLS_E2E_DEMO_MODEL_H_
