#include "Ruleforge/analyzer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>

#include "Ruleforge/analyzer_test_util.h"
#include "Ruleforge/binary_io.h"
#include "Ruleforge/exceptions.h"
#include "Ruleforge/ruleforge_testing.h"
#include "platform/registry_testing.h"

namespace kst {
namespace {

// The exception's text, or "" when load does not throw.
std::string LoadError(DiscoveryAnalyzer& analyzer, const std::string& bytes) {
  std::istringstream in(bytes);
  try {
    analyzer.load(in);
  } catch (Exception* e) {
    std::unique_ptr<Exception> owned(e);
    return e->message() ? e->message() : "(null)";
  }
  return "";
}

class AnalyzerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = std::make_unique<TempKestraneHome>();
    AnomalyDetails.clear();
  }
  std::string Path(const char* name) const { return home_->path() + "/" + name; }

  // Four features on [0, 10]; rules conclude on features 1..3 from feature 0
  // being in its interval; no feature group counts.
  StateFile FourFeatures(int rules_on_1, int rules_on_2) {
    StateFile file;
    for (int f = 0; f < 4; ++f) file.scales.push_back(Scale("0", "10"));
    for (int i = 0; i < rules_on_1; ++i) file.rules.push_back({{{1, 0}}, {{0, 0}}});
    for (int i = 0; i < rules_on_2; ++i) file.rules.push_back({{{2, 0}}, {{0, 0}}});
    file.groups.assign(4, FeatureGroup{{1, 0, 0}, 0});
    return file;
  }

  // Loads the file, checks the values; the message (or "FAILED").
  std::string Check(const StateFile& file, std::vector<double> values) {
    DiscoveryAnalyzer analyzer;
    EXPECT_EQ(LoadError(analyzer, file.Bytes()), "");
    AnomalyDetails.clear();
    std::string message = "stale";
    if (!analyzer.check(message, &values)) return "FAILED";
    return message;
  }

  std::unique_ptr<TempKestraneHome> home_;
};

TEST_F(AnalyzerTest, Tune) {
  DiscoveryAnalyzer analyzer(0.9, 0.01, 10, "");
  EXPECT_EQ(analyzer.tune(0.5), 1.0);
  EXPECT_EQ(analyzer.odds(), 1.0);
  EXPECT_EQ(analyzer.tune(-1.0), 0.5);
  EXPECT_EQ(analyzer.tune(-0.5), -1.0);
  EXPECT_EQ(analyzer.tune(1.5), -1.0);
  EXPECT_EQ(analyzer.odds(), 1.0);
  EXPECT_EQ(analyzer.tune(0.0), 1.0);
  EXPECT_EQ(analyzer.odds(), 0.0001 / 0.9999);
  EXPECT_EQ(analyzer.tune(1.0), 0.0001 / 0.9999);
  EXPECT_EQ(analyzer.odds(), 0.9999 / (1 - 0.9999));
  EXPECT_DOUBLE_EQ(analyzer.tune(-1.0), 0.9999);
}

std::vector<ParameterValue> Entries(const ParameterList& list) {
  std::vector<ParameterValue> entries(list.size());
  for (int i = 0; i < list.size(); ++i) EXPECT_TRUE(list.getAt(entries[i], i));
  return entries;
}

