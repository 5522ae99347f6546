// The one place where a Windows-shaped path text of the system becomes a
// native path, and where the installation's home folder is decided.
#ifndef KESTRANE_PLATFORM_PATHS_H_
#define KESTRANE_PLATFORM_PATHS_H_

#include <string>
#include <string_view>

namespace kst {

// The folder that holds everything a running installation keeps: the
// environment variable KESTRANE_HOME, or /var/lib/kestrane when it is unset
// or empty. Read on every call, so a test may point it elsewhere.
std::string KestraneHome();

// The installation folder as the Windows-shaped texts name it.
inline constexpr std::string_view kWindowsInstallDir = "C:\\Program Files\\Kestrane";

// Turns a path text as the system builds it into a native path: the prefix
// "C:\Program Files\Kestrane" (compared without regard to ASCII case) becomes
// KestraneHome(), and every backslash becomes a slash. Any other text only
// has its backslashes turned. An empty text stays empty.
std::string NativePath(std::string_view windows_path);

}  // namespace kst

#endif  // KESTRANE_PLATFORM_PATHS_H_
