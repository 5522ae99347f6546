// Exporting a whole month of a ring buffer (64 counters, one slot a minute)
// as CSV, against reading the same file from start to end in the same run.
//
// Reported: the export's rows per second, and read_time_ratio, the export's
// time per pass divided by the plain read's.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "StatSubsystem/KestraneExporter/buffer_exporter.h"
#include "StatSubsystem/common/ring_buffer.h"
#include "StatSubsystem/common/service_keys.h"
#include "StatSubsystem/common/service_names.h"
#include "platform/registry.h"

namespace kst {
namespace {

constexpr int kCounters = 64;
constexpr uint32_t kInterval = 1;
constexpr int kMonth = 3;

// One private installation with a full month of samples for the whole run.
class Month {
 public:
  Month() {
    char pattern[] = "/tmp/kst-bench-XXXXXX";
    home_ = mkdtemp(pattern);
    setenv("KESTRANE_HOME", home_.c_str(), 1);
    buffer_ = home_ + "/cbuffer";
    std::vector<std::string> objects, counters;
    for (int c = 0; c < kCounters; ++c) {
      objects.push_back("Object" + std::to_string(c / 8));
      counters.push_back("Counter " + std::to_string(c));
    }
    std::string bytes = GroupLine(objects) + HeaderLine(counters);
    const uint32_t header = static_cast<uint32_t>(bytes.size());
    RingBufferSlot slot;
    slot.values.resize(kCounters);
    for (int day = 1; day <= 31; ++day) {
      for (int minute = 0; minute < 1440; ++minute) {
        slot.date_key = DateKey(kMonth, day);
        slot.minute = minute;
        // Half the counters count whole things, half measure fractions.
        for (int c = 0; c < kCounters; ++c) {
          slot.values[c] = c % 2 == 0 ? minute * 4096.0 + c : minute * 1.25 + c / 3.0 + day;
        }
        bytes += EncodeSlot(slot);
      }
    }
    std::ofstream(buffer_, std::ios::binary) << bytes;
    RegistryKey key;
    RegistryKey::Create(std::string("System\\CurrentControlSet\\Services\\") +
                            ServiceNameTable[kCollectorServiceName],
                        &key);
    const char* id = ServiceNameTable[kCollectorId];
    WriteServiceDword(id, "optTimeInt", kInterval);
    WriteServiceDword(id, "optHeadGrpOffset", static_cast<int>(header));
    WriteServiceDword(id, "optCollsCount", kCounters + 2);
    WriteServiceString(id, "optBufferName", buffer_);
  }
  ~Month() { std::filesystem::remove_all(home_); }

  const std::string& home() const { return home_; }
  const std::string& buffer() const { return buffer_; }

 private:
  std::string home_, buffer_;
};

Month& TheMonth() {
  static Month month;
  return month;
}

// Reads the whole file once; the number of bytes read.
size_t ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> chunk(1 << 16);
  size_t total = 0;
  while (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || in.gcount() > 0) {
    total += static_cast<size_t>(in.gcount());
  }
  return total;
}

double ReadSeconds(const std::string& path) {
  double best = 1e9;
  for (int i = 0; i < 5; ++i) {
    const auto start = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(ReadWhole(path));
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return best;
}

void BM_ReadRingBuffer(benchmark::State& state) {
  const Month& month = TheMonth();
  size_t bytes = 0;
  for (auto _ : state) bytes += ReadWhole(month.buffer());
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_ReadRingBuffer)->Unit(benchmark::kMillisecond);

void BM_ExportMonth(benchmark::State& state) {
  const Month& month = TheMonth();
  const double read_seconds = ReadSeconds(month.buffer());
  auto clock = [](std::tm* now) {
    *now = std::tm{};
    now->tm_mon = kMonth - 1;
    now->tm_mday = 15;
    return true;
  };
  int64_t rows = 0;
  double export_seconds = 0;
  for (auto _ : state) {
    BufferExporter exporter(clock);
    ExporterOptions options;
    options.month = kMonth;
    options.outputFile = month.home() + "/month.csv";
    const auto start = std::chrono::steady_clock::now();
    if (exporter.Export(&options, true) != 0) state.SkipWithError("export failed");
    export_seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rows += 31 * 1440;
  }
  state.counters["rows_per_second"] = benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
  state.counters["read_time_ratio"] =
      export_seconds / static_cast<double>(state.iterations()) / read_seconds;
}
BENCHMARK(BM_ExportMonth)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kst

BENCHMARK_MAIN();
