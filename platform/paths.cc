#include "platform/paths.h"

#include <algorithm>
#include <cstdlib>

#include "platform/ascii.h"

namespace kst {

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// StartsWithNoCase, except that either separator may follow the drive
// letter in a stored text.
bool StartsWithPath(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(), [](char p, char t) {
           return (IsSeparator(p) && IsSeparator(t)) || FoldAscii(p) == FoldAscii(t);
         });
}

}  // namespace

std::string KestraneHome() {
  const char* home = std::getenv("KESTRANE_HOME");
  if (home == nullptr || *home == '\0') return "/var/lib/kestrane";
  return home;
}

std::string NativePath(std::string_view windows_path) {
  std::string out;
  std::string_view rest = windows_path;
  if (StartsWithPath(windows_path, kWindowsInstallDir) &&
      (windows_path.size() == kWindowsInstallDir.size() ||
       IsSeparator(windows_path[kWindowsInstallDir.size()]))) {
    out = KestraneHome();
    rest = windows_path.substr(kWindowsInstallDir.size());
  }
  for (char c : rest) out.push_back(c == '\\' ? '/' : c);
  return out;
}

}  // namespace kst
