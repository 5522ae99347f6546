#include "KestraneAlerter/mail_delivery.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "KestraneAlerter/alerter_log.h"
#include "KestraneAlerter/alerter_time.h"
#include "KestraneAlerter/delivery_system.h"
#include "KestraneAlerter/mail_address.h"
#include "KestraneAlerter/mail_body.h"
#include "KestraneAlerter/report_text.h"
#include "KestraneAlerter/test_seams.h"

namespace kst {
namespace {

constexpr uint16_t kSmtpPort = 25;
constexpr int kReplyTimeoutSeconds = 60;
constexpr size_t kReceiveSize = 1024;
// A reply longer than this is no SMTP server's.
constexpr size_t kLongestReply = 64 * 1024;

std::atomic<uint16_t> mail_port{0};
std::atomic<int> mail_timeout{0};
std::atomic<const char*> host_name_for_testing{nullptr};

int ReplyTimeout() {
  int seconds = mail_timeout.load();
  return seconds != 0 ? seconds : kReplyTimeoutSeconds;
}

std::string NoAnswer() { return "no answer within " + std::to_string(ReplyTimeout()) + " s"; }

std::string ErrnoText(int error) { return std::system_category().message(error); }

std::string Dotted(const in_addr& address) {
  char dotted[INET_ADDRSTRLEN] = "";
  inet_ntop(AF_INET, &address, dotted, sizeof dotted);
  return dotted;
}

// The first IPv4 address of a host name; else why there is none.
std::string LookUpName(const std::string& name, in_addr* address) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  int error = getaddrinfo(name.c_str(), nullptr, &hints, &found);
  if (error != 0) return gai_strerror(error);
  if (found == nullptr) return "no address";
  *address = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
  freeaddrinfo(found);
  return "";
}

// A domain name of two labels or more, such as servers that insist on a
// fully qualified HELO accept; a dotted address is none.
bool FullyQualified(const std::string& name) {
  if (name.size() > 253 || name.find('.') == std::string::npos) return false;
  size_t label = 0;
  for (size_t i = 0; i <= name.size(); ++i) {
    if (i == name.size() || name[i] == '.') {
      if (i == label || name[label] == '-' || name[i - 1] == '-') return false;
      label = i + 1;
    } else if (!std::isalnum(static_cast<unsigned char>(name[i])) && name[i] != '-') {
      return false;
    }
  }
  std::string last = name.substr(name.rfind('.') + 1);
  return !std::all_of(last.begin(), last.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

// The local host's fully qualified name, "" when it has none: the host name
// itself, else the canonical name it is known by.
std::string FullyQualifiedHostName() {
  if (const char* name = host_name_for_testing.load()) return FullyQualified(name) ? name : "";
  char name[1024];
  if (gethostname(name, sizeof name) != 0) return "";
  name[sizeof name - 1] = '\0';
  if (FullyQualified(name)) return name;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_flags = AI_CANONNAME;
  addrinfo* found = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &found) != 0 || found == nullptr) return "";
  std::string canonical = found->ai_canonname != nullptr ? found->ai_canonname : "";
  freeaddrinfo(found);
  return FullyQualified(canonical) ? canonical : "";
}

// Every operation answers "" on success, else why it failed.
class SmtpConnection {
 public:
  ~SmtpConnection() {
    if (fd_ >= 0) close(fd_);
  }

