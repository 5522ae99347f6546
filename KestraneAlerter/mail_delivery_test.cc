#include "KestraneAlerter/mail_delivery.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <thread>

#include "KestraneAlerter/alert_dispatcher.h"
#include "KestraneAlerter/alerter_log.h"
#include "KestraneAlerter/alerter_testing.h"
#include "KestraneAlerter/delivery_system.h"
#include "KestraneAlerter/mail_body.h"
#include "KestraneAlerter/mail_testing.h"
#include "KestraneAlerter/report_text.h"
#include "KestraneAlerter/scripted_smtp_server.h"
#include "KestraneAlerter/test_seams.h"
#include "platform/mount_namespace_testing.h"

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

  // A line longer than 998 octets is folded; its line end does not count,
  // and a folded part that begins with "." is doubled like any line.
  const std::string full(998, 'a');
  struct Long {
    std::string text;
    std::string body;
  } longs[] = {
      {full + "\n", full + "\r\n\r\n.\r\n"},
      {full + "\r\nb", full + "\r\nb\r\n.\r\n"},
      {full + "b\n", full + "\r\nb\r\n\r\n.\r\n"},
      {full + full + full + "\n", full + "\r\n" + full + "\r\n" + full + "\r\n\r\n.\r\n"},
      {full + ".x", full + "\r\n..x\r\n.\r\n"},
      {"." + full, "." + full.substr(1) + "\r\n" + "a\r\n.\r\n"},
  };
  longs[5].body = ".." + full.substr(1) + "\r\na\r\n.\r\n";
  for (const Long& c : longs) EXPECT_EQ(SmtpDataBody(c.text), c.body) << c.text.size() << " octets";
}

