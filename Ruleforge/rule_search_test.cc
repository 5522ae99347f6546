#include "Ruleforge/rule_search.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <memory>

#include "Ruleforge/analyzer.h"
#include "Ruleforge/ruleforge_testing.h"
#include "platform/registry_testing.h"

namespace kst {
namespace {

Rule MakeRule(std::vector<FeaturePair> conclusion, std::vector<FeaturePair> premise) {
  Rule r;
  r.conclusion = std::move(conclusion);
  r.premise = std::move(premise);
  return r;
}

TEST(LogFactorialTest, SmallTableThenStirling) {
  EXPECT_EQ(LogFactorial(0), 0.0);
  EXPECT_EQ(LogFactorial(3), 1.791);
  EXPECT_EQ(LogFactorial(10), 15.104);
  const double x = 11;
  EXPECT_EQ(LogFactorial(11),
            x * std::log(x) + (std::log(x) + 1.8374) / 2 - x + 1 / (12 * x) - 1 / (360 * x * x));
  EXPECT_NEAR(LogFactorial(1000), std::lgamma(1001.0), 1e-3);
  LogFactorialTable table(500);
  for (int n : {0, 3, 10, 11, 499, 500, 501, 40000}) EXPECT_EQ(table(n), LogFactorial(n)) << n;
}

TEST(FisherExactTestTest, Cases) {
  struct Case {
    int table[4];
    double threshold;
    bool passes;
    double p;  // < 0: not checked
  };
  const Case cases[] = {
      {{10, 0, 0, 10}, 0.01, true, 1 / 184756.0},   // perfect association
      {{0, 0, 0, 5}, 0.5, false, 1.0},              // nothing to tell apart
      {{0, 0, 0, 0}, 1.0, false, 0.0},              // no rows
      {{0, 10, 10, 0}, 1.0, false, -1},             // negative association never passes
      {{6, 4, 4, 6}, 1.0, true, -1},                // weak but positive: passes at 1.0
      {{6, 4, 4, 6}, 0.01, false, -1},              // ... and not at 0.01
      {{5, 5, 5, 5}, 1.0, true, -1},                // at its expectation
  };
  for (const Case& c : cases) {
    double p = -5;
    EXPECT_EQ(FisherExactTest(c.table, &c.threshold, &p), c.passes) << c.table[0] << c.table[1] << c.table[2];
    if (c.p >= 0) {
      EXPECT_NEAR(p, c.p, c.p * 0.01 + 1e-12);
    }
    LogFactorialTable lf(40);
    double q = -5;
    EXPECT_EQ(FisherExactTest(c.table, &c.threshold, &q, lf), c.passes);
    EXPECT_EQ(p, q);
  }
}

TEST(RuleTest, Ordering) {
  const Rule three = MakeRule({{0, 0}}, {{1, 0}, {2, 0}, {3, 0}});
  const Rule two = MakeRule({{9, 9}}, {{7, 0}, {8, 0}});
  EXPECT_TRUE(three < two);
  EXPECT_FALSE(two < three);
  EXPECT_TRUE(two > three);
  // Premises of one length: the last pair first, the greater is less.
  const Rule a = MakeRule({{0, 0}}, {{0, 0}, {2, 1}});
  const Rule b = MakeRule({{0, 0}}, {{1, 0}, {2, 0}});
  EXPECT_TRUE(a < b);
  EXPECT_TRUE(b > a);
  // Equal premises: the conclusions decide, the same way.
  const Rule c = MakeRule({{1, 0}, {3, 0}}, {{5, 1}});
  const Rule d = MakeRule({{2, 0}}, {{5, 1}});
  EXPECT_TRUE(c < d);
  const Rule e = MakeRule({{2, 1}}, {{5, 1}});
  EXPECT_TRUE(e < d);
  // Equality ignores everything but the pairs.
  Rule f = d;
  f.probability = 0.5;
  f.trials = 3;
  EXPECT_TRUE(f == d);
  EXPECT_FALSE(f < d);
  EXPECT_FALSE(f > d);
  EXPECT_TRUE(f <= d);
  EXPECT_TRUE(f >= d);
}

TEST(RuleTest, InsertSortedKeepsOrderAndRefusesDuplicates) {
  std::vector<FeaturePair> pairs;
  EXPECT_TRUE(InsertSorted(pairs, {2, 1}));
  EXPECT_TRUE(InsertSorted(pairs, {0, 3}));
  EXPECT_TRUE(InsertSorted(pairs, {2, 0}));
  EXPECT_TRUE(InsertSorted(pairs, {5, 0}));
  EXPECT_FALSE(InsertSorted(pairs, {2, 1}));
  EXPECT_EQ(pairs, (std::vector<FeaturePair>{{0, 3}, {2, 0}, {2, 1}, {5, 0}}));
}

TEST(RuleSearchTest, InsertionPlaceKeepsTheListDescending) {
  // Descending: shorter premises first.
  std::vector<Rule> rules = {MakeRule({{0, 0}}, {}), MakeRule({{0, 0}}, {{1, 0}}), MakeRule({{0, 0}}, {{3, 0}}),
                             MakeRule({{0, 0}}, {{1, 0}, {2, 0}})};
  for (size_t i = 0; i + 1 < rules.size(); ++i) ASSERT_TRUE(rules[i] > rules[i + 1]) << i;
  struct Case {
    Rule child;
    int place;
  };
  const Case cases[] = {
      {MakeRule({}, {}), 0},                              // greater than the first
      {MakeRule({{0, 0}}, {}), -1},                       // equal to the first
      {MakeRule({{0, 0}}, {{1, 0}, {2, 0}, {3, 0}}), 4},  // less than the last
      {MakeRule({{0, 0}}, {{1, 0}, {2, 0}}), -1},         // equal to the last
      {MakeRule({{0, 0}}, {{2, 0}}), 2},
      {MakeRule({{0, 0}}, {{3, 0}}), -1},
      {MakeRule({{0, 0}}, {{4, 0}}), 3},
      {MakeRule({{0, 0}}, {{0, 1}}), 1},
  };
  for (const Case& c : cases) EXPECT_EQ(RuleSearch::InsertionPlace(rules, c.child), c.place);
}

// A rule of probability 1 that a generalisation test rejects; the deepest
// generalisations are not tested again.
void ExpectSureButRejectedUntilDepth2(RuleSearch& search, const Rule& rule) {
  for (int depth : {0, 1, 2}) {
    Rule r = rule;
    search.evaluate(r, depth);
    EXPECT_EQ(r.probability, 1.0);
    EXPECT_EQ(r.accepted, depth == 2) << depth;
  }
}

// A learned analyzer gives the scales; the table is built over them.
class RuleSearchTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = std::make_unique<TempKestraneHome>();
    csv_ = home_->path() + "/train.csv";
    WriteStructuredCsv(csv_, 1500, 12, 7);
    Train();
  }

