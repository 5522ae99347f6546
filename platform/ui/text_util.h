// ASCII case folding for the controls' look-ups and sorting.
#ifndef KST_PLATFORM_UI_TEXT_UTIL_H_
#define KST_PLATFORM_UI_TEXT_UTIL_H_

#include <algorithm>
#include <string_view>

namespace kst::ui {

inline char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

inline bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return FoldAscii(x) == FoldAscii(y); });
}

inline bool LessNoCase(std::string_view a, std::string_view b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return static_cast<unsigned char>(FoldAscii(x)) < static_cast<unsigned char>(FoldAscii(y));
  });
}

}  // namespace kst::ui

#endif  // KST_PLATFORM_UI_TEXT_UTIL_H_
