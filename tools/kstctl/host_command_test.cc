// kstctl as the management host: product, collector, module, train, tune
// and reload, run as an administrator would.
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "Ruleforge/plugin_exports.h"
#include "StatSubsystem/common/product_key.h"
#include "StatSubsystem/common/ring_buffer.h"
#include "StatSubsystem/common/service_keys.h"
#include "gtest/gtest.h"
#include "platform/module.h"
#include "platform/registry.h"
#include "platform/registry_testing.h"
#include "tools/kstctl/kstctl_testing.h"

namespace kst {
namespace {

const char kCollectorKey[] = "System\\CurrentControlSet\\Services\\Kestrane buffer creator";

std::string BinDir() {
  const char* bin = std::getenv("KST_BIN_DIR");
  return bin != nullptr ? bin : "bin";
}

class HostCommandTest : public ::testing::Test {
 protected:
  KstctlOutcome Run(const std::vector<std::string>& words) { return Kstctl(words, home_.path()); }

  // Runs and expects the exit status; stdout.
  std::string Expect(int status, const std::vector<std::string>& words) {
    const KstctlOutcome outcome = Run(words);
    EXPECT_EQ(outcome.status, status) << words[0] << " " << (words.size() > 1 ? words[1] : "")
                                      << "\n" << outcome.out << outcome.err;
    return outcome.out;
  }

  void SetRoot() { Expect(0, {"product", "set", "rootDirectory", "C:\\Program Files\\Kestrane"}); }

  void InstallCollector() {
    RegistryKey key;
    ASSERT_EQ(RegistryKey::Create(kCollectorKey, &key), kErrorSuccess);
  }

  std::string Raw(const char* key_path, const char* name) {
    RegistryKey key;
    std::string data;
    RegType type = 0;
    if (RegistryKey::Open(key_path, RegAccess::kRead, &key) != kErrorSuccess) return "(no key)";
    if (key.QueryValue(name, &type, &data) != kErrorSuccess) return "(missing)";
    return std::to_string(type) + ":" + data;
  }

