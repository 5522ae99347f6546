#include "KestraneAlerter/report_text.h"

#include <gtest/gtest.h>

#include "KestraneAlerter/alerter_testing.h"

namespace kst {
namespace {

class ReportTextTest : public AlerterTest {
 protected:
  void SetUp() override {
    AlerterTest::SetUp();
    SetCounterTitle(1, "C1");
    SetCounterTitle(2, "C2");
    SetCounterTitle(3, "C3");
  }
  static AlertMessage WithParts(int8_t level, const std::string& log, const std::string& analyzer) {
    AlertMessage m = Message(level, log, analyzer, "d");
    m.counterParts.push_back({{1, 2}, {3}});
    return m;
  }
};

TEST_F(ReportTextTest, OneMessageWithAndWithoutCaptions) {
  AlertMessage m = WithParts(45, "L1", "A1");
  ShellDeliverySettings s("s");
  EXPECT_EQ(buildReportText({&m}, s),
            "Warning Level: 45\nDetails:\nAnalyzer: A1, Log: L1:\n- d, warning level: 45.\n"
            "Base counters:\nC1, C2\nResult counters:\nC3\n");
  s.includeComments = false;
  EXPECT_EQ(buildReportText({&m}, s), "45\nA1, L1:\n- d, warning level: 45.\nC1, C2 -> C3\n");
  // Titles alone: the header has no ":" since nothing follows it.
  s.includeDescription = s.includeCounterNames = false;
  EXPECT_EQ(buildReportText({&m}, s), "45\nA1, L1\n");
  s.includeComments = true;
  s.includeAnalyzerTitles = false;
  EXPECT_EQ(buildReportText({&m}, s), "Warning Level: 45\n");
}

TEST_F(ReportTextTest, AverageRoundsHalfUp) {
  ShellDeliverySettings s("s");
  s.includeComments = s.includeAnalyzerTitles = s.includeDescription = s.includeCounterNames = false;
  struct Case {
    std::vector<int8_t> levels;
    const char* text;
  } cases[] = {
      {{50, 51}, "51\n"}, {{10, 10, 11}, "10\n"}, {{100}, "100\n"}, {{1, 2}, "2\n"},
  };
  for (const Case& c : cases) {
    std::vector<AlertMessage> messages;
    for (int8_t level : c.levels) messages.push_back(Message(level, "l", "a", "d"));
    AlertList list;
    for (const AlertMessage& m : messages) list.push_back(&m);
    EXPECT_EQ(buildReportText(list, s), c.text);
  }
}

TEST_F(ReportTextTest, GroupsByAnalyzerAndLog) {
  AlertMessage first = WithParts(10, "L1", "A");
  AlertMessage second = WithParts(20, "L1", "A");
  AlertMessage otherLog = Message(30, "L2", "A", "plain");
  ShellDeliverySettings s("s");
  s.includeCounterNames = false;
  EXPECT_EQ(buildReportText({&otherLog, &first, &second}, s),
            "Warning Level: 20\nDetails:\nAnalyzer: A, Log: L1:\n- d, warning level: 10.\n"
            "- d, warning level: 20.\nLog: L2\nplain, warning level: 30.\n");
}

TEST_F(ReportTextTest, EqualKeysKeepTheSortsOrder) {
  // "Ab"+"c" and "A"+"bc" are one key: the selection sort decides, and each
  // gets its own header.
  AlertMessage x = Message(1, "c", "Ab", "x");
  AlertMessage y = Message(1, "bc", "A", "y");
  AlertMessage z = Message(1, "a", "A", "z");
  AlertList sorted = orderForReport({&x, &y, &z});
  // z is smallest; swapping it into place moves x behind y.
  ASSERT_EQ(sorted.size(), 3u);
  EXPECT_EQ(sorted[0], &z);
  EXPECT_EQ(sorted[1], &y);
  EXPECT_EQ(sorted[2], &x);
  ShellDeliverySettings s("s");
  s.includeComments = false;
  s.includeDescription = false;
  EXPECT_EQ(buildReportText({&x, &y}, s), "1\nAb, c\nA, bc\n");
}

TEST_F(ReportTextTest, UnknownCountersAndCutting) {
  AlertMessage m = Message(7, "L", "A", "d");
  m.counterParts.push_back({{1, 99, 2}, {}});
  ShellDeliverySettings s("s");
  s.includeComments = false;
  s.includeAnalyzerTitles = false;
  s.includeDescription = false;
  EXPECT_EQ(buildReportText({&m}, s), "7\nC1, , C2 -> \n");

  AlertMessage big = Message(7, "L", "A", std::string(1200, 'x'));
  s.includeDescription = true;
  s.maxMessageLength = 1000;
  std::string text = buildReportText({&big}, s);
  EXPECT_EQ(text.size(), 1000u);
  EXPECT_EQ(text.substr(0, 3), "7\nx");
  s.maxMessageLength = -5;
  EXPECT_GT(buildReportText({&big}, s).size(), 1200u);
  s.maxMessageLength = 0;
  EXPECT_EQ(buildReportText({&big}, s), "");

  // A cut that would split a UTF-8 character is made before it; bytes that
  // are no UTF-8 character are cut where they stand.
  s.includeDescription = false;
  s.includeAnalyzerTitles = true;
  struct Case {
    const char* log;
    int length;
    const char* text;
  } cases[] = {
      {"M\xc3\xa9moire", 6, "7\nA, M"},      {"M\xc3\xa9moire", 7, "7\nA, M"},
      {"M\xc3\xa9moire", 8, "7\nA, M\xc3\xa9"}, {"\xe2\x82\xac", 6, "7\nA, "},
      {"\xe2\x82\xac", 7, "7\nA, "},         {"\xe2\x82\xac", 8, "7\nA, \xe2\x82\xac"},
      {"\xf0\x9f\x94\xa5", 8, "7\nA, "},     {"\xf0\x9f\x94\xa5!", 9, "7\nA, \xf0\x9f\x94\xa5"},
      {"x\xa9\xa9\xa9\xa9", 8, "7\nA, x\xa9\xa9"}, {"\xe9t\xe9", 7, "7\nA, \xe9t"},
  };
  for (const Case& c : cases) {
    AlertMessage latin = Message(7, c.log, "A", "d");
    s.maxMessageLength = c.length;
    EXPECT_EQ(buildReportText({&latin}, s), c.text) << c.log << " cut to " << c.length;
  }
}

TEST_F(ReportTextTest, NegativeLevelPrintsUnsigned) {
  AlertMessage m = Message(-1, "L", "A", "d");
  ShellDeliverySettings s("s");
  s.includeComments = s.includeAnalyzerTitles = s.includeCounterNames = false;
  EXPECT_EQ(buildReportText({&m}, s), "4294967295\nd, warning level: 4294967295.\n");
}

}  // namespace
}  // namespace kst