  // Scales and table of csv_.
  void Train() {
    analyzer_ = std::make_unique<DiscoveryAnalyzer>(0.9, 0.01, 0, "");
    analyzer_->setSearchOptions({.seed = 1});
    analyzer_->learn(csv_.c_str(), nullptr);
    table_ = std::make_unique<StatisticsTable>(csv_.c_str(), &analyzer_->scales());
    table_->load();
  }

  void ExpectEvolutionByItsOwnRules(uint32_t first_seed) {
    // The evolution done again by hand over the enumeration's rules, with the
    // search's own crossover: parents in turn while there are fewer eras than
    // rules, then the best score of six random draws (untried rules 0.25);
    // a duplicate child changes nothing.
    const int eras = 2000;
    // A seed whose draws soon include the top one, 32767, which a careless
    // index would take one past the last rule.
    uint32_t seed = first_seed;
    for (;; ++seed) {
      RandomSource r(seed);
      int i = 0;
      while (i < 1500 && r.Next() != 32767) ++i;
      if (i > 200 && i < 1500) break;
    }
    RuleSearch search(table_.get(), 0.9, 0.01, eras, {.seed = seed});
    Drain(search);
    RuleSearch helper(table_.get(), 0.9, 0.01, 0, {.seed = seed});
    std::vector<Rule> rules = Drain(helper);
    ASSERT_GT(rules.size(), 20u);
    ASSERT_LT(rules.size(), static_cast<size_t>(eras / 2));
    RandomSource random(seed);
    int top_draws = 0;
    auto draw = [&] {
      const int size = static_cast<int>(rules.size());
      const int i = static_cast<int>(random.Next() / 32767.0 * size);
      top_draws += i >= size;
      return i >= size ? size - 1 : i;
    };
    int parent = 0;
    int evolved = 0;
    int duplicates = 0;
    for (int era = 1; era <= eras; ++era) {
      if (era < static_cast<int>(rules.size())) {
        if (++parent >= static_cast<int>(rules.size())) parent = 0;
      } else {
        double best = -1.0;
        for (int i = 0; i < 6; ++i) {
          const int index = draw();
          const Rule& r = rules[index];
          const double score = r.trials == 0 ? 0.25 : static_cast<double>(r.successes) / r.trials;
          if (score > best) {
            best = score;
            parent = index;
          }
        }
      }
      const int second = draw();
      std::vector<SharedPair> shared = helper.sharedPairs(rules[parent], rules[second]);
      if (shared.empty()) continue;
      Rule child = helper.crossover(rules[parent], rules[second], shared);
      const int place = child.accepted ? RuleSearch::InsertionPlace(rules, child) : 0;
      if (place < 0) {
        ++duplicates;
        continue;
      }
      ++rules[parent].trials;
      ++rules[second].trials;
      if (!child.accepted) continue;
      ++rules[parent].successes;
      ++rules[second].successes;
      ++evolved;
      rules.insert(rules.begin() + place, child);
    }
    EXPECT_GE(evolved, 30);
    EXPECT_GT(duplicates, 0);
    EXPECT_GE(top_draws, 1);
    EXPECT_EQ(search.evolvedCount(), evolved);
    ASSERT_EQ(search.rules().size(), rules.size());
    for (size_t i = 0; i < rules.size(); ++i) {
      EXPECT_TRUE(search.rules()[i] == rules[i]) << seed << " " << i;
      EXPECT_EQ(search.rules()[i].trials, rules[i].trials) << i;
      EXPECT_EQ(search.rules()[i].successes, rules[i].successes) << i;
    }
  }

