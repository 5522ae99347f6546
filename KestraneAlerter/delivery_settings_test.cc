#include "KestraneAlerter/delivery_settings.h"

#include <gtest/gtest.h>

#include "KestraneAlerter/alerter_testing.h"
#include "KestraneAlerter/delivery_system.h"
#include "KestraneAlerter/test_seams.h"

namespace kst {
namespace {

std::string Saved(const DeliverySettings& s) {
  return WrittenText([&](std::FILE* f) { EXPECT_EQ(s.save(f), 0); });
}

// Reads a record back the way the profile loader does: type line first.
std::unique_ptr<DeliverySettings> Loaded(const std::string& text, int* result) {
  TextReader in(text);
  std::string type;
  in.ReadLine(1000, &type);
  Transporter t = MakeTransporter(type);
  if (t.settings == nullptr) return nullptr;
  *result = t.settings->load(in);
  return std::move(t.settings);
}

TEST(DeliverySettingsTest, NewSettingsSaveWithDefaults) {
  EXPECT_EQ(Saved(MailDeliverySettings("Ops mail")), "MailDeliverySystem\nOps mail\n1000 0\n1 1 1 1\n-\n-\n-\n");
  EXPECT_EQ(Saved(NetSendDeliverySettings("n")), "NetSendDeliverySystem\nn\n1000 0\n1 1 1 1\n-\n");
  EXPECT_EQ(Saved(ShellDeliverySettings("")), "ShellDeliverySystem\n\n1000 0\n1 1 1 1\n-\n");
}

TEST(DeliverySettingsTest, RoundTripsEveryKindAndClones) {
  MailDeliverySettings mail("night shift");
  mail.maxMessageLength = -1;
  mail.minimalWait = 300;
  mail.includeComments = false;
  mail.includeCounterNames = false;
  mail.recipient = "admin@example.test";
  mail.sender = "-";  // a string that is exactly "-" reads back empty
  mail.mailServer = "mail.example.test";
  int result = 1;
  auto loaded = Loaded(Saved(mail), &result);
  ASSERT_EQ(result, 0);
  auto* back = dynamic_cast<MailDeliverySettings*>(loaded.get());
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->name, "night shift");
  EXPECT_EQ(back->maxMessageLength, -1);
  EXPECT_EQ(back->minimalWait, 300);
  EXPECT_FALSE(back->includeComments);
  EXPECT_TRUE(back->includeAnalyzerTitles);
  EXPECT_TRUE(back->includeDescription);
  EXPECT_FALSE(back->includeCounterNames);
  EXPECT_EQ(back->recipient, "admin@example.test");
  EXPECT_EQ(back->sender, "");
  EXPECT_EQ(back->mailServer, "mail.example.test");

  std::unique_ptr<DeliverySettings> copy(back->clone());
  EXPECT_EQ(Saved(*copy), Saved(*back));
  EXPECT_STREQ(copy->typeName(), "MailDeliverySystem\n");

