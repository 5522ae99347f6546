#include "KestraneAlerter/alert_dispatcher.h"

#include <gtest/gtest.h>

#include "KestraneAlerter/alerter_testing.h"
#include "KestraneAlerter/test_seams.h"

namespace kst {
namespace {

int32_t fake_now = 0;
int32_t FakeClock() { return fake_now; }

// Dispatchers over a profile "P" whose one transporter is a net send to
// "ops"; a stand-in `net` on PATH logs each sending as one line.
class DispatcherTest : public AlerterTest {
 protected:
  void SetUp() override {
    AlerterTest::SetUp();
    SetAlerterClockForTesting(FakeClock);
    fake_now = 36000;  // 10:00:00
    std::filesystem::create_directory(HomePath("bin"));
    WriteFile(HomePath("bin/net"), "#!/bin/sh\necho \"$*\" >> \"$KESTRANE_HOME/net.log\"\n");
    std::filesystem::permissions(HomePath("bin/net"), std::filesystem::perms::owner_all);
    path_ = getenv("PATH") ? getenv("PATH") : "";
    setenv("PATH", (HomePath("bin") + ":" + path_).c_str(), 1);
    WriteFile(HomePath("Profiles/_default_.cfg"), "all:\nP\ndefault:\nP\n");
  }
  void TearDown() override {
    SetAlerterClockForTesting(nullptr);
    setenv("PATH", path_.c_str(), 1);
    AlerterTest::TearDown();
  }

  void SaveProfile(int32_t threshold, int32_t span, int32_t wait, bool withTransporter = true,
                   Filter* filter = nullptr) {
    Profile p("P");
    p.alertThreshold = threshold;
    p.timeSpan = span;
    p.minimalWait = wait;
    if (filter != nullptr) {
      p.rootGate.addChild(filter);
      ASSERT_TRUE(p.rootGate.switchOn());
    }
    if (withTransporter) {
      auto net = std::make_unique<NetSendDeliverySettings>("n");
      net->destination = "ops";
      net->includeComments = net->includeAnalyzerTitles = net->includeCounterNames = false;
      p.deliverySettings.push_back(std::move(net));
    }
    ASSERT_EQ(p.save(), 0);
  }
  std::vector<std::string> Sent() {
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(HomePath("net.log")));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  std::vector<int32_t> PendingTimes(const AlertDispatcher& d) {
    std::vector<int32_t> times;
    for (const auto& m : d.pendingMessages()) times.push_back(m->time);
    return times;
  }

