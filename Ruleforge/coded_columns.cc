#include "Ruleforge/coded_columns.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "Ruleforge/csv_lines.h"
#include "Ruleforge/exceptions.h"
#include "Ruleforge/text_counts.h"

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

// The two characters of each byte of a code.
constexpr std::array<std::array<char, 2>, 256> PairTable() {
  std::array<std::array<char, 2>, 256> pairs{};
  for (int b = 0; b < 256; ++b) {
    const int first = b >> 4;
    const int second = b & 0xf;
    pairs[b][0] = first ? kCodedCharacters[first - 1] : '\0';
    pairs[b][1] = second ? kCodedCharacters[second - 1] : '\0';
  }
  return pairs;
}
constexpr std::array<std::array<char, 2>, 256> kCharacterPairs = PairTable();

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

[[noreturn]] void ThrowBadCsv() { throw new LoadDataException("Bad csv file format"); }

// A cell's text as it waits for its column's sort, its row given by its
// place.
struct StoredCode {
  uint32_t parts[3];  // high half of the code, low half, then its last four bytes
};

StoredCode Store(const CodedCell& c) {
  return {{static_cast<uint32_t>(c.high >> 32), static_cast<uint32_t>(c.high), c.low}};
}

// Sorts by code, rows of one text in row order: the first sixteen
// characters eleven bits a round from the last (digits every cell shares
// take no round), then the few runs that share them by the rest.
void SortByText(std::vector<CodedCell>& cells, std::vector<CodedCell>& scratch) {
  constexpr int kDigitBits = 11;
  constexpr int kDigits = (64 + kDigitBits - 1) / kDigitBits;
  constexpr uint64_t kMask = (uint64_t{1} << kDigitBits) - 1;
  const size_t n = cells.size();
  if (n < 2) return;
  std::vector<uint32_t> counts(kDigits << kDigitBits, 0);
  for (const CodedCell& c : cells) {
    for (int d = 0; d < kDigits; ++d) ++counts[(d << kDigitBits) + ((c.high >> (d * kDigitBits)) & kMask)];
  }
  scratch.resize(n);
  CodedCell* from = cells.data();
  CodedCell* to = scratch.data();
  for (int d = 0; d < kDigits; ++d) {
    uint32_t* count = &counts[d << kDigitBits];
    const int shift = d * kDigitBits;
    if (count[(from[0].high >> shift) & kMask] == n) continue;
    uint32_t offset = 0;
    for (size_t v = 0; v <= kMask; ++v) {
      const uint32_t here = count[v];
      count[v] = offset;
      offset += here;
    }
    for (size_t i = 0; i < n; ++i) to[count[(from[i].high >> shift) & kMask]++] = from[i];
    std::swap(from, to);
  }
  if (from != cells.data()) cells.swap(scratch);
  for (size_t i = 0; i < n;) {
    size_t j = i + 1;
    while (j < n && cells[j].high == cells[i].high) ++j;
    if (j - i > 1) {
      std::stable_sort(cells.begin() + i, cells.begin() + j,
                       [](const CodedCell& a, const CodedCell& b) { return a.low < b.low; });
    }
    i = j;
  }
}

class ColumnSorter {
 public:
  // Sorts one column's stored codes and hands them over; frees them.
  void SortAndHand(int column, std::vector<StoredCode>& codes, const CodedColumnSink& sink) {
    cells_.resize(codes.size());
    for (size_t r = 0; r < codes.size(); ++r) {
      const StoredCode& c = codes[r];
      cells_[r] = {uint64_t{c.parts[0]} << 32 | c.parts[1], c.parts[2], static_cast<uint32_t>(r)};
    }
    std::vector<StoredCode>().swap(codes);
    SortByText(cells_, scratch_);
    sink(column, cells_);
  }

 private:
  std::vector<CodedCell> cells_;
  std::vector<CodedCell> scratch_;
};

}  // namespace

size_t DecodeText(const CodedCell& cell, char* text) {
  // Codes are never 0 before the end.
  const size_t n = cell.low != 0   ? 16 + (8 - std::countr_zero(cell.low) / 4)
                   : cell.high != 0 ? 16 - std::countr_zero(cell.high) / 4
                                    : 0;
  // Two characters a byte; what stands past the end is not looked at.
  for (int b = 0; b < 8; ++b) std::memcpy(text + 2 * b, kCharacterPairs[(cell.high >> (56 - 8 * b)) & 0xff].data(), 2);
  for (int b = 0; b < 4; ++b) std::memcpy(text + 16 + 2 * b, kCharacterPairs[(cell.low >> (24 - 8 * b)) & 0xff].data(), 2);
  return n;
}

int ReadCodedColumns(const char* path, int features, uint64_t fileBytes, size_t budget, const CodedColumnSink& sink) {
  const DataFile file = OpenDataFile(path, "r");
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
  std::vector<std::vector<StoredCode>> columns;
  ColumnSorter sorter;
  std::vector<uint16_t> block_starts;  // row by row, one per later block
  int later_blocks = 0;
  uint32_t rows = 0;
  while (lines->Next(&line)) {
    // A line that long would come in pieces, or end the table's loading.
    if (line.size() >= kLearnLongestLine - 1 || !AllCodable(line)) return -1;
    if (rows == 0) {
      const uint64_t row_bytes = line.size() + 1;
      const uint64_t rows_guess = std::max<uint64_t>(1, fileBytes / row_bytes + 1);
      const uint64_t fit = budget / (sizeof(StoredCode) * rows_guess);
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
        columns[i].push_back(Store(cell));
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
  for (int i = 0; i < per_pass; ++i) sorter.SortAndHand(i, columns[i], sink);

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
        columns[i - first].push_back(Store(cell));
      }
      ++row;
    }
    if (row != rows) ThrowBadCsv();
    for (int i = first; i < last; ++i) sorter.SortAndHand(i, columns[i - first], sink);
  }
  return static_cast<int>(rows);
}

}  // namespace kst
