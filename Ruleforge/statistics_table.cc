#include "Ruleforge/statistics_table.h"

#include <fstream>
#include <memory>

#include "Ruleforge/exceptions.h"
#include "StatSubsystem/common/csv_cells.h"
#include "platform/paths.h"

namespace kst {
namespace {

constexpr std::streamsize kLineBufferSize = 1048576;
// Only the start of a cell is placed on the scale.
constexpr size_t kPlacedCellLength = 13;

}  // namespace

std::vector<std::string_view> SplitFields(std::string_view line) { return SplitCellViews(line, ";"); }

StatisticsTable::StatisticsTable(const char* fileName,
                                 const std::vector<std::unique_ptr<IntervalScale>>* scales)
    : file_name_(fileName), scales_(scales) {}

std::string_view StatisticsTable::cellText(int row, int feature) const {
  size_t cell = static_cast<size_t>(row) * featureCount() + feature;
  size_t begin = cell == 0 ? 0 : cell_ends_[cell - 1];
  return std::string_view(cell_texts_).substr(begin, cell_ends_[cell] - begin);
}

void StatisticsTable::load() {
  std::ifstream in(NativePath(file_name_));
  if (!in) throw new LoadDataException("File not found " + file_name_ + ".");
  auto line = std::make_unique<char[]>(kLineBufferSize);
  in.getline(line.get(), kLineBufferSize);
  in.getline(line.get(), kLineBufferSize);
  const int features = featureCount();
  std::string cell;
  while (in.getline(line.get(), kLineBufferSize)) {
    std::vector<std::string_view> fields = SplitFields(line.get());
    if (fields.size() != static_cast<size_t>(features)) throw new LoadDataException("Bad file format");
    for (int i = 0; i < features; ++i) {
      cell.assign(fields[i].substr(0, kPlacedCellLength));
      indices_.push_back(static_cast<uint8_t>(scale(i).indexOf(cell.c_str())));
      cell_texts_.append(fields[i]);
      cell_ends_.push_back(static_cast<uint32_t>(cell_texts_.size()));
    }
    ++row_count_;
  }
  indices_.shrink_to_fit();
  cell_texts_.shrink_to_fit();
  cell_ends_.shrink_to_fit();
}

}  // namespace kst