TEST_F(AnalyzerTest, ConstructionFillsTheParameterList) {
  DiscoveryAnalyzer analyzer(0.8, 0.02, 77, "rules.txt");
  std::vector<ParameterValue> entries = Entries(analyzer.parameters());
  ExpectAnalyzerParameters(entries, 0.999, 0.05);
  EXPECT_EQ(entries[0].data().r.value, 0.8);
  EXPECT_EQ(entries[1].data().r.value, 0.02);
  EXPECT_EQ(entries[2].data().i.value, 77);
  EXPECT_STREQ(entries[3].data().s.value, "rules.txt");
  ParameterValue p;
  ASSERT_TRUE(analyzer.parameters().get(p, "number of eras"));
  EXPECT_EQ(p.data().i.value, 77);

  DiscoveryAnalyzer loaded;
  std::vector<ParameterValue> defaults = Entries(loaded.parameters());
  ExpectAnalyzerParameters(defaults, 0.999, 0.05);
  EXPECT_EQ(defaults[0].data().r.value, 0.999);
  EXPECT_EQ(defaults[1].data().r.value, 0.05);
  EXPECT_EQ(defaults[2].data().i.value, 10000);
  EXPECT_STREQ(defaults[3].data().s.value, "");

  const uint8_t kind[16] = {0x91, 0x96, 0x85, 0x02, 0xef, 0x1b, 0xc7, 0x03,
                            0x13, 0x4c, 0xd6, 0x04, 0x6f, 0xf6, 0x78, 0x04};
  EXPECT_EQ(std::memcmp(analyzer.kindId(), kind, 16), 0);
  const uint8_t scale_kind[16] = {0x1c, 0x8e, 0xa2, 0x01, 0x8c, 0xac, 0xa6, 0x00,
                                  0xd0, 0xeb, 0x3d, 0x03, 0x1d, 0xac, 0xad, 0x04};
  EXPECT_EQ(std::memcmp(IntervalScale().kindId(), scale_kind, 16), 0);
}

class LearnedAnalyzerTest : public AnalyzerTest {
 protected:
  void SetUp() override {
    AnalyzerTest::SetUp();
    csv_ = Path("train.csv");
    WriteStructuredCsv(csv_, 800, 8, 3);
    learned_ = std::make_unique<DiscoveryAnalyzer>(0.9, 0.01, 1000, Path("rules.txt"));
    learned_->setSearchOptions({.seed = 4});
    learned_->learn(csv_.c_str(), &progress_);
  }
  std::string SavedBytes() const {
    std::ostringstream out;
    learned_->save(out);
    return out.str();
  }

  std::string csv_;
  SharedProgress progress_;
  std::unique_ptr<DiscoveryAnalyzer> learned_;
};

// The groups count the rules by length for every feature they conclude on;
// returns how many rules there are of each length (5 for longer).
std::vector<int> ExpectGroupsCountTheRules(const DiscoveryAnalyzer& analyzer) {
  const int features = analyzer.scaleCount();
  std::vector<FeatureGroup> expected(features, FeatureGroup{{0, 0, 0}, 0});
  std::vector<int> by_length(6, 0);
  for (const AnalyzerRule& r : analyzer.ruleBase()) {
    EXPECT_EQ(r.conclusionCount, static_cast<int>(r.conclusion.size()));
    EXPECT_EQ(r.premiseCount, static_cast<int>(r.premise.size()));
    size_t len = r.conclusion.size() + r.premise.size();
    ++by_length[std::min<size_t>(len, 5)];
    for (const FeaturePair& p : r.conclusion) {
      if (len > 3) {
        ++expected[p.feature].longerCount;
      } else {
        ++expected[p.feature].lengthCounts[len - 1];
      }
    }
  }
  EXPECT_EQ(static_cast<int>(analyzer.featureGroups().size()), features);
  for (int f = 0; f < features; ++f) {
    EXPECT_EQ(analyzer.featureGroups()[f].lengthCounts, expected[f].lengthCounts) << f;
    EXPECT_EQ(analyzer.featureGroups()[f].longerCount, expected[f].longerCount) << f;
  }
  return by_length;
}

TEST_F(LearnedAnalyzerTest, LearnsScalesGroupsAndRules) {
  ASSERT_GT(learned_->ruleBase().size(), 5u);
  EXPECT_EQ(learned_->scaleCount(), 8);
  EXPECT_EQ(learned_->odds(), 1.0);
  double v;
  progress_.get(&v);
  EXPECT_EQ(v, 1.0);
  for (const AnalyzerRule& r : learned_->ruleBase()) EXPECT_GE(r.probability, 0.9);
  std::vector<int> by_length = ExpectGroupsCountTheRules(*learned_);
  EXPECT_GT(by_length[2], 0);
  EXPECT_GT(by_length[3], 0);
}

