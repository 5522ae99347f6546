#include "tools/net/net_send.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>
#include <utmpx.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/process.h"
#include "platform/registry_testing.h"

namespace kst {
namespace {

// A private folder with a login records file listing pseudo-terminals that
// the test itself holds open.
class NetSendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = home_.path();
    ASSERT_FALSE(dir_.empty());
    records_ = dir_ + "/logins";
    std::ofstream(records_).close();
  }
  void TearDown() override {
    for (int fd : masters_) close(fd);
    for (int fd : slaves_) close(fd);
  }

  // Opens a pseudo-terminal and records a login of `user` on it; returns
  // the side the terminal's output can be read from.
  int AddLogin(const std::string& user) {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) return -1;
    EXPECT_EQ(grantpt(master), 0);
    EXPECT_EQ(unlockpt(master), 0);
    std::string device = ptsname(master);
    masters_.push_back(master);
    // Keep the terminal side open so that its output is kept for us.
    slaves_.push_back(open(device.c_str(), O_RDWR | O_NOCTTY));
    utmpx entry{};
    entry.ut_type = USER_PROCESS;
    entry.ut_pid = getpid() + static_cast<int>(masters_.size());
    std::string line = device.substr(5);  // past "/dev/"
    strncpy(entry.ut_line, line.c_str(), sizeof entry.ut_line);
    strncpy(entry.ut_id, line.c_str() + line.size() - std::min<size_t>(line.size(), 4), sizeof entry.ut_id);
    strncpy(entry.ut_user, user.c_str(), sizeof entry.ut_user);
    EXPECT_EQ(utmpxname(records_.c_str()), 0);
    setutxent();
    EXPECT_NE(pututxline(&entry), nullptr);
    endutxent();
    return master;
  }

  static std::string Drain(int master) {
    std::string text;
    pollfd p{master, POLLIN, 0};
    while (poll(&p, 1, 200) > 0 && (p.revents & POLLIN)) {
      char buffer[4096];
      ssize_t got = read(master, buffer, sizeof buffer);
      if (got <= 0) break;
      text.append(buffer, static_cast<size_t>(got));
    }
    return text;
  }

  // Runs the built `net` with our login records; its standard error lands
  // in `err`.
  uint32_t RunNet(const std::string& arguments, std::string* err) {
    ProcessOptions options;
    options.hidden = true;
    options.output_file = dir_ + "/net.out";
    options.extra_environment = {"KST_NET_LOGIN_RECORDS=" + records_};
    std::filesystem::remove(options.output_file);
    uint32_t exit_code = 99;
    std::string program = std::string(getenv("KST_BIN_DIR") ? getenv("KST_BIN_DIR") : "") + "/net";
    EXPECT_EQ(RunProgramAndWait("\"" + program + "\" " + arguments, options, &exit_code), kErrorSuccess);
    std::ifstream in(options.output_file);
    std::stringstream s;
    s << in.rdbuf();
    *err = s.str();
    return exit_code;
  }

  TempKestraneHome home_;
  std::string dir_, records_;
  std::vector<int> masters_, slaves_;
};

TEST_F(NetSendTest, ReachesEveryTerminalOfTheUser) {
  int alice1 = AddLogin("alice");
  if (alice1 < 0) GTEST_SKIP() << "no pseudo-terminals here";
  int alice2 = AddLogin("alice");
  int bob = AddLogin("bob");
  auto logins = ReadLogins(records_);
  ASSERT_EQ(logins.size(), 3u);
  EXPECT_EQ(logins[2].user, "bob");

  std::string err;
  EXPECT_EQ(RunNet("send alice Warning Level: 51 Details:", &err), 0u) << err;
  for (int master : {alice1, alice2}) {
    std::string shown = Drain(master);
    EXPECT_NE(shown.find("Warning Level: 51 Details:"), std::string::npos) << shown;
    EXPECT_NE(shown.find("to alice"), std::string::npos) << shown;
  }
  EXPECT_EQ(Drain(bob), "");

  EXPECT_EQ(RunNet("send * to all", &err), 0u) << err;
  for (int master : {alice1, alice2, bob}) EXPECT_NE(Drain(master).find("to all"), std::string::npos);
}

TEST_F(NetSendTest, SaysWhenNobodyReceivedIt) {
  AddLogin("alice");
  std::string err;
  EXPECT_EQ(RunNet("send carol hello", &err), 2u);
  EXPECT_NE(err.find("not received"), std::string::npos) << err;
  EXPECT_NE(err.find("carol"), std::string::npos) << err;
  EXPECT_EQ(RunNet("send", &err), 1u);
  EXPECT_NE(err.find("usage"), std::string::npos) << err;
  EXPECT_EQ(SendToTerminals({{"eve", "../etc/passwd"}}, "eve", "x"), 0) << "only devices under /dev";
}

}  // namespace
}  // namespace kst
