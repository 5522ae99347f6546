// What the mail tests share: a fixed time and zone, a host name of their
// own, and Message-IDs told apart from the rest of a dialogue.
#ifndef KESTRANE_ALERTER_MAIL_TESTING_H_
#define KESTRANE_ALERTER_MAIL_TESTING_H_

#include <stdlib.h>
#include <time.h>

#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "KestraneAlerter/alerter_testing.h"
#include "KestraneAlerter/delivery_settings.h"
#include "KestraneAlerter/profile.h"
#include "KestraneAlerter/test_seams.h"

namespace kst {

// The local time zone, for as long as it lives.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    const char* saved = getenv("TZ");
    had_ = saved != nullptr;
    if (had_) saved_ = saved;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (had_) setenv("TZ", saved_.c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }

 private:
  bool had_;
  std::string saved_;
};

inline constexpr int32_t kNow = 1798748107;  // Fri, 01 Jan 2027 01:45:07 +0530
inline constexpr char kHostName[] = "kst-host.example.test";

// Mail at a fixed time, in a zone of +05:30, from a host named kHostName.
class MailTest : public AlerterTest {
 protected:
  void SetUp() override {
    AlerterTest::SetUp();
    SetMailHostNameForTesting(kHostName);
    SetAlerterTickForTesting(10);
  }
  void TearDown() override {
    ForgetMailRetriesForTesting();
    SetAlerterTickForTesting(0);
    SetMailPortForTesting(0);
    SetMailTimeoutForTesting(0);
    SetMailHostNameForTesting(nullptr);
    AlerterTest::TearDown();
  }

  // The default profile mails every alert at once, by the transporter
  // "ops mail", to `server`.
  void SaveMailProfile() {
    Profile profile("P");
    auto mail = std::make_unique<MailDeliverySettings>("ops mail");
    mail->recipient = "r@example.test";
    mail->sender = "s@example.test";
    mail->mailServer = "127.0.0.1";
    profile.deliverySettings.push_back(std::move(mail));
    ASSERT_EQ(profile.save(), 0);
    WriteFile(HomePath("Profiles/_default_.cfg"), "all:\nP\ndefault:\nP\n");
  }

  FakeAlerterClock clock_{kNow};
  ScopedTimeZone zone_{"XST-5:30"};
};

// `received` with the unique part of each Message-ID made "ID"; the parts
// go to `ids`. The part begins with the time of the mail.
inline std::string MaskedIds(const std::string& received, std::vector<std::string>* ids) {
  static const std::regex id("Message-ID: <(" + std::to_string(kNow) + R"(\.\d+\.[0-9a-f]{16})@)");
  for (std::sregex_iterator it(received.begin(), received.end(), id), end; it != end; ++it) ids->push_back((*it)[1]);
  return std::regex_replace(received, id, "Message-ID: <ID@");
}

}  // namespace kst

#endif  // KESTRANE_ALERTER_MAIL_TESTING_H_
