// The order of the export's filters, the state they keep from one export to
// the next, and where reading stops.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "StatSubsystem/KestraneExporter/buffer_exporter_testing.h"

namespace kst {
namespace {

using Ints = std::vector<int>;

// The spacing filter comes after the month filter and before the bound and
// day filters: a slot of another month never moves the last kept minute, a
// slot that a later filter drops does.
TEST_F(BufferExporterTest, SpacingSitsBetweenMonthAndBoundFilters) {
  MakeBuffer(5, {"A"}, {"x"});
  struct Case {
    const char* name;
    std::vector<std::pair<int, int>> slots;  // day of April 2026 (0: a March day 1), minute
    std::vector<const char*> words;
    int today;
    Ints rows;
  };
  const Case cases[] = {
      {"start bound drops minute 0 after spacing kept it",
       {{1, 0}, {1, 5}, {1, 10}, {1, 15}, {1, 20}, {1, 30}},
       {"-day", "1", "-i", "15", "-starttime", "00:10"}, 1, {15, 30}},
      {"a March slot is dropped before spacing sees it",
       {{1, 0}, {0, 15}, {1, 20}, {1, 30}, {1, 35}},
       {"-day", "1", "-i", "15", "-month", "4"}, 1, {0, 20, 35}},
      {"-e without a range drops yesterday after spacing kept its minute 0",
       {{1, 0}, {1, 5}, {2, 0}, {2, 5}, {2, 10}, {2, 15}, {2, 30}},
       {"-month", "4", "-e", "-starttime", "00:00", "-i", "15"}, 2, {15, 30}},
      {"across midnight the distance is between minutes of the day",
       {{1, 1430}, {1, 1435}, {2, 0}, {2, 5}},
       {"-days", "1-2", "-month", "4", "-i", "1430"}, 9, {1430, 0}},
      {"a distance equal to the spacing is kept",
       {{1, 0}, {1, 10}, {1, 15}, {1, 20}, {1, 25}, {1, 30}},
       {"-day", "1", "-i", "15"}, 1, {0, 15, 30}},
  };
  for (const Case& c : cases) {
    MakeBuffer(5, {"A"}, {"x"});
    for (const auto& [day, minute] : c.slots) Sample(day == 0 ? 3 : 4, day == 0 ? 1 : day, minute, {});
    EXPECT_EQ(Minutes(Run(c.words, Date(4, c.today)), true), c.rows) << c.name;
  }

  // A spacing of 2 on one-minute slots.
  MakeBuffer(1, {"A"}, {"x"});
  for (int minute : {0, 1, 2, 4, 5, 7}) Sample(4, 1, minute, {});
  EXPECT_EQ(Minutes(Run({"-day", "1", "-i", "2"}, Date(4, 1))), (Ints{0, 2, 4, 7}));

  // A stale slot of day 5 where day 2's first slot lies: spacing keeps its
  // minute before the day filters drop it.
  for (std::vector<const char*> words : {std::vector<const char*>{"-days", "2-2", "-month", "4"},
                                         std::vector<const char*>{"-day", "2"}}) {
    MakeBuffer(5, {"A"}, {"x"});
    Sample(4, 2, 0, {});
    Sample(4, 2, 5, {});
    Sample(4, 2, 15, {});
    Sample(4, 2, 20, {});
    std::fstream f(buffer_, std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(static_cast<std::streamoff>(SlotOffset(header_, width_, FirstSlotOfDay(2, 5))));
    ASSERT_TRUE(WriteSlot(f, RingBufferSlot{DateKey(4, 5), 0, {0}}));
    f.close();
    words.insert(words.end(), {"-i", "15"});
    EXPECT_EQ(Minutes(Run(words, Date(4, 9))), (Ints{15})) << words[0];
  }
}

// Reading ends with the slot that crosses the end of the last day: it is
// read and filtered, so it moves the last kept minute, which the exporter
// keeps for its next export.
TEST_F(BufferExporterTest, SlotAfterTheLastDayIsReadAndFiltered) {
  MakeBuffer(5, {"A"}, {"x"});
  FillDay(4, 1, 0, 60);
  FillDay(4, 2, 0, 60);
  FillDay(4, 3, 0, 60);
  std::ostringstream out;
  BufferExporter exporter(Today(Date(4, 9)), &out);
  EXPECT_EQ(Minutes(ExportWith(&exporter, &out, {"-day", "1", "-month", "4", "-i", "15", "-ngh"}), false),
            (Ints{0, 15, 30, 45, 60}));
  // Day 2's minute 0 was read last and kept by spacing: 0 is too close now.
  EXPECT_EQ(Minutes(ExportWith(&exporter, &out, {"-days", "2-2", "-month", "4", "-i", "15", "-ngh"}), false),
            (Ints{15, 30, 45, 60}));
  // -day reads one slot past its day too.
  EXPECT_EQ(Minutes(ExportWith(&exporter, &out, {"-day", "2", "-month", "4", "-i", "15", "-ngh"}), false),
            (Ints{15, 30, 45, 60}));
  EXPECT_EQ(Minutes(ExportWith(&exporter, &out, {"-day", "3", "-month", "4", "-i", "15", "-ngh"}), false),
            (Ints{15, 30, 45, 60}));

  // A fresh exporter starts with no kept minute, and an export without -i
  // keeps none.
  BufferExporter fresh(Today(Date(4, 9)), &out);
  EXPECT_EQ(Minutes(ExportWith(&fresh, &out, {"-day", "2", "-month", "4", "-ngh"}), false).size(), 13u);
  EXPECT_EQ(Minutes(ExportWith(&fresh, &out, {"-day", "3", "-month", "4", "-i", "15", "-ngh"}), false),
            (Ints{0, 15, 30, 45, 60}));
}

// The two runs across the month end share the spacing and one output file:
// the second run appends to the first's.
TEST_F(BufferExporterTest, RunsAcrossTheMonthEndShareSpacingAndOutput) {
  MakeBuffer(5, {"A"}, {"x"});
  FillDay(3, 31, 0, 10);
  FillDay(4, 1, 0, 60);
  const std::string out = home_ + "/out.csv";
  std::ofstream(out) << "old text to be replaced\n";
  std::string err;
  EXPECT_EQ(Run({"-days", "31-1", "-i", "15", "-of", out.c_str()}, Date(4, 2), &err), "");
  EXPECT_EQ(err, "");
  std::ifstream in(out, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), "time;A\nTime;x\n0;0\n15;15\n30;30\n45;45\n60;60\n");

  // January follows December of the year before.
  MakeBuffer(60, {"A"}, {"x"});
  Sample(12, 30, 60, {});
  Sample(1, 2, 120, {});
  Sample(1, 3, 180, {});
  EXPECT_EQ(Run({"-days", "30-2", "-ngh"}, Date(1, 5)), "60;60\n120;120\n");
}

TEST_F(BufferExporterTest, StartAndEndBounds) {
  struct Case {
    std::vector<const char*> words;
    int today;
    Ints rows;  // of the slots below
  };
  // Slots at 60-minute steps on April 1 to 3, minutes 0 .. 240 only.
  const Case cases[] = {
      {{"-day", "2", "-starttime", "02:00"}, 9, {120, 180, 240}},
      {{"-day", "2", "-starttime", "01:59"}, 9, {120, 180, 240}},
      {{"-day", "2", "-starttime", "02:01"}, 9, {180, 240}},
      {{"-day", "2", "-endtime", "02:00"}, 9, {0, 60, 120}},
      {{"-day", "2", "-endtime", "01:59"}, 9, {0, 60}},
      {{"-starttime", "03:00"}, 2, {180, 240}},  // today
      {{"-endtime", "01:00"}, 3, {0, 60}},
      {{"-days", "1-3", "-starttime", "03:00"}, 9, {180, 240, 0, 60, 120, 180, 240, 0, 60, 120, 180, 240}},
      {{"-days", "1-3", "-endtime", "01:00"}, 9, {0, 60, 120, 180, 240, 0, 60, 120, 180, 240, 0, 60}},
      {{"-days", "1-3", "-endtime", "01:00", "-e"}, 9, {0, 60, 0, 60, 0, 60}},
      {{"-days", "2-3", "-starttime", "03:00", "-e"}, 9, {180, 240, 180, 240}},
      {{"-month", "4", "-starttime", "04:00"}, 2, {240, 240, 240}},
      {{"-month", "4", "-endtime", "00:00", "-e"}, 2, {0, 60, 120, 180, 240}},
      {{"-month", "4", "-starttime", "04:00", "-e"}, 3, {240}},
      {{"-month", "4", "-endtime", "01:00"}, 2, {0, 60, 0, 60, 0, 60}},
      {{"-month", "4", "-e"}, 2, {0, 60, 120, 180, 240, 0, 60, 120, 180, 240, 0, 60, 120, 180, 240}},
      {{"-month", "0", "-day", "3", "-endtime", "00:59"}, 9, {0}},  // 0: this month
      {{"-month", "3", "-day", "3"}, 9, {}},
  };
  for (const Case& c : cases) {
    MakeBuffer(60, {"A"}, {"x"});
    for (int d = 1; d <= 3; ++d) FillDay(4, d, 0, 240);
    std::string label;
    for (const char* w : c.words) label += std::string(w) + " ";
    EXPECT_EQ(Minutes(Run(c.words, Date(4, c.today))), c.rows) << label;
  }
}

TEST_F(BufferExporterTest, SettingsAreReadInOrderWithTheirCodes) {
  MakeBuffer(60, {"A"}, {"x"});
  const char* const values[] = {"optTimeInt", "optHeadGrpOffset", "optCollsCount", "optBufferName"};
  for (int missing = 0; missing < 4; ++missing) {
    MakeBuffer(60, {"A"}, {"x"});
    for (int later = missing; later < 4; ++later) {
      RegistryKey key;
      ASSERT_EQ(RegistryKey::Open("System\\CurrentControlSet\\Services\\Kestrane buffer creator",
                                  RegAccess::kReadWrite, &key),
                kErrorSuccess);
      key.DeleteValue(values[later]);
    }
    BufferExporter exporter;
    EXPECT_EQ(exporter.LoadCollectorSettings(), -1 - missing) << values[missing];
  }
  MakeBuffer(7, {"A", "B"}, {"x", "y"});
  BufferExporter exporter;
  ASSERT_EQ(exporter.LoadCollectorSettings(), 0);
  EXPECT_EQ(exporter.settings().timeInterval, 7u);
  EXPECT_EQ(exporter.settings().headerSize, static_cast<int32_t>(header_));
  EXPECT_EQ(exporter.settings().recordWidth, 4);
  EXPECT_EQ(exporter.settings().bufferFile, buffer_);
}

// AcceptRecord on its own: the options it is given may still hold the
// current day as 0, and the filters fill in what they default.
TEST_F(BufferExporterTest, AcceptRecordFillsInDefaults) {
  MakeBuffer(60, {"A"}, {"x"});
  std::ostringstream sink;
  BufferExporter exporter(Today(Date(4, 2)), &sink);
  ExportWith(&exporter, &sink, {"-day", "1"});  // reads today's date
  struct Case {
    double key, minute;
    ExporterOptions options;
    int result;
    std::string cell;
    int day, month, end_time;  // the options afterwards
  };
  auto With = [](int day, int start, int end) {
    ExporterOptions o;
    o.day = day;
    o.startTime = start;
    o.endTime = end;
    return o;
  };
  const Case cases[] = {
      {DateKey(4, 2), 10, With(0, -1, -1), 1, "10", 2, 4, -1},
      {DateKey(4, 2), 10, With(0, 5, -1), 1, "10", 2, 4, -1},
      {DateKey(4, 2), 10, With(0, -1, 0), 1, "10", 2, 4, 1439},
      {DateKey(4, 2), 10, With(0, 11, -1), -1, "", 2, 4, -1},
      {DateKey(4, 3), 10, With(0, -1, -1), -1, "", 2, 4, -1},
      {DateKey(4, 3), 10, With(-1, -1, -1), 1, "10", -1, 4, -1},
      {DateKey(3, 2), 10, With(-1, -1, -1), -1, "", -1, 4, -1},
      {0, 10, With(-1, -1, -1), -1, "", -1, -1, -1},
      {1e300, 10, With(-1, -1, -1), -1, "", -1, -1, -1},
  };
  for (const Case& c : cases) {
    std::string bytes;
    PutDouble(&bytes, c.key);
    PutDouble(&bytes, c.minute);
    bytes += "values";
    std::istringstream in(bytes);
    std::ostringstream cell;
    ExporterOptions options = c.options;
    EXPECT_EQ(exporter.AcceptRecord(in, cell, &options), c.result) << c.key;
    EXPECT_EQ(cell.str(), c.cell) << c.key;
    EXPECT_EQ(in.tellg(), 16) << c.key;
    EXPECT_EQ(options.day, c.day) << c.key;
    EXPECT_EQ(options.month, c.month) << c.key;
    EXPECT_EQ(options.endTime, c.end_time) << c.key;
  }
}

// What the program prints when the clock fails at each of its readings.
TEST_F(BufferExporterTest, ClockFailures) {
  MakeBuffer(60, {"A"}, {"x"});
  Sample(3, 31, 0, {});
  Sample(4, 1, 60, {});
  struct Case {
    std::vector<const char*> words;
    int failing_reading;  // 1 the first reading of the clock
    std::string out, err;
    int exit_code;
  };
  const Case cases[] = {
      {{"-day", "1"}, 1, "time;A\nTime;x\n", "KestraneExporter.exe: error internal error (1)\n", 1},
      {{"-days", "31-1"}, 1, "", "KestraneExporter.exe: error internal error (2)\n", 1},
      {{"-days", "31-1"}, 2, "time;A\nTime;x\n", "KestraneExporter.exe: error internal error (1)\n", 1},
      {{"-days", "31-1"}, 3, "time;A\nTime;x\n0;0\n", "KestraneExporter.exe: error internal error (1)\n", 1},
      {{"-days", "31-1"}, 4, "time;A\nTime;x\n0;0\n60;60\n", "", 0},
  };
  for (const Case& c : cases) {
    int readings = 0;
    LocalTimeSource clock = [&readings, &c](std::tm* now) {
      *now = Date(4, 2);
      return ++readings != c.failing_reading;
    };
    std::vector<const char*> words = c.words;
    words.insert(words.begin(), "KestraneExporter");
    std::ostringstream out, err;
    BufferExporter exporter(clock, &out);
    EXPECT_EQ(RunExporter(static_cast<int>(words.size()), words.data(), &exporter, clock, err),
              c.exit_code);
    EXPECT_EQ(out.str(), c.out) << c.words[0] << " " << c.failing_reading;
    EXPECT_EQ(err.str(), c.err) << c.words[0] << " " << c.failing_reading;
  }

  // The month-end driver's own codes: the clock, the first run, the second.
  for (int failing = 1; failing <= 4; ++failing) {
    int readings = 0;
    LocalTimeSource clock = [&readings, failing](std::tm* now) {
      *now = Date(4, 2);
      return ++readings != failing;
    };
    std::ostringstream out, err;
    BufferExporter exporter(clock, &out);
    ExporterOptions options;
    options.firstDay = 31;
    options.lastDay = 1;
    const int expected[] = {-1, -2, -3, 0};
    EXPECT_EQ(ExportAcrossMonthEnd(&options, &exporter, clock, err), expected[failing - 1]) << failing;
  }
}

}  // namespace
}  // namespace kst
