#include "StatSubsystem/KestraneChecker/check_cycle.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "StatSubsystem/KestraneChecker/check_cycle_testing.h"
#include "gmock/gmock.h"
#include "gtest/gtest.h"

namespace kst {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

TEST_F(CheckCycleTest, LevelAgainstThresholdDecidesTheAlert) {
  AddLog("Log", {kProcessorTitle});
  struct Case { const char* title; int level; int threshold; bool alerts; } cases[] = {
      {"hundred-over-zero", 100, 0, true},   {"hundred-under-101", 100, 101, false},
      {"equal", 40, 40, true},               {"below", 39, 40, false},
      {"zero-level", 0, 0, false},           {"failed", -1, 0, false},
  };
  for (const Case& c : cases) {
    AddInstance("Log", c.title, Said(c.level, c.title), false, c.threshold);
  }
  CheckCycle cycle;
  bool reload = true;
  std::string out;
  for (int check = 1; check <= 2; ++check) {
    ASSERT_EQ(RunCheck(cycle, &reload, &out), 0);
    EXPECT_FALSE(reload);
    EXPECT_THAT(out, HasSubstr("  Log:hundred-over-zero   hundred-over-zero\n"));
    EXPECT_THAT(out, HasSubstr("  Log:equal   equal\n"));
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 2) << out;
  }
  std::vector<std::string> alerted;
  for (const AlertMessage& alert : Frames()) {
    alerted.push_back(alert.analyzerTitle);
    EXPECT_EQ(alert.logTitle, "Log");
    EXPECT_EQ(alert.description, alert.analyzerTitle);
  }
  EXPECT_THAT(alerted, ElementsAre("hundred-over-zero", "equal", "hundred-over-zero", "equal"));
}

TEST_F(CheckCycleTest, ConsoleLineCarriesTheLocalStampZeroPadded) {
  AddLog("Log", {kProcessorTitle, "Time"});
  AddInstance("Log", "inst", Said(5, "too busy"), /*usesTime=*/true);
  CheckCycle cycle;
  bool reload = true;
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  struct Case { std::time_t at; const char* line; double minute; } cases[] = {
      // Every field but the year needs its leading zero.
      {1772420645, "03/02/2026 03:04:05   Log:inst   too busy\n", 184},
      {1796763909, "12/08/2026 21:05:09   Log:inst   too busy\n", 1265},
      {1767225599, "12/31/2025 23:59:59   Log:inst   too busy\n", 1439},
  };
  for (const Case& c : cases) {
    CheckControls controls;
    controls.rootDirectory = kRoot;
    controls.reloadRequested = &reload;
    controls.now = [&c] { return c.at; };
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(cycle.Check(controls), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.line);
    // The minute of day leads the features and stands for the title "Time".
    EXPECT_THAT(Features("inst").back(), ElementsAre(c.minute, 12.5, c.minute));
  }
  ::unsetenv("TZ");
  ::tzset();
  const AlertMessage alert = Frames().at(0);
  EXPECT_EQ(alert.warningLevel, 5);
  EXPECT_EQ(alert.host, "localhost");
}

TEST_F(CheckCycleTest, FeaturesFollowTheLogsCountersWithTimeFirstWhenUsed) {
  AddLog("Log", {kProcessorTitle, "Time", kMemoryTitle, "Nobody::Nothing"});
  AddInstance("Log", "with-time", Said(0), /*usesTime=*/true);
  AddInstance("Log", "without-time", Said(0), /*usesTime=*/false);
  AddInstance("Log", "with-time-again", Said(0), /*usesTime=*/true);
  CheckCycle cycle;
  bool reload = true;
  const int before = MinuteOfDay();
  ASSERT_EQ(RunCheck(cycle, &reload), 0);
  const int after = MinuteOfDay();

  const std::vector<double> with = Features("with-time").at(0);
  const std::vector<double> without = Features("without-time").at(0);
  ASSERT_EQ(with.size(), 5u);
  ASSERT_EQ(without.size(), 4u);
  EXPECT_TRUE(with[0] == before || with[0] == after) << with[0];
  EXPECT_EQ(with[2], with[0]);  // the title "Time" is the minute of day too
  EXPECT_THAT(std::vector<double>(with.begin() + 1, with.end()), ::testing::ContainerEq(without));
  EXPECT_EQ(without[0], 12.5);
  EXPECT_EQ(without[2], 2048);
  EXPECT_EQ(without[3], 0.0);
  EXPECT_EQ(Features("with-time-again").at(0), with);
}

