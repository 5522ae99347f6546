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
// at every call.
std::string buildReportText(const AlertList& messages, const DeliverySettings& settings);

}  // namespace kst

#endif  // KESTRANE_ALERTER_REPORT_TEXT_H_
