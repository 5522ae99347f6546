// Training on fixed tables with a fixed seed must give exactly the state
// file and rules dump stored under testdata/: any change to how learning
// reads, counts, converts or clusters shows here as a byte difference.
// KST_WRITE_GOLDEN=1 rewrites the stored files instead of comparing.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "Ruleforge/analyzer.h"
#include "Ruleforge/exceptions.h"
#include "Ruleforge/ruleforge_testing.h"
#include "platform/registry_testing.h"
#include "tools/e2e/demo_model.h"

namespace kst {
namespace {

constexpr uint32_t kSearchSeed = 20261209;
constexpr int kEras = 400;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Texts a hand-made or foreign table may hold: one value written several
// ways (each its own text), signs, exponents, cells longer than the 13
// characters the table places, and empty fields.
void WriteMixedCsv(const std::string& path, int rows) {
  static const char* const kTexts[] = {
      "1",     "1.0",   "1.00",   "+1",        "-.5",          "-0.5",     "0",        "-0",
      "2e1",   "20",    "20.",    "1e3",       "999.999",      "3.5x",     "12abc",    "0.0001",
      "7",     "7.25",  "7.2500", "-3",        "1234567.8901", "2.00000000000099",     "1E2",
      "100",   "55.5",  "56",     "57.000001", "-12.125",      "4.4",      "4.40000000000000036"};
  constexpr int kTextCount = sizeof kTexts / sizeof kTexts[0];
  std::ofstream out(path);
  out << "a;b;c;d;e\nx;y;z;w;v\n";
  uint32_t state = 99;
  auto next = [&state] {
    state = state * 1103515245u + 12345u;
    return (state >> 8) % 1000000;
  };
  for (int r = 0; r < rows; ++r) {
    int level = static_cast<int>(next() % 3);
    for (int f = 0; f < 5; ++f) {
      // Mostly tied to the level, so that rules exist.
      int pick = next() % 5 == 0 ? static_cast<int>(next() % kTextCount) : (level * 7 + f * 3) % kTextCount;
      out << (f ? (r % 11 == 0 ? ";;" : ";") : "") << kTexts[pick];
    }
    out << "\n";
  }
}

// A month of the demonstration machine every ten minutes, as its log's
// training table holds it: the minute of the day, then four counters,
// written as the exporter writes values. Read in UTC, so that the table is
// the same wherever the test runs.
void WriteDemoMonth(const std::string& path) {
  const char* saved = std::getenv("TZ");
  const std::string previous = saved ? saved : "";
  ::setenv("TZ", "UTC0", 1);
  ::tzset();
  static const char* const kCounters[] = {"% Processor Time", "Available MBytes", "Processes", "Threads"};
  std::ofstream out(path);
  out << "time;cpu;memory;processes;threads\nTime;c1;c2;c3;c4\n";
  const std::time_t start = 1782864000;  // the first of a month, midnight UTC
  char cell[64];
  for (std::time_t t = start; t < start + 31 * 86400; t += 600) {
    out << (t - start) % 86400 / 60;
    const double load = DemoLoad(t);
    for (const char* counter : kCounters) {
      std::snprintf(cell, sizeof cell, ";%.18g", DemoValue(counter, load));
      out << cell;
    }
    out << "\n";
  }
  if (saved) {
    ::setenv("TZ", previous.c_str(), 1);
  } else {
    ::unsetenv("TZ");
  }
  ::tzset();
}

struct GoldenCase {
  const char* name;
  void (*write)(const std::string& path);
};

const GoldenCase kCases[] = {
    {"exporter_cells",
     [](const std::string& p) { WriteStructuredCsv(p, 3000, 12, 7, CellStyle::kExporter); }},
    {"two_decimal_cells", [](const std::string& p) { WriteStructuredCsv(p, 3000, 12, 11); }},
    {"mixed_texts", [](const std::string& p) { WriteMixedCsv(p, 1500); }},
    {"demo_month", WriteDemoMonth},
};

TEST(LearnGoldenTest, StateFileAndRulesDumpAreByteIdentical) {
  TempKestraneHome home;
  const bool rewrite = std::getenv("KST_WRITE_GOLDEN") != nullptr;
  for (const GoldenCase& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string csv = home.path() + "/" + c.name + ".csv";
    const std::string dump = home.path() + "/" + c.name + ".rules";
    c.write(csv);
    DiscoveryAnalyzer analyzer(0.9, 0.01, kEras, dump);
    analyzer.setSearchOptions({.seed = kSearchSeed});
    analyzer.learn(csv.c_str(), nullptr);
    std::ostringstream state;
    analyzer.save(state);

    // Counted a column a pass, learning comes to the same.
    DiscoveryAnalyzer column_by_column(0.9, 0.01, kEras, "");
    column_by_column.setSearchOptions({.seed = kSearchSeed});
    column_by_column.setCountingBudget(1);
    column_by_column.learn(csv.c_str(), nullptr);
    std::ostringstream column_state;
    column_by_column.save(column_state);
    EXPECT_TRUE(column_state.str() == state.str()) << "counted a column a pass, learning differs";

    const std::string golden = std::string(KST_RULEFORGE_TESTDATA) + "/" + c.name;
    if (rewrite) {
      std::ofstream(golden + ".state", std::ios::binary) << state.str();
      std::ofstream(golden + ".rules", std::ios::binary) << ReadAll(dump);
      continue;
    }
    const std::string want_state = ReadAll(golden + ".state");
    ASSERT_FALSE(want_state.empty()) << "no golden file " << golden << ".state";
    EXPECT_TRUE(state.str() == want_state) << "state file differs from " << golden << ".state";
    EXPECT_EQ(ReadAll(dump), ReadAll(golden + ".rules"));
  }
}

// Values that probe a stored analyzer where judgements turn: each learned
// bound, a little inside and outside it (by less and by more than the
// six-decimal text rounds away), the middles, and far off.
std::vector<std::vector<double>> ProbeValues(const DiscoveryAnalyzer& analyzer, int count) {
  std::vector<std::vector<double>> candidates;
  for (const auto& scale : analyzer.scales()) {
    std::vector<double> c = {-1e9, 0.0, 1e9};
    for (const auto& [lo, hi] : scale->intervals()) {
      for (double x : {lo, hi}) {
        for (double d : {0.0, 4e-7, -4e-7, 6e-7, -6e-7, 1e-3, -1e-3}) c.push_back(x + d);
      }
      c.push_back((lo + hi) / 2);
    }
    candidates.push_back(c);
  }
  uint32_t state = 17;
  std::vector<std::vector<double>> probes(count);
  for (auto& values : probes) {
    for (const auto& c : candidates) {
      state = state * 1664525u + 1013904223u;
      values.push_back(c[(state >> 8) % c.size()]);
    }
  }
  return probes;
}

// The stored analyzers judge probe values, at three sensitivities, into
// exactly the stored messages, levels, details and debug files.
TEST(LearnGoldenTest, StoredAnalyzersJudgeAsBefore) {
  TempKestraneHome home;
  std::ostringstream judged;
  for (const GoldenCase& c : kCases) {
    const std::string golden = std::string(KST_RULEFORGE_TESTDATA) + "/" + c.name;
    for (double p : {-1.0, 0.9, 0.2}) {
      DiscoveryAnalyzer analyzer;
      std::istringstream state(ReadAll(golden + ".state"));
      analyzer.load(state);
      analyzer.tune(p);
      int i = 0;
      for (const std::vector<double>& values : ProbeValues(analyzer, 12)) {
        std::string message;
        AnomalyDetails.clear();
        ASSERT_TRUE(analyzer.check(message, &values));
        judged << c.name << " " << p << " " << i++ << ": " << anomalyLevel << " '" << message << "'";
        for (const AnomalyDetail& d : AnomalyDetails) {
          judged << " ";
          for (int f : d.baseFeatures) judged << f << ",";
          judged << "->";
          for (int f : d.resultFeatures) judged << f << ",";
        }
        judged << "\n" << ReadAll(home.path() + "/freq.txt");
      }
    }
  }
  const std::string golden = std::string(KST_RULEFORGE_TESTDATA) + "/judgements.txt";
  if (std::getenv("KST_WRITE_GOLDEN") != nullptr) {
    std::ofstream(golden, std::ios::binary) << judged.str();
    return;
  }
  const std::string want = ReadAll(golden);
  ASSERT_FALSE(want.empty()) << "no golden file " << golden;
  EXPECT_TRUE(judged.str() == want) << "judgements differ from " << golden;
}

std::string LearnError(const std::string& csv, size_t budget) {
  DiscoveryAnalyzer analyzer(0.9, 0.01, 0, "");
  analyzer.setCountingBudget(budget);
  try {
    analyzer.learn(csv.c_str(), nullptr);
  } catch (Exception* e) {
    std::unique_ptr<Exception> owned(e);
    return e->message();
  }
  return "";
}

// A row short of a field fails learning however many passes the counting
// takes; a row of 32767 characters is whole, a longer line comes in pieces
// of 32768 characters, as the C library's line reader with a 32769-byte
// buffer gives it.
TEST(LearnGoldenTest, RowsAreCheckedWholeAndLongLinesComeInPieces) {
  TempKestraneHome home;
  const std::string csv = home.path() + "/t.csv";
  {
    std::ofstream out(csv);
    out << "a;b;c\nx;y;z\n";
    for (int r = 0; r < 2000; ++r) out << r % 7 << ";" << r % 5 << ";" << r << "\n";
    out << "1;2\n";
  }
  for (size_t budget : {size_t{1}, size_t{1} << 30}) {
    EXPECT_EQ(LearnError(csv, budget), "Bad csv file format") << budget;
  }
  const std::pair<size_t, const char*> cases[] = {{32767, ""}, {32768, "Bad csv file format"}};
  for (const auto& [length, error] : cases) {
    std::ofstream(csv) << "a\nx\n" << std::string(length, '1') << "\n2\n";
    EXPECT_EQ(LearnError(csv, size_t{1} << 30), error) << length;
  }
}

}  // namespace
}  // namespace kst
