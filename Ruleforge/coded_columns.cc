#include "Ruleforge/coded_columns.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "Ruleforge/csv_lines.h"
#include "Ruleforge/exceptions.h"
#include "Ruleforge/text_counts.h"
#include "platform/paths.h"

namespace kst {
namespace {

// The characters a code holds, in their byte order; a character's code is
// its position + 1, so that 0 (past the end) sorts first.
constexpr char kCodedCharacters[] = "+-.0123456789Ee";

constexpr std::array<uint8_t, 256> CodeTable() {
  std::array<uint8_t, 256> codes{};
  for (int i = 0; kCodedCharacters[i] != '\0'; ++i) {
    codes[static_cast<unsigned char>(kCodedCharacters[i])] = static_cast<uint8_t>(i + 1);
  }
  return codes;
}
constexpr std::array<uint8_t, 256> kCodeOf = CodeTable();

// Whether every byte of the line is a coded character or ';', sixteen at a
// time.
bool AllCodable(std::string_view line) {
  typedef uint8_t Bytes __attribute__((vector_size(16)));
  const char* p = line.data();
  size_t i = 0;
  for (; i + 16 <= line.size(); i += 16) {
    Bytes v;
    std::memcpy(&v, p + i, 16);
    auto ok = ((v - static_cast<uint8_t>('0')) < 10) | (v == '+') | (v == '-') | (v == '.') | (v == ';') |
              (v == 'E') | (v == 'e');
    uint64_t lanes[2];
    std::memcpy(lanes, &ok, 16);
    if ((lanes[0] & lanes[1]) != ~uint64_t{0}) return false;
  }
  for (; i < line.size(); ++i) {
    if (p[i] != ';' && kCodeOf[static_cast<unsigned char>(p[i])] == 0) return false;
  }
  return true;
}

bool Encode(std::string_view text, uint32_t row, CodedCell* cell) {
  if (text.size() > kLongestCodedText) return false;
  uint64_t high = 0;
  uint32_t low = 0;
  const size_t head = std::min<size_t>(text.size(), 16);
  for (size_t i = 0; i < head; ++i) {
    const uint64_t code = kCodeOf[static_cast<unsigned char>(text[i])];
    if (code == 0) return false;
    high |= code << (60 - 4 * i);
  }
  for (size_t i = 16; i < text.size(); ++i) {
    const uint32_t code = kCodeOf[static_cast<unsigned char>(text[i])];
    if (code == 0) return false;
    low |= code << (28 - 4 * (i - 16));
  }
  *cell = {high, low, row};
  return true;
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

[[noreturn]] void ThrowBadCsv() { throw new LoadDataException("Bad csv file format"); }

void SortAndHand(int column, std::vector<CodedCell>& cells, const CodedColumnSink& sink) {
  std::sort(cells.begin(), cells.end(), [](const CodedCell& a, const CodedCell& b) {
    if (a.high != b.high) return a.high < b.high;
    if (a.low != b.low) return a.low < b.low;
    return a.row < b.row;
  });
  sink(column, cells);
  std::vector<CodedCell>().swap(cells);
}

}  // namespace

size_t DecodeText(const CodedCell& cell, char* text) {
  size_t n = 0;
  for (; n < 16; ++n) {
    const unsigned code = static_cast<unsigned>(cell.high >> (60 - 4 * n)) & 0xf;
    if (code == 0) return n;
    text[n] = kCodedCharacters[code - 1];
  }
  for (; n < kLongestCodedText; ++n) {
    const unsigned code = (cell.low >> (28 - 4 * (n - 16))) & 0xf;
    if (code == 0) return n;
    text[n] = kCodedCharacters[code - 1];
  }
  return n;
}

int ReadCodedColumns(const char* path, int features, uint64_t fileBytes, size_t budget, const CodedColumnSink& sink) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(NativePath(path).c_str(), "r"));
  if (!file || features <= 0) return -1;
  auto lines = std::make_unique<LineReader>(file.get(), kLearnLongestLine, LineReader::LongLines::kSplit);
  std::string_view line;
  // Header lines the table's loading would read otherwise than learning.
  for (int header = 0; header < 2; ++header) {
    if (lines->Next(&line) && line.size() >= kLearnLongestLine - 1) return -1;
  }

  // The first pass checks every row whole and codes the first columns; it
  // notes where each row's later column blocks begin, so that later passes
  // split only their own cells.
  int per_pass = features;
  std::vector<std::vector<CodedCell>> columns;
  std::vector<uint16_t> block_starts;  // row by row, one per later block
  int later_blocks = 0;
  uint32_t rows = 0;
  while (lines->Next(&line)) {
    // A line that long would come in pieces, or end the table's loading.
    if (line.size() >= kLearnLongestLine - 1 || !AllCodable(line)) return -1;
    if (rows == 0) {
      const uint64_t row_bytes = line.size() + 1;
      const uint64_t rows_guess = std::max<uint64_t>(1, fileBytes / row_bytes + 1);
      const uint64_t fit = budget / (sizeof(CodedCell) * rows_guess);
      per_pass = static_cast<int>(std::clamp<uint64_t>(fit, 1, static_cast<uint64_t>(features)));
      later_blocks = (features - 1) / per_pass;
      columns.resize(static_cast<size_t>(per_pass));
      for (auto& c : columns) c.reserve(static_cast<size_t>(std::min<uint64_t>(rows_guess + rows_guess / 8, 1u << 26)));
    }
    FieldCursor fields(line);
    std::string_view field;
    for (int i = 0; i < features; ++i) {
      if (!fields.Next(&field)) ThrowBadCsv();
      if (i < per_pass) {
        CodedCell cell;
        if (!Encode(field, rows, &cell)) return -1;
        columns[i].push_back(cell);
      } else {
        if (field.size() > kLongestCodedText) return -1;
        if (i % per_pass == 0) block_starts.push_back(static_cast<uint16_t>(field.data() - line.data()));
      }
    }
    // The table's loading refuses a row with more fields.
    if (fields.Next(&field)) return -1;
    ++rows;
  }
  if (rows == 0) return -1;
  for (int i = 0; i < per_pass; ++i) SortAndHand(i, columns[i], sink);

  for (int block = 1; block <= later_blocks; ++block) {
    const int first = block * per_pass;
    const int last = std::min(features, first + per_pass);
    for (int i = first; i < last; ++i) columns[i - first].reserve(rows);
    std::rewind(file.get());
    lines = std::make_unique<LineReader>(file.get(), kLearnLongestLine, LineReader::LongLines::kSplit);
    lines->Next(&line);
    lines->Next(&line);
    uint32_t row = 0;
    while (lines->Next(&line)) {
      // The file changed under us.
      if (row >= rows) ThrowBadCsv();
      const size_t start = block_starts[static_cast<size_t>(row) * later_blocks + (block - 1)];
      if (start > line.size()) ThrowBadCsv();
      FieldCursor fields(line.substr(start));
      std::string_view field;
      for (int i = first; i < last; ++i) {
        CodedCell cell;
        if (!fields.Next(&field) || !Encode(field, row, &cell)) ThrowBadCsv();
        columns[i - first].push_back(cell);
      }
      ++row;
    }
    if (row != rows) ThrowBadCsv();
    for (int i = first; i < last; ++i) SortAndHand(i, columns[i - first], sink);
  }
  return static_cast<int>(rows);
}

}  // namespace kst