TEST(QuotedPrintableTest, EightBitBytesEqualsAndLineEndBlanksAsHex) {
  const std::string x75(75, 'x');
  struct Case {
    std::string text;
    std::string encoded;
  } cases[] = {
      {"Log: M\xc3\xa9moire\n", "Log: M=C3=A9moire\n"},
      {"a=b\tc d\n", "a=3Db\tc d\n"},
      {"blank \ntab\t\r\nend ", "blank=20\ntab=09\nend=20"},
      {"\x01\x7f\x80\xff~!", "=01=7F=80=FF~!"},
      {"a\rb", "a\nb"},
      // Lines of 76 at most: 75 and a soft break; an "=XX" stays whole.
      {x75 + "y\n", x75 + "y\n"},
      {x75 + "yz\n", x75 + "=\nyz\n"},
      {std::string(74, 'x') + "\xc3\xa9\n", std::string(74, 'x') + "=\n=C3=A9\n"},
      {std::string(73, 'x') + "\xc3", std::string(73, 'x') + "=C3"},
      {std::string(73, 'x') + "\xc3!", std::string(73, 'x') + "=\n=C3!"},
      {x75 + " ", x75 + "=\n=20"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(QuotedPrintable(c.text), c.encoded) << c.text;
}

TEST(MailDateTest, LocalTimeWithItsOffsetFromUtc) {
  struct Case {
    const char* zone;
    int32_t time;
    const char* date;
  } cases[] = {
      {"UTC0", 1798748107, "Thu, 31 Dec 2026 20:15:07 +0000"},
      {"XST-5:30", 1798748107, "Fri, 01 Jan 2027 01:45:07 +0530"},
      {"YST3", 1772330709, "Sat, 28 Feb 2026 23:05:09 -0300"},
      {"ZST9:45", 1772330709, "Sat, 28 Feb 2026 16:20:09 -0945"},
  };
  for (const Case& c : cases) {
    ScopedTimeZone zone(c.zone);
    EXPECT_EQ(MailDate(c.time), c.date) << c.zone;
  }
}

// A cause's lines and the mails they stand for: its plain line for one, else
// the count it ends with.
std::map<std::string, std::pair<int, int64_t>> LinesAndCounts() {
  static const std::regex counted(R"((.*) \((\d+) times since the last such line\))");
  std::map<std::string, std::pair<int, int64_t>> causes;
  for (const std::string& line : CapturedLog::Lines()) {
    std::smatch m;
    bool many = std::regex_match(line, m, counted);
    auto& [lines, count] = causes[many ? m[1].str() : line];
    ++lines;
    count += many ? std::stoll(m[2].str()) : 1;
  }
  return causes;
}

// Loud causes and quiet ones at once, and many new ones while the table is
// full: each cause's lines add up to its occurrences, a loud one is said
// once in each 5 s, and nothing is held back once 5 s have passed, though
// no cause comes again.
TEST(ThrottledLogTest, EveryCauseIsCountedWithinItsInterval) {
  constexpr int32_t kStart = 1798748107;
  FakeAlerterClock clock(kStart);
  CapturedLog log;
  SetAlerterTickForTesting(10);
  std::map<std::string, int64_t> occurrences;
  ThrottledLog throttle(5);
  for (int t = 0; t < 12; ++t) {
    FakeAlerterClock::Set(kStart + t);
    auto at = [&](const std::string& cause, int times = 1) {
      for (int i = 0; i < times; ++i) throttle.Log(cause, kStart + t);
      occurrences[cause] += times;
    };
    if (t == 6) {
      for (int i = 0; i < 70; ++i) at("passing " + std::to_string(i));
    }
    at("loud one", 3);
    at("loud two", 2);
    if (t == 0) at("quiet once");
    if (t == 0 || t == 2) at("quiet twice");
    if (t == 1) at("held at six", 2);
    usleep(30000);  // three looks of the ticker
  }
  FakeAlerterClock::Set(kStart + 20);
  int64_t total = 0;
  for (const auto& [cause, count] : occurrences) total += count;
  auto counted = [] {
    int64_t sum = 0;
    for (const auto& [cause, lines_count] : LinesAndCounts()) sum += lines_count.second;
    return sum;
  };
  for (int i = 0; i < 500 && counted() < total; ++i) usleep(10000);
  std::map<std::string, std::pair<int, int64_t>> causes = LinesAndCounts();
  EXPECT_EQ(causes.size(), occurrences.size());
  for (const auto& [cause, count] : occurrences) {
    EXPECT_EQ(causes[cause].second, count) << cause;
    if (cause.rfind("loud", 0) == 0) {
      EXPECT_GE(causes[cause].first, 3) << cause << ": at 0, 5 and 10 s";
      EXPECT_LE(causes[cause].first, 4) << cause << ": at 0, 5 and 10 s and the rest";
    } else {
      EXPECT_EQ(causes[cause].first, count) << cause << " is said at once, or 5 s later, as its own line";
    }
  }
  SetAlerterTickForTesting(0);
}

MailJob* Job(const std::string& recipient, const std::string& sender, const std::string& server,
             const std::string& text = "text\n") {
  auto settings = std::make_unique<MailDeliverySettings>("m");
  settings->recipient = recipient;
  settings->sender = sender;
  settings->mailServer = server;
  auto* job = new MailJob;
  job->text = text;
  job->settings = std::move(settings);
  return job;
}

// A greeting of two lines with a pause between, a reply split inside its
// code, one of two lines split between them, one of two lines at once.
const std::vector<std::string> kGoodReplies = {"220-mx.example.test ESMTP\r\n|220 mx.example.test ready\r\n",
                                               "25|0 mx.example.test\r\n",
                                               "250-2.1.0 sender\r\n|250 2.1.0 Ok\r\n",
                                               "250 2.1.5 Ok\r\n",
                                               "354 End data with <CR><LF>.<CR><LF>\r\n",
                                               "250-2.0.0 Ok\r\n250 2.0.0 queued\r\n"};
const char kRecipient[] = "ops@example.test";
const char kSender[] = "kst@example.test";
const char kText[] = "Warning Level: 9\n.dot\nlast\n";
// What the client sends after each good reply, in order; DOMAIN stands for
// the name it gives itself, ID for the unique part of the Message-ID.
const std::vector<std::string> kCommands = {
    "HELO DOMAIN\r\n", "MAIL FROM:<kst@example.test>\r\n", "RCPT TO:<ops@example.test>\r\n", "DATA\r\n",
    "From: Kestrane <kst@example.test>\r\nTo: Administrator <ops@example.test>\r\nSubject: Alert\r\n"
    "Date: Fri, 01 Jan 2027 01:45:07 +0530\r\nMessage-ID: <ID@DOMAIN>\r\n\r\n"
    "Warning Level: 9\r\n..dot\r\nlast\r\n\r\n.\r\n",
    "QUIT\r\n"};

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) text.replace(at, from.size(), to);
  return text;
}

