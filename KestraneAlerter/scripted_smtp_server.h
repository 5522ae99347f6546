// A scripted SMTP server on loopback for the mail tests, as strict as the
// servers that guard against spam and as fussy as stock ones.
#ifndef KESTRANE_ALERTER_SCRIPTED_SMTP_SERVER_H_
#define KESTRANE_ALERTER_SCRIPTED_SMTP_SERVER_H_

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace kst {

constexpr int kWaitMs = 5000;
// Between the parts of a reply: time enough for a client to answer the
// first part, if it would.
constexpr int kPauseMs = 50;

// A listening socket on a free loopback port, or on `port` of another
// loopback address.
class Listener {
 public:
  explicit Listener(int backlog = 4, uint32_t host = INADDR_LOOPBACK, uint16_t port = 0) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(host);
    address.sin_port = htons(port);
    bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(fd_, backlog);
    socklen_t length = sizeof address;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~Listener() { close(fd_); }
  uint16_t port() const { return port_; }
  // A connection that comes within `ms` milliseconds, or -1.
  int Accept(int ms) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, ms) != 1) return -1;
    return accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
  }

 private:
  int fd_;
  uint16_t port_;
};

inline bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Reads until what comes ends with `end`, or the peer closes, and adds it
// to `received`; false when nothing came for kWaitMs.
inline bool ReadUntil(int fd, const std::string& end, std::string* received, bool* closed) {
  std::string chunk;
  while (!EndsWith(chunk, end)) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, kWaitMs) != 1) break;
    char buffer[4096];
    ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) {
      *closed = true;
      break;
    }
    chunk.append(buffer, static_cast<size_t>(got));
  }
  *received += chunk;
  return *closed || EndsWith(chunk, end);
}

// What a server that guards against spam answers to a command that breaks
// its rules; "" for a command it takes. `message`: the command is the
// text after DATA.
inline std::string Refusal(const std::string& command, bool message) {
  static const std::regex helo(R"(HELO (\[\d{1,3}(\.\d{1,3}){3}\]|([A-Za-z0-9-]+\.)+[A-Za-z][A-Za-z0-9-]*)\r\n)");
  static const std::regex sender(R"(MAIL FROM:<[^<>\s]+@[^<>\s]+>\r\n)");
  static const std::regex recipient(R"(RCPT TO:<[^<>\s]+@[^<>\s]+>\r\n)");
  static const std::regex header(
      "\r\nFrom: [^\r\n]*<[^<>\\s]+@[^<>\\s]+>\r\n(.*\r\n)?To: [^\r\n]*<[^<>\\s]+@[^<>\\s]+>\r\n(.*\r\n)?"
      "Date: (Mon|Tue|Wed|Thu|Fri|Sat|Sun), \\d\\d (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) \\d{4} "
      "\\d\\d:\\d\\d:\\d\\d [+-]\\d{4}\r\nMessage-ID: <[^<>\\s]+@[^<>\\s]+>\r\n([A-Za-z-]+: [^\r\n]+\r\n)*\r\n");
  // Neither a line longer than 998 octets (a leading "." sent doubled not
  // counted) nor, without 8BITMIME (which HELO never asks for), a byte
  // outside ASCII.
  for (size_t from = 0, end; (end = command.find("\r\n", from)) != std::string::npos; from = end + 2) {
    size_t octets = end - from - (message && command.compare(from, 2, "..") == 0);
    if (octets > 998) {
      return "500 5.5.0 maximum allowed line length is 998 octets, got " + std::to_string(octets) + "\r\n";
    }
  }
  for (unsigned char c : command) {
    if (c >= 0x80) return "554 5.6.0 8-bit data without 8BITMIME\r\n";
  }
  if (message) {
    return std::regex_search("\r\n" + command.substr(0, command.find("\r\n\r\n") + 4), header)
               ? ""
               : "550 5.7.1 header syntax\r\n";
  }
  if (command.rfind("HELO", 0) == 0 && !std::regex_match(command, helo)) {
    return "504 5.5.2 Helo command rejected: need fully-qualified hostname\r\n";
  }
  if (command.rfind("MAIL", 0) == 0 && !std::regex_match(command, sender)) {
    return "501 5.1.7 Bad sender address syntax\r\n";
  }
  if (command.rfind("RCPT", 0) == 0 && !std::regex_match(command, recipient)) {
    return "501 5.1.3 Bad recipient address syntax\r\n";
  }
  return "";
}

