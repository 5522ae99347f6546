#include "Ruleforge/statistics_table.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>

#include "Ruleforge/exceptions.h"
#include "Ruleforge/parameter_list.h"
#include "Ruleforge/shared_progress.h"
#include "platform/registry_testing.h"

namespace kst {
namespace {

class StatisticsTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = std::make_unique<TempKestraneHome>();
    path_ = home_->path() + "/table.csv";
    // Feature 0: [1, 2]; feature 1: [10, 10].
    for (const auto& values : {std::map<std::string, double>{{"1", 0.5}, {"2", 0.5}},
                               std::map<std::string, double>{{"10", 1.0}}}) {
      scales_.push_back(std::make_unique<IntervalScale>(1, 0.001, 0.01, 100));
      scales_.back()->build(values, 0);
    }
  }
  void Write(const std::string& text) { std::ofstream(path_) << text; }

  // The exception's text, or "" when load does not throw.
  std::string LoadError(StatisticsTable& table) {
    try {
      table.load();
    } catch (Exception* e) {
      std::unique_ptr<Exception> owned(e);
      return e->message();
    }
    return "";
  }

  std::unique_ptr<TempKestraneHome> home_;
  std::string path_;
  std::vector<std::unique_ptr<IntervalScale>> scales_;
};

TEST_F(StatisticsTableTest, PlacesEveryCellByItsScale) {
  Write("a;b\nx;y\n1;10\n2.5;10\n;;1.5;;3\n");
  StatisticsTable table(path_.c_str(), &scales_);
  EXPECT_EQ(LoadError(table), "");
  ASSERT_EQ(table.rowCount(), 3);
  EXPECT_EQ(std::vector<int>(table.row(0).begin(), table.row(0).end()), (std::vector<int>{0, 0}));
  EXPECT_EQ(std::vector<int>(table.row(1).begin(), table.row(1).end()), (std::vector<int>{1, 0}));
  EXPECT_EQ(std::vector<int>(table.row(2).begin(), table.row(2).end()), (std::vector<int>{0, 1}));
  EXPECT_EQ(table.featureCount(), 2);
  EXPECT_EQ(table.indexCount(0), 2);
}

TEST_F(StatisticsTableTest, PlacesOnlyTheFirst13Characters) {
  // Whole, and in its first 14 characters, the value lies above 2; its
  // first 13 characters read 2.0.
  Write("a;b\nx;y\n2.0000000000091;10\n");
  StatisticsTable table(path_.c_str(), &scales_);
  EXPECT_EQ(LoadError(table), "");
  ASSERT_EQ(table.rowCount(), 1);
  EXPECT_EQ(table.row(0)[0], 0);
}

TEST_F(StatisticsTableTest, LoadCases) {
  struct Case {
    const char* text;
    const char* error;
    int rows;
  };
  const Case cases[] = {
      {"a;b\nx;y\n", "", 0},
      {"a;b\nx;y", "", 0},
      {"", "", 0},
      {"a;b\nx;y\n1;10\n1\n2;10\n", "Bad file format", 1},
      {"a;b\nx;y\n1;10;5\n", "Bad file format", 0},
      {"a;b\nx;y\n1;10\n\n", "Bad file format", 1},
  };
  for (const Case& c : cases) {
    Write(c.text);
    StatisticsTable table(path_.c_str(), &scales_);
    EXPECT_EQ(LoadError(table), c.error) << c.text;
    EXPECT_EQ(table.rowCount(), c.rows) << c.text;
  }
}

TEST_F(StatisticsTableTest, MissingFileAndOverlongLine) {
  std::string missing = home_->path() + "/none.csv";
  StatisticsTable absent(missing.c_str(), &scales_);
  EXPECT_EQ(LoadError(absent), "File not found " + missing + ".");

  Write("a;b\nx;y\n1;10\n" + std::string(1048576, '1') + "\n2;10\n");
  StatisticsTable table(path_.c_str(), &scales_);
  EXPECT_EQ(LoadError(table), "");  // the long line ends the load quietly
  EXPECT_EQ(table.rowCount(), 1);
}

TEST(SharedProgressTest, KeepsOnlyValuesInRange) {
  SharedProgress progress;
  double v = -1;
  ASSERT_TRUE(progress.get(&v));
  EXPECT_EQ(v, 0.0);
  EXPECT_TRUE(progress.set(0.4));
  EXPECT_FALSE(progress.set(1.2));
  EXPECT_FALSE(progress.set(-0.1));
  EXPECT_TRUE(progress.get(&v));
  EXPECT_EQ(v, 0.4);
  EXPECT_TRUE(progress.set(1.0));
  EXPECT_TRUE(progress.set(0.0));
}

TEST(ParameterListTest, MatchesByExactName) {
  class TwoEntries : public ParameterList {
   public:
    TwoEntries() {
      entries_.emplace_back("rate", "", 0.5, 0.5, 0.0, 1.0);
      entries_.emplace_back("name", "", "a", "a");
    }
  } list;
  EXPECT_EQ(list.size(), 2);
  ParameterValue out("marker", "", 7, 7, 0, 10, 1);
  EXPECT_FALSE(list.get(out, "Rate"));
  EXPECT_STREQ(out.name(), "marker");  // unchanged
  EXPECT_FALSE(list.getAt(out, 2));
  EXPECT_FALSE(list.getAt(out, -1));
  EXPECT_STREQ(out.name(), "marker");
  EXPECT_TRUE(list.getAt(out, 1));
  EXPECT_STREQ(out.data().s.value, "a");

  EXPECT_TRUE(list.set(ParameterValue("rate", "", 0.75, 0.5, 0.0, 1.0)));
  EXPECT_FALSE(list.set(ParameterValue("other", "", 0.75, 0.5, 0.0, 1.0)));
  ASSERT_TRUE(list.get(out, "rate"));
  EXPECT_EQ(out.data().r.value, 0.75);
  EXPECT_TRUE(list.clear());
  EXPECT_EQ(list.size(), 0);
}

}  // namespace
}  // namespace kst
