// Costs of reading counters, each beside the real limit measured in the
// same run, with the ratios printed at the end:
// - one collection of every counter of the machine (every object, instance
//   and counter, as "add all" would choose them), against reading /proc/stat
//   once;
// - one collector tick over every counter of the Processor, Memory, System,
//   PhysicalDisk and Network Interface objects, split into its three parts:
//     options    (KestraneCollector::LoadParameters) vs one statement,
//                prepared once, that finds the key by its path and reads
//                the five values in one transaction (beside it, one read
//                of one value on an open key, for scale);
//     counters   (one collection of the query) vs reading once each file
//                those objects come from (and /proc/stat alone);
//     slot write (open, length check, write, close) vs a plain open, pwrite
//                of the same bytes and close;
//   and the whole tick beside the sum of the three limits. The tick runs in
//   a private KESTRANE_HOME, removed at the end.
#include <dirent.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "StatSubsystem/KestraneCollector/buffer_file.h"
#include "StatSubsystem/KestraneCollector/collector.h"
#include "StatSubsystem/common/ring_buffer.h"
#include "StatSubsystem/common/service_keys.h"
#include "benchmark/benchmark.h"
#include "bench/time_reporter.h"
#include "platform/paths.h"
#include "platform/perfcounters.h"
#include "platform/registry.h"
#include "platform/registry_testing.h"