  std::string Connect(const in_addr& address) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return ErrnoText(errno);
    timeval timeout{ReplyTimeout(), 0};
    setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_addr = address;
    uint16_t port = mail_port.load();
    server.sin_port = htons(port != 0 ? port : kSmtpPort);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&server), sizeof server) == 0) return "";
    // The send timeout ends a connection the server never takes with
    // "in progress", which would tell the reader nothing.
    return errno == EINPROGRESS ? NoAnswer() : ErrnoText(errno);
  }

  // The address this end of the connection has: an address of the local
  // host that needs no name lookup.
  std::string LocalAddress(std::string* dotted) {
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length) != 0) return ErrnoText(errno);
    *dotted = Dotted(local.sin_addr);
    return "";
  }

  // One send of the whole text; a short count is a failure.
  std::string Send(const std::string& text) {
    ssize_t sent = send(fd_, text.data(), text.size(), MSG_NOSIGNAL);
    if (sent < 0) return "sending failed: " + ErrnoText(errno);
    if (sent != static_cast<ssize_t>(text.size())) return "sent only part of it";
    return "";
  }

  // A whole reply, however many receives it takes: its lines up to the one
  // whose code is not followed by "-". `first` gets its first line. The
  // reply must be whole within the reply timeout.
  std::string ReadReply(std::string* first, std::string* code) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(ReplyTimeout());
    size_t reply_size = 0;
    first->clear();
    for (;;) {
      size_t end = received_.find('\n');
      if (end != std::string::npos) {
        std::string line = received_.substr(0, end);
        received_.erase(0, end + 1);
        reply_size += end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (reply_size == end + 1) *first = line;
        // A line too short for a code, or not a continuation, ends it.
        if (line.size() < 4 || line[3] != '-') {
          *code = line.substr(0, 3);
          return "";
        }
        continue;
      }
      if (reply_size + received_.size() > kLongestReply) return "the reply is longer than 64 KiB";
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd readable{fd_, POLLIN, 0};
      int ready = left.count() > 0 ? poll(&readable, 1, static_cast<int>(left.count())) : 0;
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0) return "receiving failed: " + ErrnoText(errno);
      if (ready == 0) return NoAnswer();
      char buffer[kReceiveSize];
      ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return "receiving failed: " + ErrnoText(errno);
      if (got == 0) return "the server closed the connection";
      received_.append(buffer, static_cast<size_t>(got));
    }
  }

  // A whole reply, which must carry `code`.
  std::string Expect(const char* code) {
    std::string first, got;
    std::string why = ReadReply(&first, &got);
    if (!why.empty()) return why;
    refused_ = got != code;
    if (!refused_) return "";
    return "the server answered \"" + first.substr(0, 100) + "\", not " + code;
  }

  std::string Command(const std::string& text, const char* code) {
    std::string why = Send(text);
    return why.empty() ? Expect(code) : why;
  }

  // Whether the last reply was whole but not the one expected.
  bool refused() const { return refused_; }

  // Takes leave; whatever the server says to it changes nothing.
  void Quit() {
    std::string first, code;
    if (Send("QUIT\r\n").empty()) ReadReply(&first, &code);
  }

 private:
  int fd_ = -1;
  std::string received_;  // what came after the last whole line
  bool refused_ = false;
};

// The whole conversation; "" when the server took the mail, else the step
// that failed and why.
std::string Converse(const std::string& recipient_typed, const std::string& sender_typed,
                     const std::string& server_typed, const std::string& text) {
  std::string recipient, sender;
  std::string why = ParseMailAddress(recipient_typed, &recipient);
  if (!why.empty()) return "the recipient " + why;
  if (recipient.empty()) return "no recipient is set";
  if (!(why = ParseMailAddress(sender_typed, &sender)).empty()) return "the sender " + why;
  if (sender.empty()) return "no sender is set";
  std::string server = TrimBlanks(server_typed);
  if (server.empty()) return "no mail server is set";
  in_addr address;
  if (std::isalpha(static_cast<unsigned char>(server[0]))) {
    std::string why = LookUpName(server, &address);
    if (!why.empty()) return "looking up the mail server \"" + server + "\": " + why;
  } else if (inet_aton(server.c_str(), &address) == 0) {
    return "the mail server \"" + server + "\" is not a dotted IPv4 address";
  }
  // Before the server waits on us: a lookup may take a while.
  std::string domain = FullyQualifiedHostName();
  SmtpConnection smtp;
  why = smtp.Connect(address);
  if (!why.empty()) return "connecting to " + Dotted(address) + ": " + why;
  if (!(why = smtp.Expect("220")).empty()) {
    if (smtp.refused()) smtp.Quit();
    return "greeting: " + why;
  }
  if (domain.empty()) {
    std::string local;
    if (!(why = smtp.LocalAddress(&local)).empty()) return "finding the local address: " + why;
    domain = "[" + local + "]";
  }

  struct Step {
    const char* name;
    std::string command;
    const char* code;
  } steps[] = {
      {"HELO", "HELO " + domain + "\r\n", "250"},
      {"MAIL FROM", "MAIL FROM:<" + sender + ">\r\n", "250"},
      {"RCPT TO", "RCPT TO:<" + recipient + ">\r\n", "250"},
      {"DATA", "DATA\r\n", "354"},
      {"message", MailMessage(sender, recipient, domain, text), "250"},
  };
  for (const Step& step : steps) {
    if (!(why = smtp.Command(step.command, step.code)).empty()) {
      if (smtp.refused()) smtp.Quit();
      return std::string(step.name) + ": " + why;
    }
  }
  smtp.Quit();
  return "";
}

}  // namespace

struct MailQueue {
  ThrottledLog log{kMailLogIntervalSeconds};
  // Guarded by the senders' mutex:
  std::deque<std::unique_ptr<MailJob>> waiting;
  int sending = 0;  // senders working for this transporter
  bool inBacklog = false;
};

