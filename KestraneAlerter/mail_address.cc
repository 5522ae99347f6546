#include "KestraneAlerter/mail_address.h"

#include <algorithm>

namespace kst {

std::string TrimBlanks(const std::string& typed) {
  size_t first = typed.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return typed.substr(first, typed.find_last_not_of(' ') - first + 1);
}

std::string ParseMailAddress(const std::string& typed, std::string* address) {
  // A line break would end the command early and let the rest of the text
  // speak to the server.
  if (std::any_of(typed.begin(), typed.end(), [](unsigned char c) { return c < 0x20 || c == 0x7f; })) {
    return "holds a control character";
  }
  std::string text = TrimBlanks(typed);
  size_t open = text.find('<');
  if (open != std::string::npos || text.find('>') != std::string::npos) {
    size_t close = text.find('>');
    if (open == std::string::npos || close + 1 != text.size() || text.find('<', open + 1) != std::string::npos) {
      return "holds \"<\" or \">\" that do not enclose the address";
    }
    text = TrimBlanks(text.substr(open + 1, close - open - 1));
    if (text.empty()) return "holds no address within its angle brackets";
  }
  // Anything after a blank or a comma would be a second address, or a
  // parameter of the command.
  if (text.find(',') != std::string::npos) return "holds \",\"";
  if (text.find(' ') != std::string::npos) return "holds a blank";
  *address = text;
  return "";
}

}  // namespace kst