TEST_F(AnalyzerTest, RulesLongerThanThreeCountApart) {
  // Feature 3 is set exactly when features 0, 1 and 2 all are: the evolution
  // joins the three one-pair rules into one of length 4.
  const std::string csv = Path("and.csv");
  std::ofstream out(csv);
  out << "x;y;w;z\nu;u;u;u\n";
  uint32_t state = 11;
  for (int r = 0; r < 800; ++r) {
    state = state * 1664525u + 1013904223u;
    const int bits = (state >> 20) & 7;
    out << (bits & 1) * 10 << ";" << (bits >> 1 & 1) * 10 << ";" << (bits >> 2 & 1) * 10 << ";"
        << (bits == 7) * 10 << "\n";
  }
  out.close();
  // A low probability floor lets the one-pair rules (0.25) in.
  DiscoveryAnalyzer analyzer(0.2, 0.01, 300, "");
  analyzer.setSearchOptions({.seed = 2});
  analyzer.learn(csv.c_str(), nullptr);
  std::vector<int> by_length = ExpectGroupsCountTheRules(analyzer);
  EXPECT_GT(by_length[4], 0);
  EXPECT_GT(analyzer.featureGroups()[3].longerCount, 0);
}

TEST_F(LearnedAnalyzerTest, DumpsOneReadableLinePerRule) {
  std::ifstream dump(Path("rules.txt"));
  const std::regex item(R"(\(X\d+ in \((-?\d+\.\d{6},-?\d+\.\d{6}|out of bounds)\)\))");
  const std::string i = R"(\(X\d+ in \((?:-?\d+\.\d{6},-?\d+\.\d{6}|out of bounds)\)\))";
  const std::regex line("^" + i + "( \\| " + i + ")* <- (" + i + "( & " + i + ")*)?$");
  std::string text;
  size_t lines = 0;
  const auto& scales = learned_->scales();
  auto text_of = [&](const FeaturePair& p) {
    return "(X" + std::to_string(p.feature) + " in " + scales[p.feature]->intervalText(p.interval, nullptr) + ")";
  };
  while (std::getline(dump, text)) {
    EXPECT_TRUE(std::regex_match(text, line)) << text;
    ASSERT_LT(lines, learned_->ruleBase().size());
    const AnalyzerRule& rule = learned_->ruleBase()[lines];
    std::string expected;
    for (size_t i = 0; i < rule.conclusion.size(); ++i) expected += (i ? " | " : "") + text_of(rule.conclusion[i]);
    expected += " <- ";
    for (size_t i = 0; i < rule.premise.size(); ++i) expected += (i ? " & " : "") + text_of(rule.premise[i]);
    EXPECT_EQ(text, expected);
    ++lines;
  }
  EXPECT_EQ(lines, learned_->ruleBase().size());
}

TEST_F(LearnedAnalyzerTest, SaveThenLoadReproducesTheAnalyzer) {
  const std::string bytes = SavedBytes();
  DiscoveryAnalyzer loaded;
  ASSERT_EQ(LoadError(loaded, bytes), "");
  EXPECT_EQ(loaded.probabilityThreshold(), 0.9);
  EXPECT_EQ(loaded.fisherThreshold(), 0.01);
  EXPECT_EQ(loaded.odds(), 1.0);
  ASSERT_EQ(loaded.ruleBase().size(), learned_->ruleBase().size());
  for (size_t i = 0; i < loaded.ruleBase().size(); ++i) {
    const AnalyzerRule& a = loaded.ruleBase()[i];
    const AnalyzerRule& b = learned_->ruleBase()[i];
    EXPECT_EQ(a.conclusion, b.conclusion);
    EXPECT_EQ(a.premise, b.premise);
    EXPECT_EQ(a.probability, b.probability);
    EXPECT_EQ(a.fisherProbability, b.fisherProbability);
  }
  ASSERT_EQ(loaded.scaleCount(), 8);
  for (int f = 0; f < 8; ++f) {
    EXPECT_EQ(loaded.scales()[f]->intervals(), learned_->scales()[f]->intervals());
    EXPECT_EQ(loaded.scales()[f]->variance(), learned_->scales()[f]->variance());
    EXPECT_EQ(loaded.featureGroups()[f].lengthCounts, learned_->featureGroups()[f].lengthCounts);
  }
  std::ostringstream again;
  loaded.save(again);
  EXPECT_EQ(again.str(), bytes);
}

