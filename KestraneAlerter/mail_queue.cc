#include "KestraneAlerter/mail_queue.h"

#include <algorithm>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "KestraneAlerter/alerter_ticker.h"
#include "KestraneAlerter/alerter_time.h"
#include "KestraneAlerter/test_seams.h"

namespace kst {
namespace {

// The sender threads of all transporters. Never destroyed: senders may
// still run when the process ends.
struct Senders {
  std::mutex mutex;
  int running = 0;
  // The queues with mail waiting or to be tried again: a sender that is
  // done with its own queue serves them, and the ticker starts the mail
  // that comes due.
  std::vector<std::shared_ptr<MailQueue>> pending;
};

Senders& AllSenders() {
  static Senders* senders = new Senders;
  return *senders;
}

void MarkPending(Senders& all, const std::shared_ptr<MailQueue>& queue) {
  if (!queue->pending) all.pending.push_back(queue);
  queue->pending = true;
}

std::string QueueFull() {
  return "dropped, " + std::to_string(kMailQueuePerTransporter) + " mails of this transporter wait to be sent";
}

// The next mail of `queue` that may be sent now, null when none: new mail
// first; mail to try again only while a place of its transporter and one
// in all stay free, so that it never holds back a new mail's first try.
// `holdsQueue`, `holdsAll`: the sender that asks holds those places already.
std::unique_ptr<MailJob> TakeNext(MailQueue& queue, const Senders& all, int32_t now, bool holdsQueue, bool holdsAll) {
  int sending = queue.sending + !holdsQueue;
  int running = all.running + !holdsAll;
  std::unique_ptr<MailJob> job;
  if (!queue.waiting.empty()) {
    if (sending > kMailSendersPerTransporter || running > kMailSendersInAll) return nullptr;
    job = std::move(queue.waiting.front());
    queue.waiting.pop_front();
    return job;
  }
  if (queue.retrying.empty() || queue.retrying.begin()->first > now) return nullptr;
  if (sending >= kMailSendersPerTransporter || running >= kMailSendersInAll) return nullptr;
  job = std::move(queue.retrying.begin()->second);
  queue.retrying.erase(queue.retrying.begin());
  return job;
}

void Sender(std::shared_ptr<MailQueue> queue, std::unique_ptr<MailJob> job);

// Starts a sender for `job`, its places taken; false, with the places and
// `job` given back, when no thread can start.
bool Start(Senders& all, const std::shared_ptr<MailQueue>& queue, std::unique_ptr<MailJob>& job, std::string* why) {
  ++queue->sending;
  ++all.running;
  MailJob* handed = job.release();
  try {
    std::thread([queue, handed] { Sender(queue, std::unique_ptr<MailJob>(handed)); }).detach();
    return true;
  } catch (const std::system_error& error) {
    job.reset(handed);
    --queue->sending;
    --all.running;
    *why = std::string("no thread to send it: ") + error.what();
    return false;
  }
}

// Sends `job`, then what its queue holds, then what other queues hold for
// want of a place; holds one place in all until nothing more may be sent.
void Sender(std::shared_ptr<MailQueue> queue, std::unique_ptr<MailJob> job) {
  Senders& all = AllSenders();
  for (;;) {
    job->queue = queue;
    sendMailThread(job.release());
    std::lock_guard<std::mutex> hold(all.mutex);
    int32_t now = AlerterTime();
    job = TakeNext(*queue, all, now, true, true);
    if (job != nullptr) continue;
    --queue->sending;
    queue = nullptr;
    for (auto it = all.pending.begin(); it != all.pending.end();) {
      MailQueue& other = **it;
      if (other.waiting.empty() && other.retrying.empty()) {
        other.pending = false;
        it = all.pending.erase(it);
        continue;
      }
      if (queue == nullptr && (job = TakeNext(other, all, now, false, true)) != nullptr) {
        ++other.sending;
        queue = *it;
      }
      ++it;
    }
    if (queue == nullptr) {
      --all.running;
      return;
    }
  }
}

// The ticker's work: starts the mail come due; whether any waits to be
// tried again.
bool StartDue(int32_t now) {
  Senders& all = AllSenders();
  std::lock_guard<std::mutex> hold(all.mutex);
  bool waiting = false;
  // Starting a sender may not change the list, but copy it all the same.
  std::vector<std::shared_ptr<MailQueue>> queues = all.pending;
  for (const auto& queue : queues) {
    while (queue->waiting.empty()) {
      std::unique_ptr<MailJob> job = TakeNext(*queue, all, now, false, false);
      if (job == nullptr) break;
      std::string why;
      if (!Start(all, queue, job, &why)) {
        queue->retrying.emplace(now, std::move(job));
        break;
      }
    }
    waiting |= !queue->retrying.empty();
  }
  return waiting;
}

}  // namespace

std::shared_ptr<MailQueue> NewMailQueue() { return std::make_shared<MailQueue>(); }

void LogMail(MailQueue* queue, const std::string& transporter, const std::string& what) {
  std::string line = "mail transporter \"" + transporter + "\": " + what;
  if (queue == nullptr) return AlerterLog(line);
  queue->log.Log(line, AlerterTime());
}

int SendOrQueue(const std::shared_ptr<MailQueue>& queue, std::unique_ptr<MailJob> job) {
  Senders& all = AllSenders();
  std::unique_lock<std::mutex> hold(all.mutex);
  std::string name = job->settings->name;
  std::string why;
  std::unique_ptr<MailJob> dropped;
  // New mail that waits already goes first; mail to try again never does.
  if (queue->waiting.empty() && queue->sending < kMailSendersPerTransporter && all.running < kMailSendersInAll) {
    if (Start(all, queue, job, &why)) return 0;
  } else {
    if (queue->waiting.size() + queue->retrying.size() >= static_cast<size_t>(kMailQueuePerTransporter) &&
        !queue->retrying.empty()) {
      auto oldest = std::min_element(queue->retrying.begin(), queue->retrying.end(), [](const auto& a, const auto& b) {
        return a.second->firstTry < b.second->firstTry;
      });
      dropped = std::move(oldest->second);
      queue->retrying.erase(oldest);
    }
    if (queue->waiting.size() + queue->retrying.size() < static_cast<size_t>(kMailQueuePerTransporter)) {
      queue->waiting.push_back(std::move(job));
      MarkPending(all, queue);
    } else {
      why = QueueFull();
    }
  }
  hold.unlock();
  if (dropped != nullptr) LogMail(queue.get(), dropped->settings->name, "not sent: " + QueueFull());
  if (why.empty()) return 0;
  LogMail(queue.get(), name, "not sent: " + why);
  return -1;
}

void TryAgainLater(std::unique_ptr<MailJob> job, const std::string& why) {
  std::shared_ptr<MailQueue> queue = std::move(job->queue);
  std::string name = job->settings->name;
  int tries = job->tries;
  if (tries >= kMailTries) {
    return LogMail(queue.get(), name, "not sent: given up after " + std::to_string(tries) + " tries: " + why);
  }
  int32_t now = AlerterTime();
  int64_t due = static_cast<int64_t>(now) + kMailRetrySeconds[0];
  if (tries > 1) due = std::max(due, static_cast<int64_t>(job->firstTry) + kMailRetrySeconds[tries - 1]);
  Senders& all = AllSenders();
  bool full;
  {
    std::lock_guard<std::mutex> hold(all.mutex);
    full = queue->waiting.size() + queue->retrying.size() >= static_cast<size_t>(kMailQueuePerTransporter);
    if (!full) {
      queue->retrying.emplace(static_cast<int32_t>(std::min<int64_t>(due, INT32_MAX)), std::move(job));
      MarkPending(all, queue);
      WakeTicker(&StartDue);
    }
  }
  LogMail(queue.get(), name,
          full ? "not sent: " + QueueFull()
               : "not sent yet, try " + std::to_string(tries) + " of " + std::to_string(kMailTries) + ": " + why);
}

int MailSendersRunning() {
  Senders& all = AllSenders();
  std::lock_guard<std::mutex> hold(all.mutex);
  return all.running;
}

int MailsToTryAgain() {
  Senders& all = AllSenders();
  std::lock_guard<std::mutex> hold(all.mutex);
  size_t count = 0;
  for (const auto& queue : all.pending) count += queue->retrying.size();
  return static_cast<int>(count);
}

void ForgetMailRetriesForTesting() {
  std::vector<std::shared_ptr<MailQueue>> forgotten;
  Senders& all = AllSenders();
  std::lock_guard<std::mutex> hold(all.mutex);
  for (auto it = all.pending.begin(); it != all.pending.end();) {
    (*it)->retrying.clear();
    if ((*it)->waiting.empty()) {
      (*it)->pending = false;
      forgotten.push_back(std::move(*it));
      it = all.pending.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace kst
