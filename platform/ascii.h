// Comparing names without regard to ASCII case, as the original platform
// does for registry keys, service names, counter paths and file names.
// Bytes outside A-Z are compared as they are, so UTF-8 texts pass unchanged.
#ifndef KESTRANE_PLATFORM_ASCII_H_
#define KESTRANE_PLATFORM_ASCII_H_

#include <algorithm>
#include <string_view>

namespace kst {

// A-Z become a-z; every other byte stays.
inline char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

inline bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return FoldAscii(x) == FoldAscii(y); });
}

inline bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualNoCase(text.substr(0, prefix.size()), prefix);
}

inline bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && EqualNoCase(text.substr(text.size() - suffix.size()), suffix);
}

// Orders as unsigned bytes after folding, so "a" < "B" < "c".
inline bool LessNoCase(std::string_view a, std::string_view b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return static_cast<unsigned char>(FoldAscii(x)) < static_cast<unsigned char>(FoldAscii(y));
  });
}

}  // namespace kst

#endif  // KESTRANE_PLATFORM_ASCII_H_
