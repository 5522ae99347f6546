// Cutting the lines of CSV statistics into cells.
#ifndef KESTRANE_STATSUBSYSTEM_COMMON_CSV_CELLS_H_
#define KESTRANE_STATSUBSYSTEM_COMMON_CSV_CELLS_H_

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace kst {

// The cells of `line` between any of the `separators`. Empty cells are passed
// over: two separators in a row count as one.
std::vector<std::string> SplitCells(std::string_view line, std::string_view separators);
// The same cells as views into `line`, for readers of large tables.
std::vector<std::string_view> SplitCellViews(std::string_view line, std::string_view separators);

// Reads one line without its line end (LF, or CR LF); false at the end of
// the input.
bool ReadTextLine(std::istream& in, std::string* line);

// Splits a title "object::counter" at its first "::"; a title without one is
// all object.
void SplitCounterTitle(const std::string& title, std::string* object, std::string* counter);

}  // namespace kst

#endif  // KESTRANE_STATSUBSYSTEM_COMMON_CSV_CELLS_H_
