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
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "KestraneAlerter/alerter_log.h"
#include "KestraneAlerter/alerter_time.h"
#include "KestraneAlerter/delivery_system.h"
#include "KestraneAlerter/mail_address.h"
#include "KestraneAlerter/mail_body.h"
#include "KestraneAlerter/mail_queue.h"
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

// The first IPv4 address of a host name; else why there is none, and in
// `again` whether that may pass.
std::string LookUpName(const std::string& name, in_addr* address, bool* again) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  int error = getaddrinfo(name.c_str(), nullptr, &hints, &found);
  *again = error == EAI_AGAIN;
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
      if (i == label || i - label > 63 || name[label] == '-' || name[i - 1] == '-') return false;
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

// The HELO name, looked up once and again an hour later at most, so that a
// slow resolver holds up no mail but the first. Never destroyed: senders
// may still run when the process ends.
struct HeloName {
  std::mutex mutex;
  bool known = false;  // guarded by mutex, as the two below
  int32_t lookedUp = 0;
  std::string name;
};
constexpr int32_t kHeloNameSeconds = 3600;
std::atomic<int> helo_lookups{0};

HeloName& TheHeloName() {
  static HeloName* helo = new HeloName;
  return *helo;
}

std::string LocalDomain() {
  HeloName& helo = TheHeloName();
  std::lock_guard<std::mutex> hold(helo.mutex);
  int32_t now = AlerterTime();
  int64_t age = static_cast<int64_t>(now) - helo.lookedUp;
  if (!helo.known || age < 0 || age >= kHeloNameSeconds) {
    helo.name = FullyQualifiedHostName();
    helo.lookedUp = now;
    helo.known = true;
    ++helo_lookups;
  }
  return helo.name;
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
    refused_for_now_ = refused_ && got[0] == '4';
    if (!refused_) return "";
    return "the server answered \"" + first.substr(0, 100) + "\", not " + code;
  }

  std::string Command(const std::string& text, const char* code) {
    std::string why = Send(text);
    return why.empty() ? Expect(code) : why;
  }

  // Whether the last reply was whole but not the one expected.
  bool refused() const { return refused_; }
  // Whether the last failure may pass: a reply that was not whole, a send
  // that failed, or a refusal for now (4xx).
  bool mayPass() const { return !refused_ || refused_for_now_; }

  // Takes leave; whatever the server says to it changes nothing.
  void Quit() {
    std::string first, code;
    if (Send("QUIT\r\n").empty()) ReadReply(&first, &code);
  }

 private:
  int fd_ = -1;
  std::string received_;  // what came after the last whole line
  bool refused_ = false;
  bool refused_for_now_ = false;
};

// The whole conversation for a mail dated `date`, under `message_id` (made
// here when empty); "" when the server took the mail, else the step that
// failed and why, and in `again` whether the failure may pass.
std::string Converse(const std::string& recipient_typed, const std::string& sender_typed,
                     const std::string& server_typed, const std::string& text, int32_t date,
                     std::string* message_id, bool* again) {
  *again = false;
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
    std::string why = LookUpName(server, &address, again);
    if (!why.empty()) return "looking up the mail server \"" + server + "\": " + why;
  } else if (inet_aton(server.c_str(), &address) == 0) {
    return "the mail server \"" + server + "\" is not a dotted IPv4 address";
  }
  // Before the server waits on us: a lookup may take a while.
  std::string domain = LocalDomain();
  SmtpConnection smtp;
  *again = true;
  why = smtp.Connect(address);
  if (!why.empty()) return "connecting to " + Dotted(address) + ": " + why;
  if (!(why = smtp.Expect("220")).empty()) {
    *again = smtp.mayPass();
    if (smtp.refused()) smtp.Quit();
    return "greeting: " + why;
  }
  if (domain.empty()) {
    std::string local;
    if (!(why = smtp.LocalAddress(&local)).empty()) return "finding the local address: " + why;
    domain = "[" + local + "]";
  }
  if (message_id->empty()) *message_id = MailMessageId(date, domain);

  struct Step {
    const char* name;
    std::string command;
    const char* code;
  } steps[] = {
      {"HELO", "HELO " + domain + "\r\n", "250"},
      {"MAIL FROM", "MAIL FROM:<" + sender + ">\r\n", "250"},
      {"RCPT TO", "RCPT TO:<" + recipient + ">\r\n", "250"},
      {"DATA", "DATA\r\n", "354"},
      {"message", MailMessage(sender, recipient, text, date, *message_id), "250"},
  };
  for (const Step& step : steps) {
    if (!(why = smtp.Command(step.command, step.code)).empty()) {
      *again = smtp.mayPass();
      if (smtp.refused()) smtp.Quit();
      return std::string(step.name) + ": " + why;
    }
  }
  smtp.Quit();
  return "";
}

}  // namespace

void SetMailPortForTesting(uint16_t port) { mail_port = port; }
void SetMailTimeoutForTesting(int seconds) { mail_timeout = seconds; }
void SetMailHostNameForTesting(const char* name) {
  HeloName& helo = TheHeloName();
  std::lock_guard<std::mutex> hold(helo.mutex);
  host_name_for_testing = name;
  helo.known = false;
}

int MailHeloLookupsForTesting() { return helo_lookups.load(); }

void sendMailThread(MailJob* job) {
  std::unique_ptr<MailJob> owned(job);
  if (owned->tries++ == 0) owned->firstTry = AlerterTime();
  const MailDeliverySettings& s = *owned->settings;
  bool again = false;
  std::string why =
      Converse(s.recipient, s.sender, s.mailServer, owned->text, owned->firstTry, &owned->messageId, &again);
  if (why.empty()) return;
  if (again && owned->queue != nullptr) return TryAgainLater(std::move(owned), why);
  LogMail(owned->queue.get(), s.name, "not sent: " + why);
}

MailDeliverySystem::~MailDeliverySystem() { queue_->log.Flush(); }

int32_t MailDeliverySystem::deliver(const AlertList& messages, const DeliverySettings& settings) {
  int32_t now = AlerterTime();
  if (messages.empty()) return -1;
  if (!passMinimalWait(now, settings.minimalWait)) return 0;
  const auto& mail = static_cast<const MailDeliverySettings&>(settings);
  auto job = std::make_unique<MailJob>();
  job->text = buildReportText(messages, settings);
  job->settings.reset(mail.clone());
  return SendOrQueue(queue_, std::move(job));
}

}  // namespace kst
