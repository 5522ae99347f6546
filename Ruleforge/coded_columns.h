// Learning's reading of a training table whose cells are short numeric
// texts: every cell kept as a small code that orders as its text does, so
// that a column's distinct texts, their counts and their string order come
// from sorting codes, and each distinct text is converted once.
#ifndef KESTRANE_RULEFORGE_CODED_COLUMNS_H_
#define KESTRANE_RULEFORGE_CODED_COLUMNS_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

namespace kst {

// Longest cell text a code holds.
inline constexpr size_t kLongestCodedText = 24;

// One cell: its text, four bits a character ('+', '-', '.', digits, 'E',
// 'e'; 0 past the end), and its row.
struct CodedCell {
  uint64_t high;  // characters 0..15
  uint32_t low;   // characters 16..23
  uint32_t row;
};

inline bool SameText(const CodedCell& a, const CodedCell& b) { return a.high == b.high && a.low == b.low; }

// The text of a code; returns its length (at most kLongestCodedText).
size_t DecodeText(const CodedCell& cell, char* text);

// A column's cells sorted by text (the standard string order), rows of a
// text in ascending order.
using CodedColumnSink = std::function<void(int column, std::span<const CodedCell> cells)>;

// Reads the data rows of the CSV file (after its two header lines) with
// `features` columns, columns [first, last) at a time in as many passes as
// `budget` bytes of codes allow, and hands every column in order to `sink`.
// Throws LoadDataException* "Bad csv file format" for a row short of a
// field, as learning does. Returns the row count, or -1 before any column is
// handed over when a row has more fields than `features`, a line is too long
// to be read whole or a cell is no short numeric text: then learning must
// count the texts themselves.
int ReadCodedColumns(const char* path, int features, uint64_t fileBytes, size_t budget, const CodedColumnSink& sink);

}  // namespace kst

#endif  // KESTRANE_RULEFORGE_CODED_COLUMNS_H_
