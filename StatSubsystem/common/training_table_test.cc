#include "StatSubsystem/common/training_table.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include <ctime>
#include <filesystem>
#include <fstream>

#include "StatSubsystem/common/exporter_command.h"
#include "StatSubsystem/common/fake_exporter_testing.h"
#include "StatSubsystem/common/product_key.h"
#include "platform/registry_testing.h"
#include "platform/root_doors_testing.h"

namespace kst {
namespace {

using Words = std::vector<std::string>;

// Noon of a day of 2026, local time, as a 32-bit calendar time.
int32_t Day(int month, int day) {
  std::tm t{};
  t.tm_year = 126;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = 12;
  t.tm_isdst = -1;
  return static_cast<int32_t>(std::mktime(&t));
}

TrainingPeriod Period(int32_t from, int32_t till, int32_t window_from, int32_t window_till) {
  return TrainingPeriod{from, till, window_from, window_till};
}

class TrainingTableTest : public ::testing::Test {
 protected:
  void SetUp() override { SetRootDirectory("C:\\Program Files\\Kestrane"); }

  std::string Native(const std::string& name) const { return home_.path() + "/" + name; }
  void Write(const std::string& name, const std::string& text) const {
    std::ofstream(Native(name), std::ios::binary) << text;
  }

  TempKestraneHome home_;
};

TEST_F(TrainingTableTest, ExporterRunsOfAPeriod) {
  SetRootDirectory("D:\\K");
  struct Case {
    TrainingPeriod period;
    uint32_t interval;
    std::vector<std::string> command_lines;
  };
  // The option texts follow the quoted path directly; the empty buffer-name
  // argument keeps its blank.
  const std::string exe = "\"D:\\K\\KestraneExporter.exe\"";
  const Case cases[] = {
      {Period(Day(3, 3), Day(3, 3), 32400, 63000), 300,
       {exe + "  -of \"D:\\K\\t.csv\" -i 5 -day 3 -starttime 09:00 -endtime 17:30 -month 3"}},
      {Period(Day(5, 10), Day(5, 20), 0, 86340), 60,
       {exe + " -e  -of \"D:\\K\\t.csv\" -i 1 -days 10-20 -starttime 00:00 -endtime 23:59 -month 5"}},
      {Period(Day(6, 25), Day(7, 5), 3659, 7199), 61,
       {exe + " -e  -of \"D:\\K\\t.csv\" -i 2 -days 25-31 -starttime 01:00 -endtime 01:59 -month 6",
        exe + " -ngh -e  -of \"D:\\K\\t.csv.0\" -i 2 -days 1-5 -starttime 01:00 -endtime 01:59 -month 7"}},
      {Period(Day(1, 5), Day(2, 5), 0, 0), 1,
       {exe + " -e  -of \"D:\\K\\t.csv\" -i 1 -days 5-31 -starttime 00:00 -endtime 00:00 -month 1",
        exe + " -ngh -e  -of \"D:\\K\\t.csv.0\" -i 1 -days 1-5 -starttime 00:00 -endtime 00:00 -month 2"}},
      {Period(Day(12, 9), Day(12, 9), 86399, 36000), 120,
       {exe + "  -of \"D:\\K\\t.csv\" -i 2 -day 9 -starttime 23:59 -endtime 10:00 -month 12"}},
      {Period(Day(11, 30), Day(12, 1), 0, 60), 121,
       {exe + " -e  -of \"D:\\K\\t.csv\" -i 3 -days 30-31 -starttime 00:00 -endtime 00:01 -month 11",
        exe + " -ngh -e  -of \"D:\\K\\t.csv.0\" -i 3 -days 1-1 -starttime 00:00 -endtime 00:01 -month 12"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> lines;
    for (const TrainingExportRun& run : TrainingExportRuns(c.period, c.interval, "D:\\K\\t.csv")) {
      lines.push_back(run.CommandLine());
    }
    EXPECT_EQ(lines, c.command_lines);
  }
  // The set-up's header-only run: two blanks after the path, one before the
  // quoted output.
  EXPECT_EQ(HeaderOnlyCommandLine(TemporaryExportPath()),
            exe + "  -day 1 -starttime 23:40 -of \"D:\\K\\Temporary\\temporary\"");
}

TEST_F(TrainingTableTest, AcrossTheMonthEndTheTablesAreJoined) {
  InstallFakeExporter(home_.path());
  Write("table.6", "time;A\nTime;x\n0;1\n");
  Write("table.7", "5;2\n6;3\n");
  const std::string output = "C:\\Program Files\\Kestrane\\t.csv";
  int result = -5;
  ExportTrainingData(Period(Day(6, 25), Day(7, 5), 0, 86340), 60, output, &result);
  EXPECT_EQ(result, 0);
  // The read past the last LF of the second table yields one empty line.
  EXPECT_EQ(ReadWholeFile(Native("t.csv")), "time;A\nTime;x\n0;1\n5;2\n6;3\n\n");
  EXPECT_FALSE(std::filesystem::exists(Native("t.csv.0")));
  const std::vector<Words> runs = FakeExporterRuns(home_.path());
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[1], (Words{"-ngh", "-e", "-of", output + ".0", "-i", "1", "-days", "1-5",
                            "-starttime", "00:00", "-endtime", "23:59", "-month", "7"}));

  // A second table without a final LF gains one and no empty line; an
  // empty one adds nothing.
  Write("table.7", "5;2");
  ExportTrainingData(Period(Day(6, 25), Day(7, 5), 0, 86340), 60, output, &result);
  EXPECT_EQ(ReadWholeFile(Native("t.csv")), "time;A\nTime;x\n0;1\n5;2\n");
  Write("table.7", "");
  ExportTrainingData(Period(Day(6, 25), Day(7, 5), 0, 86340), 60, output, &result);
  EXPECT_EQ(ReadWholeFile(Native("t.csv")), "time;A\nTime;x\n0;1\n");

  // A second run that writes nothing leaves the first run's table.
  std::filesystem::remove(Native("table.7"));
  ExportTrainingData(Period(Day(6, 25), Day(7, 5), 0, 86340), 60, output, &result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(ReadWholeFile(Native("t.csv")), "time;A\nTime;x\n0;1\n");
}

TEST_F(TrainingTableTest, ExportFailures) {
  const std::string output = "C:\\Program Files\\Kestrane\\t.csv";
  int result = 0;
  ExportTrainingData(Period(Day(3, 3), Day(3, 3), 0, 60), 60, output, &result);
  EXPECT_EQ(result, -1);  // no exporter

  InstallFakeExporter(home_.path());
  ExportTrainingData(Period(Day(3, 4), Day(3, 3), 0, 60), 60, output, &result);
  EXPECT_EQ(result, -10);
  ExportTrainingData(Period(Day(3, 3), Day(3, 3), 0, 60), 0, output, &result);
  EXPECT_EQ(result, -10);
  EXPECT_TRUE(FakeExporterRuns(home_.path()).empty());

  // An exporter that writes nothing fails, even over an older table.
  Write("t.csv", "time;A\nTime;x\n0;1\n");
  ExportTrainingData(Period(Day(3, 3), Day(3, 3), 0, 60), 60, output, &result);
  EXPECT_EQ(result, -1);
  EXPECT_FALSE(std::filesystem::exists(Native("t.csv")));
}

TEST_F(TrainingTableTest, WantedColumnsInTheWantedOrder) {
  Write("in.csv", "time;A;B\nTime;x;y\n0;1;2\n5;3;4\r\n10;5\n15;6;7\n");
  // A later column of the same title replaces an earlier one; the joined
  // table's final empty line ends the copy.
  Write("dup.csv", "time;A;A\nTime;x;x\n0;1;2\n5;3;4\n\n");
  // A counter cell beyond the object cells belongs to no object; the object
  // line, one cell short of the counter line, ends the copy at once.
  Write("short.csv", "time;A\nTime;x;y\n0;1;2\n");
  struct Case {
    std::vector<std::string> wanted;
    const char* input;
    const char* output;
    int result;
    std::string written;
  };
  const Case cases[] = {
      // both header lines, then rows up to the short one
      {{"B::y", "A::x"}, "in.csv", "out.csv", 4, "B;A\ny;x\n2;1\n4;3\n"},
      {{"time::Time", "B::y"}, "in.csv", "out.csv", 4, "time;B\nTime;y\n0;2\n5;4\n"},
      // a column belongs to the first title that wants it: a title wanted
      // twice leaves the second without one
      {{"B::y", "A::x", "B::y"}, "in.csv", "out.csv", -12, ""},
      {{"A::y"}, "in.csv", "out.csv", -12, ""},
      {{"A::x"}, "dup.csv", "out.csv", 4, "A\nx\n2\n4\n"},
      {{"A::x"}, "short.csv", "out.csv", 0, ""},
      {{"::y"}, "short.csv", "out.csv", -12, ""},
      {{"A::x"}, "missing.csv", "out.csv", -1, "<none>"},
      {{"A::x"}, "in.csv", "no\\out.csv", -11, "<none>"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(Native("out.csv"));
    int result = 0;
    PrepareTrainingCsv(c.wanted, std::string("C:\\Program Files\\Kestrane\\") + c.input,
                       std::string("C:\\Program Files\\Kestrane\\") + c.output, &result);
    EXPECT_EQ(result, c.result) << c.wanted[0] << " " << c.input;
    const bool made = std::filesystem::exists(Native("out.csv"));
    EXPECT_EQ(made ? ReadWholeFile(Native("out.csv")) : "<none>", c.written) << c.wanted[0] << " " << c.input;
  }
}

// What is no regular file, and run as root another user's file, is neither
// read nor cut to become the table: refused at once, named on the log.
TEST_F(TrainingTableTest, OnlyRegularFilesOfRootsOwnAreReadOrWritten) {
  const std::string table = "time;A\nTime;x\n0;1\n";
  Write("in.csv", table);
  // `name` as the input, then as the output: both refused with `why`.
  auto refused_both_ways = [&](const std::string& name, const std::string& why) {
    const std::string kRoot = "C:\\Program Files\\Kestrane\\";
    const std::string as = ::geteuid() == 0 ? " as root: " : ": ";
    int result = 0;
    ::testing::internal::CaptureStderr();
    PrepareTrainingCsv({"A::x"}, kRoot + name, kRoot + "out.csv", &result);
    EXPECT_EQ(result, -1);
    PrepareTrainingCsv({"A::x"}, kRoot + "in.csv", kRoot + name, &result);
    EXPECT_EQ(result, -11);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "refusing to read " + Native(name) + as + Native(name) + why +
                                                            "refusing to write " + Native(name) + as + Native(name) + why);
    EXPECT_FALSE(std::filesystem::exists(Native("out.csv")));
  };
  {
    UnwrittenFifo fifo(Native("pipe.csv"));
    ASSERT_TRUE(fifo.made());
    refused_both_ways("pipe.csv", " is not a regular file; only a regular file is used there\n");
    EXPECT_FALSE(fifo.waited()) << "the table waited on a FIFO";
  }
  {
    // A write that fails on the way (here a file-size limit) is no table.
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 4;
    auto* previous = ::signal(SIGXFSZ, SIG_IGN);
    int result = 0;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    PrepareTrainingCsv({"A::x"}, "C:\\Program Files\\Kestrane\\in.csv", "C:\\Program Files\\Kestrane\\cut.csv",
                       &result);
    ::setrlimit(RLIMIT_FSIZE, &old);
    ::signal(SIGXFSZ, previous);
    EXPECT_EQ(result, -11);
    PrepareTrainingCsv({"A::x"}, "C:\\Program Files\\Kestrane\\in.csv", "C:\\Program Files\\Kestrane\\cut.csv",
                       &result);
    EXPECT_EQ(result, 3);  // the two header lines and the one row
    std::filesystem::remove(Native("cut.csv"));
  }
  if (::geteuid() != 0) return;
  Write("theirs.csv", table);
  ASSERT_EQ(::chown(Native("theirs.csv").c_str(), NobodyUid(), 0), 0);
  refused_both_ways("theirs.csv", " belongs to user " + std::to_string(NobodyUid()) +
                                      ", not root; only root may own and change it\n");
  EXPECT_EQ(ReadWholeFile(Native("theirs.csv")), table);  // not cut
}

}  // namespace
}  // namespace kst
