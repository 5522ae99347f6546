#include "Ruleforge/analyzer.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <regex>
#include <sstream>

#include "Ruleforge/binary_io.h"
#include "Ruleforge/exceptions.h"
#include "Ruleforge/ruleforge_testing.h"
#include "platform/registry_testing.h"

namespace kst {
namespace {

// A state file made field by field, as a stored one would be.
struct StateFile {
  struct StoredRule {
    std::vector<FeaturePair> conclusion;
    std::vector<FeaturePair> premise;
  };
  std::vector<StoredRule> rules;
  std::vector<IntervalScale> scales;
  std::vector<FeatureGroup> groups;
  double odds = 1.0;

  std::string Bytes() const {
    std::ostringstream out;
    WriteF64(out, 0.9);
    WriteF64(out, 0.01);
    WriteI32(out, static_cast<int32_t>(rules.size()));
    for (const StoredRule& r : rules) {
      WriteF64(out, 0.95);
      WriteF64(out, 0.001);
      for (const auto* pairs : {&r.conclusion, &r.premise}) {
        WriteI32(out, static_cast<int32_t>(pairs->size()));
        for (const FeaturePair& p : *pairs) {
          WriteI32(out, p.feature);
          WriteI32(out, p.interval);
        }
      }
    }
    WriteI32(out, static_cast<int32_t>(scales.size()));
    for (const IntervalScale& s : scales) s.write(out);
    WriteI32(out, static_cast<int32_t>(groups.size()));
    for (const FeatureGroup& g : groups) {
      WriteI32(out, static_cast<int32_t>(g.lengthCounts.size()));
      for (int n : g.lengthCounts) WriteI32(out, n);
      WriteI32(out, g.longerCount);
    }
    WriteF64(out, odds);
    return out.str();
  }
};

// One interval [lo, hi].
IntervalScale Scale(const char* lo, const char* hi) {
  IntervalScale s(1, 0.001, 0.01, 100);
  s.build({{lo, 0.5}, {hi, 0.5}}, 0);
  return s;
}

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

TEST_F(AnalyzerTest, ConstructionFillsTheParameterList) {
  DiscoveryAnalyzer analyzer(0.8, 0.02, 77, "rules.txt");
  ParameterList& list = analyzer.parameters();
  ASSERT_EQ(list.size(), 4);
  ParameterValue p;
  ASSERT_TRUE(list.getAt(p, 0));
  EXPECT_STREQ(p.name(), "probability threshold");
  EXPECT_EQ(p.data().r.value, 0.8);
  EXPECT_EQ(p.data().r.defaultValue, 0.999);
  ASSERT_TRUE(list.get(p, "fischer threshold"));
  EXPECT_EQ(p.data().r.value, 0.02);
  EXPECT_EQ(p.data().r.defaultValue, 0.05);
  ASSERT_TRUE(list.get(p, "number of eras"));
  EXPECT_EQ(p.data().i.value, 77);
  EXPECT_EQ(p.data().i.maximum, 2147483647);
  ASSERT_TRUE(list.get(p, "file with rules"));
  EXPECT_STREQ(p.data().s.value, "rules.txt");
  EXPECT_EQ(analyzer.kindId()[0], 0x91);
  EXPECT_EQ(DiscoveryAnalyzer().parameters().size(), 4);
}

class LearnedAnalyzerTest : public AnalyzerTest {
 protected:
  void SetUp() override {
    AnalyzerTest::SetUp();
    csv_ = Path("train.csv");
    WriteStructuredCsv(csv_, 800, 8, 3);
    learned_ = std::make_unique<DiscoveryAnalyzer>(0.9, 0.01, 100, Path("rules.txt"));
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

TEST_F(LearnedAnalyzerTest, LearnsScalesGroupsAndRules) {
  ASSERT_GT(learned_->ruleBase().size(), 5u);
  EXPECT_EQ(learned_->scaleCount(), 8);
  EXPECT_EQ(learned_->odds(), 1.0);
  double v;
  progress_.get(&v);
  EXPECT_EQ(v, 1.0);
  // The groups count the rules by length for every feature they conclude on.
  std::vector<FeatureGroup> expected(8, FeatureGroup{{0, 0, 0}, 0});
  for (const AnalyzerRule& r : learned_->ruleBase()) {
    EXPECT_EQ(r.conclusionCount, static_cast<int>(r.conclusion.size()));
    EXPECT_EQ(r.premiseCount, static_cast<int>(r.premise.size()));
    EXPECT_GE(r.probability, 0.9);
    size_t len = r.conclusion.size() + r.premise.size();
    for (const FeaturePair& p : r.conclusion) {
      if (len > 3) {
        ++expected[p.feature].longerCount;
      } else {
        ++expected[p.feature].lengthCounts[len - 1];
      }
    }
  }
  for (int f = 0; f < 8; ++f) {
    EXPECT_EQ(learned_->featureGroups()[f].lengthCounts, expected[f].lengthCounts) << f;
    EXPECT_EQ(learned_->featureGroups()[f].longerCount, expected[f].longerCount) << f;
  }
}

TEST_F(LearnedAnalyzerTest, DumpsOneReadableLinePerRule) {
  std::ifstream dump(Path("rules.txt"));
  const std::regex item(R"(\(X\d+ in \((-?\d+\.\d{6},-?\d+\.\d{6}|out of bounds)\)\))");
  const std::string i = R"(\(X\d+ in \((?:-?\d+\.\d{6},-?\d+\.\d{6}|out of bounds)\)\))";
  const std::regex line("^" + i + "( \\| " + i + ")* <- (" + i + "( & " + i + ")*)?$");
  std::string text;
  size_t lines = 0;
  while (std::getline(dump, text)) {
    EXPECT_TRUE(std::regex_match(text, line)) << text;
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
  };
  for (const Case& c : cases) {
    StateFile file = FourFeatures(0, 0);
    file.rules = {{{{1, c.interval}}, {{0, 0}}}};
    file.odds = c.odds;
    std::string message = Check(file, {5, c.value, 0, 0});
    EXPECT_EQ(!message.empty(), c.anomalous) << c.interval << " " << c.odds << " " << c.value;
  }
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
