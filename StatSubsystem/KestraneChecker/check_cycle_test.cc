#include "StatSubsystem/KestraneChecker/check_cycle.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "StatSubsystem/common/config_tree.h"
#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "platform/registry.h"
#include "platform/registry_testing.h"

namespace kst {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

const char kRoot[] = "C:\\Program Files\\Kestrane";
const char kCollectorKey[] = "System\\CurrentControlSet\\Services\\Kestrane buffer creator";
const char kProcessorPath[] = "\\\\localhost\\Processor(_Total)\\% Processor Time";
const char kMemoryPath[] = "\\Memory\\Available Bytes";
const char kProcessorTitle[] = "Processor(_Total)::% Processor Time";
const char kMemoryTitle[] = "_Memory::Available Bytes";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

uint32_t Le32(const std::string& bytes, size_t at) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
  return v;
}

void SetValue(const std::string& key_path, const std::string& name, RegType type,
              const std::string& data) {
  RegistryKey key;
  ASSERT_EQ(RegistryKey::Create(key_path, &key), kErrorSuccess);
  ASSERT_EQ(key.SetValue(name, type, data.data(), static_cast<uint32_t>(data.size())),
            kErrorSuccess);
}

std::string MultiString(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& item : items) out += item + '\0';
  return out + '\0';
}

// What one analyzer instance says, in the test plug-in's script form.
struct Answer {
  int level;
  std::string message;
  std::string details;
  bool throws;
};
Answer Said(int level, const std::string& message = "anomaly", const std::string& details = "") {
  return {level, message, details, false};
}
Answer Thrown() { return {0, "", "", true}; }

class CheckCycleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = temp_home_.path();
    fs::create_directory(home_ + "/States");
    ::setenv("KESTRANE_PERF_SCRIPT", (home_ + "/counters.txt").c_str(), 1);
    SetCounters({{kProcessorPath, 12.5}, {kMemoryPath, 2048}});
    SetCounterId(kProcessorTitle, 11);
    SetCounterId(kMemoryTitle, 22);
    SetCounterId("time::Time", 33);
  }
  void TearDown() override { ::unsetenv("KESTRANE_PERF_SCRIPT"); }

  // The collector's counter list and one tick of scripted values.
  void SetCounters(const std::vector<std::pair<std::string, double>>& counters) {
    std::vector<std::string> paths;
    std::ofstream script(home_ + "/counters.txt");
    for (const auto& [path, value] : counters) {
      paths.push_back(path);
      const size_t skip = path.rfind("\\\\", 0) == 0 ? path.find('\\', 2) : 0;  // no host
      script << path.substr(skip) << " = " << value << "\n";
    }
    SetValue(kCollectorKey, "optCounters", kRegMultiSz, MultiString(paths));
  }

  void SetCounterId(const std::string& title, int64_t id) {
    std::string bytes(8, '\0');
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<char>(static_cast<uint64_t>(id) >> (8 * i));
    SetValue("SOFTWARE\\Kestrane\\Internal\\Counters\\byTitle\\" + title, "id", kRegBinary, bytes);
  }

  void AddLog(const std::string& log, const std::vector<std::string>& titles) {
    RegistryKey logs;
    ASSERT_EQ(RegistryKey::Create("SOFTWARE\\Kestrane\\Internal\\Logs", &logs), kErrorSuccess);
    std::string existing;
    if (logs.QueryValue("logsTitles", nullptr, &existing) != kErrorSuccess) {
      ASSERT_EQ(logs.SetValue("logsTitles", kRegMultiSz, "", 1), kErrorSuccess);
    }
    int result = 0;
    kst::AddLog(log, titles, &result);
    ASSERT_GT(result, 0) << log;
  }

  // An activated instance of the test plug-in answering `answer`.
  void AddInstance(const std::string& log, const std::string& title, const Answer& answer,
                   bool usesTime = false, int threshold = 0,
                   const std::string& plugin = KST_CHECK_PLUGIN_DLL, int from = 0, int till = 0) {
    std::ofstream script(home_ + "/States/" + title + ".st");
    script << "level=" << answer.level << "\nmessage=" << answer.message
           << "\nthrow=" << (answer.throws ? 1 : 0) << "\ndetails=" << answer.details << "\n";
    AnalyzerInstance instance;
    instance.title = title;
    instance.pluginFileName = plugin;
    instance.stateFileName = title + ".st";
    instance.usesTime = usesTime;
    instance.warningLevelThreshold = static_cast<int8_t>(threshold);
    instance.trainingPeriod.dayTimeIntervalFrom = from;
    instance.trainingPeriod.dayTimeIntervalTill = till;
    int result = 0;
    WriteAnalyzerInstance(log, instance, &result);
    ASSERT_GT(result, 0) << title;
  }

  void InstallAlerter() {
    fs::copy_file(KST_CHECK_ALERTER, home_ + "/KestraneAlerter.so");
  }

  // One check; its console output goes to *out.
  int RunCheck(CheckCycle& cycle, bool* reload, std::string* out = nullptr,
               std::function<bool()> stop = nullptr) {
    CheckControls controls;
    controls.rootDirectory = kRoot;
    controls.reloadRequested = reload;
    controls.stopRequested = std::move(stop);
    ::testing::internal::CaptureStdout();
    const int rc = cycle.Check(controls);
    const std::string text = ::testing::internal::GetCapturedStdout();
    if (out != nullptr) *out = text;
    return rc;
  }

  // The alerts in "alertmessages", each frame's lengths checked.
  std::vector<AlertMessage> Frames() {
    const std::string bytes = ReadFile(home_ + "/alertmessages");
    std::vector<AlertMessage> alerts;
    size_t at = 0;
    while (at + 8 <= bytes.size()) {
      const uint32_t n = Le32(bytes, at);
      EXPECT_LE(at + 8 + n, bytes.size());
      if (at + 8 + n > bytes.size()) break;
      EXPECT_EQ(Le32(bytes, at + 4 + n), n);
      AlertMessage alert;
      EXPECT_EQ(alert.deserialize(bytes.data() + at + 4, static_cast<int>(n)), 0);
      alerts.push_back(alert);
      at += 8 + n;
    }
    EXPECT_EQ(at, bytes.size());
    return alerts;
  }

  std::vector<std::vector<double>> Features(const std::string& instance) {
    std::vector<std::vector<double>> calls;
    std::ifstream in(home_ + "/States/" + instance + ".st.features");
    std::string line;
    while (std::getline(in, line)) {
      std::stringstream values(line);
      std::vector<double> call;
      double v;
      while (values >> v) call.push_back(v);
      calls.push_back(call);
    }
    return calls;
  }

  std::vector<std::string> AlerterLog() {
    std::vector<std::string> lines;
    std::ifstream in(home_ + "/alerter.log");
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
  }

  static int MinuteOfDay() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local.tm_hour * 60 + local.tm_min;
  }

  TempKestraneHome temp_home_;
  std::string home_;
};

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

