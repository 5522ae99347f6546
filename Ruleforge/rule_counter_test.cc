#include "Ruleforge/rule_counter.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>

#include "Ruleforge/ruleforge_testing.h"
#include "Ruleforge/rule_search.h"
#include "platform/registry_testing.h"

namespace kst {
namespace {

// The kernels (the vector one with `vector`) and the row-by-row reference
// agree on random tables and rules, at row counts around the word and the
// eight-word boundaries.
void ExpectKernelsCountAsRowByRow(bool vector) {
  ASSERT_TRUE(HasCountKernel(CountKernel::kWord));

  TempKestraneHome home;
  const std::string path = home.path() + "/t.csv";
  constexpr int kFeatures = 5;
  // Intervals [0,0], [1,1], [2,2]; a 3 lies outside them.
  std::vector<std::unique_ptr<IntervalScale>> scales;
  for (int f = 0; f < kFeatures; ++f) {
    scales.push_back(std::make_unique<IntervalScale>(3, 0.001, 0.01, 100));
    scales.back()->build({{"0", 0.3}, {"1", 0.3}, {"2", 0.4}}, 0);
  }
  RandomSource random(77);
  for (int rows : {1, 63, 64, 65, 511, 512, 513, 577, 4099}) {
    SCOPED_TRACE(rows);
    {
      std::ofstream out(path);
      out << "a;b;c;d;e\nu;u;u;u;u\n";
      for (int r = 0; r < rows; ++r) {
        for (int f = 0; f < kFeatures; ++f) out << (f ? ";" : "") << random.Next() % 4;
        out << "\n";
      }
    }
    StatisticsTable table(path.c_str(), &scales);
    table.load();
    ASSERT_EQ(table.rowCount(), rows);
    PairBitsets bitsets(table);
    RowByRowCounter reference(table);
    for (int i = 0; i < 300; ++i) {
      Rule rule;
      auto pair = [&] { return FeaturePair{random.Next() % (kFeatures + 1), random.Next() % 5}; };
      for (int n = random.Next() % 4; n > 0; --n) rule.premise.push_back(pair());
      for (int n = random.Next() % 4; n > 0; --n) rule.conclusion.push_back(pair());
      const RuleCounts want = reference.Count(rule);
      EXPECT_EQ(bitsets.Count(rule), want);
      EXPECT_EQ(bitsets.Count(rule, CountKernel::kWord), want);
      if (vector) {
        EXPECT_EQ(bitsets.Count(rule, CountKernel::kVectorPopcount), want);
      }
    }
  }
}

TEST(CountKernelTest, WordKernelCountsAsRowByRow) { ExpectKernelsCountAsRowByRow(false); }

TEST(CountKernelTest, VectorKernelCountsAsRowByRow) {
  if (!HasCountKernel(CountKernel::kVectorPopcount)) {
    GTEST_SKIP() << "this processor has no vector popcount (AVX-512 VPOPCNTDQ): the vector kernel cannot run here";
  }
  ExpectKernelsCountAsRowByRow(true);
}

}  // namespace
}  // namespace kst
