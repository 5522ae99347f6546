#include "StatSubsystem/KestraneExporter/exporter_options.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

namespace kst {
namespace {

int Parse(std::vector<const char*> words, ExporterOptions* options) {
  words.insert(words.begin(), "KestraneExporter");
  return ParseExporterOptions(static_cast<int>(words.size()), words.data(), options);
}

TEST(ExporterOptionsTest, ResultCodes) {
  struct Case {
    std::vector<const char*> words;
    int code;
  };
  const Case cases[] = {
      {{}, 0},
      {{"-x"}, -1},
      {{"-i", "-5"}, -1},  // a negative number is an unknown word
      {{"-DAY", "3"}, -1},
      {{"-day", "0"}, -2},
      {{"-day", "32"}, -2},
      {{"-day", "x"}, -2},
      {{"-days", "3"}, -3},
      {{"-days", "0-3"}, -3},
      {{"-days", "3-32"}, -3},
      {{"-days", "32-3"}, -3},
      {{"-days", "31-31"}, 0},
      {{"-days", "1-1"}, 0},
      {{"-days"}, -3},
      {{"-days", "-e"}, -3},
      {{"-starttime", "24:00"}, -4},
      {{"-starttime", "10:60"}, -4},
      {{"-starttime", "1000"}, -4},
      {{"-endtime", "7"}, -5},
      {{"-endtime"}, -5},
      {{"-i", "x5"}, -6},
      {{"-i"}, -6},
      {{"-month", "x"}, -7},
      {{"-month"}, -7},
      {{"-of"}, -7},
      {{"-of", "-ngh"}, -7},
      {{"-i", "99999999999999999999"}, 0},
      {{"-i", " -4294967295"}, -6},  // held at INT_MIN, not wrapped to 1
      {{"-days", "5--3"}, -3},
      {{"-days", "5+3"}, -3},
      {{"-starttime", "-1:00"}, -1},
      {{"-starttime", "+1:-5"}, -4},
      {{"-month", "13"}, 0},
      {{"-i", "5x"}, 0},
      {{"-e", "-ngh", "-help"}, 0},
  };
  for (const Case& c : cases) {
    ExporterOptions options;
    options.interval = 77;
    const int code = Parse(c.words, &options);
    EXPECT_EQ(code, c.code) << (c.words.empty() ? "" : c.words[0]);
    if (code != 0) {
      EXPECT_EQ(options.interval, 77) << "record changed on failure";
    }
  }
}

TEST(ExporterOptionsTest, Values) {
  ExporterOptions o;
  ASSERT_EQ(Parse({"-days", "28-3", "-starttime", "08:05", "-endtime", "00:00", "-i", "5x",
                   "-month", "13", "-of", "out.csv", "-e", "-ngh"},
                  &o),
            0);
  EXPECT_EQ(o.firstDay, 28);
  EXPECT_EQ(o.lastDay, 3);
  EXPECT_EQ(o.startTime, 8 * 60 + 5);
  EXPECT_EQ(o.endTime, 0);
  EXPECT_EQ(o.interval, 5);
  EXPECT_EQ(o.month, 13);
  EXPECT_EQ(o.outputFile, "out.csv");
  EXPECT_TRUE(o.allDays);
  EXPECT_TRUE(o.noHeaders);
  EXPECT_FALSE(o.help);
  EXPECT_EQ(o.day, -1);

  ExporterOptions defaults;
  ASSERT_EQ(Parse({}, &defaults), 0);
  EXPECT_EQ(defaults.month, -1);
  EXPECT_EQ(defaults.interval, -1);
  EXPECT_EQ(defaults.startTime, -1);
  EXPECT_TRUE(defaults.outputFile.empty());

  // Numbers as "%d" reads them: blanks and a sign before the digits, text
  // after them ignored, and (our choice) values beyond int held at its limit.
  struct Number {
    std::vector<const char*> words;
    int ExporterOptions::*field;
    int value;
  };
  const Number numbers[] = {
      {{"-i", "+5"}, &ExporterOptions::interval, 5},
      {{"-i", " 7"}, &ExporterOptions::interval, 7},
      {{"-i", "99999999999999999999"}, &ExporterOptions::interval, 2147483647},
      {{"-month", "012"}, &ExporterOptions::month, 12},
      {{"-days", "3- 5"}, &ExporterOptions::lastDay, 5},
      {{"-days", "3-+5"}, &ExporterOptions::lastDay, 5},
      {{"-days", " 3-5"}, &ExporterOptions::firstDay, 3},
      {{"-day", "+9"}, &ExporterOptions::day, 9},
      {{"-starttime", " 1: 5"}, &ExporterOptions::startTime, 65},
      {{"-endtime", "23:59:59"}, &ExporterOptions::endTime, 1439},
  };
  for (const Number& n : numbers) {
    ExporterOptions parsed;
    ASSERT_EQ(Parse(n.words, &parsed), 0) << n.words[1];
    EXPECT_EQ(parsed.*n.field, n.value) << n.words[1];
  }

  ExporterOptions repeated;
  ASSERT_EQ(Parse({"-i", "3", "-i", "9"}, &repeated), 0);
  EXPECT_EQ(repeated.interval, 9);
}

TEST(ExporterOptionsTest, DayWithoutValue) {
  ExporterOptions last;
  ASSERT_EQ(Parse({"-ngh", "-day"}, &last), 0);
  EXPECT_EQ(last.day, 0);
  EXPECT_TRUE(last.noHeaders);

  ExporterOptions before_option;
  ASSERT_EQ(Parse({"-day", "-ngh"}, &before_option), 0);
  EXPECT_EQ(before_option.day, 0);
  EXPECT_TRUE(before_option.noHeaders);
}

TEST(ExporterOptionsTest, WordsPastTheNineteenthAreIgnored) {
  std::vector<const char*> words(17, "-e");  // argv[1..17]
  words.push_back("-ngh");                   // argv[18], the last examined
  words.push_back("-bogus");                 // argv[19]
  words.push_back("-help");
  ExporterOptions o;
  ASSERT_EQ(Parse(words, &o), 0);
  EXPECT_TRUE(o.noHeaders);
  EXPECT_FALSE(o.help);

  // A value past the limit is missing: -day then means the current day.
  std::vector<const char*> day_words(17, "-e");
  day_words.push_back("-day");
  day_words.push_back("5");
  ExporterOptions d;
  ASSERT_EQ(Parse(day_words, &d), 0);
  EXPECT_EQ(d.day, 0);
}

TEST(ExporterOptionsTest, SingleMonthRun) {
  struct Case {
    std::vector<const char*> words;
    bool single;
  };
  const Case cases[] = {
      {{}, true},
      {{"-days", "3-28"}, true},
      {{"-days", "4-3"}, false},
      {{"-days", "28-3"}, false},
      {{"-days", "5-5"}, false},  // one day: the 5th of last month to the 5th of this one
      {{"-days", "5-6"}, true},
      {{"-days", "28-3", "-month", "3"}, true},
      {{"-days", "5-5", "-month", "0"}, true},
      {{"-days", "28-3", "-day", "2"}, true},
      {{"-days", "5-5", "-day"}, true},
  };
  for (const Case& c : cases) {
    ExporterOptions o;
    ASSERT_EQ(Parse(c.words, &o), 0);
    EXPECT_EQ(IsSingleMonthRun(o), c.single) << c.words.size();
  }
}

TEST(ExporterOptionsTest, Texts) {
  std::ostringstream usage;
  PrintExporterUsage(usage);
  EXPECT_EQ(usage.str(),
            "usage: KestraneExporter.exe [options]\n"
            "options:\n"
            "-help \t\tprint this help\n"
            "-i min \t\tintervel between measurings\n"
            "-month [MM|M] \tmonth for collect stats\n"
            "-day [DD|D] \tday for collect stats (empty value - current day)\n"
            "-days [DD|D-DD|D] days for collect stats (empty value - current day)\n"
            "-starttime [hh:mm] - time bounds for the first day (-starttime) and the last day "
            "(-endtime)\n"
            "-endtime   [hh:mm] /  (default values - 00:00 and 24:00)\n"
            "-e\t\tapply time bounds for all days in set\n"
            "\t\t(atlist one of them should be defined)\n"
            "-ngh\t\tdon't print groups and headers");

  std::ostringstream error;
  PrintExporterError(error, "bad parameter");
  EXPECT_EQ(error.str(), "KestraneExporter.exe: error bad parameter\n");

  const std::pair<int, const char*> messages[] = {
      {-1, "gatherer parameters loading failed"},
      {-2, "destination file opening failed"},
      {-3, "input statistics file opening failed"},
      {-4, "internal error (1)"},
      {-5, "input statistics file is not a regular file"},
      {-6, "input statistics file has damaged header lines"},
      {-7, "destination file is a folder, a block device or a socket"},
      {-8, "destination file writing failed"},
      {-9, "no process reads the destination FIFO"},
      {-10, "unknown error"},
      {0, "unknown error"},
  };
  for (const auto& [code, text] : messages) EXPECT_STREQ(ExportFailureMessage(code), text) << code;
}

}  // namespace
}  // namespace kst