TEST_F(LearnedAnalyzerTest, EveryTruncatedStateFileFailsToLoad) {
  const std::string bytes = SavedBytes();
  for (size_t size = 0; size < bytes.size(); ++size) {
    DiscoveryAnalyzer loaded;
    EXPECT_NE(LoadError(loaded, bytes.substr(0, size)), "") << size;
  }
}

TEST_F(AnalyzerTest, NoRulesSavesZeroRules) {
  StateFile file;
  file.scales.push_back(Scale("1", "2"));
  file.groups.assign(1, FeatureGroup{{0, 0, 0}, 0});
  DiscoveryAnalyzer analyzer;
  ASSERT_EQ(LoadError(analyzer, file.Bytes()), "");
  std::ostringstream out;
  analyzer.save(out);
  EXPECT_EQ(out.str(), file.Bytes());
  EXPECT_EQ(out.str().substr(16, 4), std::string(4, '\0'));

  // A reset analyzer has no scales left, and its file says so.
  EXPECT_TRUE(analyzer.reset());
  EXPECT_EQ(analyzer.scaleCount(), 0);
  std::ostringstream after_reset;
  analyzer.save(after_reset);
  DiscoveryAnalyzer reloaded;
  EXPECT_EQ(LoadError(reloaded, after_reset.str()), "");
}

TEST_F(AnalyzerTest, RulesNamingWhatTheFileLacksFailToLoad) {
  struct Case {
    StateFile::StoredRule rule;
    const char* error;
  };
  const Case cases[] = {
      {{{{1, 2}}, {{0, 0}}}, "rule names a missing interval"},   // scale 1 has indices 0, 1
      {{{{1, -1}}, {}}, "rule names a missing interval"},
      {{{{1, 0}}, {{0, 5}}}, "rule names a missing interval"},
      {{{{2, 0}}, {{0, 0}}}, "rule names a missing feature"},
      {{{{1, 0}}, {{-1, 0}}}, "rule names a missing feature"},
      {{{{1, 1}}, {{0, 1}}}, ""},  // out of bounds is an index of its own
  };
  for (const Case& c : cases) {
    StateFile file;
    file.scales = {Scale("0", "1"), Scale("0", "1")};
    file.groups.assign(2, FeatureGroup{{0, 0, 0}, 0});
    file.rules = {c.rule};
    DiscoveryAnalyzer analyzer;
    EXPECT_EQ(LoadError(analyzer, file.Bytes()), c.error) << c.rule.conclusion[0].interval;
  }
  // The damaged file is reported on standard error too, and nothing ends.
  StateFile bad;
  bad.scales = {Scale("0", "1"), Scale("0", "1")};
  bad.groups.assign(2, FeatureGroup{{0, 0, 0}, 0});
  bad.rules = {{{{1, 3}}, {}}};
  DiscoveryAnalyzer reported;
  testing::internal::CaptureStderr();
  EXPECT_EQ(LoadError(reported, bad.Bytes()), "rule names a missing interval");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), " Error in intervals 3 2\n");

  StateFile few_groups;
  few_groups.scales = {Scale("0", "1"), Scale("0", "1")};
  few_groups.groups.assign(1, FeatureGroup{{0, 0, 0}, 0});
  few_groups.rules = {{{{1, 0}}, {}}};
  DiscoveryAnalyzer analyzer;
  EXPECT_EQ(LoadError(analyzer, few_groups.Bytes()), "rule names a missing feature group");
  few_groups.rules = {{{{0, 0}}, {{1, 0}}}};
  EXPECT_EQ(LoadError(analyzer, few_groups.Bytes()), "");
}

