#include "StatSubsystem/common/csv_cells.h"

#include <istream>

namespace kst {

std::vector<std::string_view> SplitCellViews(std::string_view line, std::string_view separators) {
  std::vector<std::string_view> cells;
  size_t pos = 0;
  while (pos < line.size()) {
    const size_t start = line.find_first_not_of(separators, pos);
    if (start == std::string_view::npos) break;
    size_t end = line.find_first_of(separators, start);
    if (end == std::string_view::npos) end = line.size();
    cells.push_back(line.substr(start, end - start));
    pos = end;
  }
  return cells;
}

std::vector<std::string> SplitCells(std::string_view line, std::string_view separators) {
  const std::vector<std::string_view> views = SplitCellViews(line, separators);
  return std::vector<std::string>(views.begin(), views.end());
}

bool ReadTextLine(std::istream& in, std::string* line) {
  if (!std::getline(in, *line)) return false;
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return true;
}

void SplitCounterTitle(const std::string& title, std::string* object, std::string* counter) {
  const size_t mark = title.find("::");
  if (mark == std::string::npos) {
    *object = title;
    counter->clear();
    return;
  }
  *object = title.substr(0, mark);
  *counter = title.substr(mark + 2);
}

}  // namespace kst
