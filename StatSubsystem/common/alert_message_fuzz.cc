// Feeds arbitrary bytes to the alert record reader; a record it accepts must
// write back to a record that reads the same.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "StatSubsystem/common/alert_message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  kst::AlertMessage message;
  if (message.deserialize(reinterpret_cast<const char*>(data), static_cast<int>(size)) != 0) {
    return 0;
  }
  std::vector<char> out(size);
  int written = 0;
  if (message.serialize(out.data(), static_cast<int>(out.size()), &written) != 0 ||
      written > static_cast<int>(size)) {
    std::abort();
  }
  kst::AlertMessage again;
  std::vector<char> twice(size);
  int written_twice = 0;
  if (again.deserialize(out.data(), written) != 0 ||
      again.serialize(twice.data(), static_cast<int>(twice.size()), &written_twice) != 0 ||
      written_twice != written || !std::equal(out.begin(), out.begin() + written, twice.begin())) {
    std::abort();
  }
  return 0;
}
