// The mail sender's parts, apart from MailDeliverySystem::deliver.
#ifndef KESTRANE_ALERTER_MAIL_DELIVERY_H_
#define KESTRANE_ALERTER_MAIL_DELIVERY_H_

#include <memory>
#include <string>

#include "KestraneAlerter/delivery_settings.h"

namespace kst {

// What one sending needs; made by deliver and owned by the sender.
struct MailJob {
  std::string text;
  std::unique_ptr<MailDeliverySettings> settings;
};

// Holds the SMTP conversation for one job, then frees it. Runs on a thread
// of its own per sending; reports nothing and ends quietly on any failure.
// A server that stops answering ends it after a minute.
void sendMailThread(MailJob* job);

// The DATA part after the header: every line ended by CRLF (LF, CR and CRLF
// each end a line), a line that begins with "." gets a second one, and
// CRLF "." CRLF ends it.
std::string SmtpDataBody(const std::string& text);

}  // namespace kst

#endif  // KESTRANE_ALERTER_MAIL_DELIVERY_H_
