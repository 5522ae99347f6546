#include "StatSubsystem/KestraneExporter/statistics_value.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <vector>

namespace kst {
namespace {

std::string Printf(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.18g", value);
  return text;
}

std::string Ours(double value) {
  std::string text = "x";  // appended to, never replaced
  AppendStatisticsValue(value, &text);
  return text.substr(1);
}

TEST(StatisticsValueTest, ChosenValuesPrintAsPrintfDoes) {
  using Limits = std::numeric_limits<double>;
  const double values[] = {
      0.0, -0.0, 1, -1, 12.5, -7, 0.1, -0.3, 1.0 / 3, 2.0 / 3,
      // subnormals and the ends of the range
      Limits::denorm_min(), -Limits::denorm_min(), 2.2250738585072009e-308, Limits::min(),
      Limits::max(), -Limits::max(), Limits::epsilon(),
      // whole numbers on both sides of 18 digits and of 2^53
      1e17, 99999999999999999.0, 123456789012345678.0, 999999999999999872.0, 1e18, -1e18,
      1e19, 9007199254740992.0, 9007199254740993.0, -4503599627370497.5, 4294967296.0,
      -9223372036854775808.0, 9223372036854775808.0, 1e300, -3e300,
      // the 18th digit rounds up, down, and carries into a new power of ten
      0.123456789012345675, 1.00000000000000022, 9.99999999999999999e22, 0.999999999999999999,
      99999999999999999.5, 1.5e-5, 1e-5, 0.0001, 0.00001234, 1e-4, 123456.789,
      // the exponent's switch points of the general form
      1e-5, 9.9999999999999999e-5, 1e17 + 16, 1.2345678901234567e17, 1.2345678901234567e18,
      Limits::infinity(), -Limits::infinity(), Limits::quiet_NaN(), -Limits::quiet_NaN()};
  for (double v : values) EXPECT_EQ(Ours(v), Printf(v)) << std::bit_cast<uint64_t>(v);
  EXPECT_EQ(Ours(0.0), "0");
  EXPECT_EQ(Ours(-0.0), "-0");
  EXPECT_EQ(Ours(12.5), "12.5");
  EXPECT_EQ(Ours(0.1), "0.100000000000000006");
  EXPECT_EQ(Ours(1e18), "1e+18");
  EXPECT_EQ(Ours(-Limits::max()), "-1.79769313486231571e+308");
}

TEST(StatisticsValueTest, ManyValuesPrintAsPrintfDoes) {
  std::mt19937_64 random(20261209);
  std::uniform_int_distribution<int64_t> whole(-(int64_t{1} << 62), int64_t{1} << 62);
  std::uniform_int_distribution<int> digits(0, 9);
  int checked = 0;
  for (int i = 0; i < 200000; ++i) {
    std::vector<double> values;
    values.push_back(std::bit_cast<double>(random()));                   // any bit pattern
    values.push_back(static_cast<double>(whole(random) >> (i % 63)));   // whole numbers
    values.push_back(static_cast<double>(random() % 100000) / 100.0);   // counter-like
    values.push_back(std::ldexp(static_cast<double>(random() % 4096), -1074 + i % 64));  // subnormals
    values.push_back(std::nextafter(std::pow(10.0, i % 40 - 10), i % 2 ? 0.0 : 1e300));
    for (double v : values) {
      ASSERT_EQ(Ours(v), Printf(v)) << std::bit_cast<uint64_t>(v);
      ++checked;
    }
  }
  EXPECT_EQ(checked, 1000000);
}

TEST(StatisticsValueTest, LongestTextFitsTheBound) {
  char text[kMaxStatisticsValueLength + 1];
  text[kMaxStatisticsValueLength] = '#';
  char* end = WriteStatisticsValue(-1.2345678901234567e-308, text);
  EXPECT_EQ(std::string(text, static_cast<size_t>(end - text)), "-1.23456789012345667e-308");
  EXPECT_EQ(end - text, kMaxStatisticsValueLength);
  EXPECT_EQ(text[kMaxStatisticsValueLength], '#');
}

}  // namespace
}  // namespace kst
