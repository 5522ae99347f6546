#include "KestraneAlerter/mail_delivery.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "KestraneAlerter/alert_dispatcher.h"
#include "KestraneAlerter/alerter_testing.h"
#include "KestraneAlerter/delivery_system.h"
#include "KestraneAlerter/report_text.h"
#include "KestraneAlerter/test_seams.h"

extern char** environ;

namespace kst {
namespace {

TEST(SmtpDataBodyTest, EndsLinesWithCrlfStuffsDotsAndEndsWithTheMarker) {
  struct Case {
    const char* text;
    const char* body;
  } cases[] = {
      // The text's last line end, then an empty line, then the ".".
      {"a\nb\n", "a\r\nb\r\n\r\n.\r\n"},
      {".\n", "..\r\n\r\n.\r\n"},
      {"x\n.\n..y\nz.\n", "x\r\n..\r\n...y\r\nz.\r\n\r\n.\r\n"},
      {"cut mid-line", "cut mid-line\r\n.\r\n"},
      {"", "\r\n.\r\n"},
      {"a\r\nb\rc\n", "a\r\nb\r\nc\r\n\r\n.\r\n"},
      {"x\r.\r\nQUIT\n", "x\r\n..\r\nQUIT\r\n\r\n.\r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(SmtpDataBody(c.text), c.body) << c.text;
}

constexpr int kWaitMs = 5000;

// A listening socket on a free loopback port.
class Listener {
 public:
  explicit Listener(int backlog = 4) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(fd_, backlog);
    socklen_t length = sizeof address;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~Listener() { close(fd_); }
  uint16_t port() const { return port_; }
  // A connection that comes within `ms` milliseconds, or -1.
  int Accept(int ms) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, ms) != 1) return -1;
    return accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
  }

 private:
  int fd_;
  uint16_t port_;
};

// Reads until what comes ends with `end`, or the peer closes, and adds it
// to `received`; false when nothing came for kWaitMs.
bool ReadUntil(int fd, const std::string& end, std::string* received, bool* closed) {
  std::string chunk;
  while (chunk.size() < end.size() || chunk.compare(chunk.size() - end.size(), end.size(), end) != 0) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, kWaitMs) != 1) break;
    char buffer[4096];
    ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) {
      *closed = true;
      break;
    }
    chunk.append(buffer, static_cast<size_t>(got));
  }
  *received += chunk;
  return *closed || (chunk.size() >= end.size() && chunk.compare(chunk.size() - end.size(), end.size(), end) == 0);
}

// An SMTP server on loopback that answers one connection with `replies`:
// the first as the greeting, each further one after a whole command (after
// a 354, after the whole message), then records what else comes until the
// client closes.
class ScriptedServer {
 public:
  // `hang_up`: after the last reply, take one more command and close
  // without answering it.
  explicit ScriptedServer(std::vector<std::string> replies, bool hang_up = false)
      : replies_(std::move(replies)), hang_up_(hang_up) {
    thread_ = std::thread([this] { Serve(); });
  }
  ~ScriptedServer() {
    if (thread_.joinable()) thread_.join();
  }
  uint16_t port() const { return listener_.port(); }
  // Waits for the conversation to end; what the client sent.
  std::string Received() {
    if (thread_.joinable()) thread_.join();
    return received_;
  }
  // What went wrong on the server's side, if anything.
  const std::string& trouble() const { return trouble_; }

 private:
  void Serve() {
    int fd = listener_.Accept(kWaitMs);
    if (fd < 0) {
      trouble_ = "the mail client did not connect within 5 s";
      return;
    }
    bool closed = false;
    std::string end = "\r\n";
    for (const std::string& reply : replies_) {
      send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
      if (&reply == &replies_.back()) break;
      if (!ReadUntil(fd, end, &received_, &closed)) trouble_ = "no command came within 5 s";
      if (closed || !trouble_.empty()) break;
      end = reply.compare(0, 3, "354") == 0 ? "\r\n.\r\n" : "\r\n";
    }
    if (hang_up_ && !closed && ReadUntil(fd, "\r\n", &received_, &closed)) closed = true;
    // The client says no more and closes; a QUIT would show here.
    if (!closed && !ReadUntil(fd, std::string(1, '\0') + "never", &received_, &closed)) {
      trouble_ = "the client did not close within 5 s";
    }
    close(fd);
  }

  Listener listener_;
  std::vector<std::string> replies_;
  bool hang_up_;
  std::string received_;
  std::string trouble_;
  std::thread thread_;
};

