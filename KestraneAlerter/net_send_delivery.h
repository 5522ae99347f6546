// The command line of a net send delivery.
#ifndef KESTRANE_ALERTER_NET_SEND_DELIVERY_H_
#define KESTRANE_ALERTER_NET_SEND_DELIVERY_H_

#include <string>

namespace kst {

// "net send " + destination + " " + text, with every character other than
// letters, digits, "\", "/", ":", "_", "-" and "*" made a blank.
std::string NetSendCommand(const std::string& destination, const std::string& text);

// The same words for /bin/sh: each quoted, so that "*" and "\" stay as they
// are, and "net" named by the program that `net` resolves to.
std::string NetSendShellLine(const std::string& filteredCommand);

}  // namespace kst

#endif  // KESTRANE_ALERTER_NET_SEND_DELIVERY_H_
