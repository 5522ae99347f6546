// Training an analyzer from a CSV statistics file.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string_view>

#include "Ruleforge/analyzer.h"
#include "Ruleforge/coded_columns.h"
#include "Ruleforge/csv_lines.h"
#include "Ruleforge/exceptions.h"
#include "Ruleforge/statistics_table.h"
#include "Ruleforge/text_counts.h"
#include "platform/paths.h"

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

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

void Report(SharedProgress* progress, double value) {
  if (progress != nullptr) progress->set(value);
}

File Open(const char* csvFile) {
  File file(std::fopen(NativePath(csvFile).c_str(), "r"));
  if (!file) throw new LoadDataException(std::string("File not found ") + csvFile + ".");
  return file;
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
  std::vector<double> values, weights, placed;
  std::vector<size_t> run_ends;
  auto take = [&](int column, std::span<const CodedCell> cells) {
    const int rows = static_cast<int>(cells.size());
    if (column == 0) {
      startScales(features);
      indices.assign(static_cast<size_t>(rows) * features, 0);
    }
    values.clear();
    weights.clear();
    placed.clear();
    run_ends.clear();
    char text[kLongestCodedText];
    for (size_t i = 0; i < cells.size();) {
      size_t j = i + 1;
      while (j < cells.size() && SameText(cells[i], cells[j])) ++j;
      const std::string_view cell(text, DecodeText(cells[i], text));
      const double value = IntervalScale::ValueOf(cell);
      values.push_back(value);
      weights.push_back(static_cast<double>(j - i) / rows);
      placed.push_back(cell.size() > kPlacedCellLength ? IntervalScale::ValueOf(cell.substr(0, kPlacedCellLength))
                                                       : value);
      run_ends.push_back(j);
      i = j;
    }
    auto scale = std::make_unique<IntervalScale>(kIntervalsPerScale, kScaleMinWeight, kScaleEpsilon, kScaleRounds);
    scale->buildFromValues(values, weights);
    size_t begin = 0;
    for (size_t k = 0; k < run_ends.size(); ++k) {
      const uint8_t index = static_cast<uint8_t>(scale->indexOfValue(placed[k]));
      for (size_t i = begin; i < run_ends[k]; ++i) indices[static_cast<size_t>(cells[i].row) * features + column] = index;
      begin = run_ends[k];
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
    File file = Open(csvFile);
    LineReader lines(file.get(), kLearnLongestLine, LineReader::LongLines::kSplit);
    std::string_view header;
    if (lines.Next(&header)) {
      FieldCursor fields(header);
      for (std::string_view field; fields.Next(&field);) ++features;
    }
    // Without columns there is nothing to learn, nor a table to search.
    if (features == 0) throw new LoadDataException("Bad csv file format");
    std::error_code ignored;
    file_bytes = std::filesystem::file_size(NativePath(csvFile), ignored);
  }

  StatisticsTable table(csvFile, &scales_);
  if (!learnScalesFromCodes(csvFile, features, file_bytes, progress, &table)) {
    learnScalesFromTexts(csvFile, features, file_bytes, progress);
    Report(progress, kScaleProgress);
    table.load();
  } else {
    Report(progress, kScaleProgress);
  }
  RuleSearch search(&table, probability_threshold_, fisher_threshold_, eras_, search_options_);
  Report(progress, kScaleProgress);

  std::ofstream dump;
  if (!rules_file_.empty()) dump.open(NativePath(rules_file_));

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

    if (dump.is_open()) {
      std::string text;
      for (size_t i = 0; i < rule->conclusion.size(); ++i) {
        text += (i ? " | " : "") + Item(scales_, rule->conclusion[i]);
      }
      text += " <- ";
      for (size_t i = 0; i < rule->premise.size(); ++i) {
        text += (i ? " & " : "") + Item(scales_, rule->premise[i]);
      }
      dump << text << std::endl;
    }
  }
  Report(progress, 1.0);
  dump.close();
  odds_ = 1.0;
}

}  // namespace kst
