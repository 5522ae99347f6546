// The message a mail carries after DATA: its header, the report text in a
// form every server takes, and the end marker.
#ifndef KESTRANE_ALERTER_MAIL_BODY_H_
#define KESTRANE_ALERTER_MAIL_BODY_H_

#include <cstdint>
#include <string>

namespace kst {

// The longest line a message may hold, line end not counted.
constexpr size_t kMailLineOctets = 998;

// A Message-ID unique to every mail of every process, made at `date` on
// the host `domain`: "<1798748107.1.0123456789abcdef@kst-host.example>".
std::string MailMessageId(int32_t date, const std::string& domain);

// The whole message for `text` from `sender` to `recipient` (bare
// addresses), dated `date`, under `message_id`. Text with 8-bit bytes goes
// as quoted-printable UTF-8 under MIME headers; plain ASCII as it is.
std::string MailMessage(const std::string& sender, const std::string& recipient, const std::string& text,
                        int32_t date, const std::string& message_id);

// The DATA part after the header: every line ended by CRLF (LF, CR and CRLF
// each end a line), a line longer than kMailLineOctets folded, a line that
// begins with "." given a second one, and CRLF "." CRLF after the text.
std::string SmtpDataBody(const std::string& text);

// `text` as quoted-printable: every byte outside printable ASCII, "=" and
// a blank before a line end as "=XX", lines of at most 76 characters by
// soft breaks; line ends as "\n".
std::string QuotedPrintable(const std::string& text);

// `time` as a mail's Date: header gives it, in local time with its offset
// from UTC: "Tue, 01 Dec 2026 09:05:03 +0100".
std::string MailDate(int32_t time);

}  // namespace kst

#endif  // KESTRANE_ALERTER_MAIL_BODY_H_
