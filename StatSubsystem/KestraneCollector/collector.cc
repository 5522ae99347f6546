#include "StatSubsystem/KestraneCollector/collector.h"

#include <fstream>

#include "StatSubsystem/common/ring_buffer.h"
#include "StatSubsystem/common/service_keys.h"
#include "StatSubsystem/common/service_names.h"
#include "platform/paths.h"

namespace kst {
namespace {

const std::string kCollector = ServiceNameTable[kCollectorId];

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
  int flag = 0;
  if (ReadServiceDword(kCollector, "notFirstStartFlag", &flag) != 0) return -1;
  if (flag != 0 && flag != 1) return -2;
  existingBuffer = flag == 1;
  if (ReadServiceString(kCollector, "optBufferName", &bufferFile) != 0) return -3;
  int minutes = 0;
  if (ReadServiceDword(kCollector, "optTimeInt", &minutes) != 0) return -4;
  if (minutes <= 0) return -5;
  if (existingBuffer) {
    int width = 0, header = 0;
    if (ReadServiceDword(kCollector, "optCollsCount", &width) != 0) return -6;
    if (width <= 0) return -7;
    recordWidth = static_cast<uint32_t>(width);
    if (ReadServiceDword(kCollector, "optHeadGrpOffset", &header) != 0) return -8;
    if (header <= 0) return -9;
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
// is rebuilt on the same reading of optCounters.
int KestraneCollector::CreateBuffer(std::fstream& file) {
  std::vector<std::string> paths;
  if (ReadCollectorCounterPaths(&paths) != 0) return -5;
  const std::string lines = HeaderLinesOfPaths(paths);
  file.write(lines.data(), static_cast<std::streamsize>(lines.size()));
  if (!file) return -4;
  headerSize = static_cast<uint32_t>(file.tellp());
  recordWidth = static_cast<uint32_t>(paths.size()) + kSlotHeadDoubles;
  if (WriteServiceDword(kCollector, "optHeadGrpOffset", static_cast<int>(headerSize)) != 0) return -8;
  if (WriteServiceDword(kCollector, "optCollsCount", static_cast<int>(recordWidth)) != 0) return -9;
  if (WriteServiceDword(kCollector, "notFirstStartFlag", 1) != 0) return -10;
  if (counters_.Rebuild(paths) != 0) return -7;
  return 0;
}

int KestraneCollector::Gather() {
  uint32_t interval = 0;
  if (LoadParameters(&interval) < 0) return -1;
  std::tm slot_time{};
  if (int result = ReadLocalTime(now_, &slot_time, -101, -102); result != 0) return result;

  std::fstream file;
  const std::string native = NativePath(bufferFile);
  if (existingBuffer) {
    file.open(native, std::ios::in | std::ios::out | std::ios::binary);
    if (!file.is_open()) return -2;
    file.seekp(0, std::ios::end);
    const int64_t length = static_cast<int64_t>(file.tellp());
    // A file cut short of its header lines, or slots without room for the
    // date and minute, would be overwritten into something unreadable.
    if (!LengthFitsSlots(length, headerSize, recordWidth) || length < headerSize ||
        recordWidth < kSlotHeadDoubles) {
      return -3;
    }
  } else {
    file.open(native, std::ios::in | std::ios::out | std::ios::binary | std::ios::trunc);
    if (!file.is_open()) return -4;
    if (int result = CreateBuffer(file); result != 0) return result;
  }

  const uint32_t slot =
      SlotIndex(slot_time.tm_mday, slot_time.tm_hour, slot_time.tm_min, timeInterval);
  file.seekp(static_cast<std::streamoff>(SlotOffset(headerSize, recordWidth, slot)));

  std::tm stamp{};
  if (int result = ReadLocalTime(now_, &stamp, -103, -104); result != 0) return result;
  RingBufferSlot record;
  record.date_key = DateKey(stamp.tm_mon + 1, stamp.tm_mday);
  record.minute = MinuteOfDay(stamp.tm_hour, stamp.tm_min);
  if (CollectCounterValues(record.values, false) != 0) return -7;
  record.values.resize(recordWidth - kSlotHeadDoubles, 0.0);

  if (!WriteSlot(file, record) || !file.flush()) return -11;
  file.close();
  return file.fail() ? -11 : 0;
}

}  // namespace kst
