// What a check does when its plug-ins, its stop flag or its alert file fail it.
#include "StatSubsystem/KestraneChecker/check_cycle.h"

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "StatSubsystem/KestraneChecker/check_cycle_testing.h"
#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "platform/registry.h"
#include "platform/root_doors_testing.h"

namespace kst {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

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
  // What is no regular file where "alertmessages" belongs is refused at
  // once, named on the log: a FIFO holds no check, a device takes no alert.
  const std::string messages = home_ + "/alertmessages";
  const std::string refusing =
      "refusing to append to " + messages + (::geteuid() == 0 ? " as root: " : ": ");
  const std::string kNotRegular = " is not a regular file; only a regular file is used there\n";
  const std::string not_regular = refusing + messages + kNotRegular;
  struct Case {
    const char* what;
    std::function<void()> make;
    std::string log;
  };
  const Case cases[] = {
      {"a folder", [&] { fs::create_directory(messages); }, not_regular},
      // Run as root, the walk names where root's link leads.
      {"a device", [&] { fs::create_symlink("/dev/null", messages); },
       refusing + (::geteuid() == 0 ? "/dev/null" : messages) + kNotRegular},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.make();
    std::string out;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(RunCheck(cycle, &reload, &out), -3);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.log);
    EXPECT_EQ(out, "can't open \"alertmessages\" file for appending");
    EXPECT_TRUE(reload);
    fs::remove(messages);
  }
  {
    UnwrittenFifo fifo(messages);
    ASSERT_TRUE(fifo.made());
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(RunCheck(cycle, &reload), -3);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), not_regular);
    EXPECT_FALSE(fifo.waited()) << "the check waited on a FIFO for a reader";
  }
  if (::geteuid() == 0) {  // another user's file takes no alert of root's
    std::ofstream(messages) << "";
    ASSERT_EQ(::chown(messages.c_str(), NobodyUid(), 0), 0);
    std::string out;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(RunCheck(cycle, &reload, &out), -3);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              refusing + messages + " belongs to user " + std::to_string(NobodyUid()) +
                  ", not root; only root may own and change it\n");
    EXPECT_EQ(out, "can't open \"alertmessages\" file for appending");
    EXPECT_EQ(fs::file_size(messages), 0u);
    fs::remove(messages);
  }
  EXPECT_EQ(RunCheck(cycle, &reload), 0);
  EXPECT_FALSE(reload);
}

TEST_F(CheckCycleTest, AlertsThatCannotBeRecordedAreSaidOnTheLog) {
  AddLog("Log", {kProcessorTitle});
  AddInstance("Log", "a", Said(100, "m"));
  AddInstance("Log", "b", Said(100, "m"));
  // No room for a single byte more in a file that is full (the limit is
  // above what the test's own captured output needs).
  constexpr size_t kFull = 4096;
  std::ofstream(home_ + "/alertmessages") << std::string(kFull, 'x');
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit none = old;
  none.rlim_cur = kFull;
  auto* previous = ::signal(SIGXFSZ, SIG_IGN);
  CheckCycle cycle;
  bool reload = true;
  std::string out;
  ::testing::internal::CaptureStderr();
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &none), 0);
  const int rc = RunCheck(cycle, &reload, &out);
  setrlimit(RLIMIT_FSIZE, &old);
  ::signal(SIGXFSZ, previous);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "alertmessages: the alert of Log:a was not recorded (File too large)\n"
            "alertmessages: the alert of Log:b was not recorded (File too large)\n");
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

}  // namespace
}  // namespace kst
