#include "KestraneAlerter/mail_queue.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "KestraneAlerter/alert_dispatcher.h"
#include "KestraneAlerter/alerter_testing.h"
#include "KestraneAlerter/mail_delivery.h"
#include "KestraneAlerter/mail_testing.h"
#include "KestraneAlerter/scripted_smtp_server.h"
#include "KestraneAlerter/test_seams.h"

namespace kst {
namespace {

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

// Takes each connection and closes it at once, until `done` holds or 30 s
// have passed; whether it holds. (Closing the listener instead would free
// its port, which a sender's own end may then take and connect to.)
template <typename Done>
bool HangUpUntil(Listener* listener, Done done) {
  for (int i = 0; i < 3000 && !done(); ++i) {
    int fd = listener->Accept(10);
    if (fd >= 0) close(fd);
  }
  return done();
}

bool HangUpUntilSendersEnd(Listener* listener) {
  return HangUpUntil(listener, [] { return MailSendersRunning() == 0; });
}

// Whether the log holds `count` lines within 5 s.
bool WaitForLines(size_t count) {
  for (int i = 0; i < 500 && CapturedLog::Lines().size() < count; ++i) usleep(10000);
  return CapturedLog::Lines().size() >= count;
}

std::vector<std::string> LinesWith(const std::string& part) {
  std::vector<std::string> lines = CapturedLog::Lines();
  lines.erase(std::remove_if(lines.begin(), lines.end(),
                             [&](const std::string& line) { return line.find(part) == std::string::npos; }),
              lines.end());
  return lines;
}

MailDeliverySettings SilentSettings(const std::string& name) {
  MailDeliverySettings s(name);
  s.recipient = "r@x";
  s.sender = "s@x";
  s.mailServer = "127.0.0.1";
  return s;
}

TEST_F(MailTest, ASilentServerHoldsBoundedSendersAndAFullQueueDropsWithFewLines) {
  // Connections wait in the queue, never accepted, never answered.
  Listener silent(128);
  SetMailPortForTesting(silent.port());
  SetMailTimeoutForTesting(10);
  CapturedLog log;
  size_t threads_before = ThreadCount();
  AlertMessage m = Message(5, "l", "a", "d");
  auto one = std::make_unique<MailDeliverySystem>();
  MailDeliverySettings one_settings = SilentSettings("one");
  int taken = 0;
  for (int i = 0; i < kMailSendersPerTransporter + kMailQueuePerTransporter; ++i) {
    taken += one->deliver({&m}, one_settings) == 0;
  }
  EXPECT_EQ(taken, kMailSendersPerTransporter + kMailQueuePerTransporter);
  EXPECT_EQ(MailSendersRunning(), kMailSendersPerTransporter);
  // The queue is full: each further mail is dropped, said at once and then
  // once in 5 s, with the count of those held back when the 5 s end, though
  // no mail comes then; and when the transporter goes.
  for (int i = 0; i < 3; ++i) EXPECT_EQ(one->deliver({&m}, one_settings), -1);
  FakeAlerterClock::Set(kNow + 4);
  EXPECT_EQ(one->deliver({&m}, one_settings), -1);
  const std::string dropped = "mail transporter \"one\": not sent: dropped, 1000 mails of this transporter wait to be sent";
  usleep(50000);  // five looks of the ticker
  EXPECT_EQ(LinesWith("dropped"), std::vector<std::string>{dropped});
  FakeAlerterClock::Set(kNow + 5);
  EXPECT_TRUE(WaitForLines(2)) << "no count of the mails held back within 5 s";
  EXPECT_EQ(LinesWith("dropped"), (std::vector<std::string>{dropped, dropped + " (3 times since the last such line)"}));
  FakeAlerterClock::Set(kNow + 6);
  for (int i = 0; i < 2; ++i) EXPECT_EQ(one->deliver({&m}, one_settings), -1);
  one.reset();
  const std::vector<std::string> one_lines = {dropped, dropped + " (3 times since the last such line)",
                                              dropped + " (2 times since the last such line)"};
  EXPECT_EQ(LinesWith("dropped"), one_lines);

  // Many transporters: together they stop at the bound for all; the rest
  // waits.
  std::vector<MailDeliverySystem> many(12);
  MailDeliverySettings many_settings = SilentSettings("many");
  for (int round = 0; round < 3; ++round) {
    for (MailDeliverySystem& t : many) EXPECT_EQ(t.deliver({&m}, many_settings), 0);
  }
  EXPECT_EQ(MailSendersRunning(), kMailSendersInAll);
  EXPECT_LE(ThreadCount(), threads_before + kMailSendersInAll + 1) << "senders and the ticker";
  // A transporter with no sender at all: its mail waits for a place.
  MailDeliverySystem late;
  EXPECT_EQ(late.deliver({&m}, SilentSettings("late")), 0);
  EXPECT_EQ(MailSendersRunning(), kMailSendersInAll);
  EXPECT_EQ(LinesWith("not sent").size(), 3u) << "no sender gave up within 10 s";

  // The server hangs up on every mail: each transporter says once that its
  // mail is to be tried again (the rest is held back, or dropped from the
  // full queue).
  ASSERT_TRUE(HangUpUntilSendersEnd(&silent)) << "the senders did not end within 30 s";
  const std::string closed = "not sent yet, try 1 of 5: greeting: the server closed the connection";
  std::vector<std::string> all_one = one_lines;
  all_one.push_back("mail transporter \"one\": " + closed);
  EXPECT_EQ(LinesWith("\"one\""), all_one);
  EXPECT_EQ(LinesWith("\"many\""), std::vector<std::string>(many.size(), "mail transporter \"many\": " + closed));
  EXPECT_EQ(LinesWith("\"late\""), std::vector<std::string>{"mail transporter \"late\": " + closed});
}

TEST_F(MailTest, AlertsBackToBackNeverWaitOnASilentServer) {
  Listener silent(128);
  SetMailPortForTesting(silent.port());
  SetMailTimeoutForTesting(10);
  SaveMailProfile();
  CapturedLog log;
  size_t threads_before = ThreadCount();
  AlertDispatcher dispatcher;
  for (int i = 0; i < 100; ++i) EXPECT_EQ(dispatcher.process(Message(50, "l", "a", "d", i)), 0);
  // No sender has given up on the server yet, so no alert waited for one;
  // and every mail waits its turn.
  EXPECT_EQ(CapturedLog::Lines(), std::vector<std::string>{});
  EXPECT_EQ(MailSendersRunning(), kMailSendersPerTransporter);
  EXPECT_LE(ThreadCount(), threads_before + kMailSendersPerTransporter);
  EXPECT_TRUE(HangUpUntilSendersEnd(&silent)) << "the senders did not end within 30 s";
  EXPECT_EQ(CapturedLog::Lines(),
            std::vector<std::string>{
                "mail transporter \"ops mail\": not sent yet, try 1 of 5: greeting: the server closed the connection"});
}

TEST_F(MailTest, ABurstOfAlertsArrivesWhole) {
  const std::vector<std::string> replies = {"220 ready\r\n", "250 hello\r\n", "250 ok\r\n",
                                            "250 ok\r\n",    "354 go on\r\n", "250 queued\r\n"};
  SaveMailProfile();
  CapturedLog log;
  for (int burst : {6, 300}) {
    ScriptedServer server(replies, false, burst);
    SetMailPortForTesting(server.port());
    AlertDispatcher dispatcher;
    for (int i = 0; i < burst; ++i) {
      EXPECT_EQ(dispatcher.process(Message(50, "l", "a", "alert #" + std::to_string(i) + "#", i)), 0);
    }
    std::string received = server.Received();
    EXPECT_EQ(server.trouble(), "");
    EXPECT_EQ(server.mails(), burst);
    for (int i = 0; i < burst; ++i) {
      EXPECT_NE(received.find("alert #" + std::to_string(i) + "#"), std::string::npos) << i << " of " << burst;
    }
    EXPECT_TRUE(SendersEnd()) << "the senders did not end within 10 s";
  }
  EXPECT_EQ(CapturedLog::Lines(), std::vector<std::string>{});
}

// Whether `done` holds within 5 s.
template <typename Done>
bool Within5s(Done done) {
  for (int i = 0; i < 500 && !done(); ++i) usleep(10000);
  return done();
}

const std::vector<std::string> kPlainReplies = {"220 ready\r\n", "250 hello\r\n", "250 ok\r\n",
                                                "250 ok\r\n",    "354 go on\r\n", "250 queued\r\n"};

// A server that puts off the first contact, at any step, with a reply that
// says "try again later": the mail waits in its queue, is tried again a
// minute later, and arrives as it was built, dated when it was first tried;
// a server that had the whole message the first time sees it again under
// the same Message-ID.
TEST_F(MailTest, AMailRefusedForNowIsTriedAgainAMinuteLaterAndArrivesAsBuilt) {
  const char* steps[] = {"greeting", "HELO", "MAIL FROM", "RCPT TO", "DATA", "message"};
  const char* refusals[] = {"421 4.3.2 busy, try again later\r\n", "421 4.7.0 try again later\r\n",
                            "451 4.3.0 try again later\r\n",
                            "450 4.2.0 <r@example.test>: Recipient address rejected: Greylisted\r\n",
                            "451 4.3.0 try again later\r\n", "452 4.3.1 insufficient storage\r\n"};
  SaveMailProfile();
  CapturedLog log;
  for (size_t step = 0; step < std::size(steps); ++step) {
    SCOPED_TRACE(steps[step]);
    FakeAlerterClock::Set(kNow);
    CapturedLog::Clear();
    ScriptedServer server(kPlainReplies, 2, 1, step, refusals[step]);
    SetMailPortForTesting(server.port());
    AlertDispatcher dispatcher;
    EXPECT_EQ(dispatcher.process(Message(50, "Disk", "Rules", "d\xc3\xa9j\xc3\xa0", kNow)), 0);
    // The profile and its texts change; the mail does not.
    SetCounterTitle(1, "changed");
    ASSERT_TRUE(Within5s([] { return MailsToTryAgain() == 1; })) << "the mail was not put back within 5 s";
    std::string refusal = refusals[step];
    refusal.resize(refusal.size() - 2);
    EXPECT_EQ(CapturedLog::Lines(), std::vector<std::string>{"mail transporter \"ops mail\": not sent yet, try 1 of 5: " +
                                                            std::string(steps[step]) + ": the server answered \"" +
                                                            refusal + "\", not " + kPlainReplies[step].substr(0, 3)});
    FakeAlerterClock::Set(kNow + 59);
    usleep(50000);  // five looks of the ticker
    EXPECT_EQ(server.accepted(), 1) << "tried again before the minute was up";
    FakeAlerterClock::Set(kNow + 60);
    std::string received = server.Received();
    EXPECT_EQ(server.trouble(), "");
    EXPECT_EQ(server.mails(), 1);
    EXPECT_NE(received.find("Date: Fri, 01 Jan 2027 01:45:07 +0530\r\n"), std::string::npos) << received;
    std::vector<std::string> ids;
    MaskedIds(received, &ids);
    ASSERT_EQ(ids.size(), step + 1 == std::size(steps) ? 2u : 1u) << received;
    EXPECT_EQ(ids.front(), ids.back());
    EXPECT_NE(received.find("\r\n\r\nWarning Level: 50\r\nDetails:\r\nAnalyzer: Rules, Log: Disk\r\n"
                            "d=C3=A9j=C3=A0, warning level: 50.\r\n\r\n.\r\n"),
              std::string::npos)
        << received;
    EXPECT_TRUE(SendersEnd());
    EXPECT_EQ(MailsToTryAgain(), 0);
    EXPECT_EQ(CapturedLog::Lines().size(), 1u);
  }
}

// Tried again 60 s after the refusal, then 5, 15 and 30 minutes after the
// first try; then given up, and said so. A refusal for good (5xx) is final
// at once, and so is a reply that is no SMTP reply to a command.
TEST_F(MailTest, TriesGrowFurtherApartUntilTheMailIsGivenUp) {
  const std::vector<std::string> busy = {"421 4.3.2 busy\r\n"};
  CapturedLog log;
  {
    ScriptedServer server(busy, false, 5);
    SetMailPortForTesting(server.port());
    MailDeliverySystem mail;
    AlertMessage m = Message(5, "l", "a", "d");
    ASSERT_EQ(mail.deliver({&m}, SilentSettings("m")), 0);
    struct Try {
      int32_t at;  // seconds after the first try
      int connections;
    } tries[] = {{59, 1}, {60, 2}, {299, 2}, {300, 3}, {899, 3}, {900, 4}, {1799, 4}, {1800, 5}};
    ASSERT_TRUE(Within5s([&] { return MailsToTryAgain() == 1; }));
    for (const Try& t : tries) {
      FakeAlerterClock::Set(kNow + t.at);
      if (t.connections == server.accepted()) {
        usleep(50000);  // five looks of the ticker
      } else {
        EXPECT_TRUE(Within5s([&] { return server.accepted() == t.connections && MailSendersRunning() == 0; }));
      }
      EXPECT_EQ(server.accepted(), t.connections) << t.at << " s after the first try";
    }
    ASSERT_TRUE(SendersEnd());
    EXPECT_EQ(server.Received(), "QUIT\r\nQUIT\r\nQUIT\r\nQUIT\r\nQUIT\r\n");
    EXPECT_EQ(MailsToTryAgain(), 0);
  }
  const std::string why = "greeting: the server answered \"421 4.3.2 busy\", not 220";
  std::vector<std::string> expected;
  for (int i = 1; i < 5; ++i) {
    expected.push_back("mail transporter \"m\": not sent yet, try " + std::to_string(i) + " of 5: " + why);
  }
  expected.push_back("mail transporter \"m\": not sent: given up after 5 tries: " + why);
  EXPECT_EQ(CapturedLog::Lines(), expected);

  // The first gap counts from the refusal, not from the try: a refusal that
  // takes half a minute to come is tried again 90 s after the try began.
  {
    CapturedLog::Clear();
    FakeAlerterClock::Set(kNow);
    ScriptedServer server({"421-slow\r\n|421-slower\r\n|421-slowest\r\n|421 busy\r\n"}, false, 2);
    SetMailPortForTesting(server.port());
    MailDeliverySystem mail;
    AlertMessage m = Message(5, "l", "a", "d");
    ASSERT_EQ(mail.deliver({&m}, SilentSettings("m")), 0);
    ASSERT_TRUE(Within5s([&] { return server.accepted() == 1; }));
    FakeAlerterClock::Set(kNow + 30);
    ASSERT_TRUE(Within5s([] { return MailsToTryAgain() == 1; }));
    FakeAlerterClock::Set(kNow + 89);
    usleep(50000);  // five looks of the ticker
    EXPECT_EQ(server.accepted(), 1) << "tried again less than 60 s after the refusal";
    FakeAlerterClock::Set(kNow + 90);
    EXPECT_TRUE(Within5s([&] { return server.accepted() == 2; })) << "not tried again 60 s after the refusal";
    server.Received();
    ASSERT_TRUE(SendersEnd());
    ForgetMailRetriesForTesting();
  }
  // A server that cannot be reached is tried again too.
  {
    CapturedLog::Clear();
    uint16_t port;
    {
      Listener gone;
      port = gone.port();
    }
    SetMailPortForTesting(port);
    MailDeliverySystem mail;
    AlertMessage m = Message(5, "l", "a", "d");
    ASSERT_EQ(mail.deliver({&m}, SilentSettings("m")), 0);
    ASSERT_TRUE(SendersEnd());
    EXPECT_EQ(MailsToTryAgain(), 1);
    EXPECT_EQ(CapturedLog::Lines(), std::vector<std::string>{"mail transporter \"m\": not sent yet, try 1 of 5: connecting "
                                                             "to 127.0.0.1: Connection refused"});
    ForgetMailRetriesForTesting();
  }
  for (const char* reply : {"550 5.7.1 go away\r\n", "250 not a greeting\r\n"}) {
    CapturedLog::Clear();
    ScriptedServer server({reply});
    SetMailPortForTesting(server.port());
    MailDeliverySystem mail;
    AlertMessage m = Message(5, "l", "a", "d");
    ASSERT_EQ(mail.deliver({&m}, SilentSettings("m")), 0);
    EXPECT_EQ(server.Received(), "QUIT\r\n");
    ASSERT_TRUE(SendersEnd());
    EXPECT_EQ(MailsToTryAgain(), 0) << reply;
    std::string shown = std::string(reply).substr(0, std::strlen(reply) - 2);
    EXPECT_EQ(CapturedLog::Lines(), std::vector<std::string>{"mail transporter \"m\": not sent: greeting: the server "
                                                             "answered \"" + shown + "\", not 220"});
  }
}

// Mail to try again never takes the last free place of its transporter,
// nor the last in all: a new alert's first try goes at once.
TEST_F(MailTest, MailToTryAgainLeavesAPlaceForANewAlert) {
  Listener server(128);
  SetMailPortForTesting(server.port());
  SetMailTimeoutForTesting(10);
  CapturedLog log;
  AlertMessage m = Message(5, "l", "a", "d");
  MailDeliverySystem solo;
  std::vector<MailDeliverySystem> many(10);
  for (int i = 0; i < 5; ++i) ASSERT_EQ(solo.deliver({&m}, SilentSettings("solo")), 0);
  for (MailDeliverySystem& t : many) {
    for (int i = 0; i < 3; ++i) ASSERT_EQ(t.deliver({&m}, SilentSettings("many")), 0);
  }
  // Every mail is turned away once: 35 to try again.
  ASSERT_TRUE(HangUpUntilSendersEnd(&server)) << "the senders did not end within 30 s";
  ASSERT_EQ(MailsToTryAgain(), 35);
  // Now the server takes connections and never answers: each sender holds
  // its place. Of the mails come due, 31 go, no more than 3 of solo's.
  FakeAlerterClock::Set(kNow + 60);
  EXPECT_TRUE(Within5s([] { return MailSendersRunning() == kMailSendersInAll - 1; }));
  usleep(50000);  // five looks of the ticker
  EXPECT_EQ(MailSendersRunning(), kMailSendersInAll - 1);
  EXPECT_EQ(MailsToTryAgain(), 4);
  MailDeliverySystem fresh;
  EXPECT_EQ(fresh.deliver({&m}, SilentSettings("fresh")), 0);
  EXPECT_EQ(MailSendersRunning(), kMailSendersInAll);
  // The bound for all holds for new mail too: solo's waits.
  EXPECT_EQ(solo.deliver({&m}, SilentSettings("solo")), 0);
  EXPECT_EQ(MailSendersRunning(), kMailSendersInAll);
  // Within the bounds for all, solo's last place is its new mail's.
  ASSERT_TRUE(HangUpUntilSendersEnd(&server));
  ForgetMailRetriesForTesting();
  for (int i = 0; i < 5; ++i) ASSERT_EQ(solo.deliver({&m}, SilentSettings("solo")), 0);
  ASSERT_TRUE(HangUpUntilSendersEnd(&server));
  ASSERT_EQ(MailsToTryAgain(), 5);
  FakeAlerterClock::Set(kNow + 120);
  EXPECT_TRUE(Within5s([] { return MailSendersRunning() == kMailSendersPerTransporter - 1; }));
  usleep(50000);
  EXPECT_EQ(MailSendersRunning(), kMailSendersPerTransporter - 1);
  EXPECT_EQ(solo.deliver({&m}, SilentSettings("solo")), 0);
  EXPECT_EQ(MailSendersRunning(), kMailSendersPerTransporter);
  EXPECT_EQ(MailsToTryAgain(), 2);
  EXPECT_TRUE(HangUpUntilSendersEnd(&server));
}

// A queue full of mail to try again gives up its oldest for a new alert:
// the mail first tried longest ago, not the one due first nor the newest.
TEST_F(MailTest, AFullQueueMakesRoomForANewAlert) {
  Listener server(128);
  SetMailPortForTesting(server.port());
  SetMailTimeoutForTesting(10);
  CapturedLog log;
  AlertMessage m = Message(5, "l", "a", "d");
  MailDeliverySystem mail;
  // Told apart by the settings each mail was built with. The oldest, first
  // tried at kNow and again at kNow + 60, is due at kNow + 300; the others
  // at kNow + 160 and kNow + 210.
  ASSERT_EQ(mail.deliver({&m}, SilentSettings("oldest")), 0);
  ASSERT_TRUE(HangUpUntilSendersEnd(&server)) << "the senders did not end within 30 s";
  FakeAlerterClock::Set(kNow + 60);
  ASSERT_TRUE(HangUpUntil(&server, [] { return !LinesWith("try 2 of 5").empty(); })) << "no second try within 30 s";
  ASSERT_TRUE(HangUpUntilSendersEnd(&server));
  FakeAlerterClock::Set(kNow + 100);
  MailDeliverySettings settings = SilentSettings("full");
  for (int i = 0; i < kMailSendersPerTransporter + kMailQueuePerTransporter - 6; ++i) {
    ASSERT_EQ(mail.deliver({&m}, settings), 0);
  }
  // Turned away once each.
  ASSERT_TRUE(HangUpUntilSendersEnd(&server)) << "the senders did not end within 30 s";
  FakeAlerterClock::Set(kNow + 150);
  ASSERT_EQ(mail.deliver({&m}, SilentSettings("newest")), 0);
  ASSERT_TRUE(HangUpUntilSendersEnd(&server)) << "the senders did not end within 30 s";
  ASSERT_EQ(MailsToTryAgain(), kMailQueuePerTransporter);
  // Now the server never answers: four new alerts hold the senders, and
  // each further one takes the place of a mail to try again.
  CapturedLog::Clear();
  for (int i = 0; i < kMailSendersPerTransporter; ++i) ASSERT_EQ(mail.deliver({&m}, settings), 0);
  EXPECT_EQ(MailSendersRunning(), kMailSendersPerTransporter);
  EXPECT_EQ(mail.deliver({&m}, settings), 0);
  EXPECT_EQ(mail.deliver({&m}, settings), 0);
  EXPECT_EQ(MailsToTryAgain(), kMailQueuePerTransporter - 2);
  const std::string dropped = "\": not sent: dropped, 1000 mails of this transporter wait to be sent";
  EXPECT_EQ(LinesWith("dropped"),
            (std::vector<std::string>{"mail transporter \"oldest" + dropped, "mail transporter \"full" + dropped}));
  EXPECT_TRUE(HangUpUntilSendersEnd(&server)) << "the senders did not end within 30 s";
}

// A sender done with its own mail serves what other transporters hold
// only within their bound: a transporter whose 4 senders wait on a silent
// server gets no fifth.
TEST_F(MailTest, ASenderDoneWithItsMailServesOthersWithinTheirBound) {
  Listener silent(128);
  Listener closing(128, INADDR_LOOPBACK + 1, silent.port());
  SetMailPortForTesting(silent.port());
  SetMailTimeoutForTesting(10);
  CapturedLog log;
  AlertMessage m = Message(5, "l", "a", "d");
  MailDeliverySystem stuck, done;
  MailDeliverySettings to_silent = SilentSettings("stuck");
  MailDeliverySettings to_closing = SilentSettings("done");
  to_closing.mailServer = "127.0.0.2";
  for (int i = 0; i < kMailSendersPerTransporter + 10; ++i) ASSERT_EQ(stuck.deliver({&m}, to_silent), 0);
  for (int i = 0; i < kMailSendersPerTransporter; ++i) ASSERT_EQ(done.deliver({&m}, to_closing), 0);
  EXPECT_EQ(MailSendersRunning(), 2 * kMailSendersPerTransporter);
  for (int i = 0; i < 500 && MailsToTryAgain() < kMailSendersPerTransporter; ++i) {
    int fd = closing.Accept(10);
    if (fd >= 0) close(fd);
  }
  ASSERT_EQ(MailsToTryAgain(), kMailSendersPerTransporter) << "the closing server's mails, put back within 5 s";
  EXPECT_TRUE(Within5s([] { return MailSendersRunning() == kMailSendersPerTransporter; }));
  usleep(50000);
  EXPECT_EQ(MailSendersRunning(), kMailSendersPerTransporter);
  EXPECT_TRUE(HangUpUntilSendersEnd(&silent)) << "the senders did not end within 30 s";
}

}  // namespace
}  // namespace kst
