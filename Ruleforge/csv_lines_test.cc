#include "Ruleforge/csv_lines.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "Ruleforge/coded_columns.h"
#include "Ruleforge/text_counts.h"
#include "platform/registry_testing.h"

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

// The fast path keeps a cell as a code of its first sixteen characters and
// of the rest; cells that agree in the first part and differ only after it,
// in twos and in larger groups, first or last in the column, or one cell
// against all others, must count and sort exactly as their texts do.
TEST(CodedColumnsTest, CellsSharingALongBeginningCountAndSortAsTheirTexts) {
  const std::vector<std::vector<std::string>> column_texts = {
      // Groups of several texts that share sixteen characters.
      {"0.12345678901234", "0.123456789012341", "0.123456789012349", "0.1234567890123419",
       "0.12345678901234e-7", "0.1234567890123400000001", "0.12345678901235", "0.1234567890123501",
       "9.99999999999999999", "9.9999999999999999", "1", "-0.5"},
      // Pairs only, the greatest texts among them.
      {"7.77777777777777772", "7.77777777777777771", "8.88888888888888881e+20", "8.88888888888888881e+2",
       "2", "3"},
  };
  const int rows = 3000;
  TempKestraneHome home;
  const std::string csv = home.path() + "/t.csv";
  std::vector<std::vector<std::string>> cells(4);
  {
    std::ofstream out(csv);
    out << "a;b;c;d\nx;y;z;w\n";
    uint32_t state = 3;
    for (int r = 0; r < rows; ++r) {
      for (size_t c = 0; c < column_texts.size(); ++c) {
        state = state * 1664525u + 1013904223u;
        cells[c].push_back(column_texts[c][(state >> 8) % column_texts[c].size()]);
      }
      // One cell against all the others, which sort after it.
      cells[2].push_back(r == rows - 1 ? "1.00000000000000001" : "5.55555555555555555");
      // Two cells alone that share sixteen characters, the greater first.
      cells[3].push_back(r == 0 ? "3.33333333333333332" : r == 1 ? "3.33333333333333331" : std::to_string(r));
      out << cells[0][r] << ";" << cells[1][r] << ";" << cells[2][r] << ";" << cells[3][r] << "\n";
    }
  }
  for (size_t budget : {size_t{1}, size_t{1} << 30}) {
    std::vector<int> columns_seen;
    const int read = ReadCodedColumns(csv.c_str(), 4, 0, budget, [&](int column, std::span<const CodedCell> coded) {
      columns_seen.push_back(column);
      TextCounts counts;
      for (const std::string& text : cells[column]) counts.Add(text);
      std::vector<std::pair<std::string, long>> want, got;
      for (const Appearance& a : counts.ByText(rows)) want.emplace_back(std::string(a.text), std::lround(a.weight * rows));
      std::vector<bool> row_seen(rows, false);
      for (size_t i = 0; i < coded.size();) {
        size_t j = i;
        char text[kLongestCodedText];
        const std::string first(text, DecodeText(coded[i], text));
        for (; j < coded.size() && SameText(coded[i], coded[j]); ++j) {
          const uint32_t row = coded[j].row;
          ASSERT_LT(row, static_cast<uint32_t>(rows));
          EXPECT_FALSE(row_seen[row]) << "row " << row << " twice";
          row_seen[row] = true;
          EXPECT_EQ(cells[column][row], first) << "column " << column << " row " << row;
          if (j > i) {
            EXPECT_LT(coded[j - 1].row, row) << first << ": rows of a text in ascending order";
          }
        }
        got.emplace_back(first, static_cast<long>(j - i));
        i = j;
      }
      EXPECT_EQ(got, want) << "column " << column << " budget " << budget;
    });
    EXPECT_EQ(read, rows) << budget;
    EXPECT_EQ(columns_seen, (std::vector<int>{0, 1, 2, 3})) << budget;
  }
}

}  // namespace
}  // namespace kst