TEST_F(CheckCycleTest, AlertCarriesCounterValuesAndPartsById) {
  AddLog("Log", {kMemoryTitle, "Nobody::Nothing", kProcessorTitle});
  // Features with time: 0 time, 1 memory, 2 nobody, 3 processor.
  AddInstance("Log", "timed", Said(60, "anomaly", "0,1>3;2>9"), true);
  AddInstance("Log", "plain", Said(60, "anomaly", "0>2"), false);
  CheckCycle cycle;
  bool reload = true;
  ASSERT_EQ(RunCheck(cycle, &reload), 0);
  const std::vector<AlertMessage> alerts = Frames();
  ASSERT_EQ(alerts.size(), 2u);
  const std::map<uint64_t, double> values = {{22, 2048}, {11, 12.5}, {~0ull, 0.0}};
  for (const AlertMessage& alert : alerts) EXPECT_EQ(alert.counterValues, values);

  ASSERT_EQ(alerts[0].counterParts.size(), 2u);
  EXPECT_THAT(alerts[0].counterParts[0].baseCounterIds, ElementsAre(33, 22));
  EXPECT_THAT(alerts[0].counterParts[0].resultCounterIds, ElementsAre(11));
  EXPECT_THAT(alerts[0].counterParts[1].baseCounterIds, ElementsAre(0));   // no id
  EXPECT_THAT(alerts[0].counterParts[1].resultCounterIds, ElementsAre(0)); // no such feature
  ASSERT_EQ(alerts[1].counterParts.size(), 1u);
  EXPECT_THAT(alerts[1].counterParts[0].baseCounterIds, ElementsAre(22));
  EXPECT_THAT(alerts[1].counterParts[0].resultCounterIds, ElementsAre(11));

  SetCounterId(kProcessorTitle, 44);  // a new counter store, seen by the next reload
  reload = true;
  ASSERT_EQ(RunCheck(cycle, &reload), 0);
  EXPECT_THAT(Frames().at(3).counterParts.at(0).resultCounterIds, ElementsAre(44));
}

// A record larger than the first buffers: the buffer grows until it fits,
// and the alerts after it use the grown buffer.
TEST_F(CheckCycleTest, LargeAlertsAreWrittenWhole) {
  AddLog("Log", {kProcessorTitle});
  std::string rules;
  for (int i = 0; i < 400; ++i) rules += "0,0>0;";  // 400 x 32 bytes of ids
  AddInstance("Log", "big", Said(100, std::string(1000, 'b'), rules));
  AddInstance("Log", "small", Said(100, "s", "0>0"));
  CheckCycle cycle;
  bool reload = true;
  ASSERT_EQ(RunCheck(cycle, &reload), 0);
  const std::vector<AlertMessage> alerts = Frames();
  ASSERT_EQ(alerts.size(), 2u);
  ASSERT_EQ(alerts[0].counterParts.size(), 400u);
  EXPECT_THAT(alerts[0].counterParts[399].baseCounterIds, ElementsAre(11, 11));
  EXPECT_EQ(alerts[0].description, std::string(1000, 'b'));
  EXPECT_EQ(alerts[1].description, "s");
}

TEST_F(CheckCycleTest, AlerterGetsEachAlertAndAFreshDispatcherPerReload) {
  AddLog("Log", {kProcessorTitle});
  AddInstance("Log", "inst", Said(70, "hot", "0>0"));
  std::string without_out;
  std::vector<AlertMessage> without;
  {
    CheckCycle cycle;
    bool reload = true;
    ASSERT_EQ(RunCheck(cycle, &reload, &without_out), 0);
    without = Frames();
  }
  fs::remove(home_ + "/alertmessages");
  InstallAlerter();
  std::string with_out;
  {
    CheckCycle cycle;
    bool reload = true;
    ASSERT_EQ(RunCheck(cycle, &reload, &with_out), 0);
    ASSERT_EQ(RunCheck(cycle, &reload), 0);  // no reload: same dispatcher
    reload = true;
    ASSERT_EQ(RunCheck(cycle, &reload), 0);
  }
  EXPECT_THAT(AlerterLog(), ElementsAre("new 1", "destroy 1", "new 2",
                                        "process 2 70 Log:inst hot parts 1 values 1",
                                        "process 2 70 Log:inst hot parts 1 values 1",
                                        "destroy 2", "new 3",
                                        "process 3 70 Log:inst hot parts 1 values 1",
                                        "destroy 3"));
  // The console and the file do not depend on the alerter.
  EXPECT_EQ(with_out.substr(20), without_out.substr(20));
  const std::vector<AlertMessage> with = Frames();
  ASSERT_EQ(with.size(), 3u);
  ASSERT_EQ(without.size(), 1u);
  std::string a(4096, '\0'), b(4096, '\0');
  int na = 0, nb = 0;
  AlertMessage x = with[0], y = without[0];
  x.time = y.time = 0;
  x.id = y.id = 0;
  ASSERT_EQ(x.serialize(a.data(), 4096, &na), 0);
  ASSERT_EQ(y.serialize(b.data(), 4096, &nb), 0);
  EXPECT_EQ(a.substr(0, na), b.substr(0, nb));
}