  std::vector<Rule> Drain(RuleSearch& search, SharedProgress* progress = nullptr) {
    std::vector<Rule> found;
    while (const Rule* r = search.nextRule(progress)) found.push_back(*r);
    return found;
  }

  std::unique_ptr<TempKestraneHome> home_;
  std::string csv_;
  std::unique_ptr<DiscoveryAnalyzer> analyzer_;
  std::unique_ptr<StatisticsTable> table_;
};

TEST_F(RuleSearchTableTest, BitsetCountsAgreeWithRowByRow) {
  PairBitsets fast(*table_);
  RowByRowCounter reference(*table_);
  EXPECT_EQ(fast.rowCount(), 1500);
  EXPECT_LE(fast.memoryBytes(), 2 * (1500 / 8 + 8) * static_cast<size_t>(fast.pairCount()));
  RandomSource random(3);
  auto pair = [&] {
    int f = random.Next() % (table_->featureCount() + 1);  // one past the end now and then
    int k = random.Next() % 7 - 1;
    return FeaturePair{f, k};
  };
  for (int i = 0; i < 3000; ++i) {
    Rule r;
    for (int n = random.Next() % 5; n > 0; --n) r.premise.push_back(pair());
    for (int n = random.Next() % 5; n > 0; --n) r.conclusion.push_back(pair());
    ASSERT_EQ(fast.Count(r), reference.Count(r)) << i;
  }
  // And every candidate the enumeration visits.
  RuleSearch search(table_.get(), 0.9, 0.01, 0, {.seed = 1, .counter = &fast});
  int visited = 0;
  for (search.enumerate(0); search.enumerating(); search.enumerate(0), ++visited) {
    ASSERT_EQ(fast.Count(search.candidate()), reference.Count(search.candidate())) << visited;
  }
  EXPECT_GT(visited, 1000);
}