  ShellDeliverySettings shell("run");
  shell.executionFilePath = "C:\\Program Files\\Kestrane\\notify.exe";
  auto shellBack = Loaded(Saved(shell), &result);
  ASSERT_EQ(result, 0);
  EXPECT_EQ(static_cast<ShellDeliverySettings*>(shellBack.get())->executionFilePath, shell.executionFilePath);
  NetSendDeliverySettings net("net");
  net.destination = "*";
  auto netBack = Loaded(Saved(net), &result);
  ASSERT_EQ(result, 0);
  EXPECT_EQ(static_cast<NetSendDeliverySettings*>(netBack.get())->destination, "*");
  EXPECT_STREQ(netBack->typeName(), "NetSendDeliverySystem\n");
}

TEST(DeliverySettingsTest, LongLinesSplitAtTheBuffer) {
  std::string name998(998, 'n');
  std::string name1005(1005, 'n');
  int result;
  auto whole = Loaded("ShellDeliverySystem\n" + name998 + "\n5 6\n0 0 0 0\n/bin/x\n", &result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(whole->name, name998);
  EXPECT_EQ(whole->maxMessageLength, 5);

  // Characters past the 998th become the next line, where a
  // number is expected.
  auto split = Loaded("ShellDeliverySystem\n" + name1005 + "\n5 6\n0 0 0 0\n/bin/x\n", &result);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(split->name, std::string(998, 'n'));
}

TEST(DeliverySettingsTest, ShortAndBrokenRecords) {
  struct Case {
    const char* what;
    std::string text;
    int result;
  } cases[] = {
      {"only a name", "NetSendDeliverySystem\nn\n", -1},
      {"letters for numbers", "NetSendDeliverySystem\nn\nabc\n1 1 1 1\n-\n", -1},
      {"no flags", "NetSendDeliverySystem\nn\n10 0\nx\n-\n", -1},
      {"no destination line", "NetSendDeliverySystem\nn\n10 0\n1 1 1 1\n", -1},
      {"numbers scan across line ends", "NetSendDeliverySystem\nn\n10\n1 1 1 1\n-\n", 0},
      {"two flags only", "NetSendDeliverySystem\nn\n10 0\n0 0\nuser\n", 0},
      {"crlf line ends", "NetSendDeliverySystem\r\nn\r\n10 0\r\n1 0 1 0\r\nuser\r\n", 0},
  };
  for (const Case& c : cases) {
    int result = 1;
    auto s = Loaded(c.text, &result);
    ASSERT_NE(s, nullptr) << c.what;
    EXPECT_EQ(result, c.result) << c.what;
    EXPECT_EQ(s->name, "n") << c.what;
  }
  int result;
  auto twoFlags = Loaded("NetSendDeliverySystem\nn\n10 0\n0 0\nuser\n", &result);
  EXPECT_FALSE(twoFlags->includeComments);
  EXPECT_FALSE(twoFlags->includeAnalyzerTitles);
  EXPECT_TRUE(twoFlags->includeDescription);
  EXPECT_EQ(static_cast<NetSendDeliverySettings*>(twoFlags.get())->destination, "user");
  auto crlf = Loaded("NetSendDeliverySystem\r\nn\r\n10 0\r\n1 0 1 0\r\nuser\r\n", &result);
  EXPECT_EQ(static_cast<NetSendDeliverySettings*>(crlf.get())->destination, "user");
  EXPECT_FALSE(crlf->includeCounterNames);
  // Any number but 0 sets a flag.
  auto odd = Loaded("NetSendDeliverySystem\nn\n10 0\n2 -1 0 7\nuser\n", &result);
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(odd->includeComments);
  EXPECT_TRUE(odd->includeAnalyzerTitles);
  EXPECT_FALSE(odd->includeDescription);
  EXPECT_TRUE(odd->includeCounterNames);
}

int32_t fake_now = 0;
int32_t FakeClock() { return fake_now; }

TEST(DeliverySystemTest, DescriptionsAndMinimalWait) {
  EXPECT_EQ(MailDeliverySystem().description(), "Send e-mail notification by SMTP");
  EXPECT_EQ(NetSendDeliverySystem().description(), "Send notification by net send command");
  EXPECT_EQ(ShellDeliverySystem().description(),
            "Send notification by executing the command in the specified file");

  // Net send with an empty destination stops before the gate; with a
  // destination of a program that is not there, the gate still counts.
  SetAlerterClockForTesting(FakeClock);
  NetSendDeliverySettings settings("n");
  settings.destination = "nobody";
  settings.minimalWait = 60;
  settings.maxMessageLength = 0;
  AlertMessage m = Message(5, "l", "a", "d");
  std::string path = getenv("PATH") ? getenv("PATH") : "";
  setenv("PATH", "/nonexistent", 1);
  NetSendDeliverySystem system;
  fake_now = 1000;
  system.deliver({&m}, settings);
  EXPECT_EQ(system.lastSent(), 1000);
  fake_now = 1059;
  system.deliver({&m}, settings);
  EXPECT_EQ(system.lastSent(), 1000) << "59 seconds later it holds back";
  fake_now = 1060;
  system.deliver({&m}, settings);
  EXPECT_EQ(system.lastSent(), 1060);
  // A wait too long to add to the time holds; it does not wrap around.
  settings.minimalWait = INT32_MAX;
  fake_now = 2000000000;
  system.deliver({&m}, settings);
  EXPECT_EQ(system.lastSent(), 1060);
  // An empty destination stops before the gate: with no wait left, the
  // gate alone would move lastSent on.
  settings.minimalWait = 0;
  settings.destination.clear();
  fake_now = 5000;
  EXPECT_EQ(system.deliver({&m}, settings), 0);
  EXPECT_EQ(system.lastSent(), 1060);
  SetAlerterClockForTesting(nullptr);
  setenv("PATH", path.c_str(), 1);
}

}  // namespace
}  // namespace kst