// An SMTP server on loopback, as strict as those that guard against spam.
// It takes `connections` connections one after the other and answers each
// with `replies`: the first as the greeting, each further one after a
// whole command (after a 354, after the whole message). A "|" splits a
// reply: the part before it goes out alone, the rest after a pause in which
// the client must not speak. A command that breaks the rules gets the
// refusal of such servers instead of its reply. After the last reply or a
// refusal, QUIT is answered with 221 and the rest recorded until the client
// closes.
class ScriptedServer {
 public:
  // `hang_up`: after the last reply, take one more command and close
  // without answering it.
  explicit ScriptedServer(std::vector<std::string> replies, bool hang_up = false, int connections = 1)
      : ScriptedServer(std::move(replies), hang_up, connections, 0, 0, "") {}
  // Greylists, as servers that put off a first contact do: the first
  // `refused` connections get `refusal` (a 4xx) in place of reply `step`
  // (0 the greeting, 3 the reply to RCPT TO), and the conversation ends as
  // after any refusal; the others the script.
  ScriptedServer(std::vector<std::string> replies, int connections, int refused, size_t step, std::string refusal)
      : ScriptedServer(std::move(replies), false, connections, refused, step, std::move(refusal)) {}
  ~ScriptedServer() {
    if (thread_.joinable()) thread_.join();
  }
  uint16_t port() const { return listener_.port(); }
  // Connections taken so far.
  int accepted() const { return accepted_.load(); }
  // Waits for the conversations to end; what the client sent.
  std::string Received() {
    if (thread_.joinable()) thread_.join();
    return received_;
  }
  // Messages taken, once Received has returned.
  int mails() const { return mails_; }
  // What went wrong on the server's side, if anything.
  const std::string& trouble() const { return trouble_; }

 private:
  ScriptedServer(std::vector<std::string> replies, bool hang_up, int connections, int refused, size_t step,
                 std::string refusal)
      : listener_(128),
        replies_(std::move(replies)),
        hang_up_(hang_up),
        connections_(connections),
        refused_(refused),
        refused_step_(step),
        refusal_(std::move(refusal)) {
    thread_ = std::thread([this] {
      for (int i = 0; i < connections_ && trouble_.empty(); ++i) Serve(i < refused_);
    });
  }

  // Sends `reply` in its parts; false when the client spoke in a pause.
  bool Say(int fd, const std::string& reply) {
    size_t from = 0;
    for (size_t bar; (bar = reply.find('|', from)) != std::string::npos; from = bar + 1) {
      send(fd, reply.data() + from, bar - from, MSG_NOSIGNAL);
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, kPauseMs) == 1) {
        trouble_ = "the client spoke before the last line of \"" + reply + "\"";
        return false;
      }
    }
    send(fd, reply.data() + from, reply.size() - from, MSG_NOSIGNAL);
    return true;
  }

  void Serve(bool refuse) {
    int fd = listener_.Accept(kWaitMs);
    if (fd < 0) {
      trouble_ = "the mail client did not connect within 5 s";
      return;
    }
    ++accepted_;
    int yes = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    bool closed = false;
    bool message_came = false;  // and waits for its reply
    for (size_t step = 0; step < replies_.size() && !closed && trouble_.empty(); ++step) {
      if (refuse && step == refused_step_) {
        Say(fd, refusal_);
        break;
      }
      if (!Say(fd, replies_[step])) {
        // Such a client is dropped unheard.
        close(fd);
        return;
      }
      mails_ += message_came;
      if (step + 1 == replies_.size()) break;
      bool message = replies_[step].compare(0, 3, "354") == 0;
      std::string command;
      if (!ReadUntil(fd, message ? "\r\n.\r\n" : "\r\n", &command, &closed)) trouble_ = "no command came within 5 s";
      received_ += command;
      if (closed || !trouble_.empty()) break;
      std::string refusal = Refusal(command, message);
      if (!refusal.empty()) {
        trouble_ = "refused with " + refusal.substr(0, refusal.size() - 2) + ": " + command;
        Say(fd, refusal);
        break;
      }
      message_came = message;
    }
    if (hang_up_ && !closed) ReadUntil(fd, "\r\n", &received_, &closed);
    while (!hang_up_ && !closed) {
      std::string command;
      if (!ReadUntil(fd, "\r\n", &command, &closed)) {
        trouble_ = "the client did not close within 5 s";
        break;
      }
      received_ += command;
      if (command == "QUIT\r\n") Say(fd, "221 2.0.0 Bye\r\n");
    }
    close(fd);
  }

  Listener listener_;
  std::vector<std::string> replies_;
  bool hang_up_;
  int connections_;
  int refused_;
  size_t refused_step_;
  std::string refusal_;
  std::atomic<int> accepted_{0};
  std::string received_;
  int mails_ = 0;
  std::string trouble_;
  std::thread thread_;
};

}  // namespace kst

#endif  // KESTRANE_ALERTER_SCRIPTED_SMTP_SERVER_H_
