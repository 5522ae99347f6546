// Writing a generated stretch of history into the collector's ring buffer,
// so that training can start at once instead of after a month of
// collection. The buffer is laid out as the collector lays it out, and the
// collector's key records it as the collector records a buffer it made.
#ifndef KESTRANE_TOOLS_E2E_DEMO_HISTORY_H_
#define KESTRANE_TOOLS_E2E_DEMO_HISTORY_H_

#include <ctime>
#include <string>

namespace kst {

// Fills the ring buffer that the collector's options name (optBufferName,
// optCounters, optTimeInt) with one sample per interval for the `days` days
// before `now`, values from DemoValue. The file is made anew; the collector's
// key then holds optHeadGrpOffset, optCollsCount and notFirstStartFlag 1, so
// a collector started afterwards goes on writing into it. 0, or -1 with
// *error set.
int WriteDemoHistory(int days, std::time_t now, std::string* error);

}  // namespace kst

#endif  // KESTRANE_TOOLS_E2E_DEMO_HISTORY_H_