TEST_F(RuleSearchTableTest, FastAndReferenceFindTheSameRules) {
  PairBitsets fast(*table_);
  RowByRowCounter reference(*table_);
  RuleSearch a(table_.get(), 0.9, 0.01, 300, {.seed = 11, .counter = &fast});
  RuleSearch b(table_.get(), 0.9, 0.01, 300, {.seed = 11, .counter = &reference});
  std::vector<Rule> from_fast = Drain(a);
  std::vector<Rule> from_reference = Drain(b);
  ASSERT_GT(from_fast.size(), 10u);
  EXPECT_GT(a.evolvedCount(), 0);
  ASSERT_EQ(from_fast.size(), from_reference.size());
  for (size_t i = 0; i < from_fast.size(); ++i) {
    EXPECT_TRUE(from_fast[i] == from_reference[i]) << i;
    EXPECT_EQ(from_fast[i].probability, from_reference[i].probability) << i;
    EXPECT_EQ(from_fast[i].fisherProbability, from_reference[i].fisherProbability) << i;
    EXPECT_EQ(from_fast[i].support, from_reference[i].support) << i;
  }
  ASSERT_EQ(a.rules().size(), b.rules().size());
  for (size_t i = 0; i < a.rules().size(); ++i) EXPECT_TRUE(a.rules()[i] == b.rules()[i]);
}

TEST_F(RuleSearchTableTest, SameSeedSameRulesOtherSeedOtherEvolution) {
  RuleSearch a(table_.get(), 0.9, 0.01, 200, {.seed = 5});
  RuleSearch b(table_.get(), 0.9, 0.01, 200, {.seed = 5});
  std::vector<Rule> first = Drain(a);
  std::vector<Rule> second = Drain(b);
  ASSERT_EQ(first.size(), second.size());
  for (size_t i = 0; i < first.size(); ++i) EXPECT_TRUE(first[i] == second[i]);
  // Stored rules stay in descending order.
  for (size_t i = 0; i + 1 < a.rules().size(); ++i) EXPECT_TRUE(a.rules()[i] > a.rules()[i + 1]) << i;
  // Each new accepted child counts once for each parent, and starts at none
  // itself; duplicates count nowhere.
  int successes = 0;
  for (const Rule& r : a.rules()) successes += r.successes;
  EXPECT_GT(a.evolvedCount(), 0);
  EXPECT_EQ(successes, 2 * a.evolvedCount());
}

TEST_F(RuleSearchTableTest, NoAcceptedCandidateEndsWithoutAnEra) {
  // No probability exceeds 1.
  RuleSearch search(table_.get(), 1.5, 0.01, 100, {.seed = 1});
  EXPECT_EQ(search.nextRule(nullptr), nullptr);
  EXPECT_EQ(search.eraCount(), 0);
  EXPECT_FALSE(search.enumerating());
  EXPECT_FALSE(search.evolving());
  EXPECT_EQ(search.nextRule(nullptr), nullptr);
}

TEST_F(RuleSearchTableTest, ProgressMovesInWholeHundredthsOfTheEras) {
  // 0.2 through the enumeration; then, at each era e of `eras`, 0.2 + 0.8 e /
  // eras whenever 20 + 80 e / eras passes another whole number.
  for (int eras : {50, 400}) {
    SharedProgress progress;
    RuleSearch search(table_.get(), 0.9, 0.01, eras, {.seed = 2});
    double expected = 0.2;
    int era = 0;
    int reports = 0;
    while (search.nextRule(&progress)) {
      for (; era < search.eraCount(); ) {
        ++era;
        if (static_cast<int>(20 + 80.0 * era / eras) != static_cast<int>(100 * expected)) {
          expected = 0.2 + 0.8 * era / eras;
          ++reports;
        }
      }
      ASSERT_EQ(search.progress(), expected) << era;
      double v;
      progress.get(&v);
      EXPECT_EQ(v, reports ? expected : 0.0) << era;
    }
    EXPECT_EQ(search.eraCount(), eras);
    EXPECT_GT(reports, 20);
    double v;
    progress.get(&v);
    EXPECT_DOUBLE_EQ(v, 1.0);
    EXPECT_DOUBLE_EQ(search.progress(), 1.0);
  }
}

TEST_F(RuleSearchTableTest, EvolutionPicksParentsByItsOwnRules) {
  for (uint32_t first_seed : {1u, 300u}) ExpectEvolutionByItsOwnRules(first_seed);
}

