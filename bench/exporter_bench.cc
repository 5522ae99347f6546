// Exporting a whole month of a ring buffer (64 counters, one slot a minute)
// as CSV, against loops that write the same bytes from values already in
// memory, measured in the same run: the limit that formatting and writing
// set, whatever reads the buffer.
//
// Reported by BM_ExportMonth: rows_per_second; speed_vs_to_chars, the time
// of a loop that formats every value with std::to_chars (general form,
// precision 18) divided by the export's time (the aim is at least 0.9);
// speed_vs_same_text, the same for a loop that formats as the export does;
// read_time_ratio, the export's time over a plain read of the file.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "StatSubsystem/KestraneExporter/buffer_exporter.h"
#include "StatSubsystem/KestraneExporter/statistics_value.h"
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

// The month's slots as the collector wrote them, and its header lines.
struct MonthInMemory {
  std::string group, header;
  std::vector<int> minutes;
  std::vector<double> values;  // kCounters per row
};

MonthInMemory LoadMonth(const std::string& path) {
  MonthInMemory month;
  std::ifstream in(path, std::ios::binary);
  std::getline(in, month.group);
  std::getline(in, month.header);
  month.group = month.group.substr(month.group.find(';') + 1);
  month.header = month.header.substr(month.header.find(';') + 1);
  RingBufferSlot slot;
  while (ReadSlot(in, kCounters + 2, &slot)) {
    month.minutes.push_back(static_cast<int>(slot.minute));
    month.values.insert(month.values.end(), slot.values.begin(), slot.values.end());
  }
  return month;
}

// Writes the month as CSV to `path` with `format` for each value.
template <typename Format>
void WriteMonth(const MonthInMemory& month, const std::string& path, Format format) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << month.group << '\n' << month.header << '\n';
  std::string row;
  char text[32];
  for (size_t r = 0; r < month.minutes.size(); ++r) {
    row.clear();
    row.append(text, std::to_chars(text, text + sizeof text, month.minutes[r]).ptr);
    for (int c = 0; c < kCounters; ++c) {
      row += ';';
      row.append(text, format(month.values[r * kCounters + c], text));
    }
    row += '\n';
    out.write(row.data(), static_cast<std::streamsize>(row.size()));
  }
}

char* ToCharsGeneral18(double value, char* text) {
  return std::to_chars(text, text + 32, value, std::chars_format::general, 18).ptr;
}

template <typename Work>
double BestSeconds(int runs, Work work) {
  double best = 1e9;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    work();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return best;
}

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
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
  const std::string exported = month.home() + "/month.csv";
  auto export_once = [&] {
    BufferExporter exporter(clock);
    ExporterOptions options;
    options.month = kMonth;
    options.outputFile = exported;
    if (exporter.Export(&options, true) != 0) state.SkipWithError("export failed");
  };

  // The loops must write what the export writes, byte for byte.
  const MonthInMemory in_memory = LoadMonth(month.buffer());
  const std::string looped = month.home() + "/loop.csv";
  export_once();
  const std::string expected = FileText(exported);
  WriteMonth(in_memory, looped, ToCharsGeneral18);
  if (FileText(looped) != expected) state.SkipWithError("the to_chars loop writes other bytes");
  WriteMonth(in_memory, looped, WriteStatisticsValue);
  if (FileText(looped) != expected) state.SkipWithError("the same-text loop writes other bytes");

  // The three are timed in turn in every iteration, so that a load on the
  // machine weighs on all of them alike; the best time of each counts.
  double best_export = 1e9, to_chars_seconds = 1e9, same_text_seconds = 1e9;
  for (auto _ : state) {
    const double export_seconds = BestSeconds(1, export_once);
    state.SetIterationTime(export_seconds);
    best_export = std::min(best_export, export_seconds);
    to_chars_seconds = std::min(
        to_chars_seconds, BestSeconds(1, [&] { WriteMonth(in_memory, looped, ToCharsGeneral18); }));
    same_text_seconds = std::min(
        same_text_seconds, BestSeconds(1, [&] { WriteMonth(in_memory, looped, WriteStatisticsValue); }));
  }
  state.counters["rows_per_second"] = 31 * 1440 / best_export;
  state.counters["speed_vs_to_chars"] = to_chars_seconds / best_export;
  state.counters["speed_vs_same_text"] = same_text_seconds / best_export;
  state.counters["read_time_ratio"] = best_export / read_seconds;
}
BENCHMARK(BM_ExportMonth)->UseManualTime()->MinTime(2.0)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kst

BENCHMARK_MAIN();
