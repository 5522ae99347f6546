// The mail sender's parts, apart from MailDeliverySystem::deliver.
#ifndef KESTRANE_ALERTER_MAIL_DELIVERY_H_
#define KESTRANE_ALERTER_MAIL_DELIVERY_H_

#include <cstdint>
#include <memory>
#include <string>

#include "KestraneAlerter/delivery_settings.h"

namespace kst {

// How many sender threads may run at once, for one transporter and in all.
// A server that accepts and never answers holds each one for a minute; the
// bounds keep threads and descriptors few however fast the checks come.
constexpr int kMailSendersPerTransporter = 4;
constexpr int kMailSendersInAll = 32;
// Mails of one transporter that wait for a sender to be free or to be
// tried again. A burst of alerts waits here whole; a new mail that finds it
// full takes the place of the oldest to try again, or is dropped.
constexpr int kMailQueuePerTransporter = 1000;
// One cause of "not sent" is logged at most once in this many seconds per
// transporter; the mails held back are counted when the seconds end.
constexpr int kMailLogIntervalSeconds = 5;

// One transporter's waiting mails and its log of failures (mail_queue.h).
struct MailQueue;
std::shared_ptr<MailQueue> NewMailQueue();

// What one sending needs; made by deliver and owned by the sender.
struct MailJob {
  std::string text;
  std::unique_ptr<MailDeliverySettings> settings;
  // The transporter's queue, whose log the failure goes to and where the
  // mail waits to be tried again; null: the failure is final and logged
  // whatever came before.
  std::shared_ptr<MailQueue> queue;
  int tries = 0;         // made so far
  int32_t firstTry = 0;  // when the first began: the mail's Date
  // Made by the first try that knows the host's name and kept for the
  // others, so that a server which took the mail but whose reply was lost
  // knows it again.
  std::string messageId;
};

// Holds the SMTP conversation for one job on the caller's thread. A mail
// that cannot be sent leaves a line on the log naming the transporter and
// the step that failed; one refused for now (4xx), or whose server cannot
// be reached or does not answer, goes back to its queue to be tried again
// later. A server that stops answering is left after a minute.
void sendMailThread(MailJob* job);

// Sender threads running now, in all.
int MailSendersRunning();

}  // namespace kst

#endif  // KESTRANE_ALERTER_MAIL_DELIVERY_H_
