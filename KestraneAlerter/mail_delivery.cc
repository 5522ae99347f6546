#include "KestraneAlerter/mail_delivery.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <system_error>
#include <thread>

#include "KestraneAlerter/alerter_log.h"
#include "KestraneAlerter/alerter_time.h"
#include "KestraneAlerter/delivery_system.h"
#include "KestraneAlerter/report_text.h"
#include "KestraneAlerter/test_seams.h"

namespace kst {
namespace {

constexpr uint16_t kSmtpPort = 25;
constexpr int kReplyTimeoutSeconds = 60;
constexpr char kHeader[] = "From: Kestrane\r\nTo: Administrator\r\nSubject: Alert\r\n\r\n";

std::atomic<uint16_t> mail_port{0};
std::atomic<int> mail_timeout{0};
std::atomic<int> senders_in_all{0};

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
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
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

  // One receive per reply; it counts when more than two bytes arrived and
  // they begin with `code`.
  std::string Expect(const char* code) {
    char buffer[1025];
    ssize_t got = recv(fd_, buffer, 1024, 0);
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return NoAnswer();
    if (got < 0) return "receiving failed: " + ErrnoText(errno);
    if (got == 0) return "the server closed the connection";
    buffer[got] = '\0';
    if (got > 2 && buffer[0] == code[0] && buffer[1] == code[1] && buffer[2] == code[2]) return "";
    std::string reply(buffer, static_cast<size_t>(got));
    reply = reply.substr(0, std::min(reply.find_first_of("\r\n"), size_t{100}));
    return "the server answered \"" + reply + "\", not " + code;
  }

  std::string Command(const std::string& text, const char* code) {
    std::string why = Send(text);
    return why.empty() ? Expect(code) : why;
  }

 private:
  int fd_ = -1;
};

// The whole conversation; "" when the server took the mail, else the step
// that failed and why.
std::string Converse(const std::string& recipient, const std::string& sender, const std::string& server,
                     const std::string& text) {
  if (recipient.empty()) return "no recipient is set";
  if (sender.empty()) return "no sender is set";
  if (server.empty()) return "no mail server is set";
  in_addr address;
  if (std::isalpha(static_cast<unsigned char>(server[0]))) {
    std::string why = LookUpName(server, &address);
    if (!why.empty()) return "looking up the mail server \"" + server + "\": " + why;
  } else if (inet_aton(server.c_str(), &address) == 0) {
    return "the mail server \"" + server + "\" is not a dotted IPv4 address";
  }
  SmtpConnection smtp;
  std::string why = smtp.Connect(address);
  if (!why.empty()) return "connecting to " + Dotted(address) + ": " + why;
  if (!(why = smtp.Expect("220")).empty()) return "greeting: " + why;
  std::string local;
  if (!(why = smtp.LocalAddress(&local)).empty()) return "finding the local address: " + why;

  struct Step {
    const char* name;
    std::string command;
    const char* code;
  } steps[] = {
      {"HELO", "HELO " + local + "\r\n", "250"},
      {"MAIL FROM", "MAIL FROM: " + sender + "\r\n", "250"},
      {"RCPT TO", "RCPT TO: " + recipient + "\r\n", "250"},
      {"DATA", "DATA\r\n", "354"},
      {"message", kHeader + SmtpDataBody(text), "250"},
  };
  for (const Step& step : steps) {
    if (!(why = smtp.Command(step.command, step.code)).empty()) return std::string(step.name) + ": " + why;
  }
  return "";
}

// Takes a place among at most `bound` running senders.
bool TakePlace(std::atomic<int>& running, int bound) {
  int now = running.load();
  while (now < bound) {
    if (running.compare_exchange_weak(now, now + 1)) return true;
  }
  return false;
}

void GiveBackPlaces(const std::shared_ptr<std::atomic<int>>& transporterSenders) {
  if (transporterSenders == nullptr) return;
  --*transporterSenders;
  --senders_in_all;
}

void LogNotSent(const std::string& transporter, const std::string& why) {
  AlerterLog("mail transporter \"" + transporter + "\": not sent: " + why);
}

}  // namespace

void SetMailPortForTesting(uint16_t port) { mail_port = port; }
void SetMailTimeoutForTesting(int seconds) { mail_timeout = seconds; }

int MailSendersRunning() { return senders_in_all.load(); }

std::string SmtpDataBody(const std::string& text) {
  std::string body;
  body.reserve(text.size() + text.size() / 16 + 8);
  bool line_start = true;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (line_start && c == '.') body += '.';
    line_start = false;
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    // A bare CR ends a line too: sent alone, some servers would take a "."
    // after it for the end of the data.
    if (c == '\n' || c == '\r') {
      body += "\r\n";
      line_start = true;
      continue;
    }
    body += c;
  }
  return body + "\r\n.\r\n";
}

void sendMailThread(MailJob* job) {
  std::string name = job->settings->name;
  std::string recipient = job->settings->recipient;
  std::string sender = job->settings->sender;
  std::string server = job->settings->mailServer;
  std::string text = job->text;
  std::shared_ptr<std::atomic<int>> places = std::move(job->transporterSenders);
  delete job;
  std::string why = Converse(recipient, sender, server, text);
  if (!why.empty()) LogNotSent(name, why);
  GiveBackPlaces(places);
}

int32_t MailDeliverySystem::deliver(const AlertList& messages, const DeliverySettings& settings) {
  int32_t now = AlerterTime();
  if (messages.empty()) return -1;
  if (!passMinimalWait(now, settings.minimalWait)) return 0;
  const auto& mail = static_cast<const MailDeliverySettings&>(settings);
  if (!TakePlace(*senders_, kMailSendersPerTransporter)) {
    LogNotSent(mail.name, "dropped, " + std::to_string(kMailSendersPerTransporter) +
                              " mails of this transporter are still being sent");
    return -1;
  }
  if (!TakePlace(senders_in_all, kMailSendersInAll)) {
    --*senders_;
    LogNotSent(mail.name, "dropped, " + std::to_string(kMailSendersInAll) + " mails are still being sent");
    return -1;
  }
  auto* job = new MailJob{buildReportText(messages, settings),
                          std::unique_ptr<MailDeliverySettings>(mail.clone()), senders_};
  try {
    std::thread(sendMailThread, job).detach();
  } catch (const std::system_error& error) {
    GiveBackPlaces(job->transporterSenders);
    delete job;
    LogNotSent(mail.name, std::string("no thread to send it: ") + error.what());
    return -1;
  }
  return 0;
}

}  // namespace kst
