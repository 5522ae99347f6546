// Cost of one collection of every counter of the machine (every object,
// instance and counter, as "add all" would choose them), against reading
// /proc/stat once in the same run. Prints the ratio at the end.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "benchmark/benchmark.h"
#include "bench/time_reporter.h"
#include "platform/perfcounters.h"

namespace kst {
namespace {

void BM_ReadProcStatOnce(benchmark::State& state) {
  char buffer[65536];
  for (auto _ : state) {
    const int fd = ::open("/proc/stat", O_RDONLY | O_CLOEXEC);
    ssize_t total = 0, n = 0;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0) total += n;
    ::close(fd);
    benchmark::DoNotOptimize(total);
  }
}
BENCHMARK(BM_ReadProcStatOnce);

// One query over the paths of `pattern`; each iteration collects once and
// formats every value.
void CollectAll(benchmark::State& state, const char* pattern) {
  std::vector<std::string> paths;
  if (ExpandCounterPath(pattern, &paths) != kPdhSuccess) {
    state.SkipWithError("expansion failed");
    return;
  }
  std::unique_ptr<PerfQuery> query;
  OpenQuery(&query);
  std::vector<PerfCounterHandle> handles;
  for (const std::string& path : paths) {
    PerfCounterHandle handle = 0;
    if (query->AddCounter(path, &handle) == kPdhSuccess) handles.push_back(handle);
  }
  for (auto _ : state) {
    query->Collect();
    double sum = 0;
    for (PerfCounterHandle handle : handles) {
      double value = 0;
      if (query->GetFormattedValue(handle, &value) == kPdhSuccess) sum += value;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.counters["counters"] = static_cast<double>(handles.size());
}

void BM_CollectEveryCounter(benchmark::State& state) { CollectAll(state, "\\*(*/*)\\*"); }
BENCHMARK(BM_CollectEveryCounter)->Unit(benchmark::kMillisecond);

// Every counter of one object that reads two small files, for scale.
void BM_CollectProcessorCounters(benchmark::State& state) { CollectAll(state, "\\Processor(*)\\*"); }
BENCHMARK(BM_CollectProcessorCounters)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kst

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  kst::TimeReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const double base = reporter.Seconds("BM_ReadProcStatOnce");
  if (base > 0) {
    for (const char* name : {"BM_CollectEveryCounter", "BM_CollectProcessorCounters"}) {
      const double seconds = reporter.Seconds(name);
      if (seconds > 0) std::printf("%s / BM_ReadProcStatOnce = %.1f\n", name, seconds / base);
    }
  }
  benchmark::Shutdown();
  return 0;
}
