// The mail of each transporter on its way: the sender threads, bounded per
// transporter and in all, the mails that wait for a sender, and the mails
// that a server turned away for now, to be tried again.
#ifndef KESTRANE_ALERTER_MAIL_QUEUE_H_
#define KESTRANE_ALERTER_MAIL_QUEUE_H_

#include <cstdint>
#include <deque>
#include <iterator>
#include <map>
#include <memory>
#include <string>

#include "KestraneAlerter/alerter_log.h"
#include "KestraneAlerter/mail_delivery.h"

namespace kst {

// A mail that a server turned away for now (a 4xx reply), or that found no
// server to answer, is tried again: the first time this many seconds after
// that, then the others this many seconds after its first try, and never
// sooner than the first gap after the last try. One more such failure and
// it is given up.
constexpr int32_t kMailRetrySeconds[] = {60, 5 * 60, 15 * 60, 30 * 60};
constexpr int kMailTries = 1 + static_cast<int>(std::size(kMailRetrySeconds));

// One transporter's mail on its way, shared by its MailDeliverySystem, its
// senders and the ticker, any of which may outlive the others.
struct MailQueue {
  ThrottledLog log{kMailLogIntervalSeconds};
  // Guarded by the senders' mutex:
  std::deque<std::unique_ptr<MailJob>> waiting;  // new mail, in order
  std::multimap<int32_t, std::unique_ptr<MailJob>> retrying;  // by the time it is due
  int sending = 0;  // senders working for this transporter
  bool pending = false;  // in the list of queues with mail to send
};

// Starts a sender for `job` when the bounds allow and no new mail of its
// queue waits; else queues it. A full queue gives up its oldest mail to be
// tried again to make room, else drops `job`. -1 when `job` was dropped or
// no thread could start, with a line on the log; else 0.
int SendOrQueue(const std::shared_ptr<MailQueue>& queue, std::unique_ptr<MailJob> job);

// After a failure that may pass: `job` (whose queue is set) waits in its
// queue to be tried again, or is given up after kMailTries, with a line on
// the log either way.
void TryAgainLater(std::unique_ptr<MailJob> job, const std::string& why);

// Through the queue's log when there is one, else at once.
void LogMail(MailQueue* queue, const std::string& transporter, const std::string& what);

// Mails waiting to be tried again, in all.
int MailsToTryAgain();

}  // namespace kst

#endif  // KESTRANE_ALERTER_MAIL_QUEUE_H_
