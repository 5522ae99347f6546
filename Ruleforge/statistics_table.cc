#include "Ruleforge/statistics_table.h"

#include <cstdio>
#include <memory>
#include <utility>

#include "Ruleforge/csv_lines.h"
#include "Ruleforge/exceptions.h"
#include "StatSubsystem/common/csv_cells.h"

namespace kst {
namespace {

// getline with a buffer of 1 MiB: a longer line ends the load.
constexpr size_t kLongestLine = 1048575;
// Only the start of a cell is placed on the scale.
constexpr size_t kPlacedCellLength = 13;

}  // namespace

std::vector<std::string_view> SplitFields(std::string_view line) { return SplitCellViews(line, ";"); }

StatisticsTable::StatisticsTable(const char* fileName,
                                 const std::vector<std::unique_ptr<IntervalScale>>* scales)
    : file_name_(fileName), scales_(scales) {}

void StatisticsTable::load() {
  const DataFile file = OpenDataFile(file_name_, "r");
  if (!file) throw new LoadDataException("File not found " + file_name_ + ".");
  LineReader lines(file.get(), kLongestLine, LineReader::LongLines::kStop);
  std::string_view line;
  lines.Next(&line);
  lines.Next(&line);
  const int features = featureCount();
  std::vector<uint8_t> row(static_cast<size_t>(features));
  while (lines.Next(&line)) {
    FieldCursor fields(line);
    std::string_view field;
    for (int i = 0; i < features; ++i) {
      if (!fields.Next(&field)) throw new LoadDataException("Bad file format");
      row[i] = static_cast<uint8_t>(scale(i).indexOfValue(IntervalScale::ValueOf(field.substr(0, kPlacedCellLength))));
    }
    if (fields.Next(&field)) throw new LoadDataException("Bad file format");
    indices_.insert(indices_.end(), row.begin(), row.end());
    ++row_count_;
  }
  indices_.shrink_to_fit();
}

void StatisticsTable::adopt(int rowCount, std::vector<uint8_t> indices) {
  row_count_ = rowCount;
  indices_ = std::move(indices);
}

}  // namespace kst
