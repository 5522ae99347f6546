// The text every transport sends: a short report over the messages of one
// delivery, shaped and cut to length by the transporter's settings.
#ifndef KESTRANE_ALERTER_REPORT_TEXT_H_
#define KESTRANE_ALERTER_REPORT_TEXT_H_

#include <string>

#include "KestraneAlerter/delivery_settings.h"
#include "KestraneAlerter/delivery_system.h"

namespace kst {

// The same pointers ordered by analyzer title followed by log title, by a
// selection sort whose handling of equal keys the report keeps.
AlertList orderForReport(const AlertList& messages);

// The report text; counter titles are looked up in the configuration tree
// at every call. Cut to the maximum length, never within a UTF-8 character.
std::string buildReportText(const AlertList& messages, const DeliverySettings& settings);

// `length`, or less when a cut there would split a UTF-8 character of
// `text`: the length up to that character.
size_t Utf8CutBefore(const std::string& text, size_t length);

}  // namespace kst

#endif  // KESTRANE_ALERTER_REPORT_TEXT_H_
