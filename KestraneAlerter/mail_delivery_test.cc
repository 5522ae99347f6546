#include "KestraneAlerter/mail_delivery.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "KestraneAlerter/alerter_testing.h"
#include "KestraneAlerter/delivery_system.h"
#include "KestraneAlerter/report_text.h"
#include "KestraneAlerter/test_seams.h"

extern char** environ;

namespace kst {
namespace {

TEST(SmtpDataBodyTest, EndsLinesWithCrlfAndStuffsDots) {
  struct Case {
    const char* text;
    const char* body;
  } cases[] = {
      {"a\nb\n", "a\r\nb\r\n.\r\n"},
      {".\n", "..\r\n.\r\n"},
      {"x\n.\n..y\nz.\n", "x\r\n..\r\n...y\r\nz.\r\n.\r\n"},
      {"cut mid-line", "cut mid-line\r\n.\r\n"},
      {"", "\r\n.\r\n"},
      {"a\r\nb\rc\n", "a\r\nb\r\nc\r\n.\r\n"},
      {"x\r.\r\nQUIT\n", "x\r\n..\r\nQUIT\r\n.\r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(SmtpDataBody(c.text), c.body) << c.text;
}

// A listening socket on a free loopback port.
class Listener {
 public:
  Listener() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(fd_, 4);
    socklen_t length = sizeof address;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~Listener() { close(fd_); }
  uint16_t port() const { return port_; }
  // A connection that is waiting, or -1 at once when there is none.
  int AcceptWaiting() {
    fcntl(fd_, F_SETFL, O_NONBLOCK);
    return accept(fd_, nullptr, nullptr);
  }
  int Accept() { return accept(fd_, nullptr, nullptr); }

 private:
  int fd_;
  uint16_t port_;
};

MailJob* Job(const std::string& recipient, const std::string& sender, const std::string& server,
             const std::string& text = "text\n") {
  auto settings = std::make_unique<MailDeliverySettings>("m");
  settings->recipient = recipient;
  settings->sender = sender;
  settings->mailServer = server;
  return new MailJob{text, std::move(settings)};
}

class MailTest : public AlerterTest {
 protected:
  void TearDown() override {
    SetMailPortForTesting(0);
    SetMailTimeoutForTesting(0);
    AlerterTest::TearDown();
  }
};

TEST_F(MailTest, MissingAddressOpensNoSocket) {
  Listener listener;
  SetMailPortForTesting(listener.port());
  sendMailThread(Job("", "s@x", "127.0.0.1"));
  sendMailThread(Job("r@x", "", "127.0.0.1"));
  sendMailThread(Job("r@x", "s@x", ""));
  EXPECT_LT(listener.AcceptWaiting(), 0);

  // deliver itself only refuses an empty list; the wait counts the attempt.
  MailDeliverySystem mail;
  MailDeliverySettings settings("m");
  EXPECT_EQ(mail.deliver({}, settings), -1);
  EXPECT_EQ(mail.lastSent(), 0);
  AlertMessage m = Message(5, "l", "a", "d");
  EXPECT_EQ(mail.deliver({&m}, settings), 0);
  EXPECT_NE(mail.lastSent(), 0);
}

TEST_F(MailTest, NoHeloAfterABadGreetingAndSilentServersTimeOut) {
  Listener listener;
  SetMailPortForTesting(listener.port());
  std::string received;
  std::thread server([&] {
    int fd = listener.Accept();
    const char greeting[] = "554 no service\r\n";
    send(fd, greeting, sizeof greeting - 1, MSG_NOSIGNAL);
    char buffer[256];
    for (ssize_t got; (got = recv(fd, buffer, sizeof buffer, 0)) > 0;) received.append(buffer, got);
    close(fd);
  });
  sendMailThread(Job("r@x", "s@x", "127.0.0.1"));
  server.join();
  EXPECT_EQ(received, "") << "the client closed without a word";

  // A server that accepts and never answers is given up.
  SetMailTimeoutForTesting(1);
  std::thread mute([&] {
    int fd = listener.Accept();
    char buffer[16];
    recv(fd, buffer, sizeof buffer, 0);  // returns when the client gives up
    close(fd);
  });
  auto start = std::chrono::steady_clock::now();
  sendMailThread(Job("r@x", "s@x", "127.0.0.1"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  mute.join();
}

TEST_F(MailTest, NamesAndAddressesAreLookedUp) {
  // A name that begins with a digit is taken as an address and fails; an
  // unknown name fails; neither connects.
  Listener listener;
  SetMailPortForTesting(listener.port());
  sendMailThread(Job("r@x", "s@x", "1nvalid.example"));
  sendMailThread(Job("r@x", "s@x", "no-such-host.invalid"));
  EXPECT_LT(listener.AcceptWaiting(), 0);
}

// A real SMTP server from the system's packages, on a port of our own.
class SmtpServer {
 public:
  SmtpServer(const std::string& maildir, uint16_t port) {
    std::string listen = "127.0.0.1:" + std::to_string(port);
    const char* argv[] = {"/usr/bin/python3", "-m", "aiosmtpd", "-n", "-l", listen.c_str(),
                          "-c", "aiosmtpd.handlers.Mailbox", maildir.c_str(), nullptr};
    if (posix_spawn(&pid_, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ) != 0) pid_ = -1;
  }
  ~SmtpServer() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool running() const { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }

 private:
  pid_t pid_ = -1;
};

bool ServerAvailable() {
  return access("/usr/bin/python3", X_OK) == 0 &&
         system("/usr/bin/python3 -c 'import aiosmtpd' >/dev/null 2>&1") == 0;
}

bool WaitForPort(uint16_t port) {
  for (int i = 0; i < 200; ++i) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool up = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    if (up) return true;
    usleep(50000);
  }
  return false;
}

TEST_F(MailTest, RealServerReceivesTheReportIntact) {
  if (!ServerAvailable()) GTEST_SKIP() << "no SMTP server (python3-aiosmtpd) on this machine";
  uint16_t port;
  {
    Listener probe;  // a port that was free a moment ago
    port = probe.port();
  }
  std::string maildir = HomePath("maildir");
  SmtpServer server(maildir, port);
  if (!WaitForPort(port)) GTEST_SKIP() << "the SMTP server did not start";
  SetMailPortForTesting(port);

  AlertMessage m = Message(42, "Disk log", "Disk rules", "first line\n.\n..two dots\n.dot first\nlast");
  MailDeliverySettings settings("m");
  settings.recipient = "admin@example.test";
  settings.sender = "kestrane@example.test";
  settings.mailServer = "127.0.0.1";
  const std::string text = buildReportText({&m}, settings);
  ASSERT_NE(text.find("\n.\n"), std::string::npos);

  MailDeliverySystem mail;
  ASSERT_EQ(mail.deliver({&m}, settings), 0);
  std::filesystem::path inbox = maildir + "/new";
  std::string stored;
  for (int i = 0; i < 200 && stored.empty(); ++i) {
    usleep(50000);
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(inbox, ignored)) stored = ReadFile(entry.path());
  }
  ASSERT_FALSE(stored.empty()) << "no mail arrived";
  EXPECT_NE(stored.find("From: Kestrane\n"), std::string::npos) << stored;
  EXPECT_NE(stored.find("Subject: Alert\n"), std::string::npos) << stored;
  size_t body = stored.find("\n\n");
  ASSERT_NE(body, std::string::npos);
  EXPECT_EQ(stored.substr(body + 2), text);
}

}  // namespace
}  // namespace kst
