#include "tools/e2e/demo_history.h"

#include <fstream>
#include <vector>

#include "StatSubsystem/common/counter_values.h"
#include "StatSubsystem/common/ring_buffer.h"
#include "StatSubsystem/common/service_keys.h"
#include "StatSubsystem/common/service_names.h"
#include "platform/paths.h"
#include "tools/e2e/demo_model.h"

namespace kst {

int WriteDemoHistory(int days, std::time_t now, std::string* error) {
  const char* const collector = ServiceNameTable[kCollectorId];
  std::vector<std::string> paths;
  std::string buffer_name;
  int interval = 0;
  if (ReadServiceMultiString(collector, "optCounters", &paths) != 0 || paths.empty() ||
      ReadServiceString(collector, "optBufferName", &buffer_name) != 0 ||
      ReadServiceDword(collector, "optTimeInt", &interval) != 0 || interval <= 0) {
    *error = "the collector's options are not set ('kstctl collector set')";
    return -1;
  }
  const std::string header = HeaderLinesOfPaths(paths);
  std::vector<std::string> counters;  // the model's values go by counter name
  for (const std::string& path : paths) counters.push_back(CounterNamePart(path));
  const uint32_t width = static_cast<uint32_t>(paths.size()) + kSlotHeadDoubles;
  const uint32_t step = static_cast<uint32_t>(interval);

  // The whole month of empty slots, then the samples in time order, so a
  // later day overwrites the slot of the same day a month before.
  std::vector<char> image(header.size() + SlotsPerMonth(step) * SlotBytes(width), '\0');
  std::copy(header.begin(), header.end(), image.begin());
  const std::time_t first = (now - static_cast<std::time_t>(days) * 86400) / (60 * step) * (60 * step);
  for (std::time_t t = first; t < now; t += 60 * step) {
    std::tm local{};
    localtime_r(&t, &local);
    const double load = DemoLoad(t);
    std::string slot;
    PutDouble(&slot, DateKey(local.tm_mon + 1, local.tm_mday));
    PutDouble(&slot, MinuteOfDay(local.tm_hour, local.tm_min));
    for (const std::string& counter : counters) PutDouble(&slot, DemoValue(counter, load));
    const uint64_t offset =
        SlotOffset(static_cast<uint32_t>(header.size()), width,
                   SlotIndex(local.tm_mday, local.tm_hour, local.tm_min, step));
    std::copy(slot.begin(), slot.end(), image.begin() + static_cast<std::ptrdiff_t>(offset));
  }
  const std::string native = NativePath(buffer_name);
  std::ofstream out(native, std::ios::binary | std::ios::trunc);
  out.write(image.data(), static_cast<std::streamsize>(image.size()));
  out.close();
  if (!out) {
    *error = "cannot write the ring buffer " + native;
    return -1;
  }
  if (WriteServiceDword(collector, "optHeadGrpOffset", static_cast<int>(header.size())) != 0 ||
      WriteServiceDword(collector, "optCollsCount", static_cast<int>(width)) != 0 ||
      WriteServiceDword(collector, "notFirstStartFlag", 1) != 0) {
    *error = "cannot record the buffer in the collector's key";
    return -1;
  }
  return 0;
}

}  // namespace kst