  TempKestraneHome home_;
};

TEST_F(HostCommandTest, ProductValues) {
  EXPECT_EQ(Expect(0, {"product", "show"}),
            "rootDirectory              (not set)\n"
            "intervalBetweenCheckings   (not set)\n"
            "userNotificationStatus     (not set)\n");
  SetRoot();
  Expect(0, {"product", "set", "intervalBetweenCheckings", "2000"});
  Expect(0, {"product", "set", "userNotificationStatus", "0"});
  EXPECT_EQ(Raw("SOFTWARE\\Kestrane", "rootDirectory"),
            std::string("1:C:\\Program Files\\Kestrane") + '\0');
  EXPECT_EQ(Raw("SOFTWARE\\Kestrane", "intervalBetweenCheckings"), std::string("4:\xd0\x07\0\0", 6));
  EXPECT_EQ(Expect(0, {"product", "show"}),
            "rootDirectory              C:\\Program Files\\Kestrane\n"
            "intervalBetweenCheckings   2000\n"
            "userNotificationStatus     0\n");

  // The largest values the services take.
  Expect(0, {"product", "set", "intervalBetweenCheckings", "2147483647"});
  EXPECT_EQ(Raw("SOFTWARE\\Kestrane", "intervalBetweenCheckings"), std::string("4:\xff\xff\xff\x7f", 6));
  Expect(0, {"product", "set", "userNotificationStatus", "4294967295"});
  EXPECT_EQ(Raw("SOFTWARE\\Kestrane", "userNotificationStatus"), std::string("4:\xff\xff\xff\xff", 6));
  const std::string longest = "C:\\" + std::string(256, 'k');
  Expect(0, {"product", "set", "rootDirectory", longest});
  EXPECT_EQ(Raw("SOFTWARE\\Kestrane", "rootDirectory"), "1:" + longest + '\0');

  // Refused before anything is written, saying what would be taken.
  const char interval[] = "kstctl product: intervalBetweenCheckings takes a number from 1 to 2147483647, not '";
  const struct {
    std::vector<std::string> words;
    std::string err;
  } refused[] = {
      {{"product", "set", "intervalBetweenCheckings", "0"}, interval + std::string("0'\n")},
      {{"product", "set", "intervalBetweenCheckings", "2147483648"}, interval + std::string("2147483648'\n")},
      {{"product", "set", "intervalBetweenCheckings", "4294967295"}, interval + std::string("4294967295'\n")},
      {{"product", "set", "intervalBetweenCheckings", "-5"}, interval + std::string("-5'\n")},
      {{"product", "set", "userNotificationStatus", "on"},
       "kstctl product: userNotificationStatus takes a number from 0 to 4294967295, not 'on'\n"},
      {{"product", "set", "userNotificationStatus", "4294967296"}, ""},
      {{"product", "set", "rootDirectory", longest + "k"},
       "kstctl product: rootDirectory takes a text of at most 259 characters, not '" + longest + "k'\n"},
      {{"product", "set", "checkInterval", "5"}, ""},
      {{"product", "set", "rootDirectory"}, ""},
  };
  for (const auto& r : refused) {
    const KstctlOutcome outcome = Run(r.words);
    EXPECT_EQ(outcome.status, 2) << r.words[2] << " " << r.words.back();
    if (!r.err.empty()) {
      EXPECT_EQ(outcome.err, r.err);
    }
  }
  EXPECT_EQ(Raw("SOFTWARE\\Kestrane", "intervalBetweenCheckings"), std::string("4:\xff\xff\xff\x7f", 6));
  EXPECT_EQ(Raw("SOFTWARE\\Kestrane", "rootDirectory"), "1:" + longest + '\0');
}

TEST_F(HostCommandTest, CollectorOptionsAsApplyWritesThem) {
  const char* path = "\\\\localhost\\Memory\\Available MBytes";
  // Not installed: nothing is written, and the failure says so.
  EXPECT_NE(Run({"collector", "set", path}).err.find("not installed"), std::string::npos);
  EXPECT_EQ(Raw(kCollectorKey, "optCounters"), "(no key)");
  InstallCollector();
  Expect(2, {"collector", "set"});

  struct Case {
    std::vector<std::string> options;
    int interval;
    std::string buffer;
  };
  const Case cases[] = {
      {{}, 1, "C:\\Program Files\\Kestrane\\cbuffer"},
      {{"--interval", "12345"}, 1234, "C:\\Program Files\\Kestrane\\cbuffer"},
      {{"--interval", ""}, 10, "C:\\Program Files\\Kestrane\\cbuffer"},
      {{"--interval", "x5"}, 10, "C:\\Program Files\\Kestrane\\cbuffer"},
      {{"--interval", "7", "--buffer", "D:\\b"}, 7, "D:\\b"},
      {{"--buffer", ""}, 1, BinDir() + "/cbuffer"},
  };
  SetRoot();
  for (const Case& c : cases) {
    ASSERT_EQ(WriteServiceDword("kstCollector", "notFirstStartFlag", 1), 0);
    std::vector<std::string> words = {"collector", "set"};
    words.insert(words.end(), c.options.begin(), c.options.end());
    words.push_back(path);
    words.push_back("\\\\localhost\\Memory\\Cache Bytes");
    Expect(0, words);
    int flag = -1, interval = -1;
    std::string buffer, csv;
    std::vector<std::string> counters;
    EXPECT_EQ(ReadServiceDword("kstCollector", "notFirstStartFlag", &flag), 0);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(ReadServiceDword("kstCollector", "optTimeInt", &interval), 0);
    EXPECT_EQ(interval, c.interval) << words[3];
    EXPECT_EQ(ReadServiceString("kstCollector", "optBufferName", &buffer), 0);
    EXPECT_EQ(buffer, c.buffer);
    EXPECT_EQ(ReadServiceString("kstCollector", "csvFileName", &csv), 0);
    EXPECT_EQ(csv, "C:\\Program Files\\Kestrane\\CSVoutp");
    EXPECT_EQ(ReadServiceMultiString("kstCollector", "optCounters", &counters), 0);
    EXPECT_EQ(counters, (std::vector<std::string>{path, "\\\\localhost\\Memory\\Cache Bytes"}));
  }
  const std::string shown = Expect(0, {"collector", "show"});
  EXPECT_NE(shown.find("optCounters        2\n  \\\\localhost\\Memory\\Available MBytes\n"),
            std::string::npos)
      << shown;
}

TEST_F(HostCommandTest, RunningCollectorKeepsItsOptions) {
  SetRoot();
  std::filesystem::create_symlink(BinDir() + "/KestraneCollector", home_.path() + "/KestraneCollector");
  ASSERT_EQ(std::system((ShellQuote(home_.path() + "/KestraneCollector") + " -install").c_str()), 0);
  Expect(0, {"collector", "set", "\\\\localhost\\Memory\\Available MBytes"});
  Expect(0, {"svc", "start", "kstCollector"});
  const KstctlOutcome refused = Run({"collector", "set", "--interval", "9", "\\\\localhost\\Memory\\Cache Bytes"});
  Expect(0, {"svc", "stop", "kstCollector"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("the collector is running"), std::string::npos) << refused.err;
  int interval = 0;
  EXPECT_EQ(ReadServiceDword("kstCollector", "optTimeInt", &interval), 0);
  EXPECT_EQ(interval, 1);
}

TEST_F(HostCommandTest, ModuleListsProfilesAndDefaults) {
  const std::string out = Expect(0, {"module", "Discovery.dll"});
  EXPECT_EQ(out.rfind("title: Ruleforge\n", 0), 0u) << out;
  EXPECT_NE(out.find("parameter profiles: 3\n"), std::string::npos);
  EXPECT_NE(out.find("  profile \"Single log, integral counters\" (figure 0.20)\n"
                     "    FLOAT probability threshold=0.95000  (default 0.95000, 0.00000 to 1.00000)\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("    INT number of eras=20000  (default 10000, 0 to 2147483647, step 1)\n"),
            std::string::npos);
  // A bare name is the installation's copy, the one the checking service loads.
  EXPECT_NE(Run({"module", "Installed.dll"}).err.find("cannot load"), std::string::npos);
  SetRoot();
  std::filesystem::create_symlink(BinDir() + "/Discovery.so", home_.path() + "/Installed.so");
  EXPECT_EQ(Expect(0, {"module", "Installed.dll"}).rfind("title: Ruleforge\n", 0), 0u);
  EXPECT_NE(Run({"module", "KestraneAlerter.dll"}).err.find("not an analyzer plug-in"),
            std::string::npos);
  EXPECT_NE(Run({"module", "Missing.dll"}).err.find("cannot load"), std::string::npos);
}

// Without a display that answers, the dialog reaches nobody: kstctl says
// so before loading anything. (The dialog itself is opened in the
// alerter's real-window tests.)
TEST_F(HostCommandTest, NotificationsNeedADisplay) {
  SetRoot();
  const char* had = std::getenv("DISPLAY");
  const std::string kept = had != nullptr ? had : "";
  for (const char* display : {"", ":4097"}) {  // none, and one no server serves
    ::setenv("DISPLAY", display, 1);
    const KstctlOutcome outcome = Run({"notifications"});
    EXPECT_EQ(outcome.status, 1) << display;
    EXPECT_EQ(outcome.err, "kstctl notifications: the notification settings dialog needs a display "
                           "(set DISPLAY to an X server)\n") << display;
  }
  if (had != nullptr) ::setenv("DISPLAY", kept.c_str(), 1); else ::unsetenv("DISPLAY");
  EXPECT_NE(Expect(0, {"notifications", "--help"}).find("control 129"), std::string::npos);
  Expect(2, {"notifications", "now"});
}

// A collector ring buffer of two days of minutes with two counters that move
// together, set up as a counter store with the log Memory.
class TrainTest : public HostCommandTest {
 protected:
  void SetUp() override {
    SetRoot();
    InstallCollector();
    std::filesystem::create_symlink(BinDir() + "/KestraneExporter",
                                    home_.path() + "/KestraneExporter");
    const std::string head = GroupLine({"Memory", "Memory"}) + HeaderLine({"Used", "Free"});
    std::string bytes = head;
    for (int day = 1; day <= 2; ++day) {
      for (int m = 0; m < 1440; ++m) {
        const double load = (m / 60) % 4;
        bytes += EncodeSlot(RingBufferSlot{DateKey(3, day), double(m), {load * 10, 40 - load * 10}});
      }
    }
    std::ofstream(home_.path() + "/cbuffer", std::ios::binary) << bytes;
    ASSERT_EQ(WriteServiceDword("kstCollector", "optTimeInt", 1), 0);
    ASSERT_EQ(WriteServiceDword("kstCollector", "optHeadGrpOffset", int(head.size())), 0);
    ASSERT_EQ(WriteServiceDword("kstCollector", "optCollsCount", 4), 0);
    ASSERT_EQ(WriteServiceString("kstCollector", "optBufferName", "C:\\Program Files\\Kestrane\\cbuffer"), 0);
    Expect(0, {"store", "setup"});
  }

  // `train Memory TITLE` over 1 and 2 March with the extra words.
  KstctlOutcome Train(const std::string& title, const std::vector<std::string>& extra) {
    std::vector<std::string> words = {"train", "Memory", title, "--from", Day(1), "--till", Day(2),
                                      "--interval", "600", "--param", "number of eras=200"};
    words.insert(words.end(), extra.begin(), extra.end());
    return Run(words);
  }

  static std::string Day(int day, int month = 3) {
    std::tm now{};
    const std::time_t t = std::time(nullptr);
    localtime_r(&t, &now);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", now.tm_year + 1900, month, day);
    return text;
  }

  std::string Instances() {
    std::string listed = Expect(0, {"log", "list", "Memory"});
    std::string names;
    for (size_t at = listed.find("  instance "); at != std::string::npos;
         at = listed.find("  instance ", at + 1)) {
      names += listed.substr(at + 11, listed.find('\n', at) - at - 11) + ";";
    }
    return names;
  }

  bool StateExists(const std::string& name) {
    std::error_code ignored;  // a name too long for the file system is not there
    return std::filesystem::exists(home_.path() + "/States/" + name, ignored);
  }
};

TEST_F(TrainTest, TrainsListsAndTunes) {
  const KstctlOutcome trained = Train("usage", {"--uses-time", "--threshold", "30"});
  ASSERT_EQ(trained.status, 0) << trained.out << trained.err;
  EXPECT_NE(trained.out.find("training table: 288 rows\n"), std::string::npos) << trained.out;
  EXPECT_NE(trained.out.find("100%"), std::string::npos);
  // Trained without a checking service: the request fails, the training stands.
  EXPECT_NE(trained.err.find("reload not requested"), std::string::npos);
  EXPECT_EQ(Instances(), "usage;");
  EXPECT_TRUE(StateExists("usage.state"));
  EXPECT_TRUE(std::filesystem::is_empty(home_.path() + "/Temporary"));
  const std::string listed = Expect(0, {"log", "list", "Memory"});
  EXPECT_NE(listed.find("\"INT number of eras=200\""), std::string::npos) << listed;
  EXPECT_NE(listed.find("uses time:       yes\n    threshold:       30\n"), std::string::npos);
  // The whole day, so that the checker judges every second of it.
  EXPECT_NE(listed.find("daily 00:00:00 to 23:59:59\n"), std::string::npos) << listed;

  EXPECT_EQ(Expect(0, {"tune", "Memory", "usage"}), "sensitivity 0.50000\n");
  EXPECT_EQ(Expect(0, {"tune", "Memory", "usage", "0.25"}).rfind(
                "sensitivity set to 0.25000 (it was 0.50000)\n", 0),
            0u);
  EXPECT_EQ(Expect(0, {"tune", "Memory", "usage"}), "sensitivity 0.25000\n");
  Expect(2, {"tune", "Memory", "usage", "1.5"});
  Expect(1, {"tune", "Memory", "nothing"});

  // A second instance neither takes the title nor the state file of the first.
  EXPECT_NE(Train("usage", {}).err.find("already"), std::string::npos);
  EXPECT_NE(Train("other", {"--state", "usage.state"}).err.find("already"), std::string::npos);
  EXPECT_EQ(Instances(), "usage;");
}

// A set-up gives the counters new ids: a running checker is asked to
// reload, so that its alerts name them; without one, the set-up says when
// it takes effect.
TEST_F(TrainTest, SetupAsksARunningCheckerToReload) {
  const KstctlOutcome alone = Run({"store", "setup"});
  EXPECT_EQ(alone.status, 0) << alone.err;
  EXPECT_EQ(alone.err, "kstctl store: reload not requested: the checking service is not installed (result -13)\n");
  EXPECT_NE(alone.out.find("  Memory\nthe checking service will use it when it next starts or reloads\n"),
            std::string::npos)
      << alone.out;

  std::filesystem::create_symlink(BinDir() + "/KestraneChecker", home_.path() + "/KestraneChecker");
  ASSERT_EQ(std::system((ShellQuote(home_.path() + "/KestraneChecker") + " -install").c_str()), 0);
  Expect(0, {"product", "set", "intervalBetweenCheckings", "60000"});
  ASSERT_EQ(WriteServiceDword("kstCollector", "notFirstStartFlag", 1), 0);
  ASSERT_EQ(WriteServiceMultiString("kstCollector", "optCounters", {}), 0);
  Expect(0, {"svc", "start", "kstChecker"});
  std::string state;
  for (int i = 0; i < 250 && state.find("state:       running") == std::string::npos; ++i) {
    ::usleep(20000);
    state = Run({"svc", "query", "kstChecker"}).out;
  }
  const KstctlOutcome running = Run({"store", "setup"});
  Expect(0, {"svc", "stop", "kstChecker"});
  EXPECT_NE(state.find("state:       running"), std::string::npos) << "the checker did not run within 5 s\n" << state;
  EXPECT_EQ(running.status, 0) << running.err;
  EXPECT_EQ(running.err, "");
  EXPECT_NE(running.out.find("  Memory\nreload requested: the checking service reloads before its next check\n"),
            std::string::npos)
      << running.out;
}

// A state file that cannot be written (here: a file size limit below its
// size) is never left cut short, and the sensitivity said is the one it
// holds.
TEST_F(TrainTest, TuneSaysWhenTheStateFileCouldNotBeWritten) {
  ASSERT_EQ(Train("usage", {}).status, 0);
  const std::string state = home_.path() + "/States/usage.state";
  auto read = [&] {
    std::ifstream in(state, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const std::string before = read();
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit small = old;
  small.rlim_cur = before.size() / 2;
  auto* previous = ::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const KstctlOutcome refused = Run({"tune", "Memory", "usage", "0.8"});
  setrlimit(RLIMIT_FSIZE, &old);
  ::signal(SIGXFSZ, previous);
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(refused.err, "kstctl tune: the state file " + state +
                             " could not be written: File too large; the sensitivity stays 0.50000\n");
  EXPECT_EQ(read(), before);
  EXPECT_FALSE(std::filesystem::exists(state + ".tuning"));
  EXPECT_EQ(Expect(0, {"tune", "Memory", "usage"}), "sensitivity 0.50000\n");
}

// The checking service reloads by unloading its plug-ins and loading them
// again; only then does a plug-in read a state file that kstctl rewrote.
TEST_F(TrainTest, PluginLoadedAgainReadsTheTunedStateFile) {
  ASSERT_EQ(Train("usage", {}).status, 0);
  const std::string state = home_.path() + "/States/usage.state";
  auto sensitivity = [&] {
    std::string error;
    std::unique_ptr<Module> plugin = LoadModule(BinDir() + "/Discovery.so", &error);
    EXPECT_NE(plugin, nullptr) << error;
    auto* tune = plugin ? plugin->Bind<TuneExport>("tune") : nullptr;
    return tune ? tune(state, -1.0) : -2.0;
  };
  EXPECT_EQ(sensitivity(), 0.5);
  Expect(0, {"tune", "Memory", "usage", "0.25"});
  EXPECT_EQ(sensitivity(), 0.25);
}

TEST_F(TrainTest, FailuresLeaveNothingListed) {
  struct Case {
    std::string title;
    std::vector<std::string> extra;
    int status;
    std::string message;
  };
  const Case cases[] = {
      {"thrown", {"--plugin", KST_FAILING_PLUGIN}, 1, "training failed: Bad file format\n"},
      {"profile", {"--profile", "Fast"}, 1, "has no profile \"Fast\""},
      {"param", {"--param", "number of eras=-3"}, 1, "bad value '-3'"},
      {"unknown", {"--param", "depth=3"}, 1, "has no parameter \"depth\""},
      {"nosuch", {"--plugin", "Missing.dll"}, 1, "cannot load the plug-in"},
      {"window", {"--window", "25:00-26:00"}, 2, "bad value for --window"},
      {"late", {"--from", Day(2), "--till", Day(1)}, 2, "ends before it begins"},
      {"long", {"--till", Day(1, 5)}, 2, "crosses more than one month end"},
      {"midnight", {"--window", "22:00-06:00"}, 2, "must end after it begins"},
      {"nodate", {"--till", Day(32)}, 2, "bad value for --till"},
      {"back\\slash", {}, 2, "backslash"},
      {std::string(255, 'x'), {}, 2, "too long"},
  };
  for (const Case& c : cases) {
    const KstctlOutcome outcome = Train(c.title, c.extra);
    EXPECT_EQ(outcome.status, c.status) << c.title << "\n" << outcome.err;
    EXPECT_NE(outcome.err.find(c.message), std::string::npos) << c.title << "\n" << outcome.err;
    // One line says what went wrong.
    EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), c.status == 2 ? 2 : 1)
        << c.title << "\n" << outcome.err;
    EXPECT_FALSE(StateExists(c.title + ".state")) << c.title;
  }
  // No samples in the period, and a log that does not exist.
  EXPECT_NE(Run({"train", "Memory", "empty", "--from", Day(20), "--till", Day(21)}).err.find("no samples"),
            std::string::npos);
  EXPECT_NE(Run({"train", "Disk", "x", "--from", Day(1), "--till", Day(2)}).err.find("no such log"),
            std::string::npos);
  // A log that lists a counter twice gets the column once, so the table
  // lacks a column it wants.
  Expect(0, {"log", "add", "Twice", "Memory::Used", "Memory::Used"});
  EXPECT_NE(Run({"train", "Twice", "x", "--from", Day(1), "--till", Day(2)}).err.find("or the log lists it twice"),
            std::string::npos);
  EXPECT_EQ(Instances(), "");
  EXPECT_TRUE(std::filesystem::is_empty(home_.path() + "/Temporary"));
}

// Through one pipe, as a log or a pager sees it, the failure comes after the
// lines that led to it, on a line of its own.
TEST_F(TrainTest, FailureFollowsTheProgressThroughAPipe) {
  struct Case {
    std::vector<std::string> words;
    std::string before, failure;
  };
  const Case cases[] = {
      {{"train", "Memory", "thrown", "--from", Day(1), "--till", Day(2), "--plugin",
        KST_FAILING_PLUGIN},
       "] ", "\nkstctl train: training failed: Bad file format\n"},
      {{"train", "Memory", "empty", "--from", Day(20), "--till", Day(21)},
       "exporting the training period from the ring buffer\n",
       "\nkstctl train: the ring buffer holds no samples"},
  };
  for (const Case& c : cases) {
    std::string command = ShellQuote(BinDir() + "/kstctl");
    for (const std::string& w : c.words) command += " " + ShellQuote(w);
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string both;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) both.append(buf, n);
    EXPECT_EQ(WEXITSTATUS(::pclose(pipe)), 1) << both;
    const size_t before = both.find(c.before), failure = both.find(c.failure);
    EXPECT_NE(before, std::string::npos) << both;
    EXPECT_NE(failure, std::string::npos) << both;
    EXPECT_LT(before, failure) << both;
  }
}

// The same installation on a small disk of its own, which a test fills.
class FullDiskTest : public TrainTest {
 protected:
  void SetUp() override {
    disk_ = std::make_unique<SmallDisk>(home_.path(), 8 << 20);
    if (!disk_->mounted()) GTEST_SKIP() << disk_->why();
    TrainTest::SetUp();
  }

  std::unique_ptr<SmallDisk> disk_;
};

TEST_F(FullDiskTest, TrainSaysTheTableCouldNotBeWritten) {
  ASSERT_TRUE(disk_->Fill());
  const KstctlOutcome full = Train("full", {});
  EXPECT_EQ(full.status, 1);
  EXPECT_EQ(full.err, "kstctl train: the training table could not be written in " + home_.path() +
                          "/Temporary: No space left on device\n");
  disk_->Free();
  EXPECT_EQ(Instances(), "");
  EXPECT_FALSE(StateExists("full.state"));
  EXPECT_TRUE(std::filesystem::is_empty(home_.path() + "/Temporary"));
}

TEST_F(HostCommandTest, ReloadWithoutCheckingService) {
  SetRoot();
  std::filesystem::create_symlink(BinDir() + "/KestraneAlerter.so", home_.path() + "/KestraneAlerter.so");
  const KstctlOutcome outcome = Run({"reload"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err, "kstctl reload: reload not requested: the checking service is not installed (result -13)\n");
  Expect(2, {"reload", "now"});
}

}  // namespace
}  // namespace kst
