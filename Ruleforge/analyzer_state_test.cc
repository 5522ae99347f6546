// The state file read byte by byte, as another program would: every field
// at its offset, little-endian.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>

#include "Ruleforge/analyzer.h"
#include "Ruleforge/ruleforge_testing.h"
#include "platform/registry_testing.h"

namespace kst {
namespace {

// Reads the fields of a byte string in turn.
class Bytes {
 public:
  explicit Bytes(std::string bytes) : bytes_(std::move(bytes)) {}

  uint64_t Raw(int size) {
    EXPECT_LE(at_ + size, bytes_.size()) << "past the end at " << at_;
    uint64_t v = 0;
    for (int i = 0; i < size && at_ + i < bytes_.size(); ++i) {
      v |= static_cast<uint64_t>(static_cast<uint8_t>(bytes_[at_ + i])) << (8 * i);
    }
    at_ += size;
    return v;
  }
  int32_t I32() { return static_cast<int32_t>(static_cast<uint32_t>(Raw(4))); }
  double F64() {
    uint64_t bits = Raw(8);
    double v;
    std::memcpy(&v, &bits, 8);
    return v;
  }
  size_t at() const { return at_; }
  size_t size() const { return bytes_.size(); }

 private:
  std::string bytes_;
  size_t at_ = 0;
};

class StateFileLayoutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = std::make_unique<TempKestraneHome>();
    const std::string csv = home_->path() + "/train.csv";
    WriteStructuredCsv(csv, 700, 6, 5);
    analyzer_ = std::make_unique<DiscoveryAnalyzer>(0.875, 0.0625, 60, "");
    analyzer_->setSearchOptions({.seed = 3});
    analyzer_->learn(csv.c_str(), nullptr);
    analyzer_->tune(0.75);  // odds 3
    std::ostringstream out;
    analyzer_->save(out);
    bytes_ = out.str();
  }

  std::unique_ptr<TempKestraneHome> home_;
  std::unique_ptr<DiscoveryAnalyzer> analyzer_;
  std::string bytes_;
};

TEST_F(StateFileLayoutTest, ThresholdsOpenTheFileInTheirOrder) {
  // 0.875 and 0.0625 are exact: their bytes, lowest first.
  EXPECT_EQ(bytes_.substr(0, 16), std::string("\0\0\0\0\0\0\xec\x3f\0\0\0\0\0\0\xb0\x3f", 16));
}

TEST_F(StateFileLayoutTest, EveryFieldAtItsPlace) {
  Bytes in(bytes_);
  EXPECT_EQ(in.F64(), 0.875);
  EXPECT_EQ(in.F64(), 0.0625);
  const std::vector<AnalyzerRule>& rules = analyzer_->ruleBase();
  ASSERT_GT(rules.size(), 5u);
  EXPECT_EQ(in.I32(), static_cast<int32_t>(rules.size()));
  bool fisher_differs = false;
  for (const AnalyzerRule& rule : rules) {
    // Probability first, then the Fisher p; they differ, so a swap shows.
    EXPECT_EQ(in.F64(), rule.probability) << in.at();
    EXPECT_EQ(in.F64(), rule.fisherProbability) << in.at();
    fisher_differs = fisher_differs || rule.probability != rule.fisherProbability;
    for (const auto* pairs : {&rule.conclusion, &rule.premise}) {
      EXPECT_EQ(in.I32(), static_cast<int32_t>(pairs->size()));
      for (const FeaturePair& p : *pairs) {
        EXPECT_EQ(in.I32(), p.feature);
        EXPECT_EQ(in.I32(), p.interval);
      }
    }
  }
  EXPECT_TRUE(fisher_differs);
  EXPECT_EQ(in.I32(), 6);
  for (int f = 0; f < 6; ++f) {
    const IntervalScale& s = *analyzer_->scales()[f];
    // Learning's scales: at most 4 intervals, weight floor 0.001, 0.01
    // and 100 rounds.
    const int count = static_cast<int>(in.Raw(1));
    EXPECT_EQ(count, s.count());
    EXPECT_GE(count, 1);
    EXPECT_LE(count, 4);
    EXPECT_EQ(in.F64(), 0.001);
    EXPECT_EQ(in.F64(), 0.01);
    EXPECT_EQ(in.I32(), 100);
    EXPECT_EQ(in.I32(), s.valueCount());
    for (int i = 0; i < count; ++i) {
      EXPECT_EQ(in.F64(), s.intervals()[i].first);
      EXPECT_EQ(in.F64(), s.intervals()[i].second);
    }
    EXPECT_EQ(in.F64(), s.mean());
    EXPECT_EQ(in.F64(), s.variance());
  }
  EXPECT_EQ(in.I32(), 6);
  for (int f = 0; f < 6; ++f) {
    const FeatureGroup& g = analyzer_->featureGroups()[f];
    EXPECT_EQ(in.I32(), 3);
    for (int n : g.lengthCounts) EXPECT_EQ(in.I32(), n);
    EXPECT_EQ(in.I32(), g.longerCount);
  }
  EXPECT_EQ(in.F64(), 3.0);
  EXPECT_EQ(in.at(), in.size());
  // Read back, the analyzer writes the same bytes.
  DiscoveryAnalyzer loaded;
  std::istringstream again(bytes_);
  loaded.load(again);
  std::ostringstream out;
  loaded.save(out);
  EXPECT_EQ(out.str(), bytes_);
  EXPECT_EQ(loaded.ruleBase()[0].probability, rules[0].probability);
  EXPECT_EQ(loaded.ruleBase()[0].fisherProbability, rules[0].fisherProbability);
  EXPECT_EQ(loaded.probabilityThreshold(), 0.875);
  EXPECT_EQ(loaded.fisherThreshold(), 0.0625);
}

}  // namespace
}  // namespace kst
