// Training an analyzer from a CSV statistics file.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <unordered_map>

#include "Ruleforge/analyzer.h"
#include "Ruleforge/exceptions.h"
#include "Ruleforge/statistics_table.h"
#include "platform/paths.h"

namespace kst {
namespace {

// A line of up to kLineSize - 1 characters, with its end and the NUL.
constexpr int kLineSize = 32768;
constexpr int kLineBufferSize = kLineSize + 1;
constexpr double kScaleProgress = 0.2;
constexpr int kIntervalsPerScale = 4;
constexpr double kScaleMinWeight = 0.001;
constexpr double kScaleEpsilon = 0.01;
constexpr int kScaleRounds = 100;
constexpr int kGroupLengths = 3;

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};

void Report(SharedProgress* progress, double value) {
  if (progress != nullptr) progress->set(value);
}

// Reads one line (at most kLineSize - 1 characters and its end), without
// its line end; false at the end of the file.
bool ReadLine(FILE* file, char* buffer) {
  if (std::fgets(buffer, kLineBufferSize, file) == nullptr) return false;
  size_t n = std::strlen(buffer);
  if (n > 0 && buffer[n - 1] == '\n') buffer[n - 1] = '\0';
  return true;
}

// "(X3 in (1.500000,2.500000))"
std::string Item(const std::vector<std::unique_ptr<IntervalScale>>& scales, const FeaturePair& p) {
  const char* interval = scales[p.feature]->intervalText(p.interval, nullptr);
  return "(X" + std::to_string(p.feature) + " in " + (interval ? interval : "") + ")";
}

}  // namespace

void DiscoveryAnalyzer::learn(const char* csvFile, SharedProgress* progress) {
  std::unique_ptr<FILE, FileCloser> file(std::fopen(NativePath(csvFile).c_str(), "r"));
  if (!file) throw new LoadDataException(std::string("File not found ") + csvFile + ".");
  auto line = std::make_unique<char[]>(kLineBufferSize);
  int features = 0;
  if (ReadLine(file.get(), line.get())) features = static_cast<int>(SplitFields(line.get()).size());
  // Without columns there is nothing to learn, nor a table to search.
  if (features == 0) throw new LoadDataException("Bad csv file format");
  ReadLine(file.get(), line.get());

  // Counted in hash maps (a month of rows is millions of cells), handed to
  // the scales in text order.
  std::vector<std::unordered_map<std::string, double>> counts(features);
  int rows = 0;
  while (ReadLine(file.get(), line.get())) {
    std::vector<std::string_view> fields = SplitFields(line.get());
    if (fields.size() < static_cast<size_t>(features)) throw new LoadDataException("Bad csv file format");
    for (int i = 0; i < features; ++i) counts[i][std::string(fields[i])] += 1.0;
    ++rows;
  }
  file.reset();

  rule_base_.clear();
  scales_.clear();
  scales_.resize(features);
  feature_groups_.assign(features, FeatureGroup{});
  for (int i = 0; i < features; ++i) {
    std::map<std::string, double> appearances;
    for (auto& [text, count] : counts[i]) appearances.emplace(text, count / rows);
    counts[i].clear();
    scales_[i] = std::make_unique<IntervalScale>(kIntervalsPerScale, kScaleMinWeight, kScaleEpsilon, kScaleRounds);
    if (appearances.empty()) throw new LoadDataException("no rows in statistic file");
    scales_[i]->build(appearances, rows);
    Report(progress, kScaleProgress * i / features);
    feature_groups_[i].lengthCounts.assign(kGroupLengths, 0);
    feature_groups_[i].longerCount = 0;
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