  std::string path_;
};

TEST_F(DispatcherTest, DisabledOrWithoutProfile) {
  SaveProfile(0, 0, 0);
  uint32_t off = 0;
  int result;
  WriteProductValue("", "userNotificationStatus", kRegDword, &off, 4, &result);
  AlertMessage m = Message(50, "l", "a", "d", 100);
  {
    AlertDispatcher d;
    EXPECT_FALSE(d.enabled());
    EXPECT_EQ(d.process(m), 0);
    EXPECT_EQ(d.pendingCount(), 0u);
  }
  // Only the number 0 turns notifications off, whichever byte is set.
  for (uint32_t value : {1u, 0x100u, 0x10000u, 0x1000000u}) {
    WriteProductValue("", "userNotificationStatus", kRegDword, &value, 4, &result);
    EXPECT_TRUE(AlertDispatcher().enabled()) << value;
  }
  WriteProductValue("", "userNotificationStatus", kRegDword, &off, 4, &result);
  std::filesystem::remove(HomePath("Profiles/_default_.cfg"));
  {
    AlertDispatcher d;
    EXPECT_EQ(d.profile(), nullptr);
    EXPECT_EQ(d.process(m), 0) << "disabled wins over a missing profile";
  }
  uint32_t on = 1;
  WriteProductValue("", "userNotificationStatus", kRegDword, &on, 4, &result);
  AlertDispatcher d;
  EXPECT_TRUE(d.enabled());
  EXPECT_EQ(d.process(m), -1);
  EXPECT_EQ(d.pendingCount(), 0u);
  EXPECT_TRUE(Sent().empty());
}

TEST_F(DispatcherTest, AProfileThatCannotBeUsedIsSaidOncePerLoad) {
  const std::string list = HomePath("Profiles/_default_.cfg");
  const std::string file = HomePath("Profiles/P.cfg");
  const std::string none = "; no notification will be sent";
  struct Case {
    const char* what;
    std::string listText;  // empty: no list file
    std::string profileText;  // empty: no profile file
    std::string line;  // empty: nothing said
  } cases[] = {
      {"no list", "", "", "no notification profile: the profile list " + list + " cannot be read" + none},
      {"no default", "all:\nP\ndefault:\n", "",
       "no notification profile: the profile list " + list + " names no default profile" + none},
      {"no profile file", "all:\nP\ndefault:\nP\n", "",
       "notification profile \"P\": " + file + " is missing or damaged; only what was read before the fault is used"},
      {"damaged", "all:\nP\ndefault:\nP\n", "Warning system config\n1 0 0\n0\n1\n",
       "notification profile \"P\": " + file + " is missing or damaged; only what was read before the fault is used"},
      {"sound", "all:\nP\ndefault:\nP\n", "Warning system config\n1 0 0\n0\n0\n0\n", ""},
  };
  AlertMessage m = Message(50, "l", "a", "d", 100);
  for (const Case& c : cases) {
    std::filesystem::remove(list);
    std::filesystem::remove(file);
    if (!c.listText.empty()) WriteFile(list, c.listText);
    if (!c.profileText.empty()) WriteFile(file, c.profileText);
    CapturedLog log;
    {
      AlertDispatcher d;
      for (int i = 0; i < 3; ++i) d.process(m);
    }
    std::vector<std::string> expected;
    if (!c.line.empty()) expected.push_back(c.line);
    EXPECT_EQ(CapturedLog::Lines(), expected) << c.what;
  }
}

TEST_F(DispatcherTest, LowThresholdDeliversEachMessageAlone) {
  for (int32_t threshold : {0, 1}) {
    std::filesystem::remove(HomePath("net.log"));
    SaveProfile(threshold, 60, 0);
    AlertDispatcher d;
    ASSERT_NE(d.profile(), nullptr);
    ASSERT_EQ(d.deliverySystems().size(), 1u);
    AlertMessage first = Message(40, "l", "a", "first", 100);
    AlertMessage second = Message(60, "l", "a", "second", 101);
    EXPECT_EQ(d.process(first), 0);
    EXPECT_EQ(d.pendingCount(), 0u);
    fake_now += 1;
    EXPECT_EQ(d.process(second), 0);
    EXPECT_EQ(d.pendingCount(), 0u);
    EXPECT_EQ(Sent(), (std::vector<std::string>{"send ops 40 first warning level: 40",
                                                "send ops 60 second warning level: 60"}));
    EXPECT_EQ(AlertDispatcher::lastNotificationTime(), fake_now);
  }
}

TEST_F(DispatcherTest, WindowDropsOnlyTheLeadingOldCopies) {
  SaveProfile(100, 60, 0);
  AlertDispatcher d;
  const int32_t t = 5000;
  for (int32_t time : {t - 61, t - 60, t - 100, t}) {
    AlertMessage m = Message(10, "l", "a", "d", time);
    d.process(m);
  }
  // t-100 came after t-60 (which stays), so it is never looked at.
  EXPECT_EQ(PendingTimes(d), (std::vector<int32_t>{t - 60, t - 100, t}));
  // A message older than the kept ones prunes nothing.
  AlertMessage old = Message(10, "l", "a", "d", t - 500);
  d.process(old);
  EXPECT_EQ(d.pendingCount(), 4u);
  EXPECT_TRUE(Sent().empty());
}

TEST_F(DispatcherTest, MinimalWaitHoldsTheWindow) {
  SaveProfile(2, 600, 300);
  AlertDispatcher d;
  AlertMessage a = Message(10, "l", "a", "a", 36000);
  AlertMessage b = Message(20, "l", "a", "b", 36000);
  d.process(a);
  EXPECT_TRUE(Sent().empty()) << "below the threshold";
  d.process(b);
  ASSERT_EQ(Sent().size(), 1u) << "threshold reached at 10:00:00";

  fake_now = 36000 + 299;  // 10:04:59
  AlertMessage c = Message(30, "l", "a", "c", fake_now);
  AlertMessage e = Message(40, "l", "a", "e", fake_now);
  d.process(c);
  d.process(e);
  EXPECT_EQ(d.pendingCount(), 2u) << "the wait holds them";
  EXPECT_EQ(Sent().size(), 1u);

  fake_now = 36000 + 300;  // 10:05:00
  AlertMessage f = Message(50, "l", "a", "f", fake_now);
  d.process(f);
  EXPECT_EQ(d.pendingCount(), 0u);
  ASSERT_EQ(Sent().size(), 2u);
  EXPECT_EQ(Sent()[1], "send ops 40 c warning level: 30 e warning level: 40 f warning level: 50");
}

TEST_F(DispatcherTest, FilterRejectsWithoutKeepingOrPruning) {
  SaveProfile(100, 10, 0, true, new Filter(Filter::kWarningLevel, Filter::kMore, int64_t{50}));
  AlertDispatcher d;
  AlertMessage kept = Message(60, "l", "a", "d", 100);
  AlertMessage rejected = Message(50, "l", "a", "d", 1000);
  d.process(kept);
  d.process(rejected);
  EXPECT_EQ(PendingTimes(d), (std::vector<int32_t>{100}));
}

TEST_F(DispatcherTest, NoTransportersStillEmptiesTheWindow) {
  SaveProfile(2, 60, 0, false);
  AlertDispatcher d;
  AlertMessage m = Message(60, "l", "a", "d", 100);
  fake_now = 777;
  d.process(m);
  EXPECT_EQ(d.pendingCount(), 1u);
  d.process(m);
  EXPECT_EQ(d.pendingCount(), 0u);
  EXPECT_EQ(AlertDispatcher::lastNotificationTime(), 777);
}

TEST_F(DispatcherTest, DispatchersShareTheLastNotificationTime) {
  SaveProfile(0, 60, 1000);
  AlertDispatcher first;
  AlertMessage m = Message(60, "l", "a", "d", 100);
  first.process(m);
  EXPECT_EQ(AlertDispatcher::lastNotificationTime(), fake_now);
  fake_now += 10;
  first.process(m);
  EXPECT_EQ(first.pendingCount(), 1u) << "within the wait";
  {
    AlertDispatcher second;
    EXPECT_EQ(AlertDispatcher::lastNotificationTime(), 0) << "making a dispatcher resets it";
    first.process(m);
    EXPECT_EQ(first.pendingCount(), 0u) << "so the first may deliver at once";
    EXPECT_EQ(AlertDispatcher::lastNotificationTime(), fake_now);
  }
  EXPECT_EQ(AlertDispatcher::lastNotificationTime(), 0) << "destroying one resets it too";
  EXPECT_EQ(Sent().size(), 2u);
}

TEST_F(DispatcherTest, KeptCopiesOutliveTheCallersMessage) {
  SaveProfile(3, 60, 0);
  AlertDispatcher d;
  {
    auto m = std::make_unique<AlertMessage>(Message(60, "log", "an", "gone soon", 100));
    m->counterParts.push_back({{1}, {2}});
    m->counterValues[1] = 2.5;
    d.process(*m);
  }
  ASSERT_EQ(d.pendingCount(), 1u);
  const AlertMessage& copy = *d.pendingMessages().front();
  EXPECT_EQ(copy.description, "gone soon");
  EXPECT_EQ(copy.counterParts.size(), 1u);
  EXPECT_EQ(copy.counterValues.at(1), 2.5);
}

}  // namespace
}  // namespace kst
