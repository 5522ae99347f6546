#include "platform/paths.h"

#include <cstdlib>

#include "gtest/gtest.h"

namespace kst {
namespace {

TEST(PathsTest, InstallPrefixBecomesHomeAndBackslashesSlashes) {
  ::setenv("KESTRANE_HOME", "/tmp/kh", 1);
  struct Case { const char* in; const char* out; } cases[] = {
      {"C:\\Program Files\\Kestrane\\freq.txt", "/tmp/kh/freq.txt"},
      {"c:\\program files\\kestrane\\States\\a.st", "/tmp/kh/States/a.st"},
      {"C:\\Program Files\\Kestrane", "/tmp/kh"},
      {"C:\\Program Files\\KestraneX\\a", "C:/Program Files/KestraneX/a"},
      {"/srv/k\\alertmessages", "/srv/k/alertmessages"},
      {"\\States\\x", "/States/x"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(NativePath(c.in), c.out) << c.in;
}

TEST(PathsTest, HomeDefaultsWhenUnsetOrEmpty) {
  ::setenv("KESTRANE_HOME", "", 1);
  EXPECT_EQ(KestraneHome(), "/var/lib/kestrane");
  ::unsetenv("KESTRANE_HOME");
  EXPECT_EQ(KestraneHome(), "/var/lib/kestrane");
}

}  // namespace
}  // namespace kst