TEST_F(AnalyzerTest, LevelIsTheAnomalousShareOfApplicableRules) {
  struct Case {
    int rules_on_1;
    int rules_on_2;
    std::vector<double> values;
    const char* message;
    int level;
  };
  const char* none = "";
  const Case cases[] = {
      {1, 2, {5, 50, 5, 5}, " Ruleforge: 1 of 3 (0.000000 feature groups. 100: 0, 50: 0, 20: 0) rules is anomal. ", 33},
      {2, 1, {5, 50, 5, 5}, " Ruleforge: 2 of 3 (0.000000 feature groups. 100: 0, 50: 0, 20: 0) rules is anomal. ", 66},
      {1, 199, {5, 50, 5, 5}, " Ruleforge: 1 of 200 (0.000000 feature groups. 100: 0, 50: 0, 20: 0) rules is anomal. ",
       0},
      {1, 2, {5, 5, 5, 5}, none, 0},
      {1, 2, {50, 50, 50, 5}, none, 0},  // no rule applies
      {0, 0, {5, 5, 5, 5}, none, 0},
  };
  for (const Case& c : cases) {
    anomalyLevel = -7;
    EXPECT_EQ(Check(FourFeatures(c.rules_on_1, c.rules_on_2), c.values), c.message);
    EXPECT_EQ(anomalyLevel, c.level);
  }
}

TEST_F(AnalyzerTest, ConclusionBoundsFollowTheOdds) {
  struct Case {
    int interval;  // 0: [0, 10]; 1: out of bounds
    double odds;
    double value;
    bool anomalous;
  };
  const Case cases[] = {
      {0, 1.0, 10.0, false},       // a learned bound holds
      {0, 1.0, 0.0, false},
      {0, 1.0, 10.000004, false},  // widened by the slack
      {0, 1.0, 10.00001, true},
      {0, 1.0, -0.00001, true},
      {0, 9.0, 5.5, false},        // odds 9 narrow [0, 10] to about [4.44, 5.56]
      {0, 9.0, 6.0, true},
      {0, 9.0, 4.0, true},
      {1, 1.0, 5.0, true},         // out of bounds fails inside an interval
      {1, 1.0, 10.0, false},       // ... but not on its bound
      {1, 1.0, 0.0, false},
      {1, 1.0, 11.0, false},
      {1, 3.0, 19.0, true},        // odds 3 widen [0, 10] to (-10, 20)
      {1, 3.0, 20.0, false},
      {1, 3.0, -9.5, true},
      {1, 3.0, -10.0, false},
  };
  for (const Case& c : cases) {
    StateFile file = FourFeatures(0, 0);
    file.rules = {{{{1, c.interval}}, {{0, 0}}}};
    file.odds = c.odds;
    std::string message = Check(file, {5, c.value, 0, 0});
    EXPECT_EQ(!message.empty(), c.anomalous) << c.interval << " " << c.odds << " " << c.value;
  }
}

