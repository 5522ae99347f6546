// Mail addresses as people type them into the mail pane: the one reading
// that the pane's check and the mail sender share.
#ifndef KESTRANE_ALERTER_MAIL_ADDRESS_H_
#define KESTRANE_ALERTER_MAIL_ADDRESS_H_

#include <string>

namespace kst {

// `typed` less the blanks around it.
std::string TrimBlanks(const std::string& typed);

// Reads `typed` as one address: blanks around it dropped, and the part in
// angle brackets taken when a display name comes with it ("Admin
// <root@localhost>"). "" when it is one address, with the address in
// `*address`; else what stops it being one, to follow "the recipient" or
// "the sender" ("holds a blank"). An empty text is one empty address.
std::string ParseMailAddress(const std::string& typed, std::string* address);

}  // namespace kst

#endif  // KESTRANE_ALERTER_MAIL_ADDRESS_H_
