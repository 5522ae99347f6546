// Scoring of single rules against small tables made for the purpose: the
// Fisher test against an exact computation, the support floor, and the two
// generalisation tests near their limits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "Ruleforge/analyzer.h"
#include "Ruleforge/rule_search.h"
#include "platform/registry_testing.h"

namespace kst {
namespace {

// ln C(a, b), exactly enough.
long double LogChoose(int a, int b) { return lgammal(a + 1.0L) - lgammal(b + 1.0L) - lgammal(a - b + 1.0L); }

// P(X >= d) for X hypergeometric: n rows, r holding the premise, c the
// conclusion, X the rows holding both.
long double ExactUpperTail(int n, int r, int c, int d) {
  long double sum = 0;
  for (int x = d; x <= std::min(r, c); ++x) sum += expl(LogChoose(c, x) + LogChoose(n - c, r - x) - LogChoose(n, r));
  return sum;
}

TEST(LogFactorialTest, EveryTableValue) {
  const double faktor[11] = {0.0, 0.0, 0.692, 1.791, 3.177, 4.787, 6.579, 8.525, 10.604, 12.802, 15.104};
  for (int n = 0; n <= 10; ++n) EXPECT_EQ(LogFactorial(n), faktor[n]) << n;
  for (int n : {11, 12, 50, 999}) {
    const double x = n;
    EXPECT_EQ(LogFactorial(n), x * std::log(x) + (std::log(x) + 1.8374) / 2 - x + 1 / (12 * x) - 1 / (360 * x * x));
  }
}

TEST(FisherExactTestTest, AgreesWithTheExactTail) {
  // The rounded log-factorials cost at most about 1% of p.
  struct Case {
    int t[4];  // neither, conclusion only, premise only, both
    double threshold;
    bool passes;
  };
  const Case cases[] = {
      // Nearly every row holds the premise: the most extreme tables are the
      // likeliest, so each step of the walk weighs.
      {{8, 2, 982, 8}, 10.0, false},       // below its expectation 9.9
      {{0, 10, 890, 90}, 10.0, false},     // ten steps, the last about 0.35
      {{9, 1, 891, 99}, 10.0, true},       // above its expectation 99
      {{20, 0, 0, 20}, 0.01, true},        // perfect association
      {{22, 8, 8, 22}, 0.01, true},        // eight steps to the extreme table
      {{300, 40, 60, 100}, 0.01, true},    // larger numbers, Stirling's side
      {{40, 25, 25, 10}, 10.0, false},     // negative association
      {{10, 10, 10, 10}, 10.0, true},      // at its expectation
      {{60, 40, 40, 60}, 0.5, true},
  };
  for (const Case& c : cases) {
    const int n = c.t[0] + c.t[1] + c.t[2] + c.t[3];
    const int r = c.t[2] + c.t[3];
    const int col = c.t[1] + c.t[3];
    const double exact = static_cast<double>(ExactUpperTail(n, r, col, c.t[3]));
    double p = -1;
    EXPECT_EQ(FisherExactTest(c.t, &c.threshold, &p), c.passes) << c.t[0] << " " << c.t[1] << " " << c.t[2];
    EXPECT_NEAR(p, exact, exact * 0.012) << c.t[0] << " " << c.t[1] << " " << c.t[2];
  }
}

TEST(FisherExactTestTest, StopsOnceTheSumPassesTheThreshold) {
  // Terms of {{0, 10, 890, 90}} from the observed table on: the walk adds
  // them until the sum passes the threshold, and no further.
  const int t[4] = {0, 10, 890, 90};
  std::vector<double> partial;
  for (int d = 90; d <= 100; ++d) partial.push_back(static_cast<double>(ExactUpperTail(990, 980, 100, 90) -
                                                                         ExactUpperTail(990, 980, 100, d + 1)));
  int stops = 0;
  for (size_t k = 1; k + 1 < partial.size(); ++k) {
    // Halfway between two partial sums, well clear of the rounding.
    const double threshold = (partial[k - 1] + partial[k]) / 2;
    if (partial[k] - partial[k - 1] < partial[k] * 0.05) continue;
    double p = -1;
    EXPECT_FALSE(FisherExactTest(t, &threshold, &p));
    EXPECT_NEAR(p, partial[k], partial[k] * 0.012) << k;
    ++stops;
  }
  EXPECT_GE(stops, 5);
}

TEST(FisherExactTestTest, APEqualToTheThresholdPasses) {
  // The observed table alone, then a walk of eight steps.
  for (const auto& t : {std::vector<int>{20, 0, 0, 20}, std::vector<int>{22, 8, 8, 22}}) {
    const double wide = 10.0;
    double p = -1;
    ASSERT_TRUE(FisherExactTest(t.data(), &wide, &p));
    const double exact = p;
    EXPECT_TRUE(FisherExactTest(t.data(), &exact, &p)) << t[1];
    EXPECT_EQ(p, exact);
    const double below = std::nextafter(exact, 0.0);
    EXPECT_FALSE(FisherExactTest(t.data(), &below, &p)) << t[1];
  }
}

TEST(FisherExactTestTest, TermsBelowEToTheMinus300Count0) {
  // Perfect association of m rows among 2m: p = 1 / C(2m, m).
  for (int m : {74, 230}) {
    const int t[4] = {m, 0, 0, m};
    const double threshold = 0.01;
    double p = -1;
    EXPECT_TRUE(FisherExactTest(t, &threshold, &p)) << m;
    const long double log_p = -LogChoose(2 * m, m);
    if (log_p > -290) {
      EXPECT_NEAR(p, static_cast<double>(expl(log_p)), static_cast<double>(expl(log_p)) * 0.012) << m;
    } else {
      EXPECT_EQ(p, 0.0) << m;
    }
  }
}

// A table learned from a CSV file written by the test: its scales come from
// learning, as the search's do.
class SmallTableTest : public ::testing::Test {
 protected:
  void SetUp() override { home_ = std::make_unique<TempKestraneHome>(); }