TEST_F(CheckCycleTest, RebuildSkipsWhatCannotBeCheckedWithoutShiftingLogs) {
  AddLog("Broken", {kMemoryTitle});
  AddLog("Good", {kProcessorTitle});
  AddInstance("Good", "no-plugin", Said(100), false, 0, home_ + "/missing.dll");
  AddInstance("Good", "no-check", Said(100), false, 0, KST_NO_CHECK_PLUGIN);
  AddInstance("Good", "deactivated", Said(100));
  AddInstance("Good", "active", Said(0));
  int result = 0;
  WriteInstanceStatus("Good", "deactivated", kStatusDeactivated, &result);
  ASSERT_EQ(result, 0);
  {  // a log without its analyzersTitles value cannot be read
    RegistryKey key;
    ASSERT_EQ(RegistryKey::Open("SOFTWARE\\Kestrane\\Internal\\Logs\\Broken",
                                RegAccess::kReadWrite, &key), kErrorSuccess);
    ASSERT_EQ(key.DeleteValue("analyzersTitles"), kErrorSuccess);
  }
  CheckCycle cycle;
  bool reload = true;
  ASSERT_EQ(RunCheck(cycle, &reload), 0);
  EXPECT_THAT(Features("active"), ElementsAre(ElementsAre(12.5)));
  EXPECT_TRUE(Features("deactivated").empty());
}

TEST_F(CheckCycleTest, ValuesAreRefreshedEveryCheckAndNamesOnlyOnReload) {
  AddLog("Log", {kProcessorTitle, kMemoryTitle});
  AddInstance("Log", "inst", Said(0));
  {  // two ticks; the second changes the processor only
    std::ofstream script(home_ + "/counters.txt", std::ios::app);
    script << "tick\n" << "\\Processor(_Total)\\% Processor Time = 50\n";
  }
  CheckCycle cycle;
  bool reload = true;
  ASSERT_EQ(RunCheck(cycle, &reload), 0);
  ASSERT_EQ(RunCheck(cycle, &reload), 0);
  SetCounters({{kMemoryPath, 8}});  // seen at the next reload only
  ASSERT_EQ(RunCheck(cycle, &reload), 0);
  reload = true;
  ASSERT_EQ(RunCheck(cycle, &reload), 0);
  EXPECT_THAT(Features("inst"), ElementsAre(ElementsAre(12.5, 2048), ElementsAre(50, 2048),
                                            ElementsAre(50, 2048), ElementsAre(0, 8)));
}

TEST_F(CheckCycleTest, NamesAndValuesComeFromOneReadingOfTheCounterList) {
  AddLog("Log", {kProcessorTitle, kMemoryTitle});
  // Loading this instance's library swaps the two paths of the stored list
  // while the reload is under way.
  std::ofstream(home_ + "/counters_on_load") << kMemoryPath << "\n" << kProcessorPath << "\n";
  AddInstance("Log", "changer", Said(0), false, 0, KST_LIST_CHANGING_PLUGIN);
  AddInstance("Log", "inst", Said(0));
  CheckCycle cycle;
  bool reload = true;
  ASSERT_EQ(RunCheck(cycle, &reload), 0);
  ASSERT_EQ(RunCheck(cycle, &reload), 0);
  reload = true;  // the swapped list, read whole
  ASSERT_EQ(RunCheck(cycle, &reload), 0);
  EXPECT_THAT(Features("inst"), ElementsAre(ElementsAre(12.5, 2048), ElementsAre(12.5, 2048),
                                            ElementsAre(12.5, 2048)));
}