TEST_F(CheckCycleTest, MisbehavingPluginsDoNotHarmTheCheck) {
  AddLog("Log", {kProcessorTitle});
  AddInstance("Log", "thrower", Thrown());
  AddInstance("Log", "silent", Said(100, "unused"));
  AddInstance("Log", "unterminated", Said(100, "unused"));
  AddInstance("Log", "next", Said(100, "still judged"));
  std::ofstream(home_ + "/States/silent.st", std::ios::app) << "write=none\n";
  std::ofstream(home_ + "/States/unterminated.st", std::ios::app) << "write=full\n";
  CheckCycle cycle;
  bool reload = true;
  std::string out;
  ASSERT_EQ(RunCheck(cycle, &reload, &out), 0);
  EXPECT_THAT(out, HasSubstr("exception has come from check method of analyzer thrower\n"));
  EXPECT_THAT(out, HasSubstr("Log:silent   \n"));
  EXPECT_THAT(out, HasSubstr("Log:unterminated   " + std::string(1023, 'x') + "\n"));
  EXPECT_THAT(out, HasSubstr("Log:next   still judged\n"));
  const std::vector<AlertMessage> alerts = Frames();
  ASSERT_EQ(alerts.size(), 3u);
  EXPECT_EQ(alerts[0].description, "");
  EXPECT_EQ(alerts[1].description, std::string(1023, 'x'));
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

TEST_F(CheckCycleTest, StopBetweenInstancesKeepsEarlierAlertsAndTheReload) {
  AddLog("Log", {kProcessorTitle});
  AddInstance("Log", "first", Said(100, "one"));
  AddInstance("Log", "second", Said(100, "two"));
  CheckCycle cycle;
  bool reload = true;
  int looks = 0;
  std::string out;
  EXPECT_EQ(RunCheck(cycle, &reload, &out, [&looks] { return ++looks > 1; }), 1);
  EXPECT_TRUE(reload);
  EXPECT_EQ(looks, 2);
  ASSERT_EQ(Frames().size(), 1u);
  EXPECT_EQ(Frames()[0].analyzerTitle, "first");
  EXPECT_THAT(out, ::testing::Not(HasSubstr("two")));
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

TEST_F(CheckCycleTest, FailuresOfTheCheckItself) {
  AddLog("Log", {kProcessorTitle});
  AddInstance("Log", "inst", Said(100));
  CheckCycle cycle;
  bool reload = true;
  {  // no counter list: -1 while reloading, nothing judged
    RegistryKey key;
    ASSERT_EQ(RegistryKey::Open(kCollectorKey, RegAccess::kReadWrite, &key), kErrorSuccess);
    ASSERT_EQ(key.DeleteValue("optCounters"), kErrorSuccess);
  }
  EXPECT_EQ(RunCheck(cycle, &reload), -1);
  EXPECT_TRUE(reload);
  EXPECT_TRUE(Features("inst").empty());

  SetCounters({{kProcessorPath, 1}});
  fs::create_directory(home_ + "/alertmessages");  // cannot be opened as a file
  std::string out;
  EXPECT_EQ(RunCheck(cycle, &reload, &out), -3);
  EXPECT_EQ(out, "can't open \"alertmessages\" file for appending");
  EXPECT_TRUE(reload);
  fs::remove(home_ + "/alertmessages");
  EXPECT_EQ(RunCheck(cycle, &reload), 0);
  EXPECT_FALSE(reload);
}

TEST_F(CheckCycleTest, AlertsThatCannotBeRecordedAreSaidOnTheLog) {
  AddLog("Log", {kProcessorTitle});
  AddInstance("Log", "a", Said(100, "m"));
  AddInstance("Log", "b", Said(100, "m"));
  fs::create_symlink("/dev/full", home_ + "/alertmessages");
  CheckCycle cycle;
  bool reload = true;
  std::string out;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(RunCheck(cycle, &reload, &out), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "alertmessages: the alert of Log:a was not recorded (No space left on device)\n"
            "alertmessages: the alert of Log:b was not recorded (No space left on device)\n");
  EXPECT_THAT(out, HasSubstr("  Log:b   m\n"));  // still said on the console
}

TEST_F(CheckCycleTest, AFrameCutShortIsTakenBackSoTheFileHoldsWholeFrames) {
  AddLog("Log", {kProcessorTitle});
  for (const char* title : {"a", "b", "c"}) AddInstance("Log", title, Said(100, "m"));
  // Each frame: 8 + 50 + "Log" + the title + "m" + one value = 79 bytes.
  // Twenty checks of room, then the file may grow by one frame and a half:
  // the second frame goes out in part only. (The limit is above what the
  // test's own captured output needs.)
  constexpr uintmax_t kFrame = 79, kBefore = 20 * 3 * kFrame;
  CheckCycle cycle;
  bool reload = true;
  for (int i = 0; i < 20; ++i) ASSERT_EQ(RunCheck(cycle, &reload), 0);
  ASSERT_EQ(fs::file_size(home_ + "/alertmessages"), kBefore);
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit small = old;
  small.rlim_cur = kBefore + kFrame + 41;
  auto* previous = ::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  ::testing::internal::CaptureStderr();
  const int rc = RunCheck(cycle, &reload);
  const std::string log = ::testing::internal::GetCapturedStderr();
  setrlimit(RLIMIT_FSIZE, &old);
  ::signal(SIGXFSZ, previous);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(log,
            "alertmessages: the alert of Log:b was not recorded (File too large)\n"
            "alertmessages: the alert of Log:c was not recorded (File too large)\n");
  EXPECT_EQ(fs::file_size(home_ + "/alertmessages"), kBefore + kFrame);
  ASSERT_EQ(Frames().size(), 61u);
  EXPECT_EQ(Frames().back().analyzerTitle, "a");
  // Room again: the next check appends after the whole frame.
  ASSERT_EQ(RunCheck(cycle, &reload), 0);
  EXPECT_EQ(Frames().size(), 64u);
}

// An instance whose check fails (a missing or damaged state file) is named
// once per reload, not once per check.
TEST_F(CheckCycleTest, InstanceWhoseCheckFailsIsNamedOncePerReload) {
  AddLog("Log", {kProcessorTitle});
  AddInstance("Log", "lost", Said(100));
  AddInstance("Log", "fine", Said(0));
  fs::remove(home_ + "/States/lost.st");
  CheckCycle cycle;
  bool reload = true;
  const std::string line = "analyzer instance Log:lost raises no alerts: check answered -1 "
                           "(state file \"" + home_ + "/States/lost.st\" missing or damaged, "
                           "or fewer values than it was trained on)\n";
  for (bool reloads : {true, false, false, true}) {
    reload = reloads;
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(RunCheck(cycle, &reload), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), reloads ? line : "");
  }
  EXPECT_EQ(Features("fine").size(), 4u);
}

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
