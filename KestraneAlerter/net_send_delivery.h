// The command line of a net send delivery.
#ifndef KESTRANE_ALERTER_NET_SEND_DELIVERY_H_
#define KESTRANE_ALERTER_NET_SEND_DELIVERY_H_

#include <string>

namespace kst {

// "net send " + destination + " " + text, with every character other than
// letters, digits, "\", "/", ":", "_", "-" and "*" made a blank.
std::string NetSendCommand(const std::string& destination, const std::string& text);

}  // namespace kst

#endif  // KESTRANE_ALERTER_NET_SEND_DELIVERY_H_
