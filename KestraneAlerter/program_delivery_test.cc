// Deliveries that start programs: a chosen program with the report as its
// arguments, and `net send`, each started as any program is.
#include <gtest/gtest.h>
#include <unistd.h>

#include "KestraneAlerter/alerter_testing.h"
#include "KestraneAlerter/delivery_system.h"
#include "KestraneAlerter/net_send_delivery.h"
#include "KestraneAlerter/shell_delivery.h"

namespace kst {
namespace {

class ProgramDeliveryTest : public AlerterTest {
 protected:
  void SetUp() override {
    AlerterTest::SetUp();
    path_ = getenv("PATH") ? getenv("PATH") : "";
    cwd_ = std::filesystem::current_path();
  }
  void TearDown() override {
    setenv("PATH", path_.c_str(), 1);
    std::filesystem::current_path(cwd_);
    AlerterTest::TearDown();
  }

  // A copy of the recorder under `relative`; what it records lands in
  // <its file name>.out in the home folder.
  std::string InstallRecorder(const std::string& relative) {
    std::string target = HomePath(relative);
    std::filesystem::create_directories(std::filesystem::path(target).parent_path());
    std::filesystem::copy_file(KST_RECORD_ARGS, target);
    return target;
  }
  // The working folder, then the arguments; waits for a started program.
  std::vector<std::string> Recorded(const std::string& name) {
    std::string file = HomePath(name + ".out");
    for (int i = 0; i < 500 && !std::filesystem::exists(file); ++i) usleep(10000);
    std::string text = ReadFile(file);
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t end; (end = text.find('\0', start)) != std::string::npos; start = end + 1) {
      parts.push_back(text.substr(start, end - start));
    }
    return parts;
  }
  static ShellDeliverySettings DescriptionOnly(const std::string& program) {
    ShellDeliverySettings s("run");
    s.executionFilePath = program;
    s.includeComments = s.includeAnalyzerTitles = s.includeCounterNames = false;
    return s;
  }

