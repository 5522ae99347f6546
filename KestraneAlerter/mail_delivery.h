// The mail sender's parts, apart from MailDeliverySystem::deliver.
#ifndef KESTRANE_ALERTER_MAIL_DELIVERY_H_
#define KESTRANE_ALERTER_MAIL_DELIVERY_H_

#include <atomic>
#include <memory>
#include <string>

#include "KestraneAlerter/delivery_settings.h"

namespace kst {

// How many sender threads may run at once, for one transporter and in all.
// A server that accepts and never answers holds each one for a minute; the
// sendings over these bounds are dropped, so that threads and descriptors
// stay few however fast the checks come.
constexpr int kMailSendersPerTransporter = 4;
constexpr int kMailSendersInAll = 32;

// What one sending needs; made by deliver and owned by the sender.
struct MailJob {
  std::string text;
  std::unique_ptr<MailDeliverySettings> settings;
  // The transporter's count of running senders, when this job holds a
  // place in it and in the count of all senders; the sender gives both
  // back when it ends.
  std::shared_ptr<std::atomic<int>> transporterSenders;
};

// Holds the SMTP conversation for one job, then frees it. Runs on a thread
// of its own per sending. A mail that cannot be sent leaves one line on the
// log naming the transporter and the step that failed. A server that stops
// answering is given up after a minute.
void sendMailThread(MailJob* job);

// Sender threads running now, in all.
int MailSendersRunning();

// The DATA part after the header: every line ended by CRLF (LF, CR and CRLF
// each end a line), a line that begins with "." gets a second one, and
// CRLF "." CRLF follows the text.
std::string SmtpDataBody(const std::string& text);

}  // namespace kst

#endif  // KESTRANE_ALERTER_MAIL_DELIVERY_H_