// One analyzer judges again and again, as the checker's does: after tune,
// another load or learning, each check judges with what the analyzer holds
// now, never with the bounds of an earlier check.
TEST_F(AnalyzerTest, EachCheckJudgesWithTheSensitivityAndRulesOfNow) {
  DiscoveryAnalyzer analyzer;
  auto anomalous = [&](std::vector<double> values) {
    std::string message;
    AnomalyDetails.clear();
    EXPECT_TRUE(analyzer.check(message, &values));
    return !message.empty();
  };
  StateFile file = FourFeatures(0, 0);
  file.rules = {{{{1, 0}}, {{0, 0}}}, {{{2, 1}}, {{0, 0}}}};  // [0, 10]; out of bounds
  ASSERT_EQ(LoadError(analyzer, file.Bytes()), "");
  EXPECT_FALSE(anomalous({5, 6, 60, 0}));
  analyzer.tune(0.9);  // odds 9: [0, 10] narrows to about [4.44, 5.56]
  EXPECT_TRUE(anomalous({5, 6, 60, 0}));
  EXPECT_FALSE(anomalous({5, 5.5, 60, 0}));
  analyzer.tune(0.5);
  EXPECT_FALSE(anomalous({5, 6, 60, 0}));
  EXPECT_FALSE(anomalous({5, 5, 19, 0}));
  analyzer.tune(0.75);  // odds 3: out of bounds fails inside (-10, 20)
  EXPECT_TRUE(anomalous({5, 5, 19, 0}));

  // Another state file, of the sensitivity checked last: its scales of
  // [0, 100].
  analyzer.tune(0.5);
  EXPECT_FALSE(anomalous({5, 5, 60, 0}));
  StateFile wide;
  for (int f = 0; f < 4; ++f) wide.scales.push_back(Scale("0", "100"));
  wide.rules = {{{{1, 0}}, {{0, 0}}}};
  wide.groups.assign(4, FeatureGroup{{1, 0, 0}, 0});
  ASSERT_EQ(LoadError(analyzer, wide.Bytes()), "");
  EXPECT_FALSE(anomalous({50, 60, 0, 0}));
  EXPECT_TRUE(anomalous({50, 101, 0, 0}));
  // Without rules or scales nothing applies.
  analyzer.reset();
  EXPECT_FALSE(anomalous({50, 101, 0, 0}));

  // Learning replaces scales and rules: the next check judges as a fresh
  // analyzer that learned the same table does.
  WriteStructuredCsv(Path("t.csv"), 400, 4, 5);
  DiscoveryAnalyzer fresh(0.9, 0.01, 20, "");
  fresh.setSearchOptions({.seed = 3});
  fresh.learn(Path("t.csv").c_str(), nullptr);
  DiscoveryAnalyzer relearned(0.9, 0.01, 20, "");
  relearned.setSearchOptions({.seed = 3});
  ASSERT_EQ(LoadError(relearned, wide.Bytes()), "");
  std::vector<double> values = {50, 101, 0, 0};
  std::string message;
  ASSERT_TRUE(relearned.check(message, &values));
  relearned.learn(Path("t.csv").c_str(), nullptr);
  ASSERT_GT(fresh.ruleBase().size(), 0u);
  for (const auto& scale : fresh.scales()) {
    for (const auto& [lo, hi] : scale->intervals()) {
      for (double v : {lo, hi, (lo + hi) / 2, hi + 1, lo - 1}) {
        values.assign(4, v);
        std::string want, got;
        ASSERT_TRUE(fresh.check(want, &values));
        const int want_level = anomalyLevel;
        ASSERT_TRUE(relearned.check(got, &values));
        EXPECT_EQ(got, want) << v;
        EXPECT_EQ(anomalyLevel, want_level) << v;
      }
    }
  }
}

TEST_F(AnalyzerTest, ARuleIsAnomalousOnlyWhenEveryConclusionPairFails) {
  StateFile file = FourFeatures(0, 0);
  file.rules = {{{{1, 0}, {2, 0}}, {{0, 0}}}};
  EXPECT_EQ(Check(file, {5, 50, 5, 5}), "");
  EXPECT_EQ(Check(file, {5, 5, 50, 5}), "");
  EXPECT_EQ(Check(file, {5, 50, 50, 5}),
            " Ruleforge: 1 of 1 (0.000000 feature groups. 100: 0, 50: 0, 20: 0) rules is anomal. ");
}

TEST_F(AnalyzerTest, PremiseValuesAreRoundedToSixDecimals) {
  StateFile file;
  file.scales = {Scale("0", "1"), Scale("0", "1")};
  file.groups.assign(2, FeatureGroup{{1, 0, 0}, 0});
  file.rules = {{{{1, 0}}, {{0, 0}}}};
  EXPECT_NE(Check(file, {1.0000004, 7}), "");  // "1.000000": applicable
  EXPECT_EQ(Check(file, {1.000001, 7}), "");    // "1.000001": not
}