// The first `count` commands, as sent from `domain`.
std::string Commands(size_t count, const std::string& domain) {
  std::string commands;
  for (size_t i = 0; i < count; ++i) commands += kCommands[i];
  return Replaced(commands, "DOMAIN", domain);
}

// The whole dialogue against a server given as a dotted address; "" when
// the server took the mail and the client sent `expected` (when not empty)
// byte for byte, else what went wrong.
std::string Dialogue(const std::string& sender, const std::string& recipient, const std::string& expected,
                     std::vector<std::string>* ids, const std::string& mail_server = "127.0.0.1") {
  ScriptedServer server(kGoodReplies);
  SetMailPortForTesting(server.port());
  sendMailThread(Job(recipient, sender, mail_server, kText));
  std::string received = MaskedIds(server.Received(), ids);
  if (!server.trouble().empty()) return server.trouble() + "; received:\n" + received;
  if (server.mails() != 1) return "no mail was taken; received:\n" + received;
  if (!expected.empty() && received != expected) return "received:\n" + received;
  return "";
}

TEST_F(MailTest, DialogueGoesOutByteForByte) {
  struct Case {
    const char* host;
    const char* sender;
    const char* recipient;
    const char* domain;
    const char* server = "127.0.0.1";
  } cases[] = {
      {kHostName, kSender, kRecipient, kHostName},
      // Addresses typed with their brackets, with blanks around them or
      // with a display name; hosts without a qualified name give the
      // connection's own address.
      {"box", "<kst@example.test>", "<ops@example.test>", "[127.0.0.1]"},
      {"10.1.2.3", " kst@example.test  ", "Ops, night < ops@example.test >", "[127.0.0.1]", " 127.0.0.1 "},
  };
  CapturedLog log;
  std::vector<std::string> ids;
  for (const Case& c : cases) {
    SetMailHostNameForTesting(c.host);
    EXPECT_EQ(Dialogue(c.sender, c.recipient, Commands(kCommands.size(), c.domain), &ids, c.server), "") << c.host;
  }
  EXPECT_EQ(CapturedLog::Lines(), std::vector<std::string>{});
  ASSERT_EQ(ids.size(), 3u);
  EXPECT_TRUE(ids[0] != ids[1] && ids[1] != ids[2] && ids[0] != ids[2]) << ids[0] << " " << ids[1] << " " << ids[2];
}

// A strict server refuses lines over 998 octets and, after HELO, any
// 8-bit byte: the message keeps to both, and says how its text is encoded.
TEST_F(MailTest, LongLinesAndEightBitTextReachAStrictServerWhole) {
  const std::string head = Commands(4, kHostName) +
                           "From: Kestrane <kst@example.test>\r\nTo: Administrator <ops@example.test>\r\n"
                           "Subject: Alert\r\nDate: Fri, 01 Jan 2027 01:45:07 +0530\r\nMessage-ID: <ID@" +
                           kHostName + ">\r\n";
  const std::string mime =
      "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\n"
      "Content-Transfer-Encoding: quoted-printable\r\n";
  const std::string line(1155, 'c');
  struct Case {
    std::string text;
    std::string sent;
  } cases[] = {
      {"Log: " + line + "\n", head + "\r\nLog: " + line.substr(0, 993) + "\r\n" + line.substr(993) + "\r\n\r\n.\r\n"},
      {"Log: M\xc3\xa9moire\n.\n", head + mime + "\r\nLog: M=C3=A9moire\r\n..\r\n\r\n.\r\n"},
      {"x\x80\n", head + mime + "\r\nx=80\r\n\r\n.\r\n"},
      {"x\x7f\n", head + "\r\nx\x7f\r\n\r\n.\r\n"},
      {"\xc3\xa9" + line, head + mime + "\r\n=C3=A9" + std::string(69, 'c') + "=\r\n" +
                                 [&] {
                                   std::string rest;
                                   for (size_t at = 69; at < line.size(); at += 75) {
                                     rest += line.substr(at, 75) + (at + 75 < line.size() ? "=\r\n" : "");
                                   }
                                   return rest;
                                 }() + "\r\n.\r\n"},
  };
  CapturedLog log;
  for (const Case& c : cases) {
    ScriptedServer server(kGoodReplies);
    SetMailPortForTesting(server.port());
    sendMailThread(Job(kRecipient, kSender, "127.0.0.1", c.text));
    std::vector<std::string> ids;
    std::string received = MaskedIds(server.Received(), &ids);
    EXPECT_EQ(server.trouble(), "") << c.text.substr(0, 20);
    EXPECT_EQ(server.mails(), 1) << c.text.substr(0, 20);
    EXPECT_EQ(received, c.sent + "QUIT\r\n") << c.text.substr(0, 20);
  }
  EXPECT_EQ(CapturedLog::Lines(), std::vector<std::string>{});
}