MailJob* Job(const std::string& recipient, const std::string& sender, const std::string& server,
             const std::string& text = "text\n") {
  auto settings = std::make_unique<MailDeliverySettings>("m");
  settings->recipient = recipient;
  settings->sender = sender;
  settings->mailServer = server;
  return new MailJob{text, std::move(settings), nullptr};
}

class MailTest : public AlerterTest {
 protected:
  void TearDown() override {
    SetMailPortForTesting(0);
    SetMailTimeoutForTesting(0);
    AlerterTest::TearDown();
  }
};

const std::vector<std::string> kGoodReplies = {"220 ready\r\n", "250 hello\r\n", "250 sender ok\r\n",
                                               "250 recipient ok\r\n", "354 go on\r\n", "250 queued\r\n"};
const char kRecipient[] = "ops@example.test";
const char kSender[] = "kst@example.test";
const char kText[] = "Warning Level: 9\n.dot\nlast\n";
// What the client sends after each good reply, in order.
const std::vector<std::string> kCommands = {
    "HELO 127.0.0.1\r\n", "MAIL FROM: kst@example.test\r\n", "RCPT TO: ops@example.test\r\n", "DATA\r\n",
    "From: Kestrane\r\nTo: Administrator\r\nSubject: Alert\r\n\r\nWarning Level: 9\r\n..dot\r\nlast\r\n\r\n.\r\n"};

// The whole dialogue against a server given as a dotted address: each
// command byte for byte, the HELO with the connection's own address, no
// QUIT after the last reply, nothing on the log.
bool WholeDialogueGoesThrough(std::string* why) {
  ScriptedServer server(kGoodReplies);
  SetMailPortForTesting(server.port());
  sendMailThread(Job(kRecipient, kSender, "127.0.0.1", kText));
  std::string expected;
  for (const std::string& command : kCommands) expected += command;
  std::string received = server.Received();
  if (!server.trouble().empty()) *why = server.trouble();
  else if (received != expected) *why = "received:\n" + received;
  return why->empty();
}

TEST_F(MailTest, DialogueGoesOutByteForByte) {
  CapturedLog log;
  std::string why;
  EXPECT_TRUE(WholeDialogueGoesThrough(&why)) << why;
  EXPECT_EQ(CapturedLog::Lines(), std::vector<std::string>{});
}

TEST_F(MailTest, DialogueNeedsNoHostsFile) {
  if (geteuid() != 0) GTEST_SKIP() << "hiding /etc/hosts needs root (a mount namespace of its own)";
  if (access("/etc/hosts", F_OK) != 0) {
    std::string why;
    EXPECT_TRUE(WholeDialogueGoesThrough(&why)) << why;
    return;
  }
  std::string empty = HomePath("empty-hosts");
  WriteFile(empty, "");
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // In the child only: its own mounts, with an empty hosts file.
    bool hidden = unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                  mount(empty.c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) == 0;
    if (!hidden) _exit(2);
    std::string why;
    _exit(WholeDialogueGoesThrough(&why) ? 0 : 1);
  }
  int status = 0;
  bool ended = false;
  for (int i = 0; i < 1500 && !ended; ++i) {
    ended = waitpid(child, &status, WNOHANG) == child;
    if (!ended) usleep(10000);
  }
  if (!ended) {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
  }
  ASSERT_TRUE(ended) << "the dialogue with an empty /etc/hosts did not end within 15 s";
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 2) GTEST_SKIP() << "no mount namespace could be made here";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the dialogue failed with an empty /etc/hosts";
}

// The expected code with one of its three digits changed, or cut to two
// bytes (too short to count).
std::string WrongReply(const std::string& good, int variant) {
  if (variant == 3) return good.substr(0, 2);
  std::string wrong = good;
  wrong[variant] = static_cast<char>('0' + (wrong[variant] - '0' + 1) % 10);
  return wrong;
}

TEST_F(MailTest, EveryReplyIsCheckedAndAWrongOneEndsTheDialogue) {
  const char* steps[] = {"greeting", "HELO", "MAIL FROM", "RCPT TO", "DATA", "message"};
  CapturedLog log;
  for (size_t step = 0; step < kGoodReplies.size(); ++step) {
    for (int variant = 0; variant < 4; ++variant) {
      std::vector<std::string> replies(kGoodReplies.begin(), kGoodReplies.begin() + step);
      std::string wrong = WrongReply(kGoodReplies[step], variant);
      replies.push_back(wrong);
      ScriptedServer server(replies);
      SetMailPortForTesting(server.port());
      CapturedLog::Clear();
      sendMailThread(Job(kRecipient, kSender, "127.0.0.1", kText));
      std::string expected;
      for (size_t i = 0; i < step; ++i) expected += kCommands[i];
      std::string shown = wrong.substr(0, wrong.find('\r'));
      SCOPED_TRACE(std::string(steps[step]) + " answered " + shown);
      EXPECT_EQ(server.Received(), expected);
      EXPECT_EQ(server.trouble(), "");
      std::string code = kGoodReplies[step].substr(0, 3);
      EXPECT_EQ(CapturedLog::Lines(),
                std::vector<std::string>{"mail transporter \"m\": not sent: " + std::string(steps[step]) +
                                         ": the server answered \"" + shown + "\", not " + code});
    }
  }
}

