// Training an analyzer from a CSV statistics file.
#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <string_view>

#include "Ruleforge/analyzer.h"
#include "Ruleforge/coded_columns.h"
#include "Ruleforge/csv_lines.h"
#include "Ruleforge/exceptions.h"
#include "Ruleforge/statistics_table.h"
#include "Ruleforge/text_counts.h"

namespace kst {
namespace {

constexpr double kScaleProgress = 0.2;
constexpr int kIntervalsPerScale = 4;
constexpr double kScaleMinWeight = 0.001;
constexpr double kScaleEpsilon = 0.01;
constexpr int kScaleRounds = 100;
constexpr int kGroupLengths = 3;
// Only the start of a cell is placed on the scale, as the table places it.
constexpr size_t kPlacedCellLength = 13;


void Report(SharedProgress* progress, double value) {
  if (progress != nullptr) progress->set(value);
}

DataFile Open(const char* csvFile) {
  DataFile file = OpenDataFile(csvFile, "r");
  if (!file) throw new LoadDataException(std::string("File not found ") + csvFile + ".");
  return file;
}


// A cell's value, and how far the value of its placed start can lie from
// it: 0 for a cell no longer than the start; for a longer plain decimal
// (sign, digits, point) with its point inside the start, twice the last
// decimal place the start keeps; -1 otherwise (an exponent, a point past
// the start), where the start must be read.
struct CellValue {
  double value;
  double reach;
};

CellValue ReadCell(std::string_view text) {
  static constexpr double kTwoUnits[] = {2, 2e-1, 2e-2, 2e-3, 2e-4, 2e-5, 2e-6, 2e-7, 2e-8, 2e-9, 2e-10, 2e-11, 2e-12};
  const bool longer = text.size() > kPlacedCellLength;
  const size_t sign = text[0] == '-' || text[0] == '+' ? 1 : 0;
  size_t point = text.size();
  size_t points = 0;
  bool other = false;
  for (size_t i = sign; i < text.size(); ++i) {
    const bool is_point = text[i] == '.';
    other |= !is_point && static_cast<unsigned>(text[i] - '0') > 9;
    points += is_point;
    point = std::min(point, is_point ? i : text.size());
  }
  const size_t digits = text.size() - sign - points;
  if (other || points > 1) return {IntervalScale::ValueOf(text), longer ? -1.0 : 0.0};
  double value = 0.0;
  const char* from = text.data() + (text[0] == '+' ? 1 : 0);
  auto [end, error] = std::from_chars(from, text.data() + text.size(), value, std::chars_format::general);
  if (digits == 0 || error != std::errc() || end != text.data() + text.size()) {
    return {IntervalScale::ValueOf(text), longer ? -1.0 : 0.0};
  }
  if (!longer) return {value, 0.0};
  return {value, point < kPlacedCellLength ? kTwoUnits[kPlacedCellLength - 1 - point] : -1.0};
}

// Does no bound of the scale lie in [low, high]? Then every value there is
// placed alike.
bool NoBoundWithin(const IntervalScale& scale, double low, double high) {
  for (const auto& [lo, hi] : scale.intervals()) {
    if ((low <= lo && lo <= high) || (low <= hi && hi <= high)) return false;
  }
  return true;
}

// "(X3 in (1.500000,2.500000))"
std::string Item(const std::vector<std::unique_ptr<IntervalScale>>& scales, const FeaturePair& p) {
  const char* interval = scales[p.feature]->intervalText(p.interval, nullptr);
  return "(X" + std::to_string(p.feature) + " in " + (interval ? interval : "") + ")";
}

}  // namespace

void DiscoveryAnalyzer::startScales(int features) {
  check_ready_ = false;
  rule_base_.clear();
  scales_.clear();
  scales_.resize(features);
  feature_groups_.assign(features, FeatureGroup{});
}

void DiscoveryAnalyzer::finishScale(int i, int features, SharedProgress* progress) {
  Report(progress, kScaleProgress * i / features);
  feature_groups_[i].lengthCounts.assign(kGroupLengths, 0);
  feature_groups_[i].longerCount = 0;
}

bool DiscoveryAnalyzer::learnScalesFromCodes(const char* csvFile, int features, uint64_t fileBytes,
                                             SharedProgress* progress, StatisticsTable* table) {
  std::vector<uint8_t> indices;
  // The last columns' indices, column by column, until a group is complete
  // and goes into the row-by-row table a row at a time.
  constexpr int kGroupColumns = 16;
  std::vector<uint8_t> pending;
  int pending_first = 0;
  std::vector<double> values, weights, reaches;
  std::vector<size_t> run_ends;
  auto take = [&](int column, std::span<const CodedCell> cells) {
    const int rows = static_cast<int>(cells.size());
    if (column == 0) {
      startScales(features);
      indices.assign(static_cast<size_t>(rows) * features, 0);
    }
    values.clear();
    weights.clear();
    reaches.clear();
    run_ends.clear();
    char text[kLongestCodedText];
    for (size_t i = 0; i < cells.size();) {
      size_t j = i + 1;
      while (j < cells.size() && SameText(cells[i], cells[j])) ++j;
      const CellValue cell = ReadCell(std::string_view(text, DecodeText(cells[i], text)));
      values.push_back(cell.value);
      weights.push_back(static_cast<double>(j - i) / rows);
      reaches.push_back(cell.reach);
      run_ends.push_back(j);
      i = j;
    }
    auto scale = std::make_unique<IntervalScale>(kIntervalsPerScale, kScaleMinWeight, kScaleEpsilon, kScaleRounds);
    scale->buildFromValues(values, weights);
    if (column == pending_first) pending.assign(cells.size() * kGroupColumns, 0);
    uint8_t* column_indices = pending.data() + cells.size() * (column - pending_first);
    size_t begin = 0;
    for (size_t k = 0; k < run_ends.size(); ++k) {
      // A long cell is placed by its start; read only where a bound is near.
      double placed = values[k];
      if (reaches[k] != 0.0) {
        const double reach = reaches[k] + 8 * std::numeric_limits<double>::epsilon() * std::fabs(placed);
        if (reaches[k] < 0 || !NoBoundWithin(*scale, placed - reach, placed + reach)) {
          const std::string_view cell(text, DecodeText(cells[begin], text));
          placed = IntervalScale::ValueOf(cell.substr(0, kPlacedCellLength));
        }
      }
      const uint8_t index = static_cast<uint8_t>(scale->indexOfValue(placed));
      for (size_t i = begin; i < run_ends[k]; ++i) column_indices[cells[i].row] = index;
      begin = run_ends[k];
    }
    if (column - pending_first + 1 == kGroupColumns || column + 1 == features) {
      const int group = column - pending_first + 1;
      for (size_t r = 0; r < cells.size(); ++r) {
        uint8_t* row = &indices[r * features + pending_first];
        for (int g = 0; g < group; ++g) row[g] = pending[g * cells.size() + r];
      }
      pending_first = column + 1;
    }
    scales_[column] = std::move(scale);
    finishScale(column, features, progress);
  };
  const int rows = ReadCodedColumns(csvFile, features, fileBytes, counting_budget_, take);
  if (rows < 0) return false;
  scale_count_ = features;
  table->adopt(rows, std::move(indices));
  return true;
}

// Each column's map from text to count is built, turned into its scale and
// dropped before the next columns are counted, so that memory follows a
// column's distinct texts rather than the table's cells.
void DiscoveryAnalyzer::learnScalesFromTexts(const char* csvFile, int features, uint64_t fileBytes,
                                             SharedProgress* progress) {
  std::vector<TextCounts> counts(features);
  int first = 0;
  int last = features;
  int rows = CountColumnTexts(Open(csvFile).get(), fileBytes, first, &last, counting_budget_, counts);

  startScales(features);
  for (;;) {
    for (int i = first; i < last; ++i) {
      std::vector<Appearance> appearances = counts[i].ByText(rows);
      scales_[i] = std::make_unique<IntervalScale>(kIntervalsPerScale, kScaleMinWeight, kScaleEpsilon, kScaleRounds);
      if (appearances.empty()) throw new LoadDataException("no rows in statistic file");
      scales_[i]->buildFrom(appearances);
      counts[i].Release();
      finishScale(i, features, progress);
    }
    if (last == features) break;
    first = last;
    last = features;
    if (CountColumnTexts(Open(csvFile).get(), fileBytes, first, &last, counting_budget_, counts) != rows) {
      throw new LoadDataException("Bad csv file format");  // the file changed under us
    }
  }
  scale_count_ = features;
}

void DiscoveryAnalyzer::learn(const char* csvFile, SharedProgress* progress) {
  int features = 0;
  uint64_t file_bytes = 0;
  {
    DataFile file = Open(csvFile);
    LineReader lines(file.get(), kLearnLongestLine, LineReader::LongLines::kSplit);
    std::string_view header;
    if (lines.Next(&header)) {
      FieldCursor fields(header);
      for (std::string_view field; fields.Next(&field);) ++features;
    }
    // Without columns there is nothing to learn, nor a table to search.
    if (features == 0) throw new LoadDataException("Bad csv file format");
    struct stat st;
    file_bytes = ::fstat(::fileno(file.get()), &st) == 0 ? static_cast<uint64_t>(st.st_size) : UINT64_MAX;
  }

  StatisticsTable table(csvFile, &scales_);
  const bool placed = learnScalesFromCodes(csvFile, features, file_bytes, progress, &table);
  if (!placed) learnScalesFromTexts(csvFile, features, file_bytes, progress);
  Report(progress, kScaleProgress);
  if (!placed) table.load();
  RuleSearch search(&table, probability_threshold_, fisher_threshold_, eras_, search_options_);
  Report(progress, kScaleProgress);

  DataFile dump;
  if (!rules_file_.empty()) dump = OpenDataFile(rules_file_, "w");

  while (const Rule* rule = search.nextRule(progress)) {
    const size_t len = rule->premise.size() + rule->conclusion.size();
    for (const FeaturePair& p : rule->conclusion) {
      FeatureGroup& group = feature_groups_[p.feature];
      if (len > kGroupLengths) {
        ++group.longerCount;
      } else {
        ++group.lengthCounts[len - 1];
      }
    }
    AnalyzerRule entry;
    entry.conclusion = rule->conclusion;
    entry.premise = rule->premise;
    entry.conclusionCount = static_cast<int>(rule->conclusion.size());
    entry.premiseCount = static_cast<int>(rule->premise.size());
    entry.probability = rule->probability;
    entry.fisherProbability = rule->fisherProbability;
    rule_base_.push_back(std::move(entry));

    if (dump) {
      std::string text;
      for (size_t i = 0; i < rule->conclusion.size(); ++i) {
        text += (i ? " | " : "") + Item(scales_, rule->conclusion[i]);
      }
      text += " <- ";
      for (size_t i = 0; i < rule->premise.size(); ++i) {
        text += (i ? " & " : "") + Item(scales_, rule->premise[i]);
      }
      text += '\n';
      std::fwrite(text.data(), 1, text.size(), dump.get());
      std::fflush(dump.get());
    }
  }
  Report(progress, 1.0);
  dump.reset();
  odds_ = 1.0;
}

}  // namespace kst
