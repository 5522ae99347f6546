// The training table: every data row of a CSV statistics file as the
// interval index of each feature, placed by the analyzer's scales.
#ifndef KESTRANE_RULEFORGE_STATISTICS_TABLE_H_
#define KESTRANE_RULEFORGE_STATISTICS_TABLE_H_

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Ruleforge/interval_scale.h"

namespace kst {

class StatisticsTable {
 public:
  // Borrows `scales`, which must outlive the table; scale i places feature i.
  StatisticsTable(const char* fileName, const std::vector<std::unique_ptr<IntervalScale>>* scales);
  virtual ~StatisticsTable() = default;

  // Reads the file's data rows (after its two header lines). Throws
  // LoadDataException* when the file cannot be opened or a row has more or
  // fewer fields than there are features; rows read before a bad one stay.
  // A line longer than 1 MiB ends the load quietly.
  virtual void load();
  // Takes rows already placed, `rowCount` rows of featureCount() indices.
  void adopt(int rowCount, std::vector<uint8_t> indices);

  int featureCount() const { return static_cast<int>(scales_->size()); }
  const IntervalScale& scale(int i) const { return *(*scales_)[i]; }
  int indexCount(int i) const { return scale(i).indexCount(); }
  int rowCount() const { return row_count_; }
  // Interval index of every feature in row i.
  std::span<const uint8_t> row(int i) const {
    return {indices_.data() + static_cast<size_t>(i) * featureCount(), static_cast<size_t>(featureCount())};
  }
  size_t indexBytes() const { return indices_.capacity(); }

 private:
  std::string file_name_;
  const std::vector<std::unique_ptr<IntervalScale>>* scales_;
  int row_count_ = 0;
  // Indices row by row, one byte each: a scale has at most 255 intervals.
  // The cells' texts are not kept: nothing reads them once placed.
  std::vector<uint8_t> indices_;
};

// Splits a line at ';' as the standard tokenizer does: empty fields do not
// count.
std::vector<std::string_view> SplitFields(std::string_view line);

}  // namespace kst

#endif  // KESTRANE_RULEFORGE_STATISTICS_TABLE_H_