TEST_F(MailTest, SilentAndClosingServersEndTheDialogueWithALine) {
  CapturedLog log;
  SetMailTimeoutForTesting(1);
  {
    ScriptedServer mute({""});  // accepts, says nothing, waits for the client to close
    SetMailPortForTesting(mute.port());
    auto start = std::chrono::steady_clock::now();
    sendMailThread(Job("r@x", "s@x", "127.0.0.1"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30))
        << "the dialogue waited on past its timeout of 1 s (a minute by default)";
    EXPECT_EQ(mute.Received(), "");
  }
  {
    ScriptedServer closing({"220 ready\r\n", "250 hello\r\n"}, /*hang_up=*/true);
    SetMailPortForTesting(closing.port());
    sendMailThread(Job("r@x", "s@x", "127.0.0.1"));
    EXPECT_EQ(closing.Received(), "HELO 127.0.0.1\r\nMAIL FROM: s@x\r\n");
  }
  {
    // One waiting connection fills the queue; the server takes no other.
    Listener full(0);
    int waiting = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(full.port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(waiting, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    SetMailPortForTesting(full.port());
    sendMailThread(Job("r@x", "s@x", "127.0.0.1"));
    close(waiting);
  }
  EXPECT_EQ(CapturedLog::Lines(),
            (std::vector<std::string>{"mail transporter \"m\": not sent: greeting: no answer within 1 s",
                                      "mail transporter \"m\": not sent: MAIL FROM: the server closed the connection",
                                      "mail transporter \"m\": not sent: connecting to 127.0.0.1: no answer within 1 s"}));
}

TEST_F(MailTest, SettingsAndServerNamesThatCannotBeUsedSayWhy) {
  Listener listener;
  SetMailPortForTesting(listener.port());
  CapturedLog log;
  sendMailThread(Job("", "s@x", "127.0.0.1"));
  sendMailThread(Job("r@x", "", "127.0.0.1"));
  sendMailThread(Job("r@x", "s@x", ""));
  // A name that begins with a digit is taken as an address.
  sendMailThread(Job("r@x", "s@x", "1nvalid.example"));
  sendMailThread(Job("r@x", "s@x", "no-such-host.invalid"));
  EXPECT_LT(listener.Accept(0), 0) << "nothing connects";
  std::vector<std::string> lines = CapturedLog::Lines();
  ASSERT_EQ(lines.size(), 5u);
  const char* expected[] = {"no recipient is set", "no sender is set", "no mail server is set",
                            "the mail server \"1nvalid.example\" is not a dotted IPv4 address",
                            "looking up the mail server \"no-such-host.invalid\": "};
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(lines[i].rfind(std::string("mail transporter \"m\": not sent: ") + expected[i], 0), 0u) << lines[i];
  }

  // deliver itself only refuses an empty list; the wait counts the attempt.
  MailDeliverySystem mail;
  MailDeliverySettings settings("m");
  EXPECT_EQ(mail.deliver({}, settings), -1);
  EXPECT_EQ(mail.lastSent(), 0);
  AlertMessage m = Message(5, "l", "a", "d");
  EXPECT_EQ(mail.deliver({&m}, settings), 0);
  EXPECT_NE(mail.lastSent(), 0);
  for (int i = 0; i < 500 && MailSendersRunning() != 0; ++i) usleep(10000);
  EXPECT_EQ(MailSendersRunning(), 0) << "the sender of a mail without addresses did not end within 5 s";
}

size_t ThreadCount() {
  size_t count = 0;
  if (DIR* tasks = opendir("/proc/self/task")) {
    while (dirent* entry = readdir(tasks)) count += entry->d_name[0] != '.';
    closedir(tasks);
  }
  return count;
}

bool SendersEnd() {
  for (int i = 0; i < 1000 && MailSendersRunning() != 0; ++i) usleep(10000);
  return MailSendersRunning() == 0;
}

TEST_F(MailTest, ASilentServerHoldsOnlyABoundedNumberOfSenders) {
  // Connections wait in the queue, never accepted, never answered.
  Listener silent(128);
  SetMailPortForTesting(silent.port());
  SetMailTimeoutForTesting(2);
  CapturedLog log;
  size_t threads_before = ThreadCount();
  AlertMessage m = Message(5, "l", "a", "d");
  auto Settings = [](const std::string& name) {
    MailDeliverySettings s(name);
    s.recipient = "r@x";
    s.sender = "s@x";
    s.mailServer = "127.0.0.1";
    return s;
  };
  auto start = std::chrono::steady_clock::now();
  MailDeliverySystem one;
  MailDeliverySettings one_settings = Settings("one");
  int started = 0;
  for (int i = 0; i < 10; ++i) started += one.deliver({&m}, one_settings) == 0;
  EXPECT_EQ(started, kMailSendersPerTransporter);
  std::vector<std::string> lines = CapturedLog::Lines();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], "mail transporter \"one\": not sent: dropped, 4 mails of this transporter are still being sent");

  // Many transporters: together they stop at the bound for all.
  CapturedLog::Clear();
  std::vector<MailDeliverySystem> many(12);
  MailDeliverySettings many_settings = Settings("many");
  for (int round = 0; round < 10; ++round) {
    for (MailDeliverySystem& t : many) started += t.deliver({&m}, many_settings) == 0;
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2))
      << "deliver waited on mail (a silent server holds a sender for 2 s)";
  EXPECT_EQ(started, kMailSendersInAll);
  EXPECT_EQ(MailSendersRunning(), kMailSendersInAll);
  EXPECT_LE(ThreadCount(), threads_before + kMailSendersInAll);
  lines = CapturedLog::Lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "mail transporter \"many\": not sent: dropped, 32 mails are still being sent");

  ASSERT_TRUE(SendersEnd()) << "the senders did not give up within 10 s";
  // The places come back: the transporter that was full sends again, and
  // so does one that was turned away by the bound for all.
  CapturedLog::Clear();
  EXPECT_EQ(one.deliver({&m}, one_settings), 0);
  for (int i = 0; i < kMailSendersPerTransporter; ++i) EXPECT_EQ(many.back().deliver({&m}, many_settings), 0) << i;
  ASSERT_TRUE(SendersEnd()) << "the last sender did not give up within 10 s";
  std::vector<std::string> last = CapturedLog::Lines();
  ASSERT_EQ(last.size(), 1u + kMailSendersPerTransporter);
  EXPECT_EQ(std::count(last.begin(), last.end(), "mail transporter \"one\": not sent: greeting: no answer within 2 s"), 1);
}

