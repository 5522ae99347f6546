// `net send`: a text to the terminals where a user is logged in.
#ifndef KESTRANE_TOOLS_NET_NET_SEND_H_
#define KESTRANE_TOOLS_NET_NET_SEND_H_

#include <string>
#include <vector>

namespace kst {

// One login session: the user's name and the terminal's device line as the
// login records give it ("pts/3", "tty1").
struct Login {
  std::string user;
  std::string line;
};

// The sessions of the login records file (the system's own when `file` is
// empty).
std::vector<Login> ReadLogins(const std::string& file);

// Writes `message` to the terminal of each login of `user` ("*": every
// login) that can be written; returns how many received it.
int SendToTerminals(const std::vector<Login>& logins, const std::string& user, const std::string& message);

// What a terminal shows: a heading naming the sender and the text.
std::string TerminalMessage(const std::string& from, const std::string& to, const std::string& text);

}  // namespace kst

#endif  // KESTRANE_TOOLS_NET_NET_SEND_H_