// An instance whose check fails (a missing or damaged state file) is named
// once per reload, not once per check.
TEST_F(CheckCycleTest, InstanceIsJudgedOnlyInsideItsDailyWindow) {
  AddLog("Log", {kProcessorTitle});
  const int now = MinuteOfDay() * 60;
  const int later = (now + 7200) % 86400, earlier = (now + 86400 - 7200) % 86400;
  AddInstance("Log", "around-now", Said(0), false, 0, KST_CHECK_PLUGIN_DLL, earlier, later);
  AddInstance("Log", "elsewhere", Said(0), false, 0, KST_CHECK_PLUGIN_DLL, later, earlier);
  CheckCycle cycle;
  bool reload = true;
  ASSERT_EQ(RunCheck(cycle, &reload), 0);
  EXPECT_EQ(Features("around-now").size(), 1u);
  EXPECT_TRUE(Features("elsewhere").empty());

  struct Case { int from, till, second; bool inside; } cases[] = {
      {0, 0, 50000, true},          {3600, 7200, 3600, true},   {3600, 7200, 7200, true},
      {3600, 7200, 3599, false},    {3600, 7200, 7201, false},  {79200, 21600, 86399, true},
      {79200, 21600, 0, true},      {79200, 21600, 43200, false},
  };
  for (const Case& c : cases) {
    TrainingPeriod period;
    period.dayTimeIntervalFrom = c.from;
    period.dayTimeIntervalTill = c.till;
    EXPECT_EQ(InsideDailyWindow(period, c.second), c.inside) << c.from << ".." << c.till
                                                            << " at " << c.second;
  }
}

TEST_F(CheckCycleTest, DebugCheckerProcessWritesTheFrames) {
  AddLog("Log", {kProcessorTitle, kMemoryTitle});
  AddInstance("Log", "inst", Said(90, "process alert"));
  InstallAlerter();
  SetValue("SOFTWARE\\Kestrane", "rootDirectory", kRegSz, std::string(kRoot) + '\0');
  SetValue("SOFTWARE\\Kestrane", "intervalBetweenCheckings", kRegDword,
           std::string("\xE8\x03\0\0", 4));  // 1000 ms
  SetValue(kCollectorKey, "notFirstStartFlag", kRegDword, std::string("\1\0\0\0", 4));

  const std::string out_path = home_ + "/checker.out";
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    FILE* out = std::freopen(out_path.c_str(), "w", stdout);
    if (out != nullptr) execl(KST_CHECKER_PROGRAM, KST_CHECKER_PROGRAM, "-debug", nullptr);
    _exit(127);
  }
  // Frame: both lengths, the 50 bytes of an empty alert, the texts, 2 values.
  constexpr size_t kFrameSize = 8 + 50 + 3 + 4 + 13 + 2 * 16;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline &&
         ReadFile(home_ + "/alertmessages").size() < 2 * kFrameSize) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);

  const std::vector<AlertMessage> alerts = Frames();
  ASSERT_GE(alerts.size(), 2u);
  const std::map<uint64_t, double> values = {{11, 12.5}, {22, 2048}};
  for (const AlertMessage& alert : alerts) {
    EXPECT_EQ(alert.warningLevel, 90);
    EXPECT_EQ(alert.logTitle, "Log");
    EXPECT_EQ(alert.analyzerTitle, "inst");
    EXPECT_EQ(alert.description, "process alert");
    EXPECT_EQ(alert.counterValues, values);
  }
  const std::string out = ReadFile(out_path);
  EXPECT_THAT(out, HasSubstr("  Log:inst   process alert\n"));
  const std::vector<std::string> log = AlerterLog();
  ASSERT_GE(log.size(), 4u);
  EXPECT_THAT(std::vector<std::string>(log.begin(), log.begin() + 4),
              ElementsAre("new 1", "destroy 1", "new 2",
                          "process 2 90 Log:inst process alert parts 0 values 2"));
}

// The names must be the titles the counter store registers for the same
// columns: the exporter's group line turns backslashes into underscores and
// its header line keeps the counter names as they are.
TEST(CheckerCounterNameTest, NamesMatchTheCounterStoreTitles) {
  struct Case { const char* path; const char* title; } cases[] = {
      {"\\Memory\\Available Bytes", "_Memory::Available Bytes"},
      {"\\\\host\\Processor(_Total)\\% Processor Time", "Processor(_Total)::% Processor Time"},
      {"\\Network Interface(eth0)\\Bytes Received/sec",
       "_Network Interface(eth0)::Bytes Received/sec"},
      {"\\Thread(sshd/0)\\Context Switches/sec", "_Thread(sshd/0)::Context Switches/sec"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CheckerCounterName(CounterObjectPart(c.path), CounterNamePart(c.path)), c.title)
        << c.path;
  }
}

}  // namespace
}  // namespace kst
