#include "Ruleforge/interval_scale.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <memory>
#include <sstream>

#include "Ruleforge/exceptions.h"

namespace kst {
namespace {

using Intervals = std::vector<std::pair<double, double>>;

IntervalScale Built(int k, const std::map<std::string, double>& appearances) {
  IntervalScale scale(k, 0.001, 0.01, 100);
  scale.build(appearances, 0);
  return scale;
}

TEST(IntervalScaleTest, OneDistinctValueGivesOneClosedInterval) {
  IntervalScale scale = Built(4, {{"2.5", 1.0}});
  EXPECT_EQ(scale.count(), 1);
  EXPECT_EQ(scale.indexCount(), 2);
  EXPECT_EQ(scale.intervals(), (Intervals{{2.5, 2.5}}));
  EXPECT_EQ(scale.indexOf("2.5"), 0);
  EXPECT_EQ(scale.indexOf("2.5000001"), 1);
  EXPECT_EQ(scale.indexOf("abc"), 1);  // reads as 0.0
  char buffer[kIntervalTextSize];
  EXPECT_STREQ(scale.intervalText(0, buffer), "(2.500000,2.500000)");
  EXPECT_STREQ(buffer, "(2.500000,2.500000)");
  EXPECT_STREQ(scale.intervalText(1, nullptr), "(out of bounds)");
  EXPECT_EQ(scale.intervalText(2, nullptr), nullptr);
  EXPECT_EQ(scale.intervalText(-1, nullptr), nullptr);
  EXPECT_EQ(scale.valueCount(), 1);
  EXPECT_DOUBLE_EQ(scale.mean(), 2.5);
  EXPECT_DOUBLE_EQ(scale.variance(), 0.0);
}

TEST(IntervalScaleTest, BuildCases) {
  struct Case {
    const char* name;
    int k;
    std::map<std::string, double> appearances;
    Intervals expected;
  };
  const Case cases[] = {
      {"separate clusters keep their gap", 2, {{"1", 0.25}, {"2", 0.25}, {"10", 0.25}, {"11", 0.25}},
       {{1, 2}, {10, 11}}},
      {"a narrow gap closes at its middle", 2, {{"0", 0.25}, {"4", 0.25}, {"5", 0.25}, {"9", 0.25}},
       {{0, 4.5}, {4.5, 9}}},
      {"a tie goes to the lower centre", 2, {{"0", 1 / 3.0}, {"5", 1 / 3.0}, {"10", 1 / 3.0}}, {{0, 5}, {10, 10}}},
      {"a cluster of weight 0.001 is no interval", 2, {{"0", 0.999}, {"100", 0.001}}, {{0, 0}}},
      {"a cluster just above 0.001 is one", 2, {{"0", 0.998}, {"100", 0.002}}, {{0, 0}, {100, 100}}},
      {"texts are read as numbers, in value order", 3, {{"-1", 0.5}, {"20", 0.25}, {"3e1", 0.25}},
       {{-1, -1}, {20, 20}, {30, 30}}},
  };
  for (const Case& c : cases) {
    IntervalScale scale = Built(c.k, c.appearances);
    EXPECT_EQ(scale.intervals(), c.expected) << c.name;
    EXPECT_EQ(scale.count(), static_cast<int>(c.expected.size())) << c.name;
  }
}

TEST(IntervalScaleTest, PlacesValuesByFirstMatchingInterval) {
  IntervalScale gapped = Built(2, {{"1", 0.25}, {"2", 0.25}, {"10", 0.25}, {"11", 0.25}});
  EXPECT_EQ(gapped.indexOf("1"), 0);
  EXPECT_EQ(gapped.indexOf("5"), 2);  // in the gap
  EXPECT_EQ(gapped.indexOf("11"), 1);
  EXPECT_EQ(gapped.indexOf("12"), 2);
  IntervalScale closed = Built(2, {{"0", 0.25}, {"4", 0.25}, {"5", 0.25}, {"9", 0.25}});
  EXPECT_EQ(closed.indexOf("4.5"), 0);  // the shared bound is the lower one's
  EXPECT_EQ(closed.indexOf("4.6"), 1);
}

TEST(IntervalScaleTest, ReadsOnlyTheLeadingDecimalNumber) {
  struct Case {
    const char* text;
    double value;
  };
  const Case cases[] = {
      {"nan", 0.0},        {"-nan", 0.0},        {"inf", 0.0},      {"-inf", 0.0},      {"infinity", 0.0},
      {"0x10", 0.0},       {"0x1p3", 0.0},       {"", 0.0},         {"-", 0.0},         {".", 0.0},
      {"+.", 0.0},         {"e5", 0.0},          {"abc", 0.0},      {"1e3x", 1000.0},   {"-.5", -0.5},
      {"1e", 1.0},         {"1e+", 1.0},         {"1E-", 1.0},      {"2.5e-1", 0.25},   {"+7", 7.0},
      {" \t12", 12.0},     {"12abc", 12.0},      {"20.", 20.0},     {"3.5.5", 3.5},     {"1e2e3", 100.0},
      {"-1.25E+2;", -125.0}, {"0.1", 0.1},       {"1e400", HUGE_VAL}, {"-1e400", -HUGE_VAL},
      {"4.9e-324", 4.9e-324}, {"1e-400", 0.0},
      {"1.00000000000000011102230246251565404236316680908203125", 1.0},  // a tie: to even
      {"1.00000000000000011102230246251565404236316680908203126", 1.0000000000000002},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(std::bit_cast<uint64_t>(IntervalScale::ValueOf(c.text)), std::bit_cast<uint64_t>(c.value))
        << c.text;
  }
  EXPECT_TRUE(std::signbit(IntervalScale::ValueOf("-0")));
  EXPECT_FALSE(std::signbit(IntervalScale::ValueOf("-x")));
  // Only the given length is read.
  EXPECT_EQ(IntervalScale::ValueOf(std::string_view("12345", 2)), 12.0);

  // A scale built over such texts holds them at 0.0.
  IntervalScale scale = Built(2, {{"nan", 0.25}, {"inf", 0.25}, {"10", 0.25}, {"11", 0.25}});
  EXPECT_EQ(scale.intervals(), (Intervals{{0, 0}, {10, 11}}));
  EXPECT_DOUBLE_EQ(scale.mean(), 5.25);
  EXPECT_EQ(scale.indexOf("nan"), 0);
  EXPECT_EQ(scale.indexOf("0x10"), 0);
}

// Decimal texts read exactly as the C library reads them, to the last bit.
TEST(IntervalScaleTest, DecimalTextsReadAsStrtodReadsThem) {
  uint64_t state = 12345;
  auto next = [&state] {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return state;
  };
  char text[64];
  for (int i = 0; i < 20000; ++i) {
    double d = std::bit_cast<double>(next());
    if (!std::isfinite(d)) continue;
    const char* formats[] = {"%.18g", "%.17g", "%.2f", "%.25e", "%g"};
    std::snprintf(text, sizeof text, formats[i % 5], i % 5 == 2 ? std::fmod(d, 1e6) : d);
    EXPECT_EQ(std::bit_cast<uint64_t>(IntervalScale::ValueOf(text)),
              std::bit_cast<uint64_t>(std::strtod(text, nullptr)))
        << text;
  }
}

TEST(IntervalScaleTest, KeepsWeightedMeanAndVariance) {
  IntervalScale scale = Built(2, {{"0", 0.5}, {"4", 0.5}});
  EXPECT_DOUBLE_EQ(scale.mean(), 2.0);
  EXPECT_DOUBLE_EQ(scale.variance(), 4.0);
}

TEST(IntervalScaleTest, WriteThenReadReproducesTheScale) {
  IntervalScale scale = Built(4, {{"0.5", 0.2}, {"1.25", 0.3}, {"7", 0.1}, {"9.125", 0.4}});
  std::stringstream stream;
  scale.write(stream);
  EXPECT_EQ(stream.str().size(), 1 + 8 + 8 + 4 + 4 + 16u * scale.count() + 8 + 8);
  IntervalScale copy;
  copy.read(stream);
  EXPECT_EQ(copy.count(), scale.count());
  EXPECT_EQ(copy.intervals(), scale.intervals());
  EXPECT_EQ(copy.minWeight(), scale.minWeight());
  EXPECT_EQ(copy.epsilon(), scale.epsilon());
  EXPECT_EQ(copy.maxIterations(), scale.maxIterations());
  EXPECT_EQ(copy.valueCount(), scale.valueCount());
  EXPECT_EQ(copy.mean(), scale.mean());
  EXPECT_EQ(copy.variance(), scale.variance());
}

TEST(IntervalScaleTest, BinaryFormFieldByField) {
  std::string bytes;
  auto put = [&bytes](uint64_t bits, int size) {
    for (int i = 0; i < size; ++i) bytes.push_back(static_cast<char>(bits >> (8 * i)));
  };
  auto f64 = [&put](double v) { put(std::bit_cast<uint64_t>(v), 8); };
  put(2, 1);  // count
  f64(0.002);
  f64(0.02);
  put(300, 4);  // maxIterations
  put(7, 4);    // valueCount
  f64(1.5);
  f64(2.5);
  f64(3.0);
  f64(-4.0);
  f64(2.25);  // mean
  f64(0.75);  // variance
  std::istringstream in(bytes);
  IntervalScale scale;
  scale.read(in);
  EXPECT_EQ(scale.count(), 2);
  EXPECT_EQ(scale.minWeight(), 0.002);
  EXPECT_EQ(scale.epsilon(), 0.02);
  EXPECT_EQ(scale.maxIterations(), 300);
  EXPECT_EQ(scale.valueCount(), 7);
  EXPECT_EQ(scale.intervals(), (Intervals{{1.5, 2.5}, {3.0, -4.0}}));
  EXPECT_EQ(scale.mean(), 2.25);
  EXPECT_EQ(scale.variance(), 0.75);
  std::ostringstream out;
  scale.write(out);
  EXPECT_EQ(out.str(), bytes);
}

TEST(IntervalScaleTest, ShortStreamThrowsUpToTheMean) {
  IntervalScale scale = Built(4, {{"1", 0.5}, {"2", 0.5}});
  std::stringstream full;
  scale.write(full);
  const std::string bytes = full.str();
  for (size_t size = 0; size < bytes.size(); ++size) {
    std::istringstream in(bytes.substr(0, size));
    IntervalScale copy;
    if (size < bytes.size() - 16) {
      try {
        copy.read(in);
        ADD_FAILURE() << "no exception at " << size;
      } catch (Exception* e) {
        std::unique_ptr<Exception> owned(e);
        EXPECT_STREQ(e->message(), "bad scale format in stream");
      }
    } else {
      copy.read(in);  // the last fields are not tested; the stream tells
      EXPECT_TRUE(in.fail());
    }
  }
}

TEST(IntervalScaleTest, ClearEmptiesTheIntervals) {
  IntervalScale scale = Built(2, {{"1", 0.5}, {"2", 0.5}});
  EXPECT_TRUE(scale.clear());
  EXPECT_TRUE(scale.intervals().empty());
  // Everything is out of bounds now, and the scale still writes and reads.
  EXPECT_EQ(scale.indexCount(), 1);
  EXPECT_EQ(scale.indexOf("1"), 0);
  EXPECT_STREQ(scale.intervalText(0, nullptr), "(out of bounds)");
  EXPECT_EQ(scale.intervalText(1, nullptr), nullptr);
  std::stringstream stream;
  scale.write(stream);
  IntervalScale copy;
  copy.read(stream);
  EXPECT_EQ(copy.count(), 0);
  EXPECT_TRUE(copy.intervals().empty());
  EXPECT_EQ(scale.kindId()[0], 0x1c);
  EXPECT_EQ(scale.kindId()[15], 0x04);
}

}  // namespace
}  // namespace kst