TEST_F(AnalyzerTest, ShortestRulesWeighTheirFeatureGroup) {
  StateFile file = FourFeatures(0, 0);
  file.rules = {{{{1, 0}}, {{0, 0}}}, {{{1, 0}}, {{2, 0}}}, {{{3, 0}}, {{0, 0}, {2, 0}}}};
  file.groups[1] = FeatureGroup{{0, 2, 0}, 0};  // two rules of length 2, none shorter
  file.groups[3] = FeatureGroup{{0, 4, 3}, 0};  // shorter rules exist: length 3 does not count
  EXPECT_EQ(Check(file, {5, 50, 5, 50}),
            " Ruleforge: 3 of 3 (1.000000 feature groups. 100: 1, 50: 0, 20: 0) rules is anomal. ");
  ASSERT_EQ(AnomalyDetails.size(), 3u);
  EXPECT_EQ(AnomalyDetails[2].baseFeatures, (std::vector<int>{0, 2}));
  EXPECT_EQ(AnomalyDetails[2].resultFeatures, (std::vector<int>{3}));
  std::ifstream freq(home_->path() + "/freq.txt");
  std::stringstream text;
  text << freq.rdbuf();
  EXPECT_EQ(text.str(), "index: 1, length: 2, count: 2\nindex: 1, length: 2, count: 2\n");

  // Bands: a share of 0.5 is in band 50, 0.25 in band 20.
  file.groups[1] = FeatureGroup{{0, 4, 0}, 0};
  file.groups[3] = FeatureGroup{{0, 0, 4}, 0};
  EXPECT_EQ(Check(file, {5, 50, 5, 50}),
            " Ruleforge: 3 of 3 (0.750000 feature groups. 100: 0, 50: 1, 20: 1) rules is anomal. ");
  // Rules longer than three weigh by the longer count when no length is counted.
  file.rules = {{{{1, 0}, {2, 0}}, {{0, 0}, {3, 0}}}};
  file.groups[1] = FeatureGroup{{0, 0, 0}, 5};
  file.groups[2] = FeatureGroup{{0, 0, 0}, 1};
  EXPECT_EQ(Check(file, {5, 50, 50, 5}),
            " Ruleforge: 1 of 1 (1.200000 feature groups. 100: 1, 50: 0, 20: 1) rules is anomal. ");
}

TEST_F(AnalyzerTest, FeatureGroupSharesFallInBands) {
  // k anomalous rules of length 2 conclude on feature 1, which counts n rules
  // of that length: its share is k / n, added up rule by rule.
  struct Case {
    int k, n;
    const char* share;
    int band100, band50, band20;
  };
  const Case cases[] = {
      {1, 1, "1.000000", 1, 0, 0},   {8, 11, "0.727273", 1, 0, 0},  {7, 10, "0.700000", 0, 1, 0},
      {21, 30, "0.700000", 0, 1, 0}, {4, 11, "0.363636", 0, 1, 0},  {7, 20, "0.350000", 0, 0, 1},
      {3, 17, "0.176471", 0, 0, 1},  {6, 40, "0.150000", 0, 0, 0},  {1, 7, "0.142857", 0, 0, 0},
  };
  for (const Case& c : cases) {
    StateFile file;
    file.scales = {Scale("0", "10"), Scale("0", "10")};
    file.groups = {FeatureGroup{{0, 0, 0}, 0}, FeatureGroup{{0, c.n, 0}, 0}};
    file.rules.assign(c.k, {{{1, 0}}, {{0, 0}}});
    char expected[200];
    std::snprintf(expected, sizeof expected,
                  " Ruleforge: %d of %d (%s feature groups. 100: %d, 50: %d, 20: %d) rules is anomal. ", c.k, c.k,
                  c.share, c.band100, c.band50, c.band20);
    EXPECT_EQ(Check(file, {5, 50}), expected) << c.k << "/" << c.n;
  }
}

