// net send NAME TEXT...: shows TEXT on every terminal where user NAME is
// logged in ("*": every user). Exit 0 when some terminal received it, 2
// when none did, 1 on a usage error.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/net/net_send.h"

int main(int argc, char** argv) {
  if (argc < 4 || std::string(argv[1]) != "send") {
    std::fprintf(stderr, "usage: net send NAME TEXT...\n       NAME \"*\" sends to every user\n");
    return 1;
  }
  std::string user = argv[2];
  std::string text;
  for (int i = 3; i < argc; ++i) {
    if (i > 3) text += ' ';
    text += argv[i];
  }
  char host[256] = "localhost";
  gethostname(host, sizeof host - 1);
  // The login records file can be pointed elsewhere for tests.
  const char* records = std::getenv("KST_NET_LOGIN_RECORDS");
  auto logins = kst::ReadLogins(records != nullptr ? records : "");
  int received = kst::SendToTerminals(logins, user, kst::TerminalMessage(host, user, text));
  if (received == 0) {
    std::fprintf(stderr, "net: the message was not received: no terminal of %s could be reached\n",
                 user == "*" ? "any user" : user.c_str());
    return 2;
  }
  return 0;
}
