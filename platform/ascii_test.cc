#include "platform/ascii.h"

#include <gtest/gtest.h>

namespace kst {
namespace {

TEST(AsciiTest, FoldsOnlyAsciiCapitals) {
  EXPECT_EQ(FoldAscii('A'), 'a');
  EXPECT_EQ(FoldAscii('Z'), 'z');
  EXPECT_EQ(FoldAscii('a'), 'a');
  EXPECT_EQ(FoldAscii('@'), '@');  // just before 'A'
  EXPECT_EQ(FoldAscii('['), '[');  // just after 'Z'
  EXPECT_EQ(FoldAscii('\xc3'), '\xc3');
}

TEST(AsciiTest, Compares) {
  struct Case {
    const char* a;
    const char* b;
    bool equal, a_starts_with_b, a_ends_with_b;
  };
  const Case cases[] = {
      {"Memory", "memory", true, true, true},
      {"", "", true, true, true},
      {"Discovery.DLL", ".dll", false, false, true},
      {"KestraneChecker.exe", "kestrane", false, true, false},
      {"ab", "abc", false, false, false},
      {"\xc3\x84", "\xc3\xa4", false, false, false},  // only ASCII folds
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " / " + c.b);
    EXPECT_EQ(EqualNoCase(c.a, c.b), c.equal);
    EXPECT_EQ(StartsWithNoCase(c.a, c.b), c.a_starts_with_b);
    EXPECT_EQ(EndsWithNoCase(c.a, c.b), c.a_ends_with_b);
  }
}

TEST(AsciiTest, OrdersFoldedBytes) {
  EXPECT_TRUE(LessNoCase("a", "B"));
  EXPECT_TRUE(LessNoCase("B", "c"));
  EXPECT_FALSE(LessNoCase("ABC", "abc"));
  EXPECT_FALSE(LessNoCase("abc", "ABC"));
  EXPECT_TRUE(LessNoCase("ab", "ABC"));
  EXPECT_TRUE(LessNoCase("z", "\xc3\xa4"));  // bytes above 0x7f sort last
}

}  // namespace
}  // namespace kst
