#include "KestraneAlerter/mail_body.h"

#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>

namespace kst {

namespace {

bool SevenBit(const std::string& text) {
  for (unsigned char c : text) {
    if (c >= 0x80) return false;
  }
  return true;
}

}  // namespace

// The time, the mail's number in this process and a number drawn once per
// process.
std::string MailMessageId(int32_t date, const std::string& domain) {
  static std::atomic<uint64_t> mails{0};
  static const uint64_t process = [] {
    std::random_device device;
    return (static_cast<uint64_t>(device()) << 32) ^ device();
  }();
  char unique[64];
  std::snprintf(unique, sizeof unique, "%" PRId32 ".%" PRIu64 ".%016" PRIx64, date, ++mails, process);
  return std::string("<") + unique + "@" + domain + ">";
}

std::string MailMessage(const std::string& sender, const std::string& recipient, const std::string& text,
                        int32_t date, const std::string& message_id) {
  std::string header = "From: Kestrane <" + sender + ">\r\nTo: Administrator <" + recipient +
                       ">\r\nSubject: Alert\r\nDate: " + MailDate(date) + "\r\nMessage-ID: " +
                       message_id + "\r\n";
  // Sent after HELO, so the server was never told of 8-bit data.
  if (SevenBit(text)) return header + "\r\n" + SmtpDataBody(text);
  return header +
         "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\n"
         "Content-Transfer-Encoding: quoted-printable\r\n\r\n" +
         SmtpDataBody(QuotedPrintable(text));
}

std::string QuotedPrintable(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  constexpr size_t kLine = 76;
  std::string out;
  size_t line = 0;  // characters of the output line so far
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    if (c == '\n' || c == '\r') {
      out += '\n';
      line = 0;
      continue;
    }
    bool at_end = i + 1 == text.size() || text[i + 1] == '\n' || text[i + 1] == '\r';
    bool literal = (c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !at_end);
    std::string piece = literal ? std::string(1, static_cast<char>(c))
                                : std::string{'=', kHex[c >> 4], kHex[c & 15]};
    // Room for the piece and, unless the line ends after it, a soft break.
    if (line + piece.size() + (at_end ? 0 : 1) > kLine) {
      out += "=\n";
      line = 0;
    }
    out += piece;
    line += piece.size();
  }
  return out;
}

std::string SmtpDataBody(const std::string& text) {
  std::string body;
  body.reserve(text.size() + text.size() / 16 + 8);
  size_t line = 0;  // octets of the line so far
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    // A bare CR ends a line too: sent alone, some servers would take a "."
    // after it for the end of the data.
    if (c == '\n' || c == '\r') {
      body += "\r\n";
      line = 0;
      continue;
    }
    if (line == kMailLineOctets) {
      body += "\r\n";
      line = 0;
    }
    if (line == 0 && c == '.') body += '.';
    body += c;
    ++line;
  }
  return body + "\r\n.\r\n";
}

std::string MailDate(int32_t time) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  time_t t = time;
  tzset();  // a service runs for months; the zone may change under it
  tm local{};
  if (localtime_r(&t, &local) == nullptr) return "";
  long offset = local.tm_gmtoff / 60;
  char sign = offset < 0 ? '-' : '+';
  offset = std::labs(offset);
  char date[64];
  std::snprintf(date, sizeof date, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld", kDays[local.tm_wday % 7],
                local.tm_mday, kMonths[local.tm_mon % 12], local.tm_year + 1900, local.tm_hour, local.tm_min,
                local.tm_sec, sign, offset / 60, offset % 60);
  return date;
}

}  // namespace kst
