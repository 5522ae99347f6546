// One trained analyzer instance: thresholds, rule base, a scale per
// feature, the rule-length histograms per feature and the sensitivity; and
// its state file.
#ifndef KESTRANE_RULEFORGE_ANALYZER_H_
#define KESTRANE_RULEFORGE_ANALYZER_H_

#include <cstdint>
#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "Ruleforge/anomaly_detail.h"
#include "Ruleforge/interval_scale.h"
#include "Ruleforge/parameter_list.h"
#include "Ruleforge/rule.h"
#include "Ruleforge/rule_search.h"
#include "Ruleforge/shared_progress.h"

namespace kst {

class AnalyzerBase {
 public:
  virtual ~AnalyzerBase() = default;
  virtual void save(std::ostream& out) const = 0;
  // Throws LoadDataException* on any failed read or inconsistent content.
  virtual void load(std::istream& in) = 0;
  virtual const uint8_t* kindId() const = 0;
  // Throws LoadDataException* when the training data cannot be used.
  virtual void learn(const char* csvFile, SharedProgress* progress) = 0;
  virtual double tune(double p) = 0;
  // Sets `message`, anomalyLevel and AnomalyDetails. values must hold one
  // value per feature. False when the rule base names an interval its scales
  // lack (a load never lets that through).
  virtual bool check(std::string& message, const std::vector<double>* values) = 0;
};

class Resettable {
 public:
  virtual ~Resettable() = default;
  virtual bool reset() = 0;
};

// "If every premise pair holds, at least one conclusion pair holds."
struct AnalyzerRule {
  std::vector<FeaturePair> conclusion;
  std::vector<FeaturePair> premise;
  int conclusionCount = 0;
  int premiseCount = 0;
  double probability = 0.0;
  double fisherProbability = 0.0;
};

// How many rules of length 1, 2, 3 (lengthCounts) and longer (longerCount)
// conclude on one feature.
struct FeatureGroup {
  std::vector<int> lengthCounts;
  int longerCount = 0;
};

// Module-wide results of the last check. Not locked: one call into the
// module at a time.
extern std::vector<AnomalyDetail> AnomalyDetails;
extern int anomalyLevel;

// The analyzer's own parameter list, with the four entries of the module's
// defaults.
class DiscoveryParameters : public ParameterList {
 public:
  DiscoveryParameters();
};

class DiscoveryAnalyzer final : public AnalyzerBase, public Resettable {
 public:
  // Only for load to fill.
  DiscoveryAnalyzer() = default;
  DiscoveryAnalyzer(double probabilityThreshold, double fisherThreshold, int eras, const std::string& rulesFile);
  ~DiscoveryAnalyzer() override { reset(); }

  void save(std::ostream& out) const override;
  void load(std::istream& in) override;
  const uint8_t* kindId() const override;
  void learn(const char* csvFile, SharedProgress* progress) override;
  // p in [0, 1] sets the sensitivity (clamped to [0.0001, 0.9999]) and
  // returns the previous odds; -1.0 returns the sensitivity unchanged; any
  // other p returns -1.0.
  double tune(double p) override;
  bool check(std::string& message, const std::vector<double>* values) override;
  virtual ParameterList& parameters() { return parameters_; }
  // Drops the rules and the scales; thresholds, groups and odds stay.
  bool reset() override;

  // How the search of learn draws and counts; time-seeded by default.
  void setSearchOptions(const SearchOptions& options) { search_options_ = options; }
  // Memory learn's reading of the cells (their codes, or the distinct texts
  // of tables whose cells are not short numbers) aims to stay within: the
  // columns are read in as many passes over the file as that takes (one
  // column a pass at the least).
  void setCountingBudget(size_t bytes) { counting_budget_ = bytes; }

  double odds() const { return odds_; }
  int eras() const { return eras_; }
  double probabilityThreshold() const { return probability_threshold_; }
  double fisherThreshold() const { return fisher_threshold_; }
  const std::string& rulesFile() const { return rules_file_; }
  const std::vector<AnalyzerRule>& ruleBase() const { return rule_base_; }
  int scaleCount() const { return scale_count_; }
  const std::vector<std::unique_ptr<IntervalScale>>& scales() const { return scales_; }
  const std::vector<FeatureGroup>& featureGroups() const { return feature_groups_; }

 private:
  void Validate() const;
  // Learning's first steps: a scale and an empty group per column.
  void startScales(int features);
  void finishScale(int i, int features, SharedProgress* progress);
  // From the codes of the cells, placing the table on the way, where every
  // cell is a short numeric text; false, with nothing changed, otherwise.
  bool learnScalesFromCodes(const char* csvFile, int features, uint64_t fileBytes, SharedProgress* progress,
                            StatisticsTable* table);
  // From each column's distinct texts; the table is loaded after.
  void learnScalesFromTexts(const char* csvFile, int features, uint64_t fileBytes, SharedProgress* progress);
  // What check reads of the scales and rules at the current odds, taken
  // once and again whenever the odds, scales or rules change.
  void prepareCheck();
  bool itemFails(int f, int k, double v, bool* ok) const;

  double odds_ = 1.0;
  int eras_ = 0;
  DiscoveryParameters parameters_;
  std::vector<AnalyzerRule> rule_base_;
  int scale_count_ = 0;
  std::vector<std::unique_ptr<IntervalScale>> scales_;
  std::vector<FeatureGroup> feature_groups_;
  double probability_threshold_ = 0.0;
  double fisher_threshold_ = 0.0;
  std::string rules_file_;
  SearchOptions search_options_;
  size_t counting_budget_ = size_t{24} << 20;

  struct CheckBounds {
    double lo, hi;
    double narrowLow, narrowHigh;  // a real interval at the odds
    double wideLow, wideHigh;      // the same, widened for "out of bounds"
  };
  bool check_ready_ = false;
  double check_odds_ = 0.0;
  std::vector<std::vector<CheckBounds>> check_bounds_;
  std::vector<int> premise_features_;
  std::vector<int> placed_;
};

}  // namespace kst

#endif  // KESTRANE_RULEFORGE_ANALYZER_H_
