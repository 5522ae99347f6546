#include "KestraneAlerter/mail_delivery.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <system_error>
#include <thread>

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

// The first IPv4 address of a host name; false when it has none.
bool LookUpName(const std::string& name, in_addr* address) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return false;
  *address = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
  freeaddrinfo(found);
  return true;
}

// A dotted address is used only when it has a host entry.
bool LookUpAddress(const std::string& dotted, in_addr* address) {
  if (inet_aton(dotted.c_str(), address) == 0) return false;
  sockaddr_in socket_address{};
  socket_address.sin_family = AF_INET;
  socket_address.sin_addr = *address;
  char host[NI_MAXHOST];
  return getnameinfo(reinterpret_cast<sockaddr*>(&socket_address), sizeof socket_address, host,
                     sizeof host, nullptr, 0, NI_NAMEREQD) == 0;
}

class SmtpConnection {
 public:
  ~SmtpConnection() {
    if (fd_ >= 0) close(fd_);
  }

  bool Connect(const in_addr& address) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return false;
    int seconds = mail_timeout.load();
    timeval timeout{seconds != 0 ? seconds : kReplyTimeoutSeconds, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_addr = address;
    uint16_t port = mail_port.load();
    server.sin_port = htons(port != 0 ? port : kSmtpPort);
    return connect(fd_, reinterpret_cast<sockaddr*>(&server), sizeof server) == 0;
  }

  // One send of the whole text; a short count is a failure.
  bool Send(const std::string& text) {
    ssize_t sent = send(fd_, text.data(), text.size(), MSG_NOSIGNAL);
    return sent == static_cast<ssize_t>(text.size());
  }

  // One receive per reply; it counts when more than two bytes arrived and
  // they begin with `code`.
  bool Expect(const char* code) {
    char buffer[1025];
    ssize_t got = recv(fd_, buffer, 1024, 0);
    if (got <= 2) return false;
    buffer[got] = '\0';
    return buffer[0] == code[0] && buffer[1] == code[1] && buffer[2] == code[2];
  }

  bool Command(const std::string& text, const char* code) { return Send(text) && Expect(code); }

 private:
  int fd_ = -1;
};

void Converse(const std::string& recipient, const std::string& sender, const std::string& server,
              const std::string& text) {
  if (recipient.empty() || sender.empty() || server.empty()) return;
  in_addr server_address;
  bool found = std::isalpha(static_cast<unsigned char>(server[0])) ? LookUpName(server, &server_address)
                                                                   : LookUpAddress(server, &server_address);
  if (!found) return;
  SmtpConnection smtp;
  if (!smtp.Connect(server_address) || !smtp.Expect("220")) return;

  char host_name[1024];
  if (gethostname(host_name, sizeof host_name) != 0) return;
  host_name[sizeof host_name - 1] = '\0';
  in_addr local;
  if (!LookUpName(host_name, &local)) return;
  char dotted[INET_ADDRSTRLEN];
  inet_ntop(AF_INET, &local, dotted, sizeof dotted);

  if (!smtp.Command(std::string("HELO ") + dotted + "\r\n", "250")) return;
  if (!smtp.Command("MAIL FROM: " + sender + "\r\n", "250")) return;
  if (!smtp.Command("RCPT TO: " + recipient + "\r\n", "250")) return;
  if (!smtp.Command("DATA\r\n", "354")) return;
  smtp.Command(kHeader + SmtpDataBody(text), "250");
}

}  // namespace

void SetMailPortForTesting(uint16_t port) { mail_port = port; }
void SetMailTimeoutForTesting(int seconds) { mail_timeout = seconds; }

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
  body += line_start && !body.empty() ? ".\r\n" : "\r\n.\r\n";
  return body;
}

void sendMailThread(MailJob* job) {
  std::string recipient = job->settings->recipient;
  std::string sender = job->settings->sender;
  std::string server = job->settings->mailServer;
  std::string text = job->text;
  delete job;
  Converse(recipient, sender, server, text);
}

int32_t MailDeliverySystem::deliver(const AlertList& messages, const DeliverySettings& settings) {
  int32_t now = AlerterTime();
  if (messages.empty()) return -1;
  if (!passMinimalWait(now, settings.minimalWait)) return 0;
  const auto& mail = static_cast<const MailDeliverySettings&>(settings);
  auto* job = new MailJob{buildReportText(messages, settings),
                          std::unique_ptr<MailDeliverySettings>(mail.clone())};
  try {
    std::thread(sendMailThread, job).detach();
  } catch (const std::system_error&) {
    delete job;
    return -1;
  }
  return 0;
}

}  // namespace kst
