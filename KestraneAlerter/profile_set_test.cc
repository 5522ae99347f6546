#include "KestraneAlerter/profile_set.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "KestraneAlerter/alert_dispatcher.h"
#include "KestraneAlerter/alerter_testing.h"
#include "platform/root_doors_testing.h"

namespace kst {
namespace {

class ProfileSetTest : public AlerterTest {
 protected:
  void WriteList(const std::string& text) { WriteFile(HomePath("Profiles/_default_.cfg"), text); }
  static std::string DispatcherProfile() {
    AlertDispatcher dispatcher;
    return dispatcher.profile() ? dispatcher.profile()->name : "<none>";
  }
};

TEST_F(ProfileSetTest, ListFileChoosesTheDefault) {
  Profile a("a");
  a.alertThreshold = 7;
  ASSERT_EQ(a.save(), 0);
  struct Case {
    const char* what;
    std::string list;
    int result;
    std::vector<std::string> names;
    const char* setDefault;
    const char* dispatcherDefault;
  } cases[] = {
      {"empty line skipped", "all:\na\n\nb\ndefault:\nb\n", 0, {"a", "b"}, "b", "b"},
      {"no default line", "all:\na\n\nb\ndefault:\n", 0, {"a", "b"}, "a", "<none>"},
      {"default matches none", "all:\na\nb\ndefault:\nzed\n", 0, {"a", "b"}, "a", "zed"},
      {"last line without line end", "all:\na\nbb\ndefault:\nbbX", 0, {"a", "bb"}, "bb", "bb"},
      {"crlf", "all:\r\na\r\nb\r\ndefault:\r\nb\r\n", 0, {"a", "b"}, "b", "b"},
      {"no default marker", "all:\na\nb\n", -1, {"a", "b"}, "<none>", "<none>"},
      {"no all line", "a\nb\ndefault:\nb\n", -1, {}, "<none>", "b"},
      {"duplicate names, last wins", "all:\na\na\ndefault:\na\n", 0, {"a", "a"}, "a", "a"},
  };
  for (const Case& c : cases) {
    WriteList(c.list);
    ProfileSet set;
    EXPECT_EQ(set.load(), c.result) << c.what;
    EXPECT_EQ(set.profileNames(), c.names) << c.what;
    EXPECT_EQ(set.defaultProfile() ? set.defaultProfile()->name : "<none>", c.setDefault) << c.what;
    EXPECT_EQ(DispatcherProfile(), c.dispatcherDefault) << c.what;
  }
  WriteList("all:\na\na\ndefault:\na\n");
  ProfileSet set;
  set.load();
  EXPECT_NE(set.defaultProfile(), set.findProfile("a")) << "the last equal name is the default";
  EXPECT_EQ(set.findProfile("a")->alertThreshold, 7) << "listed profiles are loaded from their files";

  std::filesystem::remove(HomePath("Profiles/_default_.cfg"));
  EXPECT_EQ(set.load(), -1);
  EXPECT_EQ(set.profileCount(), 0);
}

// Run as root, a profile list that another user could change is not read:
// a profile names the programs that are run.
TEST_F(ProfileSetTest, RootReadsNoProfileAnotherUserCouldChange) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root refuses such a profile";
  Profile("a").save();
  WriteList("all:\na\ndefault:\na\n");
  ::chmod(HomePath("Profiles").c_str(), 0777);
  CapturedLog log;
  ProfileSet set;
  EXPECT_EQ(set.load(), -1);
  EXPECT_EQ(DispatcherProfile(), "<none>");
  const std::string list = HomePath("Profiles/_default_.cfg");
  const std::string refused = "refusing to read " + list + " as root: " + HomePath("Profiles") +
                              " may be written by its group or by other users; only root may own and change it";
  EXPECT_EQ(CapturedLog::Lines(),
            (std::vector<std::string>{refused, refused,
                                      "no notification profile: the profile list " + list +
                                          " cannot be read; no notification will be sent"}));
  ::chmod(HomePath("Profiles").c_str(), 0755);
  EXPECT_EQ(set.load(), 0);
  EXPECT_EQ(DispatcherProfile(), "a");
}

// A FIFO where the profile list or the default profile belongs is refused
// at once with one line naming it: the checker that makes the dispatcher
// waits for no writer, and still stops.
TEST_F(ProfileSetTest, AFifoWhereAProfileBelongsIsRefusedAtOnce) {
  Profile("a").save();
  const std::string list = HomePath("Profiles/_default_.cfg"), profile = HomePath("Profiles/a.cfg");
  const std::string as = ::geteuid() == 0 ? " as root: " : ": ";
  auto refused = [&](const std::string& path) {
    return "refusing to read " + path + as + path + " is not a regular file; only a regular file is used there";
  };
  const std::string no_list =
      "no notification profile: the profile list " + list + " cannot be read; no notification will be sent";
  struct Case {
    std::string fifo;
    int set_result;
    std::string dispatcher_profile;
    std::vector<std::string> lines;
  } cases[] = {
      {list, -1, "<none>", {refused(list), refused(list), no_list}},
      {profile, 0, "a",
       {refused(profile), refused(profile),
        "notification profile \"a\": " + profile +
            " is missing or damaged; only what was read before the fault is used"}},
  };
  for (const Case& c : cases) {
    WriteList("all:\na\ndefault:\na\n");
    std::filesystem::remove(c.fifo);
    UnwrittenFifo fifo(c.fifo);
    ASSERT_TRUE(fifo.made()) << c.fifo;
    CapturedLog log;
    const auto start = std::chrono::steady_clock::now();
    ProfileSet set;
    EXPECT_EQ(set.load(), c.set_result) << c.fifo;
    EXPECT_EQ(DispatcherProfile(), c.dispatcher_profile) << c.fifo;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << "waited on " << c.fifo;
    EXPECT_FALSE(fifo.waited()) << c.fifo;
    EXPECT_EQ(CapturedLog::Lines(), c.lines) << c.fifo;
  }
}

TEST_F(ProfileSetTest, EditsInMemory) {
  ProfileSet set;
  EXPECT_EQ(set.removeProfile("x"), -1);
  EXPECT_EQ(set.addProfile("one"), 0);
  EXPECT_EQ(set.addProfile("two"), 0);
  EXPECT_EQ(set.addProfile("three"), 0);
  EXPECT_EQ(set.addProfile("two"), -1);
  EXPECT_EQ(set.profileCount(), 3);
  EXPECT_EQ(set.defaultProfile(), nullptr);
  EXPECT_EQ(set.setDefaultProfile("nope"), -1);
  EXPECT_EQ(set.setDefaultProfile("three"), 0);
  EXPECT_EQ(set.defaultProfile()->name, "three");
  // Removing any profile makes the first one the default.
  EXPECT_EQ(set.removeProfile("two"), 0);
  EXPECT_EQ(set.defaultProfile()->name, "one");
  EXPECT_EQ(set.removeProfile("one"), 0);
  EXPECT_EQ(set.removeProfile("three"), 0);
  EXPECT_EQ(set.defaultProfile(), nullptr);
  EXPECT_FALSE(std::filesystem::exists(HomePath("Profiles/one.cfg"))) << "nothing reaches the disk";
}

TEST_F(ProfileSetTest, SavesEverythingAndReadsItBack) {
  std::filesystem::remove_all(HomePath("Profiles"));
  ProfileSet set;
  set.addProfile("Day");
  set.addProfile("Night shift");
  set.findProfile("Night shift")->timeSpan = 120;
  set.setDefaultProfile("Night shift");
  // No checking service here: the signal fails and is not looked at.
  EXPECT_EQ(set.saveAllProfiles(), 0);
  EXPECT_EQ(ReadFile(HomePath("Profiles/_default_.cfg")), "all:\nDay\nNight shift\ndefault:\nNight shift\n");
  EXPECT_EQ(set.saveAllProfiles(), 0) << "the folder exists already";

  ProfileSet back;
  ASSERT_EQ(back.load(), 0);
  EXPECT_EQ(back.profileNames(), (std::vector<std::string>{"Day", "Night shift"}));
  EXPECT_EQ(back.defaultProfile()->timeSpan, 120);

  SetRootDirectory(HomePath("no/such/root"));
  EXPECT_EQ(set.saveAllProfiles(), -1);
}

}  // namespace
}  // namespace kst
