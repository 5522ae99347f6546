#include "tools/e2e/demo_model.h"

#include <cmath>
#include <string_view>

namespace kst {
namespace {

struct CounterShape {
  std::string_view name;
  double at_idle;  // value at load 0
  double at_peak;  // value at load 1
};

constexpr double kMiB = 1048576.0;
constexpr double kGiB = 1073741824.0;

constexpr CounterShape kShapes[] = {
    {"Available MBytes", 7800, 1400},
    {"Available Bytes", 7800 * kMiB, 1400 * kMiB},
    {"Committed Bytes", 1.5 * kGiB, 6.2 * kGiB},
    {"Commit Limit", 12 * kGiB, 12 * kGiB},
    {"% Committed Bytes In Use", 14, 58},
    {"Cache Bytes", 0.4 * kGiB, 1.9 * kGiB},
    {"% Processor Time", 3, 92},
    {"% User Time", 2, 71},
    {"% Privileged Time", 1, 21},
    {"% Idle Time", 97, 8},
    {"Processes", 170, 240},
    {"Threads", 850, 1500},
    {"Processor Queue Length", 0, 6},
};

// A fixed pseudo-random number in [-1, 1] for an integer.
double Noise(int64_t n) {
  uint64_t x = static_cast<uint64_t>(n) * 0x9E3779B97F4A7C15ull;
  x ^= x >> 29;
  x *= 0xBF58476D1CE4E5B9ull;
  x ^= x >> 32;
  return static_cast<double>(x % 20001) / 10000.0 - 1.0;
}

}  // namespace

double DemoLoad(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  const double minute = local.tm_hour * 60 + local.tm_min;
  constexpr double kPi = 3.14159265358979323846;
  // Lowest at 04:00, highest at 16:00.
  double load = 0.5 - 0.4 * std::cos(2 * kPi * (minute - 240) / 1440);
  if (local.tm_wday == 0 || local.tm_wday == 6) load *= 0.6;
  load += 0.03 * Noise(static_cast<int64_t>(when / 60));
  return load < 0 ? 0 : load > 1 ? 1 : load;
}

double DemoValue(const std::string& counter, double load) {
  for (const CounterShape& s : kShapes) {
    if (s.name == counter) return s.at_idle + (s.at_peak - s.at_idle) * load;
  }
  return 100 + 100 * load;
}

double BrokenLoad(int index) { return index % 2 == 0 ? 0.3 : 0.7; }

}  // namespace kst