std::shared_ptr<MailQueue> NewMailQueue() { return std::make_shared<MailQueue>(); }

namespace {

// Through the transporter's throttle when there is one.
void LogNotSent(MailQueue* queue, const std::string& transporter, const std::string& why) {
  std::string line = "mail transporter \"" + transporter + "\": not sent: " + why;
  if (queue == nullptr) return AlerterLog(line);
  queue->log.Log(line, AlerterTime());
}

// The sender threads of all transporters. Never destroyed: senders may
// still run when the process ends.
struct Senders {
  std::mutex mutex;
  int running = 0;
  // The queues that had mail waiting; a sender that is done with its own
  // queue serves one whose mail waits for want of a place in all.
  std::vector<std::shared_ptr<MailQueue>> backlog;
};

Senders& AllSenders() {
  static Senders* senders = new Senders;
  return *senders;
}

// A queue of the backlog whose mail may be sent now, with a place taken
// for it; null when there is none. Forgets the queues with nothing waiting.
std::shared_ptr<MailQueue> TakeFromBacklog(Senders& all) {
  std::shared_ptr<MailQueue> found;
  auto& backlog = all.backlog;
  for (auto it = backlog.begin(); it != backlog.end();) {
    MailQueue& queue = **it;
    if (queue.waiting.empty()) {
      queue.inBacklog = false;
      it = backlog.erase(it);
      continue;
    }
    if (found == nullptr && queue.sending < kMailSendersPerTransporter) {
      ++queue.sending;
      found = *it;
    }
    ++it;
  }
  return found;
}

// Sends `job`, then what waits in its queue, then what waits elsewhere for
// want of a place; holds one place in all until nothing more may be sent.
void Sender(std::shared_ptr<MailQueue> queue, std::unique_ptr<MailJob> job) {
  Senders& all = AllSenders();
  for (;;) {
    job->queue = queue;
    sendMailThread(job.release());
    std::lock_guard<std::mutex> hold(all.mutex);
    if (queue->waiting.empty()) {
      --queue->sending;
      queue = TakeFromBacklog(all);
      if (queue == nullptr) {
        --all.running;
        return;
      }
    }
    job = std::move(queue->waiting.front());
    queue->waiting.pop_front();
  }
}

}  // namespace

void SetMailPortForTesting(uint16_t port) { mail_port = port; }
void SetMailTimeoutForTesting(int seconds) { mail_timeout = seconds; }
void SetMailHostNameForTesting(const char* name) { host_name_for_testing = name; }

int MailSendersRunning() {
  Senders& all = AllSenders();
  std::lock_guard<std::mutex> hold(all.mutex);
  return all.running;
}

void sendMailThread(MailJob* job) {
  std::string why = Converse(job->settings->recipient, job->settings->sender, job->settings->mailServer, job->text);
  if (!why.empty()) LogNotSent(job->queue.get(), job->settings->name, why);
  delete job;
}

MailDeliverySystem::~MailDeliverySystem() { queue_->log.Flush(); }

int32_t MailDeliverySystem::deliver(const AlertList& messages, const DeliverySettings& settings) {
  int32_t now = AlerterTime();
  if (messages.empty()) return -1;
  if (!passMinimalWait(now, settings.minimalWait)) return 0;
  const auto& mail = static_cast<const MailDeliverySettings&>(settings);
  auto job = std::make_unique<MailJob>(
      MailJob{buildReportText(messages, settings), std::unique_ptr<MailDeliverySettings>(mail.clone()), nullptr});
  Senders& all = AllSenders();
  std::unique_lock<std::mutex> hold(all.mutex);
  MailQueue& queue = *queue_;
  std::string why;
  // Mail that waits already goes first.
  if (queue.waiting.empty() && queue.sending < kMailSendersPerTransporter && all.running < kMailSendersInAll) {
    ++queue.sending;
    ++all.running;
    try {
      std::thread(Sender, queue_, std::move(job)).detach();
      return 0;
    } catch (const std::system_error& error) {
      --queue.sending;
      --all.running;
      why = std::string("no thread to send it: ") + error.what();
    }
  } else if (queue.waiting.size() < static_cast<size_t>(kMailQueuePerTransporter)) {
    queue.waiting.push_back(std::move(job));
    if (!queue.inBacklog) all.backlog.push_back(queue_);
    queue.inBacklog = true;
    return 0;
  } else {
    why = "dropped, " + std::to_string(kMailQueuePerTransporter) + " mails of this transporter wait to be sent";
  }
  hold.unlock();
  LogNotSent(queue_.get(), mail.name, why);
  return -1;
}

}  // namespace kst