bool LoopbackUp() {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ifreq request{};
  std::strcpy(request.ifr_name, "lo");
  bool up = fd >= 0 && ioctl(fd, SIOCGIFFLAGS, &request) == 0 &&
            (request.ifr_flags |= IFF_UP, ioctl(fd, SIOCSIFFLAGS, &request) == 0);
  if (fd >= 0) close(fd);
  return up;
}

// Runs `body` in a child with a network of its own (loopback only), so no
// name lookup leaves the machine, with the host name `host` and, unless
// `hosts` is null, `hosts` as its /etc/hosts (written to `hosts_path`).
// "" when `body` held, "skip: " and why when no such child could be made
// here, else what went wrong.
template <typename Body>
std::string InOwnNetwork(const std::string& host, const char* hosts, const std::string& hosts_path, Body body) {
  if (hosts != nullptr) std::ofstream(hosts_path, std::ios::binary) << hosts;
  pid_t child = fork();
  if (child < 0) return "no child";
  if (child == 0) {
    bool all_private = false;
    std::string why = EnterOwnMountNamespace(&all_private);
    if (why.empty() && hosts != nullptr && !all_private) why = PrivateMountPoint("/etc/hosts");
    if (why.empty() && hosts != nullptr && mount(hosts_path.c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) != 0) {
      why = std::string("binding a hosts file: ") + std::strerror(errno);
    }
    if (why.empty() && unshare(CLONE_NEWNET | CLONE_NEWUTS) != 0) {
      why = std::string("no network of the test's own: ") + std::strerror(errno);
    }
    if (why.empty() && sethostname(host.data(), host.size()) != 0) why = std::strerror(errno);
    if (why.empty() && !LoopbackUp()) why = "the loopback interface cannot be raised";
    if (!why.empty()) {
      std::ofstream(hosts_path + ".why", std::ios::binary) << why;
      _exit(2);
    }
    _exit(body() ? 0 : 1);
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
    return "the child did not end within 15 s";
  }
  if (!WIFEXITED(status)) return "the child was killed";
  if (WEXITSTATUS(status) == 2) {
    std::ifstream in(hosts_path + ".why", std::ios::binary);
    std::string why((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return "skip: " + why;
  }
  return WEXITSTATUS(status) == 0 ? "" : "it failed";
}

// The host's own name and the mail server's are looked up for real: the
// canonical name of a bare host name from the hosts file, none from an
// empty one, and no server of a name that is nowhere.
TEST_F(MailTest, RealLookupsOfTheHostAndTheServer) {
  if (geteuid() != 0) GTEST_SKIP() << "a network and mounts of the test's own need root";
  SetMailHostNameForTesting(nullptr);
  const bool hosts_file = access("/etc/hosts", F_OK) == 0;
  struct Case {
    const char* hosts;
    const char* domain;
  } cases[] = {
      {"", "[127.0.0.1]"},
      {"127.0.0.1 box.example.test box\n", "box.example.test"},
  };
  for (const Case& c : cases) {
    if (!hosts_file) continue;
    std::string why = InOwnNetwork("box", c.hosts, HomePath("hosts"), [&] {
      std::vector<std::string> ids;
      std::string failure = Dialogue(kSender, kRecipient, Commands(kCommands.size(), c.domain), &ids);
      if (!failure.empty()) std::fprintf(stderr, "%s\n", failure.c_str());
      return failure.empty();
    });
    if (why.rfind("skip: ", 0) == 0) GTEST_SKIP() << why.substr(6);
    EXPECT_EQ(why, "") << "hosts file \"" << c.hosts << "\"";
  }
  std::string why = InOwnNetwork("box", nullptr, HomePath("no-hosts"), [] {
    CapturedLog log;
    sendMailThread(Job("r@x", "s@x", "no-such-host.invalid"));
    std::vector<std::string> lines = CapturedLog::Lines();
    return lines.size() == 1 &&
           lines[0].rfind("mail transporter \"m\": not sent: looking up the mail server \"no-such-host.invalid\": ", 0) == 0;
  });
  if (why.rfind("skip: ", 0) == 0) GTEST_SKIP() << why.substr(6);
  EXPECT_EQ(why, "") << "the lookup of a server that is nowhere";
}

// The name the client gives in HELO, for every kind of host name: its own
// when it is a fully qualified name of valid host labels, else the
// connection's address.
TEST_F(MailTest, HeloNameForEveryKindOfHostName) {
  const std::string label63(63, 'l');
  std::string longest;  // 253 characters
  while (longest.size() < 240) longest += label63.substr(0, 9) + ".";
  longest += std::string(253 - longest.size() - 4, 'k') + ".tst";
  ASSERT_EQ(longest.size(), 253u);
  struct Case {
    std::string host;
    bool own;
  } cases[] = {
      {kHostName, true},
      {"a.b", true},
      {"kst.example.t3st", true},
      {"KST-1.Example.Test", true},
      {label63 + ".example.test", true},
      {label63 + "l.example.test", false},
      {longest, true},
      {"k" + longest, false},
      {"-kst.example.test", false},
      {"kst-.example.test", false},
      {"kst.-example.test", false},
      {"kst_host.example.test", false},
      {"kst host.example.test", false},
      {"kst..example.test", false},
      {".example.test", false},
      {"example.test.", false},
      {"kst.example.123", false},
      {"10.1.2.3", false},
      {"box", false},
      {"", false},
  };
  CapturedLog log;
  for (const Case& c : cases) {
    SetMailHostNameForTesting(c.host.c_str());
    ScriptedServer server({"220 ready\r\n", "250 hello\r\n"}, /*hang_up=*/true);
    SetMailPortForTesting(server.port());
    sendMailThread(Job("r@x", "s@x", "127.0.0.1"));
    EXPECT_EQ(server.Received(), "HELO " + (c.own ? c.host : std::string("[127.0.0.1]")) + "\r\nMAIL FROM:<s@x>\r\n")
        << c.host;
    EXPECT_EQ(server.trouble(), "") << c.host;
  }
}

// One lookup of the HELO name serves every mail for an hour.
TEST_F(MailTest, HeloNameIsLookedUpOnceAnHour) {
  CapturedLog log;
  SetMailHostNameForTesting(kHostName);
  int before = MailHeloLookupsForTesting();
  struct Step {
    int32_t at;
    int lookups;
  } steps[] = {{0, 1}, {0, 1}, {1800, 1}, {3599, 1}, {3600, 2}, {7199, 2}, {7200, 3}, {7190, 4}, {7190, 4}};
  for (const Step& step : steps) {
    FakeAlerterClock::Set(kNow + step.at);
    ScriptedServer server({"220 ready\r\n", "250 hello\r\n"}, /*hang_up=*/true);
    SetMailPortForTesting(server.port());
    sendMailThread(Job("r@x", "s@x", "127.0.0.1"));
    EXPECT_EQ(server.Received(), std::string("HELO ") + kHostName + "\r\nMAIL FROM:<s@x>\r\n");
    EXPECT_EQ(MailHeloLookupsForTesting() - before, step.lookups) << step.at << " s after the first";
  }
}

// A reply may be 64 KiB long before it ends; one byte more and the client
// gives up on it.
TEST_F(MailTest, AReplyLongerThan64KiBIsGivenUp) {
  CapturedLog log;
  for (size_t size : {size_t{65536}, size_t{65537}}) {
    // Continuation lines of 100 octets, the last line cut before its line
    // end, which comes after a pause.
    std::string reply;
    while (reply.size() + 100 < size) reply += "220-" + std::string(94, 'x') + "\r\n";
    reply += "220 " + std::string(size - reply.size() - 5, 'y');
    ASSERT_EQ(reply.size() + 1, size);
    ScriptedServer server({reply + "\r|\n", "250 hello\r\n"}, /*hang_up=*/true);
    SetMailPortForTesting(server.port());
    CapturedLog::Clear();
    sendMailThread(Job("r@x", "s@x", "127.0.0.1"));
    std::string received = server.Received();
    if (size == 65536) {
      EXPECT_EQ(received, std::string("HELO ") + kHostName + "\r\nMAIL FROM:<s@x>\r\n");
    } else {
      EXPECT_EQ(received, "");
      EXPECT_EQ(CapturedLog::Lines(), std::vector<std::string>{"mail transporter \"m\": not sent: greeting: the "
                                                               "reply is longer than 64 KiB"});
    }
  }
}

// A reply to take the place of one with `code`: the code with one of its
// three digits changed, a line too short to hold a code, or a refusal of
// two lines in two parts.
std::string WrongReply(const std::string& code, int variant) {
  if (variant == 3) return code.substr(0, 2) + "\r\n";
  if (variant == 4) return "554-no service here\r\n|554 bye\r\n";
  std::string wrong = code;
  wrong[variant] = static_cast<char>('0' + (wrong[variant] - '0' + 1) % 10);
  return wrong + " refused\r\n";
}

TEST_F(MailTest, EveryReplyIsCheckedAndAWrongOneEndsTheDialogueWithQuit) {
  const char* steps[] = {"greeting", "HELO", "MAIL FROM", "RCPT TO", "DATA", "message"};
  const char* codes[] = {"220", "250", "250", "250", "354", "250"};
  CapturedLog log;
  for (size_t step = 0; step < kGoodReplies.size(); ++step) {
    for (int variant = 0; variant < 5; ++variant) {
      std::vector<std::string> replies(kGoodReplies.begin(), kGoodReplies.begin() + step);
      std::string wrong = WrongReply(codes[step], variant);
      replies.push_back(wrong);
      ScriptedServer server(replies);
      SetMailPortForTesting(server.port());
      CapturedLog::Clear();
      sendMailThread(Job(kRecipient, kSender, "127.0.0.1", kText));
      std::string shown = wrong.substr(0, wrong.find('\r'));
      SCOPED_TRACE(std::string(steps[step]) + " answered " + shown);
      std::vector<std::string> ids;
      EXPECT_EQ(MaskedIds(server.Received(), &ids), Commands(step, kHostName) + "QUIT\r\n");
      EXPECT_EQ(server.trouble(), "");
      EXPECT_EQ(CapturedLog::Lines(),
                std::vector<std::string>{"mail transporter \"m\": not sent: " + std::string(steps[step]) +
                                         ": the server answered \"" + shown + "\", not " + codes[step]});
    }
  }
}

TEST_F(MailTest, SilentAndClosingServersEndTheDialogueWithALine) {
  CapturedLog log;
  SetMailTimeoutForTesting(1);
  {
    ScriptedServer mute({""});  // accepts, says nothing, waits for the client to close
    SetMailPortForTesting(mute.port());
    sendMailThread(Job("r@x", "s@x", "127.0.0.1"));
    EXPECT_EQ(mute.Received(), "");
  }
  {
    // Half a greeting, and no more.
    ScriptedServer halting({"220-mx.example.test ESMTP\r\n"});
    SetMailPortForTesting(halting.port());
    sendMailThread(Job("r@x", "s@x", "127.0.0.1"));
    EXPECT_EQ(halting.Received(), "");
  }
  {
    ScriptedServer closing({"220 ready\r\n", "250 hello\r\n"}, /*hang_up=*/true);
    SetMailPortForTesting(closing.port());
    sendMailThread(Job("r@x", "s@x", "127.0.0.1"));
    EXPECT_EQ(closing.Received(), "HELO kst-host.example.test\r\nMAIL FROM:<s@x>\r\n");
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
                                      "mail transporter \"m\": not sent: greeting: no answer within 1 s",
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
  EXPECT_LT(listener.Accept(0), 0) << "nothing connects";
  std::vector<std::string> lines = CapturedLog::Lines();
  ASSERT_EQ(lines.size(), 4u);
  const char* expected[] = {"no recipient is set", "no sender is set", "no mail server is set",
                            "the mail server \"1nvalid.example\" is not a dotted IPv4 address"};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(lines[i].rfind(std::string("mail transporter \"m\": not sent: ") + expected[i], 0), 0u) << lines[i];
  }
}

// Each of these would end its command early, add a second address or a
// parameter, and let the rest of the text speak to the server.
TEST_F(MailTest, WhatIsNotOneAddressIsRefusedBeforeConnecting) {
  Listener listener;
  SetMailPortForTesting(listener.port());
  CapturedLog log;
  const std::string control = "holds a control character";
  const std::string brackets = "holds \"<\" or \">\" that do not enclose the address";
  std::vector<std::pair<std::string, std::string>> cases = {
      {"r@x\rRCPT TO:<other@x>", control}, {"Admin <r@x\n>", control}, {"r@x\x7f", control},
      {"r @x", "holds a blank"},          {"r@x, q@x", "holds \",\""},    {"x@y> SIZE=1", brackets},
      {"<r@x", brackets},                 {"r@x>", brackets},           {"<<r@x>>", brackets},
      {"<r@x> q", brackets},              {"A <r@x> <q@x>", brackets},  {"<r@x>>", brackets}, {"<r<q@x>", brackets},
      {"Admin <>", "holds no address within its angle brackets"},     {"   ", ""},
  };
  for (int c = 0; c < 0x20; ++c) cases.push_back({"r@x" + std::string(1, static_cast<char>(c)), control});
  std::vector<std::string> expected;
  for (const auto& [address, why] : cases) {
    sendMailThread(Job(address, "s@x", "127.0.0.1"));
    sendMailThread(Job("r@x", address, "127.0.0.1"));
    expected.push_back("mail transporter \"m\": not sent: " + (why.empty() ? "no recipient is set" : "the recipient " + why));
    expected.push_back("mail transporter \"m\": not sent: " + (why.empty() ? "no sender is set" : "the sender " + why));
  }
  EXPECT_LT(listener.Accept(0), 0) << "nothing connects";
  EXPECT_EQ(CapturedLog::Lines(), expected);
}

TEST_F(MailTest, DeliverRefusesOnlyAnEmptyList) {
  // deliver itself only refuses an empty list; the wait counts the attempt.
  CapturedLog log;
  MailDeliverySystem mail;
  MailDeliverySettings settings("m");
  EXPECT_EQ(mail.deliver({}, settings), -1);
  EXPECT_EQ(mail.lastSent(), 0);
  AlertMessage m = Message(5, "l", "a", "d");
  EXPECT_EQ(mail.deliver({&m}, settings), 0);
  EXPECT_EQ(mail.lastSent(), kNow);
  for (int i = 0; i < 500 && MailSendersRunning() != 0; ++i) usleep(10000);
  EXPECT_EQ(MailSendersRunning(), 0) << "the sender of a mail without addresses did not end within 5 s";
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
  // The header as sent, the envelope as the server took it.
  EXPECT_NE(stored.find("From: Kestrane <kestrane@example.test>\nTo: Administrator <admin@example.test>\n"
                        "Subject: Alert\nDate: Fri, 01 Jan 2027 01:45:07 +0530\nMessage-ID: <"),
            std::string::npos)
      << stored;
  EXPECT_NE(stored.find("X-MailFrom: kestrane@example.test\nX-RcptTo: admin@example.test\n"), std::string::npos)
      << stored;
  size_t body = stored.find("\n\n");
  ASSERT_NE(body, std::string::npos);
  // The text, then the empty line before the final ".".
  EXPECT_EQ(stored.substr(body + 2), text + "\n");
}

}  // namespace
}  // namespace kst
