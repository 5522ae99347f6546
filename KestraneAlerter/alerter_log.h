// The alerter's one way to leave a trace: a line on the service's log
// (standard error). Any thread may call; a line is written in one piece, so
// lines of sender threads never mix.
#ifndef KESTRANE_ALERTER_ALERTER_LOG_H_
#define KESTRANE_ALERTER_ALERTER_LOG_H_

#include <string>

namespace kst {

// Writes `line` and a line end.
void AlerterLog(const std::string& line);

}  // namespace kst

#endif  // KESTRANE_ALERTER_ALERTER_LOG_H_