TEST_F(AnalyzerTest, LearnedScalesHoldFourIntervalsAndRareValues) {
  // Column 0: six values, equally often; column 1: 0, and 100 in 2 rows of
  // 1002 (a weight of 0.001996, just above the floor).
  const std::string csv = Path("scales.csv");
  std::ofstream out(csv);
  out << "a;b\nu;u\n";
  for (int r = 0; r < 1002; ++r) out << (r % 6) * 100 << ";" << (r < 2 ? 100 : 0) << "\n";
  out.close();
  DiscoveryAnalyzer analyzer(0.9, 0.01, 0, "");
  analyzer.learn(csv.c_str(), nullptr);
  using Intervals = std::vector<std::pair<double, double>>;
  EXPECT_EQ(analyzer.scales()[0]->intervals(), (Intervals{{0, 100}, {200, 300}, {400, 400}, {500, 500}}));
  EXPECT_EQ(analyzer.scales()[1]->intervals(), (Intervals{{0, 0}, {100, 100}}));
}

TEST_F(AnalyzerTest, LearningProgressStands02WhileTheTableLoads) {
  // The counting pass ignores the extra field; the table refuses it.
  const std::string csv = Path("extra.csv");
  std::ofstream(csv) << "a;b\nu;u\n1;2\n3;4;5\n";
  for (bool given : {true, false}) {
    SharedProgress progress;
    DiscoveryAnalyzer analyzer(0.9, 0.01, 0, "");
    try {
      analyzer.learn(csv.c_str(), given ? &progress : nullptr);
      ADD_FAILURE();
    } catch (Exception* e) {
      std::unique_ptr<Exception> owned(e);
      EXPECT_STREQ(e->message(), "Bad file format");
    }
    double v = -1;
    progress.get(&v);
    EXPECT_EQ(v, given ? 0.2 : 0.0);
  }
}

class LearnInputTest : public AnalyzerTest {
 protected:
  std::string LearnError(const std::string& text) {
    std::ofstream(Path("in.csv")) << text;
    DiscoveryAnalyzer analyzer(0.9, 0.01, 5, "");
    analyzer.setSearchOptions({.seed = 1});
    try {
      analyzer.learn(Path("in.csv").c_str(), nullptr);
    } catch (Exception* e) {
      std::unique_ptr<Exception> owned(e);
      return e->message();
    }
    return "";
  }
};

TEST_F(LearnInputTest, Cases) {
  struct Case {
    const char* text;
    const char* error;
  };
  const Case cases[] = {
      {"a;b\nu;u\n", "no rows in statistic file"},
      {"a;b\nu;u\n1;2\n3\n", "Bad csv file format"},
      // Counting ignores an extra field; the table, reading every row again,
      // refuses it.
      {"a;b\nu;u\n1;2;9\n3;4\n", "Bad file format"},
      {"a;b\nu;u\n1;2\n3;4\n", ""},
      {"", "Bad csv file format"},
      {"\n\n1;2\n", "Bad csv file format"},
  };
  for (const Case& c : cases) EXPECT_EQ(LearnError(c.text), c.error) << c.text;
  // Rows of up to 32767 characters are read whole; "0.000...0" reads as 0.
  for (int length : {32766, 32767}) {
    const std::string row = "0." + std::string(length - 4, '0') + ";1";
    EXPECT_EQ(LearnError("a;b\nu;u\n0;1\n" + row + "\n5;2\n"), "") << length;
  }
  std::string missing = Path("none.csv");
  DiscoveryAnalyzer analyzer(0.9, 0.01, 5, "");
  try {
    analyzer.learn(missing.c_str(), nullptr);
    ADD_FAILURE();
  } catch (Exception* e) {
    std::unique_ptr<Exception> owned(e);
    EXPECT_EQ(std::string(e->message()), "File not found " + missing + ".");
  }
}

}  // namespace
}  // namespace kst