TEST_F(RuleSearchTableTest, EnumerationVisitsEveryShortCandidateOnce) {
  RuleSearch search(table_.get(), 0.9, 0.01, 0, {.seed = 1});
  int pairs = 0;
  for (int f = 0; f < table_->featureCount(); ++f) pairs += table_->indexCount(f);
  int visited = 0;
  while (true) {
    search.enumerate(0);
    if (!search.enumerating()) break;
    const Rule& c = search.candidate();
    ASSERT_LE(c.conclusion.size(), 1u);
    ASSERT_LE(c.premise.size(), 1u);
    if (!c.conclusion.empty() && !c.premise.empty()) {
      ASSERT_NE(c.conclusion[0], c.premise[0]);
    }
    ++visited;
  }
  // Each premise (none, then every pair) sweeps every conclusion pair but
  // its own; each premise step adds one candidate with no conclusion.
  EXPECT_EQ(visited, pairs + pairs * (pairs - 1) + pairs);
}

TEST_F(RuleSearchTableTest, EvaluateRejectsAPremiseThatAddsNothing) {
  RuleSearch search(table_.get(), 0.0, 1.0, 0, {.seed = 1});
  // Feature 3 is noise: it cannot raise the probability of feature 0's
  // interval above what the rule without premise gives.
  for (int k = 0; k + 1 < table_->indexCount(3); ++k) {
    Rule with = MakeRule({{0, 0}}, {{3, k}});
    Rule without = MakeRule({{0, 0}}, {});
    search.evaluate(with, 0);
    search.evaluate(without, 1);
    if (with.probability <= without.probability) {
      EXPECT_FALSE(with.accepted) << k;
    }
  }

  // Column 0 is constant: every premise gives it probability 1, as no
  // premise does, and the Fisher test at 1.0 lets that pass.
  std::ofstream out(csv_);
  out << "a;b\nu;u\n";
  for (int r = 0; r < 200; ++r) out << "5;" << r % 4 << "\n";
  out.close();
  Train();
  RuleSearch constant(table_.get(), 0.0, 1.0, 0, {.seed = 1});
  ExpectSureButRejectedUntilDepth2(constant, MakeRule({{0, 0}}, {{1, 0}}));
}

TEST_F(RuleSearchTableTest, ConclusionOverEveryIntervalSaysNothing) {
  RuleSearch search(table_.get(), 0.0, 1.0, 0, {.seed = 1});
  Rule all;
  for (int k = 0; k < table_->indexCount(0); ++k) all.conclusion.push_back({0, k});
  ASSERT_GE(all.conclusion.size(), 2u);
  ExpectSureButRejectedUntilDepth2(search, all);
}

TEST_F(RuleSearchTableTest, CrossoverModeOrderAndChildCounters) {
  // Nothing is accepted, so the child of the last mode is taken.
  RuleSearch search(table_.get(), 1.5, 0.01, 0, {.seed = 1});
  Rule p1 = MakeRule({{0, 0}}, {{4, 1}});
  p1.trials = 3;
  p1.successes = 2;
  // Shared on the same side: mergeOther both ways, then mergeUnion.
  Rule p2 = MakeRule({{0, 0}}, {{5, 1}});
  p2.trials = 7;
  p2.successes = 5;
  Rule child = search.crossover(p1, p2, search.sharedPairs(p1, p2));
  EXPECT_EQ(child.conclusion, (std::vector<FeaturePair>{{0, 0}}));
  EXPECT_EQ(child.premise, (std::vector<FeaturePair>{{4, 1}, {5, 1}}));
  EXPECT_EQ(child.trials, 3);
  EXPECT_EQ(child.successes, 0);
  // Shared across sides: mergeUnion, then mergeOther both ways.
  Rule p3 = MakeRule({{4, 1}}, {{8, 2}});
  p3.trials = 7;
  p3.successes = 5;
  child = search.crossover(p1, p3, search.sharedPairs(p1, p3));
  EXPECT_EQ(child.conclusion, (std::vector<FeaturePair>{{4, 1}}));
  EXPECT_EQ(child.premise, (std::vector<FeaturePair>{{0, 0}, {8, 2}}));
  EXPECT_EQ(child.trials, 7);
  EXPECT_EQ(child.successes, 0);
  EXPECT_FALSE(child.accepted);
  // Half the shared pairs on the same side: union first, so the child is
  // mergeOther(p5, p4)'s, started from p5.
  Rule p4 = MakeRule({{0, 0}}, {{4, 1}, {5, 1}});
  Rule p5 = MakeRule({{4, 1}}, {{5, 1}, {8, 2}});
  p5.trials = 9;
  child = search.crossover(p4, p5, search.sharedPairs(p4, p5));
  EXPECT_EQ(child.conclusion, (std::vector<FeaturePair>{{4, 1}}));
  EXPECT_EQ(child.premise, (std::vector<FeaturePair>{{0, 0}, {8, 2}}));
  EXPECT_EQ(child.trials, 9);
}

