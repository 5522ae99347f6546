#include "StatSubsystem/KestraneCollector/collector.h"

#include <cstdio>

#include "StatSubsystem/KestraneCollector/buffer_file.h"
#include "StatSubsystem/KestraneCollector/collector_testing.h"

#include "StatSubsystem/common/collector_options.h"
#include "StatSubsystem/common/ring_buffer.h"
#include "StatSubsystem/common/service_keys.h"
#include "StatSubsystem/common/service_names.h"
#include "platform/paths.h"
#include "platform/registry.h"

namespace kst {
namespace {

const std::string kCollector = ServiceNameTable[kCollectorId];

void (*g_after_new_buffer)() = nullptr;

// time() and localtime as one step; the codes are the caller's.
int ReadLocalTime(const std::function<time_t()>& now, std::tm* local, int time_failed,
                  int local_failed) {
  const time_t t = now();
  if (t == static_cast<time_t>(-1)) return time_failed;
  if (::localtime_r(&t, local) == nullptr) return local_failed;
  return 0;
}

}  // namespace

KestraneCollector::KestraneCollector(std::function<time_t()> now) : now_(std::move(now)) {}

int KestraneCollector::LoadParameters(uint32_t* interval) {
  std::vector<RegistryKey::Value> values;
  if (!ReadCollectorTickOptions(&values)) return -1;
  int flag = 0;
  if (!ServiceDwordOf(values[0], &flag)) return -1;
  if (flag != 0 && flag != 1) return -2;
  existingBuffer = flag == 1;
  if (!ServiceStringOf(values[1], &bufferFile)) return -3;
  int minutes = 0;
  if (!ServiceDwordOf(values[2], &minutes)) return -4;
  if (minutes <= 0) return -5;
  if (existingBuffer) {
    int width = 0, header = 0;
    if (!ServiceDwordOf(values[3], &width)) return -6;
    if (width <= 0) return -7;
    recordWidth = static_cast<uint32_t>(width);
    if (!ServiceDwordOf(values[4], &header)) return -8;
    if (header <= 0) return -9;
    if (MinimumHeaderSize(recordWidth) > static_cast<uint64_t>(header)) return -7;
    headerSize = static_cast<uint32_t>(header);
  }
  timeInterval = static_cast<uint32_t>(minutes);
  *interval = timeInterval;
  return 0;
}

int KestraneCollector::CollectCounterValues(std::vector<double>& out, bool reload) {
  return counters_.Read(out, reload);
}

// Writes the header lines of a new buffer and records its shape; the query
// is rebuilt on the same reading of optCounters. The lines are on the disk
// before the registry says the buffer exists.
int KestraneCollector::CreateBuffer(BufferFile& file, const std::string& native) {
  if (int result = file.Create(native); result != 0) return Problem(native, file.problem(), result);
  std::vector<std::string> paths;
  if (ReadCollectorCounterPaths(&paths) != 0) return -5;
  const std::string lines = HeaderLinesOfPaths(paths);
  if (int result = file.WriteHeaderLines(lines); result != 0) {
    return Problem(native, file.problem(), result);
  }
  headerSize = static_cast<uint32_t>(lines.size());
  recordWidth = static_cast<uint32_t>(paths.size()) + kSlotHeadDoubles;
  const char* unrecorded = "was made, but the registry cannot record its ";
  if (WriteServiceDword(kCollector, "optHeadGrpOffset", static_cast<int>(headerSize)) != 0) {
    return Problem(native, std::string(unrecorded) + "optHeadGrpOffset", -8);
  }
  if (WriteServiceDword(kCollector, "optCollsCount", static_cast<int>(recordWidth)) != 0) {
    return Problem(native, std::string(unrecorded) + "optCollsCount", -9);
  }
  if (WriteServiceDword(kCollector, "notFirstStartFlag", 1) != 0) {
    return Problem(native, std::string(unrecorded) + "notFirstStartFlag", -10);
  }
  if (g_after_new_buffer != nullptr) g_after_new_buffer();
  if (counters_.Rebuild(paths) != 0) return -7;
  return 0;
}

int KestraneCollector::Gather() {
  uint32_t interval = 0;
  if (LoadParameters(&interval) < 0) return -1;
  std::tm slot_time{};
  if (int result = ReadLocalTime(now_, &slot_time, -101, -102); result != 0) return result;

  BufferFile file;
  const std::string native = NativePath(bufferFile);
  if (existingBuffer) {
    uint64_t cut = 0;
    if (int result = file.OpenExisting(native, headerSize, recordWidth, &cut); result != 0) {
      return Problem(native, file.problem(), result);
    }
    if (cut != 0) {
      std::fprintf(stderr, "ring buffer %s ended in a torn slot: cut %llu bytes, every whole slot kept\n",
                   native.c_str(), static_cast<unsigned long long>(cut));
      std::fflush(stderr);
    }
  } else if (int result = CreateBuffer(file, native); result != 0) {
    return result;
  }

  const uint32_t slot =
      SlotIndex(slot_time.tm_mday, slot_time.tm_hour, slot_time.tm_min, timeInterval);
  std::tm stamp{};
  if (int result = ReadLocalTime(now_, &stamp, -103, -104); result != 0) return result;
  RingBufferSlot record;
  record.date_key = DateKey(stamp.tm_mon + 1, stamp.tm_mday);
  record.minute = MinuteOfDay(stamp.tm_hour, stamp.tm_min);
  if (CollectCounterValues(record.values, false) != 0) return -7;
  record.values.resize(recordWidth - kSlotHeadDoubles, 0.0);
  if (!file.WriteSlotAndClose(SlotOffset(headerSize, recordWidth, slot), record)) {
    return Problem(native, file.problem(), -11);
  }
  lastProblem_.clear();
  return 0;
}

// A retried tick meets the same fault every 2 s: it is told once, and again
// only when it changes or comes back after a good tick.
int KestraneCollector::Problem(const std::string& native, const std::string& problem, int result) {
  const std::string line = "ring buffer " + native + " " + problem;
  if (line != lastProblem_) {
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
    lastProblem_ = line;
  }
  return result;
}

void SetAfterNewBufferForTesting(void (*hook)()) { g_after_new_buffer = hook; }

}  // namespace kst