  // rows: the cells of each row; every column a feature.
  void Learn(const std::vector<std::vector<std::string>>& rows) {
    const std::string csv = home_->path() + "/table.csv";
    std::ofstream out(csv);
    for (size_t f = 0; f < rows[0].size(); ++f) out << (f ? ";" : "") << "c" << f;
    out << "\n";
    for (size_t f = 0; f < rows[0].size(); ++f) out << (f ? ";" : "") << "u";
    out << "\n";
    for (const auto& row : rows) {
      for (size_t f = 0; f < row.size(); ++f) out << (f ? ";" : "") << row[f];
      out << "\n";
    }
    out.close();
    analyzer_ = std::make_unique<DiscoveryAnalyzer>(1.5, 0.0, 0, "");
    analyzer_->learn(csv.c_str(), nullptr);
    table_ = std::make_unique<StatisticsTable>(csv.c_str(), &analyzer_->scales());
    table_->load();
  }

  // Binary features, "0" (interval 0) or "10" (interval 1): count[b] rows
  // whose bits (feature 0 the highest) spell b.
  void LearnBits(int features, const std::vector<int>& count) {
    std::vector<std::vector<std::string>> rows;
    for (size_t b = 0; b < count.size(); ++b) {
      std::vector<std::string> row;
      for (int f = features - 1; f >= 0; --f) row.push_back((b >> f) & 1 ? "10" : "0");
      rows.insert(rows.end(), count[b], row);
    }
    Learn(rows);
    for (int f = 0; f < features; ++f) ASSERT_EQ(table_->indexCount(f), 3) << f;
  }

  Rule Evaluated(RuleSearch& search, std::vector<FeaturePair> conclusion, std::vector<FeaturePair> premise,
                 int depth = 0) {
    Rule r;
    r.conclusion = std::move(conclusion);
    r.premise = std::move(premise);
    search.evaluate(r, depth);
    return r;
  }

