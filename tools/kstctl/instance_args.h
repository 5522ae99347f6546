// The words that describe an analyzer instance on kstctl's command line:
// days as YYYY-MM-DD, daily windows as HH:MM-HH:MM, warning thresholds.
#ifndef KESTRANE_TOOLS_KSTCTL_INSTANCE_ARGS_H_
#define KESTRANE_TOOLS_KSTCTL_INSTANCE_ARGS_H_

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

namespace kst {

// YYYY-MM-DD as the calendar time of that day's local midnight.
inline bool ParseDate(const std::string& text, int32_t* calendar_time) {
  std::tm fields{};
  char extra = 0;
  if (std::sscanf(text.c_str(), "%d-%d-%d%c", &fields.tm_year, &fields.tm_mon, &fields.tm_mday,
                  &extra) != 3) {
    return false;
  }
  fields.tm_year -= 1900;
  fields.tm_mon -= 1;
  fields.tm_isdst = -1;
  const std::tm asked = fields;
  const std::time_t t = std::mktime(&fields);
  if (t == static_cast<std::time_t>(-1) || t < INT32_MIN || t > INT32_MAX) return false;
  // mktime moves a day past the month's end (2026-02-30) into the next one.
  if (fields.tm_year != asked.tm_year || fields.tm_mon != asked.tm_mon ||
      fields.tm_mday != asked.tm_mday) {
    return false;
  }
  *calendar_time = static_cast<int32_t>(t);
  return true;
}

// HH:MM-HH:MM as seconds since midnight.
inline bool ParseWindow(const std::string& text, int32_t* from, int32_t* till) {
  int h1 = 0, m1 = 0, h2 = 0, m2 = 0;
  char extra = 0;
  if (std::sscanf(text.c_str(), "%d:%d-%d:%d%c", &h1, &m1, &h2, &m2, &extra) != 4) return false;
  auto valid = [](int h, int m) { return h >= 0 && h <= 23 && m >= 0 && m <= 59; };
  if (!valid(h1, m1) || !valid(h2, m2)) return false;
  *from = h1 * 3600 + m1 * 60;
  *till = h2 * 3600 + m2 * 60;
  return true;
}

// A warning level threshold, 0 to 100.
inline bool ParseThreshold(const std::string& text, int8_t* threshold) {
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < 0 || value > 100) return false;
  *threshold = static_cast<int8_t>(value);
  return true;
}

}  // namespace kst

#endif  // KESTRANE_TOOLS_KSTCTL_INSTANCE_ARGS_H_