  std::string path_;
  std::filesystem::path cwd_;
};

TEST_F(ProgramDeliveryTest, ProgramGetsTheWordsOfTheTextAndNoShellRuns) {
  // A path with a blank, as under "C:\Program Files\Kestrane".
  std::string program = InstallRecorder("my programs/recorder");
  AlertMessage m = Message(7, "l", "a", "a \"b c\" ;|$(touch pwned)`touch pwned2` d\\\"e f\\g\nx");
  ShellDeliverySystem shell;
  ShellDeliverySettings s = DescriptionOnly(program);
  ASSERT_EQ(shell.deliver({&m}, s), 0);
  std::vector<std::string> expected = {home_,       "7\na",  "b c",    ";|$(touch", "pwned)`touch",
                                       "pwned2`",   "d\"e",  "f\\g\nx,", "warning",   "level:",
                                       "7.\n"};
  EXPECT_EQ(Recorded("recorder"), expected);
  EXPECT_FALSE(std::filesystem::exists(HomePath("pwned")));
  EXPECT_FALSE(std::filesystem::exists(HomePath("pwned2")));
  EXPECT_FALSE(std::filesystem::exists(HomePath("debug output file.txt")));
}

TEST_F(ProgramDeliveryTest, FailuresLeaveOnlyTheLastAttempt) {
  AlertMessage m = Message(7, "l", "a", "first");
  ShellDeliverySystem shell;
  ShellDeliverySettings s = DescriptionOnly("");
  EXPECT_EQ(shell.deliver({}, s), -1);
  EXPECT_EQ(shell.lastSent(), 0);
  EXPECT_EQ(shell.deliver({&m}, s), -1);
  std::string root(kWindowsInstallDir);
  EXPECT_EQ(ReadFile(HomePath("debug output file.txt")),
            "Done! \n \n7\nfirst, warning level: 7.\n \n" + root + " \n");

  AlertMessage second = Message(9, "l", "a", "second");
  s.executionFilePath = "C:\\Program Files\\Kestrane\\missing.exe";
  EXPECT_EQ(shell.deliver({&second}, s), -1);
  EXPECT_EQ(ReadFile(HomePath("debug output file.txt")),
            "Done! \nC:\\Program Files\\Kestrane\\missing.exe \n9\nsecond, warning level: 9.\n \n" + root + " \n");
}

TEST_F(ProgramDeliveryTest, ABareNameIsOnlyTheFileInTheCurrentFolder) {
  // "touch" is along PATH, but the path names no file here: the start
  // fails and leaves its trace.
  ASSERT_EQ(chdir(home_.c_str()), 0);
  AlertMessage m = Message(7, "l", "a", "d");
  ShellDeliverySystem shell;
  ShellDeliverySettings s = DescriptionOnly("touch");
  EXPECT_EQ(shell.deliver({&m}, s), -1);
  EXPECT_FALSE(std::filesystem::exists(HomePath("7")));
  std::string root(kWindowsInstallDir);
  EXPECT_EQ(ReadFile(HomePath("debug output file.txt")), "Done! \ntouch \n7\nd, warning level: 7.\n \n" + root + " \n");

  // A file of that name in the current folder is the one started, in the
  // root folder.
  InstallRecorder("recorder");
  std::filesystem::remove(HomePath("debug output file.txt"));
  s.executionFilePath = "recorder";
  EXPECT_EQ(shell.deliver({&m}, s), 0);
  EXPECT_EQ(Recorded("recorder"), (std::vector<std::string>{home_, "7\nd,", "warning", "level:", "7.\n"}));
  EXPECT_FALSE(std::filesystem::exists(HomePath("debug output file.txt")));
}

TEST_F(ProgramDeliveryTest, StartedProgramRunsOnByItself) {
  std::string slow = HomePath("slow.sh");
  // It ends once it sees "go" (or after a minute), leaving "ended".
  WriteFile(slow, "#!/bin/sh\nfor i in $(seq 600); do [ -e '" + HomePath("go") + "' ] && break; sleep 0.1; done\n"
                  "touch '" + HomePath("ended") + "'\n");
  std::filesystem::permissions(slow, std::filesystem::perms::owner_all);
  AlertMessage m = Message(7, "l", "a", "d");
  ShellDeliverySystem shell;
  ShellDeliverySettings s = DescriptionOnly(slow);
  EXPECT_EQ(shell.deliver({&m}, s), 0);
  EXPECT_FALSE(std::filesystem::exists(HomePath("ended"))) << "deliver waited until the program ended";
  WriteFile(HomePath("go"), "");
}

TEST(NetSendCommandTest, FiltersEveryCharacterOutsideTheSet) {
  struct Case {
    const char* destination;
    const char* text;
    const char* command;
  } cases[] = {
      {"ops", "Warning Level: 51\nDetails:\n", "net send ops Warning Level: 51 Details: "},
      {"ops.team", "a,b.c\"d&e|f<g>h%i^j", "net send ops team a b c d e f g h i j"},
      {"DOM\\user", "a/b:c_d-e*f\\g", "net send DOM\\user a/b:c_d-e*f\\g"},
      {"*", "caf\xc3\xa9!", "net send * caf   "},
  };
  for (const Case& c : cases) EXPECT_EQ(NetSendCommand(c.destination, c.text), c.command) << c.text;
  EXPECT_EQ(NetSendCommand("abc", std::string(1000, 'x')).size(), 1000u + 10u + 3u);
}

TEST_F(ProgramDeliveryTest, NetSendRunsTheFilteredWordsAsTheyAre) {
  InstallRecorder("bin/net");
  setenv("PATH", (HomePath("bin") + ":" + path_).c_str(), 1);
  // Files a "*" would match, were it expanded.
  WriteFile(HomePath("glob-bait"), "");
  ASSERT_EQ(chdir(home_.c_str()), 0);
  NetSendDeliverySettings s("n");
  s.destination = "*";
  s.includeAnalyzerTitles = s.includeCounterNames = false;
  AlertMessage m = Message(51, "l", "a", "disk\\c: full; rm * `x` $(y)");
  NetSendDeliverySystem net;
  EXPECT_EQ(net.deliver({&m}, s), 0);
  std::vector<std::string> expected = {home_,   "send", "*",  "Warning", "Level:", "51", "Details:", "disk\\c:",
                                       "full",  "rm",   "*",  "x",       "y",      "warning", "level:", "51"};
  EXPECT_EQ(Recorded("net"), expected);

  // Run as root, a `net` that another user could have put first on PATH is
  // not run, and the log names it; root's own is.
  if (::geteuid() == 0) {
    const std::string planted = HomePath("bin/net");
    ::chown(planted.c_str(), 65534, 65534);
    std::filesystem::remove(HomePath("net.out"));
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(net.deliver({&m}, s), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "refusing to run " + planted + " as root: " + planted +
                  " belongs to user 65534, not root; only root may own and change it\n");
    EXPECT_FALSE(std::filesystem::exists(HomePath("net.out")));
    ::chown(planted.c_str(), 0, 0);
    EXPECT_EQ(net.deliver({&m}, s), 0);
    EXPECT_EQ(Recorded("net"), expected);
  }

  // Nothing to send, or nobody to send it to: nothing runs.
  std::filesystem::remove(HomePath("net.out"));
  EXPECT_EQ(net.deliver({}, s), 0);
  s.destination.clear();
  EXPECT_EQ(net.deliver({&m}, s), 0);
  EXPECT_FALSE(std::filesystem::exists(HomePath("net.out")));
}

}  // namespace
}  // namespace kst