  std::unique_ptr<TempKestraneHome> home_;
  std::unique_ptr<DiscoveryAnalyzer> analyzer_;
  std::unique_ptr<StatisticsTable> table_;
};

TEST_F(SmallTableTest, SupportFloorIsFivePercentOfTheRows) {
  // 1000 rows; feature 0 is 10 in `held` of them, and feature 1 with it.
  for (int held : {49, 50, 51}) {
    LearnBits(2, {1000 - held, 0, 0, held});
    RuleSearch search(table_.get(), 0.0, 1.0, 0, {.seed = 1});
    Rule r = Evaluated(search, {{1, 1}}, {{0, 1}});
    EXPECT_EQ(r.support, held);
    if (held < 50) {
      EXPECT_EQ(r.probability, 0.0);
      EXPECT_EQ(r.fisherProbability, 1.0);
      EXPECT_FALSE(r.accepted);
    } else {
      EXPECT_EQ(r.probability, 1.0) << held;
      EXPECT_GT(r.fisherProbability, 0.0) << held;
      EXPECT_LT(r.fisherProbability, 1e-30) << held;
      EXPECT_TRUE(r.accepted) << held;
    }
  }
}

TEST_F(SmallTableTest, FisherTableCountsEachCornerOnce) {
  // Corners of distinct sizes: neither 50, conclusion only 5, premise only
  // 30, both 15.
  LearnBits(2, {50, 5, 30, 15});
  RuleSearch search(table_.get(), 0.0, 1.0, 0, {.seed = 1});
  Rule r = Evaluated(search, {{1, 1}}, {{0, 1}}, 2);
  const int t[4] = {50, 5, 30, 15};
  const double one = 1.0;
  double p;
  FisherExactTest(t, &one, &p);
  EXPECT_EQ(r.fisherProbability, p);
  EXPECT_EQ(r.probability, 15 / 45.0);
  EXPECT_EQ(r.support, 45);
}

TEST_F(SmallTableTest, ProbabilityThresholdIsInclusive) {
  LearnBits(2, {50, 5, 10, 30});  // P(conclusion | premise) = 0.75
  for (double threshold : {0.75, 0.7500001}) {
    RuleSearch search(table_.get(), threshold, 1.0, 0, {.seed = 1});
    EXPECT_EQ(Evaluated(search, {{1, 1}}, {{0, 1}}).accepted, threshold == 0.75) << threshold;
  }
}

// The chance that the more general of the two one-pair conclusions shows
// the observed misses, by the rule's own steps.
double GeneralisationSum(int n, double q_low, double q_high, int misses) {
  auto round = [](double x) { return static_cast<int>(std::floor(x + 0.5)); };
  const int x1 = round(n * (1 - q_low));
  const int x2 = round(n * (1 - q_high));
  double t = 1;
  for (int j = 0; j < x2; ++j) t *= (n * q_low - j) / (n - j);
  double s = t;
  for (int j = 0; j < misses; ++j) {
    t = t * (x2 - j) / (j + 1) * (x1 - j) / (n * (q_high + q_low - 1) + j + 1);
    if (t > 0) s += t;
  }
  return s;
}

TEST_F(SmallTableTest, TwoPairConclusionNearTheGeneralisationLimit) {
  // Rule: feature 1 or feature 2 is 10, given feature 0 is 10. Among the
  // premise rows: only 1, only 2, both, neither; 100 further rows hold
  // nothing.
  struct Case {
    int only1, only2, both, neither;
    bool accepted;
  };
  const Case cases[] = {
      {1, 15, 4, 0, true},     // exactly 0.25
      {9, 16, 18, 4, false},   // 0.2500054
      {8, 12, 29, 1, true},    // 0.2499798
      {2, 38, 5, 5, false},    // 0.2501402
      {2, 38, 8, 3, true},     // 0.2498710
  };
  for (const Case& c : cases) {
    LearnBits(3, {100, 0, 0, 0, c.neither, c.only2, c.only1, c.both});
    RuleSearch search(table_.get(), 0.0, 1.0, 0, {.seed = 1});
    const int n = c.only1 + c.only2 + c.both + c.neither;
    const double q1 = static_cast<double>(c.only1 + c.both) / n;
    const double q2 = static_cast<double>(c.only2 + c.both) / n;
    const double s = GeneralisationSum(n, std::min(q1, q2), std::max(q1, q2), c.neither);
    EXPECT_NEAR(s, 0.25, 0.00015) << n;
    EXPECT_EQ(s <= 0.25, c.accepted) << n;
    Rule r = Evaluated(search, {{1, 1}, {2, 1}}, {{0, 1}});
    EXPECT_EQ(r.accepted, c.accepted) << c.only1 << " " << c.only2 << " " << c.both << " " << c.neither;
    // One level down the conclusions are not tried.
    EXPECT_TRUE(Evaluated(search, {{1, 1}, {2, 1}}, {{0, 1}}, 2).accepted);
  }
}

TEST_F(SmallTableTest, TwoPairPremiseNearTheIndependenceLimit) {
  // Rule: feature 2 is 10, given features 0 and 1 are. count: rows by the
  // bits of (0, 1, 2).
  struct Case {
    std::vector<int> count;
    double fisher;
    bool a_accepted, b_accepted;
    bool accepted;
  };
  const Case cases[] = {
      {{32, 9, 14, 6, 33, 19, 19, 27}, 0.01, true, true, false},
      {{15, 33, 3, 24, 10, 22, 3, 37}, 0.01, false, true, true},
      {{11, 4, 15, 2, 12, 7, 34, 32}, 0.01, true, false, false},
      {{36, 18, 25, 2, 12, 13, 26, 37}, 0.01, true, false, true},
  };
  for (const Case& c : cases) {
    LearnBits(3, c.count);
    RuleSearch search(table_.get(), 0.0, c.fisher, 0, {.seed = 1});
    const Rule a = Evaluated(search, {{2, 1}}, {{0, 1}}, 1);
    const Rule b = Evaluated(search, {{2, 1}}, {{1, 1}}, 1);
    const Rule e = Evaluated(search, {{2, 1}}, {}, 1);
    EXPECT_EQ(a.accepted, c.a_accepted);
    EXPECT_EQ(b.accepted, c.b_accepted);
    const double rows = table_->rowCount();
    const double o = a.support * a.probability * b.support * b.probability / (rows * e.probability);
    const double u = (1 - a.probability) * a.support * (1 - b.probability) * b.support / (rows * (1 - e.probability));
    Rule r = Evaluated(search, {{2, 1}}, {{0, 1}, {1, 1}});
    EXPECT_GT(r.probability, std::max(a.probability, b.probability));
    EXPECT_NEAR(r.probability, o / (o + u), 0.0001);
    EXPECT_EQ(r.accepted, c.accepted) << c.count[0];
    EXPECT_TRUE(Evaluated(search, {{2, 1}}, {{0, 1}, {1, 1}}, 2).accepted);
  }
}

TEST_F(SmallTableTest, CellsArePlacedByTheirFirst13Characters) {
  // Four point intervals; a cell's 12-, 13- and 14-character starts each
  // lie in another one.
  const char* values[] = {"100000000000", "1000000000001", "10000000000012", "100000000000123"};
  std::vector<std::vector<std::string>> rows;
  const int counts[] = {10, 20, 40, 80};
  for (int v = 0; v < 4; ++v) rows.insert(rows.end(), counts[v], {values[v]});
  Learn(rows);
  const std::vector<std::pair<double, double>> points = {
      {1e11, 1e11}, {1e12 + 1, 1e12 + 1}, {1e13 + 12, 1e13 + 12}, {1e14 + 123, 1e14 + 123}};
  ASSERT_EQ(analyzer_->scales()[0]->intervals(), points);
  RuleSearch search(table_.get(), 0.0, 1.0, 0, {.seed = 1});
  // The 14- and 15-character cells read as their 13-character starts.
  const int support[5] = {10, 140, 0, 0, 0};
  for (int k = 0; k < 5; ++k) EXPECT_EQ(Evaluated(search, {}, {{0, k}}).support, support[k]) << k;
}

}  // namespace
}  // namespace kst
