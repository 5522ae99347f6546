#include "StatSubsystem/KestraneExporter/buffer_exporter.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <vector>

#include "StatSubsystem/KestraneExporter/buffer_exporter_testing.h"
#include "StatSubsystem/KestraneExporter/exporter_run.h"
#include "StatSubsystem/common/ring_buffer.h"
#include "StatSubsystem/common/service_keys.h"
#include "platform/registry.h"
#include "platform/registry_testing.h"

namespace kst {
namespace {

TEST_F(BufferExporterTest, HeaderLinesAndValueFormat) {
  MakeBuffer(60, {"\\Memory", "Processor(_Total)"}, {"Available Bytes", "% Processor Time"});
  Sample(3, 5, 60, {0.0, 12.5});
  Sample(3, 5, 120, {0.1, -3e300});
  const std::string text = Run({"-day", "5", "-month", "3"}, Date(3, 9));
  EXPECT_EQ(text,
            "time;_Memory;Processor(_Total)\n"
            "Time;Available Bytes;% Processor Time\n"
            "60;0;12.5\n"
            "120;0.100000000000000006;-3.00000000000000016e+300\n");
  EXPECT_EQ(Run({"-day", "5", "-month", "3", "-ngh"}, Date(3, 9)), "60;0;12.5\n120;0.100000000000000006;-3.00000000000000016e+300\n");
}

TEST_F(BufferExporterTest, ValuesPrintAsPrintfWould) {
  const std::vector<double> values = {
      0.0, -0.0, 12.5, -7, 0.1, 1e-300, 5e-324, -3e300, 1e17, 123456789012345678.0,
      999999999999999999.0, 1e18, 9007199254740993.0, -4503599627370497.5,
      std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
  std::vector<std::string> names(values.size(), "c");
  MakeBuffer(60, names, names);
  Sample(3, 5, 0, values);
  std::string expected = "0";
  for (double v : values) {
    char text[40];
    std::snprintf(text, sizeof text, ";%.18g", v);
    expected += text;
  }
  EXPECT_EQ(Run({"-day", "5", "-month", "3", "-ngh"}, Date(3, 9)), expected + "\n");
}

TEST_F(BufferExporterTest, DayFilters) {
  MakeBuffer(1, {"A"}, {"x"});
  FillDay(4, 1);
  FillDay(4, 2, 0, 10);
  // Day 1 is read to the first slot of day 2, which the day filter drops.
  EXPECT_EQ(Minutes(Run({"-day", "1"}, Date(4, 1))).size(), 1440u);
  EXPECT_EQ(Minutes(Run({"-day", "2"}, Date(4, 1))).size(), 11u);
  // No day given: today.
  EXPECT_EQ(Minutes(Run({}, Date(4, 2))).size(), 11u);
  // -day without value: today; -endtime 00:00 means the whole day.
  EXPECT_EQ(Minutes(Run({"-endtime", "00:00", "-day"}, Date(4, 1))).size(), 1440u);
  EXPECT_EQ(Minutes(Run({"-starttime", "23:50", "-day", "1"}, Date(4, 9))),
            (std::vector<int>{1430, 1431, 1432, 1433, 1434, 1435, 1436, 1437, 1438, 1439}));
}

TEST_F(BufferExporterTest, MonthFilter) {
  MakeBuffer(60, {"A"}, {"x"});
  FillDay(3, 31);  // an older month's day 31 in a 30-day April
  FillDay(4, 30);
  EXPECT_TRUE(Minutes(Run({"-day", "31"}, Date(4, 30))).empty());
  EXPECT_EQ(Minutes(Run({"-day", "31", "-month", "3"}, Date(4, 30))).size(), 24u);
  // -month alone: every written slot of the month, from slot 0 to the end.
  EXPECT_EQ(Minutes(Run({"-month", "4"}, Date(5, 2))).size(), 24u);
  EXPECT_EQ(Minutes(Run({"-month", "4", "-ngh"}, Date(5, 2)), false).size(), 24u);
  EXPECT_EQ(Lines(Run({"-month", "13"}, Date(4, 30))).size(), 2u);  // headers only
}

TEST_F(BufferExporterTest, SpacingCountsFromLastKeptMinute) {
  MakeBuffer(5, {"A"}, {"x"});
  FillDay(4, 1, 0, 60);
  // Slot of minute 15 never written, slot of minute 25 torn (no int holds
  // its key or minute): spacing restarts at 20 and goes on from there.
  std::fstream f(buffer_, std::ios::binary | std::ios::in | std::ios::out);
  f.seekp(static_cast<std::streamoff>(SlotOffset(header_, width_, 3)));
  WriteSlot(f, RingBufferSlot{0, 0, {0}});
  f.seekp(static_cast<std::streamoff>(SlotOffset(header_, width_, 5)));
  WriteSlot(f, RingBufferSlot{std::numeric_limits<double>::quiet_NaN(), 1e300, {0}});
  f.close();
  EXPECT_EQ(Minutes(Run({"-day", "1", "-i", "15"}, Date(4, 1))),
            (std::vector<int>{0, 20, 35, 50}));
  EXPECT_EQ(Minutes(Run({"-day", "1", "-i", "0"}, Date(4, 1))).size(), 11u);
}

// The collector grows the file slot by slot; a slot it has only begun is not
// a row yet.
TEST_F(BufferExporterTest, SlotOnlyBegunAtTheEndGivesNoRow) {
  MakeBuffer(60, {"A", "A"}, {"x", "y"});
  Sample(4, 1, 0, {1, 2});
  {
    std::ofstream f(buffer_, std::ios::binary | std::ios::app);
    const std::string next = EncodeSlot(RingBufferSlot{DateKey(4, 1), 60, {3, 4}});
    f << next.substr(0, next.size() - 3);
  }
  EXPECT_EQ(Run({"-month", "4", "-ngh"}, Date(4, 1)), "0;1;2\n");
  EXPECT_EQ(Run({"-day", "1", "-ngh"}, Date(4, 1)), "0;1;2\n");
}

TEST_F(BufferExporterTest, DayRangeWithBounds) {
  MakeBuffer(60, {"A"}, {"x"});
  for (int d = 2; d <= 6; ++d) FillDay(4, d);
  // 08:00 on the first day, 18:00 on the last.
  std::vector<int> m = Minutes(Run({"-days", "3-5", "-starttime", "08:00", "-endtime", "18:00"}, Date(4, 9)));
  EXPECT_EQ(m.size(), 16u + 24u + 19u);
  EXPECT_EQ(m.front(), 480);
  EXPECT_EQ(m.back(), 1080);
  // -e: 08:00 to 18:00 on every day.
  m = Minutes(Run({"-days", "3-5", "-starttime", "08:00", "-endtime", "18:00", "-e"}, Date(4, 9)));
  EXPECT_EQ(m.size(), 3u * 11u);
  // -e with no range: today only.
  EXPECT_EQ(Minutes(Run({"-e", "-starttime", "20:00", "-month", "4"}, Date(4, 4))),
            (std::vector<int>{1200, 1260, 1320, 1380}));
}

TEST_F(BufferExporterTest, AcrossTheMonthEnd) {
  MakeBuffer(60, {"A"}, {"x"});
  for (int d = 26; d <= 31; ++d) FillDay(3, d);
  for (int d = 1; d <= 4; ++d) FillDay(4, d);
  std::vector<std::string> lines = Lines(Run({"-days", "28-3", "-starttime", "10:00", "-endtime", "14:00"}, Date(4, 2)));
  ASSERT_EQ(lines.size(), 2u + (14 + 24 * 3) + (24 * 2 + 15));
  EXPECT_EQ(lines[0], "time;A");
  EXPECT_EQ(lines[2], "600;600");  // 28 March from 10:00
  EXPECT_EQ(lines[2 + 14 + 24 * 3 - 1], "1380;1380");  // 31 March to its end
  EXPECT_EQ(lines[2 + 14 + 24 * 3], "0;0");  // 1 April from midnight
  EXPECT_EQ(lines.back(), "840;840");  // 3 April until 14:00

  // A one-day range without -month runs across the month end too: 3 March
  // (of which only the 26th on holds March samples) to 3 April.
  lines = Lines(Run({"-days", "3-3", "-ngh"}, Date(4, 9)));
  ASSERT_EQ(lines.size(), 24u * 6 + 24u * 3);
  EXPECT_EQ(lines[24 * 6], "0;0");  // 1 April follows 31 March
}

TEST_F(BufferExporterTest, Failures) {
  std::string err;
  // No settings at all.
  Run({"-day", "1"}, Date(4, 1), &err);
  EXPECT_EQ(err, "KestraneExporter.exe: error gatherer parameters loading failed\n");

  MakeBuffer(60, {"A"}, {"x"});
  ASSERT_EQ(WriteServiceDword("kstCollector", "optTimeInt", 0), 0);
  Run({"-day", "1"}, Date(4, 1), &err);
  EXPECT_EQ(err, "KestraneExporter.exe: error gatherer parameters loading failed\n");

  MakeBuffer(60, {"A"}, {"x"});
  ASSERT_EQ(WriteServiceDword("kstCollector", "optCollsCount", 1), 0);
  Run({"-day", "1"}, Date(4, 1), &err);
  EXPECT_EQ(err, "KestraneExporter.exe: error gatherer parameters loading failed\n");

  // A width no slot of the file can have: no rows, and no buffer of its size.
  MakeBuffer(60, {"A"}, {"x"});
  Sample(4, 1, 0, {1});
  ASSERT_EQ(WriteServiceDword("kstCollector", "optCollsCount", 0x7fffffff), 0);
  EXPECT_EQ(Run({"-day", "1", "-ngh"}, Date(4, 1), &err), "");
  EXPECT_EQ(err, "");

  MakeBuffer(60, {"A"}, {"x"});
  std::filesystem::remove(buffer_);
  Run({"-day", "1"}, Date(4, 1), &err);
  EXPECT_EQ(err, "KestraneExporter.exe: error input statistics file opening failed\n");

  Run({"-day", "1", "-of", (home_ + "/no/such/dir/out").c_str()}, Date(4, 1), &err);
  EXPECT_EQ(err, "KestraneExporter.exe: error destination file opening failed\n");

  EXPECT_EQ(Run({"-i", "-5"}, Date(4, 1), &err), "");
  EXPECT_EQ(err.rfind("KestraneExporter.exe: error bad parameter\nusage: ", 0), 0u);
  Run({"-i", "x5"}, Date(4, 1), &err);
  EXPECT_EQ(err.rfind("KestraneExporter.exe: error bad parameter value\nusage: ", 0), 0u);
}

TEST_F(BufferExporterTest, OutputFileIsTruncated) {
  MakeBuffer(60, {"A"}, {"x"});
  Sample(4, 1, 0, {1});
  const std::string out = home_ + "/out.csv";
  std::ofstream(out) << "old contents that are longer than the export\n";
  std::string err;
  EXPECT_EQ(Run({"-day", "1", "-of", out.c_str(), "-help"}, Date(4, 1), &err), "");
  EXPECT_EQ(err.rfind("usage: ", 0), 0u);  // -help prints the usage and goes on
  std::ifstream in(out);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), "time;A\nTime;x\n0;1\n");
}

// Runs the built program with `words` for at most 20 seconds; its exit
// status (124 when it had to be stopped) and its standard output and error.
int RunProgram(const std::string& words, std::string* text) {
  const char* bin = std::getenv("KST_BIN_DIR");
  if (bin == nullptr) return -1;
  const std::string command = "timeout 20 " + std::string(bin) + "/KestraneExporter " + words + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char chunk[256];
  for (size_t n; (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;) text->append(chunk, n);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(BufferExporterTest, ProgramWritesToStandardOutput) {
  MakeBuffer(60, {"A"}, {"x"});
  Sample(4, 1, 0, {7});
  std::string text;
  EXPECT_EQ(RunProgram("-month 4 -ngh", &text), 0);
  EXPECT_EQ(text, "0;7\n");
}

// A pipe would block the open until someone writes, a device never ends:
// neither is read.
TEST_F(BufferExporterTest, BufferThatIsNoRegularFileIsRefused) {
  MakeBuffer(60, {"A"}, {"x"});
  std::filesystem::remove(buffer_);
  ASSERT_EQ(::mkfifo(buffer_.c_str(), 0600), 0);
  for (const std::string& name : {buffer_, std::string("/dev/zero"), home_}) {
    ASSERT_EQ(WriteServiceString("kstCollector", "optBufferName", name), 0);
    std::string text;
    EXPECT_EQ(RunProgram("-day 1", &text), 0) << "exporter still reading " << name << " after 20 s";
    EXPECT_EQ(text, "KestraneExporter.exe: error input statistics file is not a regular file\n") << name;
  }
}

TEST_F(BufferExporterTest, DamagedHeaderLinesAreRefused) {
  MakeBuffer(60, {"A"}, {"x"});
  const std::string out = home_ + "/out.csv";
  struct Case {
    std::string buffer;
    std::string written;  // what the export wrote before it stopped
  };
  const Case cases[] = {
      {"date\nDate;Time;x\n", ""},
      {"date;time;A\nDate\n", "time;A\n"},
      {std::string(2 << 20, 'x'), ""},  // no LF within the bound
  };
  for (const Case& c : cases) {
    std::ofstream(buffer_, std::ios::binary | std::ios::trunc) << c.buffer;
    std::string err;
    EXPECT_EQ(Run({"-day", "1", "-of", out.c_str()}, Date(4, 1), &err), "");
    EXPECT_EQ(err, "KestraneExporter.exe: error input statistics file has damaged header lines\n");
    std::ifstream in(out, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), c.written);
  }
  // Without header lines none are read.
  std::string err;
  Run({"-day", "1", "-ngh", "-of", out.c_str()}, Date(4, 1), &err);
  EXPECT_EQ(err, "");
}

}  // namespace
}  // namespace kst
