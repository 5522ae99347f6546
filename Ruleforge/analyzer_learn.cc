// Training an analyzer from a CSV statistics file.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string_view>

#include "Ruleforge/analyzer.h"
#include "Ruleforge/csv_lines.h"
#include "Ruleforge/exceptions.h"
#include "Ruleforge/statistics_table.h"
#include "Ruleforge/text_counts.h"
#include "platform/paths.h"

namespace kst {
namespace {

// fgets with a buffer of 32768 bytes: longer lines come in pieces.
constexpr size_t kLongestLine = 32767;
constexpr double kScaleProgress = 0.2;
constexpr int kIntervalsPerScale = 4;
constexpr double kScaleMinWeight = 0.001;
constexpr double kScaleEpsilon = 0.01;
constexpr int kScaleRounds = 100;
constexpr int kGroupLengths = 3;
// Lines between two looks at the memory the counts take.
constexpr int kBudgetCheckLines = 256;

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

// One pass over the data rows counting the texts of columns [first, *last);
// drops columns from the back while the counts would outgrow the budget by
// the end of the file (keeping at least `first`), so *last may come back
// smaller. Every row must have the fields up to *last; returns the row
// count.
int CountColumns(const char* csvFile, int first, int* last, uint64_t fileBytes, size_t budget,
                 std::vector<TextCounts>& counts) {
  File file = Open(csvFile);
  LineReader lines(file.get(), kLongestLine, LineReader::LongLines::kSplit);
  std::string_view line;
  lines.Next(&line);
  lines.Next(&line);
  // A pass needs no field past its last column; the first pass starts with
  // every column, so it checks that every row has them all.
  const int needed = *last;
  int rows = 0;
  while (lines.Next(&line)) {
    FieldCursor fields(line);
    std::string_view field;
    for (int i = 0; i < needed; ++i) {
      if (!fields.Next(&field)) throw new LoadDataException("Bad csv file format");
      if (i >= first && i < *last) counts[i].Add(field);
    }
    ++rows;
    if (rows % kBudgetCheckLines != 0 || *last - first <= 1) continue;
    size_t used = 0;
    for (int i = first; i < *last; ++i) used += counts[i].memoryBytes();
    const double growth =
        std::max(1.0, static_cast<double>(fileBytes) / static_cast<double>(std::max<uint64_t>(lines.consumed(), 1)));
    while (*last - first > 1 && static_cast<double>(used) * growth > static_cast<double>(budget)) {
      --*last;
      used -= counts[*last].memoryBytes();
      counts[*last].Release();
    }
  }
  return rows;
}

// "(X3 in (1.500000,2.500000))"
std::string Item(const std::vector<std::unique_ptr<IntervalScale>>& scales, const FeaturePair& p) {
  const char* interval = scales[p.feature]->intervalText(p.interval, nullptr);
  return "(X" + std::to_string(p.feature) + " in " + (interval ? interval : "") + ")";
}

}  // namespace

void DiscoveryAnalyzer::learn(const char* csvFile, SharedProgress* progress) {
  int features = 0;
  uint64_t file_bytes = 0;
  {
    File file = Open(csvFile);
    LineReader lines(file.get(), kLongestLine, LineReader::LongLines::kSplit);
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

  // Each column's map from text to count is built, turned into its scale
  // and dropped before the next columns are counted, so that memory follows
  // a column's distinct texts rather than the table's cells.
  std::vector<TextCounts> counts(features);
  int first = 0;
  int last = features;
  int rows = CountColumns(csvFile, first, &last, file_bytes, counting_budget_, counts);

  rule_base_.clear();
  scales_.clear();
  scales_.resize(features);
  feature_groups_.assign(features, FeatureGroup{});
  for (;;) {
    for (int i = first; i < last; ++i) {
      std::vector<Appearance> appearances = counts[i].ByText(rows);
      scales_[i] = std::make_unique<IntervalScale>(kIntervalsPerScale, kScaleMinWeight, kScaleEpsilon, kScaleRounds);
      if (appearances.empty()) throw new LoadDataException("no rows in statistic file");
      scales_[i]->buildFrom(appearances);
      counts[i].Release();
      Report(progress, kScaleProgress * i / features);
      feature_groups_[i].lengthCounts.assign(kGroupLengths, 0);
      feature_groups_[i].longerCount = 0;
    }
    if (last == features) break;
    first = last;
    last = features;
    if (CountColumns(csvFile, first, &last, file_bytes, counting_budget_, counts) != rows) {
      throw new LoadDataException("Bad csv file format");  // the file changed under us
    }
  }
  scale_count_ = features;

  StatisticsTable table(csvFile, &scales_);
  Report(progress, kScaleProgress);
  table.load();
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
