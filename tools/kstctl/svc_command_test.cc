#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/registry.h"
#include "platform/registry_testing.h"
#include "tools/kstctl/kstctl_testing.h"

namespace kst {
namespace {

class SvcCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* bin = std::getenv("KST_BIN_DIR");
    checker_ = std::string(bin ? bin : "bin") + "/KestraneChecker";
    Run({"reg", "set", "SOFTWARE\\Kestrane", "rootDirectory", "string", home_.path()});
    Run({"reg", "set", "SOFTWARE\\Kestrane", "intervalBetweenCheckings", "dword", "60000"});
    Run({"reg", "set", "System\\CurrentControlSet\\Services\\Kestrane buffer creator",
         "notFirstStartFlag", "dword", "1"});
    // The reload below rereads the collector's counters: without them the
    // check would fail and stop the service.
    Run({"reg", "set", "System\\CurrentControlSet\\Services\\Kestrane buffer creator",
         "optCounters", "multi"});
  }
  void TearDown() override {
    // The program ends before its home goes.
    Run({"svc", "stop", "kstChecker"});
    for (int i = 0; i < 150; ++i) {
      std::string list = Run({"svc", "list"}).out;
      if (list.empty() || list.find(" stopped ") != std::string::npos) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  KstctlOutcome Run(const std::vector<std::string>& words) { return Kstctl(words, home_.path()); }
  void Install() {
    std::string command = "KESTRANE_HOME=" + ShellQuote(home_.path()) + " " +
                          ShellQuote(checker_) + " -install";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }

  TempKestraneHome home_;
  std::string checker_;
};

TEST_F(SvcCommandTest, ServicesFromInstallationToStop) {
  KstctlOutcome missing = Run({"svc", "start", "kstChecker"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("no such service (error 1060)"), std::string::npos) << missing.err;
  EXPECT_EQ(Run({"svc", "control", "x", "kstChecker"}).status, 2);
  EXPECT_EQ(Run({"svc", "stop"}).status, 2);

  Install();
  EXPECT_EQ(Run({"svc", "list"}).out,
            "Kestrane stat checker        stopped          automatic\n");
  // What the init system runs at start: every stopped automatic service.
  KstctlOutcome started = Run({"svc", "start-all"});
  EXPECT_EQ(started.status, 0) << started.err;
  EXPECT_EQ(started.out, "Kestrane stat checker: started\n");
  EXPECT_EQ(Run({"svc", "start-all"}).out, "");
  KstctlOutcome again = Run({"svc", "start", "Kestrane stat checker"});
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("already running (error 1056)"), std::string::npos) << again.err;

  // The start returns once the program connected; its first status (with
  // the controls it accepts) may come a moment later.
  for (int i = 0; i < 100 && Run({"svc", "list"}).out.find("running") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  KstctlOutcome query = Run({"svc", "query", "kstChecker"});
  EXPECT_EQ(query.status, 0);
  EXPECT_NE(query.out.find("command:     " + checker_ + " -service\n"), std::string::npos)
      << query.out;
  EXPECT_NE(query.out.find("accepts:     stop pause/continue shutdown\n"), std::string::npos)
      << query.out;

  EXPECT_EQ(Run({"svc", "pause", "kstChecker"}).out, "Kestrane stat checker: paused\n");
  EXPECT_EQ(Run({"svc", "control", "4", "kstChecker"}).out, "Kestrane stat checker: paused\n");
  EXPECT_EQ(Run({"svc", "continue", "kstChecker"}).out, "Kestrane stat checker: running\n");
  EXPECT_EQ(Run({"svc", "control", "129", "kstChecker"}).status, 0);
  KstctlOutcome unknown = Run({"svc", "control", "200", "kstChecker"});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_NE(unknown.err.find("error 120"), std::string::npos) << unknown.err;
  EXPECT_EQ(Run({"svc", "stop", "kstChecker"}).out, "Kestrane stat checker: stop pending\n");
}

// Run as root, a start refused for a path another user could have changed
// names the path and why, before the registry behind it is read.
TEST_F(SvcCommandTest, RefusedStartNamesThePathAndWhy) {
  if (::geteuid() != 0) GTEST_SKIP() << "the refusal guards services run as root";
  Install();
  const std::string log = home_.path() + "/log/Kestrane stat checker.log";
  std::filesystem::create_directories(home_.path() + "/log");
  std::filesystem::create_symlink(home_.path() + "/elsewhere.log", log);
  KstctlOutcome linked_log = Run({"svc", "start", "kstChecker"});
  EXPECT_EQ(linked_log.status, 1);
  EXPECT_EQ(linked_log.err, "kstctl svc: start 'kstChecker': access denied (error 5): " + log +
                                " is a symbolic link; a service's log is never written through one\n");
  std::filesystem::remove(log);

  const std::string database = home_.path() + "/registry.db";
  std::filesystem::rename(database, home_.path() + "/kept.db");
  std::filesystem::create_symlink(home_.path() + "/planted.db", database);
  KstctlOutcome linked_registry = Run({"svc", "start", "kstChecker"});
  EXPECT_EQ(linked_registry.status, 1);
  EXPECT_EQ(linked_registry.err.rfind("kstctl svc: start 'kstChecker': refused: " + database +
                                          " is a symbolic link",
                                      0),
            0u)
      << linked_registry.err;
  EXPECT_EQ(Run({"svc", "start-all"}).status, 1);
  EXPECT_FALSE(std::filesystem::exists(home_.path() + "/planted.db"));
  std::filesystem::remove(database);
  std::filesystem::rename(home_.path() + "/kept.db", database);
}

}  // namespace
}  // namespace kst
