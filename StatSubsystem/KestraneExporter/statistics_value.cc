#include "StatSubsystem/KestraneExporter/statistics_value.h"

#include <charconv>
#include <cmath>
#include <cstdint>

namespace kst {

char* WriteStatisticsValue(double value, char* out) {
  char* const limit = out + kMaxStatisticsValueLength;
  // Whole numbers below 1e18, which counters often are, have at most 18
  // digits: the general form prints them as they are, and the integer
  // conversion does so faster. -0 keeps its sign through the general form.
  if (std::fabs(value) < 1e18 && value == std::trunc(value) && !(value == 0 && std::signbit(value))) {
    return std::to_chars(out, limit, static_cast<int64_t>(value)).ptr;
  }
  return std::to_chars(out, limit, value, std::chars_format::general, 18).ptr;
}

void AppendStatisticsValue(double value, std::string* text) {
  char digits[kMaxStatisticsValueLength];
  text->append(digits, WriteStatisticsValue(value, digits));
}

}  // namespace kst
