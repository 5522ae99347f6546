#include "Ruleforge/csv_lines.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "Ruleforge/text_counts.h"

namespace kst {
namespace {

std::vector<std::string> Lines(const std::string& text, size_t longest, LineReader::LongLines mode,
                               uint64_t* consumed = nullptr) {
  std::FILE* file = ::fmemopen(const_cast<char*>(text.data()), text.size(), "r");
  std::vector<std::string> lines;
  {
    LineReader reader(file, longest, mode);
    std::string_view line;
    while (reader.Next(&line)) lines.emplace_back(line);
    if (consumed) *consumed = reader.consumed();
  }
  std::fclose(file);
  return lines;
}

using Strings = std::vector<std::string>;

TEST(LineReaderTest, LinesAsFgetsAndGetlineGiveThem) {
  const auto kSplit = LineReader::LongLines::kSplit;
  const auto kStop = LineReader::LongLines::kStop;
  struct Case {
    std::string text;
    size_t longest;
    LineReader::LongLines mode;
    Strings lines;
  };
  const Case cases[] = {
      {"a;b\n1;2\n", 8, kSplit, {"a;b", "1;2"}},
      {"a\n\nb", 8, kSplit, {"a", "", "b"}},
      {"1;2\r\n", 8, kSplit, {"1;2\r"}},
      {std::string("ab\0cd\nef\n", 9), 8, kSplit, {"ab", "ef"}},
      // fgets with a buffer of 5: four characters a piece, the feed in one.
      {"abcdefghij\nxyz\n", 4, kSplit, {"abcd", "efgh", "ij", "xyz"}},
      {"abcd\nx\n", 4, kSplit, {"abcd", "", "x"}},
      {"abc\nx\n", 4, kSplit, {"abc", "x"}},
      // getline: a line of the longest length still ends at its feed.
      {"abcd\nx\n", 4, kStop, {"abcd", "x"}},
      {"ab\nabcde\nx\n", 4, kStop, {"ab"}},
      {"", 4, kStop, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Lines(c.text, c.longest, c.mode), c.lines) << c.text;
  }
  uint64_t consumed = 0;
  Lines("ab\ncd", 8, kSplit, &consumed);
  EXPECT_EQ(consumed, 5u);
}

// Lines longer than one read of the buffer come whole.
TEST(LineReaderTest, LinesAcrossReads) {
  std::string text;
  Strings want;
  for (int i = 0; i < 3000; ++i) {
    want.push_back(std::string(700 + i % 13, static_cast<char>('a' + i % 26)));
    text += want.back() + "\n";
  }
  EXPECT_EQ(Lines(text, 32767, LineReader::LongLines::kSplit), want);
}

TEST(FieldCursorTest, EmptyFieldsDoNotCount) {
  const std::pair<const char*, Strings> cases[] = {
      {"a;b;c", {"a", "b", "c"}}, {";;a;;b;", {"a", "b"}}, {"", {}}, {";;;", {}}, {" ; ", {" ", " "}}};
  for (const auto& [line, want] : cases) {
    FieldCursor cursor(line);
    Strings got;
    for (std::string_view f; cursor.Next(&f);) got.emplace_back(f);
    EXPECT_EQ(got, want) << line;
  }
}

TEST(TextCountsTest, CountsEachTextAndListsThemInStringOrder) {
  TextCounts counts;
  // Texts of one value stay apart; long texts share their first bytes.
  const char* added[] = {"1",         "1.0",       "10",        "1",  "abcdefghij2", "abcdefghij1",
                         "abcdefghij", "\xff",     "1.0",       "1",  "-1",          "abcdefghij1"};
  for (int round = 0; round < 200; ++round) {
    for (const char* text : added) counts.Add(text);
    counts.Add("n" + std::to_string(round));  // makes the table grow
  }
  std::vector<Appearance> listed = counts.ByText(200);
  ASSERT_EQ(listed.size(), 8u + 200);
  const std::pair<const char*, double> head[] = {{"-1", 1},          {"1", 3},           {"1.0", 2},
                                                 {"10", 1},          {"abcdefghij", 1},  {"abcdefghij1", 2},
                                                 {"abcdefghij2", 1}, {"n0", 1.0 / 200}};
  for (size_t i = 0; i < std::size(head); ++i) {
    EXPECT_EQ(listed[i].text, head[i].first);
    EXPECT_EQ(listed[i].weight, head[i].second) << head[i].first;
  }
  EXPECT_EQ(listed.back().text, "\xff");
  EXPECT_GT(counts.memoryBytes(), 0u);
  counts.Release();
  EXPECT_EQ(counts.size(), 0u);
  EXPECT_EQ(counts.memoryBytes(), 0u);
}

// Enough texts that some share a hash: each still counts alone, and the
// listing follows std::string's order whatever the bytes.
TEST(TextCountsTest, ManyTextsStayApartInStringOrder) {
  TextCounts counts;
  std::vector<std::string> texts;
  uint64_t state = 5;
  for (int i = 0; i < 300000; ++i) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    std::string text;
    for (int n = static_cast<int>(state >> 60) % 13, k = 0; k < n; ++k) {
      text.push_back(static_cast<char>(1 + (state >> (8 + 4 * k)) % 255));
    }
    texts.push_back(text);
    counts.Add(text);
  }
  std::sort(texts.begin(), texts.end());
  texts.erase(std::unique(texts.begin(), texts.end()), texts.end());
  std::vector<Appearance> listed = counts.ByText(1);
  ASSERT_EQ(listed.size(), texts.size());
  for (size_t i = 0; i < texts.size(); ++i) ASSERT_EQ(listed[i].text, texts[i]) << i;
}

}  // namespace
}  // namespace kst
