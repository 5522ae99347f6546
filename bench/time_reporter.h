// A console reporter that also keeps each benchmark's real time per
// iteration, in seconds, so that a benchmark's main can print ratios against
// a baseline measured in the same run.
#ifndef KESTRANE_BENCH_TIME_REPORTER_H_
#define KESTRANE_BENCH_TIME_REPORTER_H_

#include <map>
#include <string>
#include <vector>

#include "benchmark/benchmark.h"

namespace kst {

class TimeReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
        seconds_[run.benchmark_name()] =
            run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  // Seconds per iteration of the first benchmark whose name starts with
  // prefix (names carry suffixes such as "/iterations:1"); 0 when none ran.
  double Seconds(const std::string& prefix) const {
    for (const auto& [name, seconds] : seconds_) {
      if (name.rfind(prefix, 0) == 0) return seconds;
    }
    return 0.0;
  }

 private:
  std::map<std::string, double> seconds_;
};

}  // namespace kst

#endif  // KESTRANE_BENCH_TIME_REPORTER_H_