namespace kst {
namespace {

void ReadWhole(const char* path, char* buffer, size_t size) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  ssize_t total = 0, n = 0;
  while ((n = ::read(fd, buffer, size)) > 0) total += n;
  ::close(fd);
  benchmark::DoNotOptimize(total);
}

void BM_ReadProcStatOnce(benchmark::State& state) {
  static char buffer[65536];
  for (auto _ : state) ReadWhole("/proc/stat", buffer, sizeof buffer);
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

// ---- one collector tick ----

const char* const kCollector = "kstCollector";

std::vector<std::string> TickCounterPaths() {
  std::vector<std::string> all;
  for (const char* pattern : {"\\Processor(*)\\*", "\\Memory\\*", "\\System\\*",
                              "\\PhysicalDisk(*)\\*", "\\Network Interface(*)\\*"}) {
    std::vector<std::string> paths;
    if (ExpandCounterPath(pattern, &paths) == kPdhSuccess) {
      all.insert(all.end(), paths.begin(), paths.end());
    }
  }
  return all;
}

// The installation every benchmark works in: the collector configured for
// those counters, with its buffer made by a first tick.
struct Setup {
  TempKestraneHome home;
  std::vector<std::string> paths = TickCounterPaths();
  std::string buffer = home.path() + "/cbuffer";
  bool ok = false;

  Setup() {
    RegistryKey key;
    if (RegistryKey::Create(ServiceKeyPath(kCollector), &key) != kErrorSuccess) return;
    WriteServiceDword(kCollector, "notFirstStartFlag", 0);
    WriteServiceString(kCollector, "optBufferName", buffer);
    WriteServiceDword(kCollector, "optTimeInt", 1);
    WriteServiceMultiString(kCollector, "optCounters", paths);
    KestraneCollector first;
    ok = first.Gather() == 0;
  }
};

std::unique_ptr<Setup> g_setup;

Setup& Installation() {
  if (g_setup == nullptr) g_setup = std::make_unique<Setup>();
  return *g_setup;
}

int Dword(const char* name) {
  int value = 0;
  ReadServiceDword(kCollector, name, &value);
  return value;
}

// ---- options ----

void BM_OneRegistryValueRead(benchmark::State& state) {
  Installation();
  RegistryKey key;
  RegistryKey::Open(ServiceKeyPath(kCollector), RegAccess::kRead, &key);
  unsigned char bytes[4];
  for (auto _ : state) {
    uint32_t size = sizeof bytes;
    benchmark::DoNotOptimize(key.QueryValue("optTimeInt", nullptr, bytes, &size));
  }
}
BENCHMARK(BM_OneRegistryValueRead);

// The least work of reading the five options: one statement, prepared once on
// a connection of its own to the registry's database, that finds the key by
// its path and reads the five values in one transaction.
void BM_FiveValuesOneStatement(benchmark::State& state) {
  const Setup& setup = Installation();
  sqlite3* db = nullptr;
  if (sqlite3_open_v2((setup.home.path() + "/" + std::string(kRegistryFileName)).c_str(), &db,
                      SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return state.SkipWithError("no database");
  }
  std::string sql = "SELECT v.type, v.data FROM keys k0";
  int depth = 0;
  std::vector<std::string> parts;
  const std::string path = ServiceKeyPath(kCollector);
  for (size_t start = 0, end = 0; end != std::string::npos; start = end + 1) {
    end = path.find('\\', start);
    parts.push_back(path.substr(start, end == std::string::npos ? end : end - start));
    if (depth > 0) {
      const std::string k = "k" + std::to_string(depth), up = "k" + std::to_string(depth - 1);
      sql += " JOIN keys " + k + " ON " + k + ".parent = " + up + ".id AND " + k + ".name = ?" +
             std::to_string(depth + 1);
    }
    ++depth;
  }
  sql += " JOIN vals v ON v.key = k" + std::to_string(depth - 1) + ".id" +
         " WHERE k0.parent = 0 AND k0.name = ?1 AND v.name IN ('notFirstStartFlag', 'optBufferName', 'optTimeInt', 'optCollsCount',"
         " 'optHeadGrpOffset')";
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return state.SkipWithError("statement not prepared");
  }
  for (size_t i = 0; i < parts.size(); ++i) {
    sqlite3_bind_text(stmt, static_cast<int>(i + 1), parts[i].c_str(), -1, SQLITE_STATIC);
  }
  int rows = 0;
  for (auto _ : state) {
    rows = 0;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      benchmark::DoNotOptimize(sqlite3_column_blob(stmt, 1));
      ++rows;
    }
    sqlite3_reset(stmt);
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  if (rows != 5) state.SkipWithError("not the five values");
}
BENCHMARK(BM_FiveValuesOneStatement);

void BM_TickOptions(benchmark::State& state) {
  if (!Installation().ok) return state.SkipWithError("no installation");
  KestraneCollector collector;
  uint32_t interval = 0;
  for (auto _ : state) benchmark::DoNotOptimize(collector.LoadParameters(&interval));
}
BENCHMARK(BM_TickOptions);

// ---- counters ----

void ListFolder(const char* path) {
  if (DIR* dir = ::opendir(path)) {
    int entries = 0;
    while (::readdir(dir) != nullptr) ++entries;
    ::closedir(dir);
    benchmark::DoNotOptimize(entries);
  }
}

// Every file and folder the five objects are read from, each once.
void BM_ReadCounterSourcesOnce(benchmark::State& state) {
  static char buffer[65536];
  for (auto _ : state) {
    for (const char* file : {"/proc/stat", "/proc/interrupts", "/proc/meminfo", "/proc/vmstat",
                             "/proc/loadavg", "/proc/uptime", "/proc/diskstats", "/proc/net/dev"}) {
      ReadWhole(file, buffer, sizeof buffer);
    }
    ListFolder("/proc");
    ListFolder("/sys/block");
  }
}
BENCHMARK(BM_ReadCounterSourcesOnce);

void BM_TickCounters(benchmark::State& state) {
  if (!Installation().ok) return state.SkipWithError("no installation");
  KestraneCollector collector;
  std::vector<double> values;
  for (auto _ : state) {
    values.clear();
    benchmark::DoNotOptimize(collector.CollectCounterValues(values, false));
  }
  state.counters["counters"] = static_cast<double>(values.size());
}
BENCHMARK(BM_TickCounters);

// ---- slot write ----

RingBufferSlot FullSlot() {
  RingBufferSlot slot;
  slot.date_key = 101;
  slot.minute = 0;
  slot.values.assign(Installation().paths.size(), 1.5);
  return slot;
}

void BM_PlainSlotWrite(benchmark::State& state) {
  const Setup& setup = Installation();
  const std::string bytes = EncodeSlot(FullSlot());
  const std::string native = NativePath(setup.buffer);
  const uint32_t header = static_cast<uint32_t>(Dword("optHeadGrpOffset"));
  for (auto _ : state) {
    const int fd = ::open(native.c_str(), O_WRONLY | O_CLOEXEC);
    benchmark::DoNotOptimize(::pwrite(fd, bytes.data(), bytes.size(), header));
    ::close(fd);
  }
}
BENCHMARK(BM_PlainSlotWrite);

void BM_TickSlotWrite(benchmark::State& state) {
  const Setup& setup = Installation();
  const RingBufferSlot slot = FullSlot();
  const std::string native = NativePath(setup.buffer);
  const uint32_t header = static_cast<uint32_t>(Dword("optHeadGrpOffset"));
  const uint32_t width = static_cast<uint32_t>(Dword("optCollsCount"));
  for (auto _ : state) {
    BufferFile file;
    if (file.OpenExisting(native, header, width, nullptr) != 0 ||
        !file.WriteSlotAndClose(SlotOffset(header, width, 0), slot)) {
      return state.SkipWithError("slot write failed");
    }
  }
}
BENCHMARK(BM_TickSlotWrite);

// ---- the whole tick ----

void BM_WholeTick(benchmark::State& state) {
  if (!Installation().ok) return state.SkipWithError("no installation");
  KestraneCollector collector;
  for (auto _ : state) {
    if (collector.Gather() != 0) return state.SkipWithError("tick failed");
  }
}
BENCHMARK(BM_WholeTick);

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
  std::printf("counters in the tick: %zu\n", kst::Installation().paths.size());
  struct Pair { const char* part; const char* limit; } pairs[] = {
      {"BM_TickOptions", "BM_FiveValuesOneStatement"},
      {"BM_TickCounters", "BM_ReadCounterSourcesOnce"},
      {"BM_TickCounters", "BM_ReadProcStatOnce"},
      {"BM_TickSlotWrite", "BM_PlainSlotWrite"},
  };
  double limits = 0;
  for (const Pair& p : pairs) {
    const double part = reporter.Seconds(p.part), limit = reporter.Seconds(p.limit);
    if (part > 0 && limit > 0) {
      std::printf("%s / %s = %.2f\n", p.part, p.limit, part / limit);
      if (p.limit != std::string("BM_ReadProcStatOnce")) limits += limit;
    }
  }
  const double whole = reporter.Seconds("BM_WholeTick");
  if (whole > 0 && limits > 0) {
    std::printf("BM_WholeTick / sum of the three limits = %.2f\n", whole / limits);
  }
  kst::g_setup.reset();  // removes the private home
  benchmark::Shutdown();
  return 0;
}