TEST_F(MailTest, AlertsBackToBackNeverWaitOnASilentServer) {
  Listener silent(128);
  SetMailPortForTesting(silent.port());
  SetMailTimeoutForTesting(2);
  Profile profile("P");
  auto mail = std::make_unique<MailDeliverySettings>("ops mail");
  mail->recipient = "r@x";
  mail->sender = "s@x";
  mail->mailServer = "127.0.0.1";
  profile.deliverySettings.push_back(std::move(mail));
  ASSERT_EQ(profile.save(), 0);
  WriteFile(HomePath("Profiles/_default_.cfg"), "all:\nP\ndefault:\nP\n");
  CapturedLog log;
  size_t threads_before = ThreadCount();
  AlertDispatcher dispatcher;
  auto slowest = std::chrono::steady_clock::duration::zero();
  for (int i = 0; i < 100; ++i) {
    AlertMessage m = Message(50, "l", "a", "d", i);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(dispatcher.process(m), 0);
    slowest = std::max(slowest, std::chrono::steady_clock::now() - start);
  }
  EXPECT_LT(slowest, std::chrono::seconds(2)) << "an alert waited on mail (a silent server holds a sender for 2 s)";
  EXPECT_EQ(MailSendersRunning(), kMailSendersPerTransporter);
  EXPECT_LE(ThreadCount(), threads_before + kMailSendersPerTransporter);
  EXPECT_EQ(CapturedLog::Lines().size(), 100u - kMailSendersPerTransporter) << "one line per dropped mail";
  EXPECT_TRUE(SendersEnd()) << "the senders did not give up within 10 s";
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
  ASSERT_FALSE(stored.empty()) << "no mail arrived within 10 s";
  EXPECT_NE(stored.find("From: Kestrane\n"), std::string::npos) << stored;
  EXPECT_NE(stored.find("Subject: Alert\n"), std::string::npos) << stored;
  size_t body = stored.find("\n\n");
  ASSERT_NE(body, std::string::npos);
  // The text, then the empty line before the final ".".
  EXPECT_EQ(stored.substr(body + 2), text + "\n");
}

}  // namespace
}  // namespace kst
