#include "platform/paths.h"

#include <cstdlib>

namespace kst {

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char a = text[i], b = prefix[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
    // Either separator may follow the drive letter in a stored text.
    if ((a == '/' && b == '\\') || (a == '\\' && b == '/')) continue;
    if (a != b) return false;
  }
  return true;
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
  if (StartsWithNoCase(windows_path, kWindowsInstallDir) &&
      (windows_path.size() == kWindowsInstallDir.size() ||
       windows_path[kWindowsInstallDir.size()] == '\\' ||
       windows_path[kWindowsInstallDir.size()] == '/')) {
    out = KestraneHome();
    rest = windows_path.substr(kWindowsInstallDir.size());
  }
  for (char c : rest) out.push_back(c == '\\' ? '/' : c);
  return out;
}

}  // namespace kst