TEST_F(RuleSearchTableTest, UnionWithNothingAcceptedMovesSharedPairsLast) {
  // No probability exceeds 1.5: every step of mergeUnion runs. (4,1) is set
  // aside, leaves the premise, and comes back at the conclusion's end.
  RuleSearch search(table_.get(), 1.5, 0.01, 0, {.seed = 1});
  Rule child = search.mergeUnion(MakeRule({{0, 0}, {6, 1}}, {{4, 1}}), MakeRule({{4, 1}}, {{8, 2}}));
  EXPECT_EQ(child.conclusion, (std::vector<FeaturePair>{{0, 0}, {6, 1}, {4, 1}}));
  EXPECT_EQ(child.premise, (std::vector<FeaturePair>{{8, 2}}));
  EXPECT_FALSE(child.accepted);
}

TEST_F(RuleSearchTableTest, MergesBuildTheirPairLists) {
  RuleSearch search(table_.get(), 0.9, 0.01, 0, {.seed = 1});
  const Rule p1 = MakeRule({{0, 0}}, {{4, 1}});
  const Rule p2 = MakeRule({{4, 1}}, {{8, 2}});
  std::vector<SharedPair> shared = search.sharedPairs(p1, p2);
  ASSERT_EQ(shared.size(), 1u);
  EXPECT_EQ(shared[0].pair, (FeaturePair{4, 1}));
  EXPECT_FALSE(shared[0].inConclusion1);
  EXPECT_TRUE(shared[0].inConclusion2);

  Rule other = search.mergeOther(p1, p2);
  EXPECT_EQ(other.conclusion, (std::vector<FeaturePair>{{0, 0}, {8, 2}}));
  EXPECT_EQ(other.premise, (std::vector<FeaturePair>{{4, 1}}));
  Rule other_back = search.mergeOther(p2, p1);
  EXPECT_EQ(other_back.conclusion, (std::vector<FeaturePair>{{4, 1}}));
  EXPECT_EQ(other_back.premise, (std::vector<FeaturePair>{{0, 0}, {8, 2}}));
  // Pairs that land on both sides leave both.
  Rule both = search.mergeOther(p1, MakeRule({{9, 0}}, {{4, 1}}));
  EXPECT_EQ(both.conclusion, (std::vector<FeaturePair>{{0, 0}}));
  EXPECT_EQ(both.premise, (std::vector<FeaturePair>{{9, 0}}));

  // Every place a pair of the first can meet one of the second, in the
  // first's order: its conclusion, then its premise.
  const Rule q1 = MakeRule({{1, 0}, {2, 0}}, {{3, 0}, {4, 0}});
  const Rule q2 = MakeRule({{4, 0}, {2, 0}}, {{1, 0}, {3, 0}});
  std::vector<SharedPair> all = search.sharedPairs(q1, q2);
  ASSERT_EQ(all.size(), 4u);
  const SharedPair expected[4] = {{{1, 0}, true, false}, {{2, 0}, true, true}, {{3, 0}, false, false},
                                  {{4, 0}, false, true}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(all[i].pair, expected[i].pair) << i;
    EXPECT_EQ(all[i].inConclusion1, expected[i].inConclusion1) << i;
    EXPECT_EQ(all[i].inConclusion2, expected[i].inConclusion2) << i;
  }

  Rule merged = search.mergeUnion(p1, p2);
  // (4,1) stood in both lists: it leaves the conclusion first; what follows
  // depends on the evaluations, but no pair is ever on both sides.
  for (const FeaturePair& c : merged.conclusion) {
    EXPECT_EQ(std::find(merged.premise.begin(), merged.premise.end(), c), merged.premise.end());
  }
  EXPECT_NE(std::find(merged.conclusion.begin(), merged.conclusion.end(), FeaturePair{0, 0}),
            merged.conclusion.end());
}

}  // namespace
}  // namespace kst
