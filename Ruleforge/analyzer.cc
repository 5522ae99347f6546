#include "Ruleforge/analyzer.h"

#include <algorithm>

namespace kst {
namespace {

constexpr uint8_t kDiscoveryKind[16] = {0x91, 0x96, 0x85, 0x02, 0xef, 0x1b, 0xc7, 0x03,
                                        0x13, 0x4c, 0xd6, 0x04, 0x6f, 0xf6, 0x78, 0x04};

constexpr double kLowestSensitivity = 0.0001;
constexpr double kHighestSensitivity = 0.9999;

}  // namespace

std::vector<AnomalyDetail> AnomalyDetails;
int anomalyLevel = 0;

DiscoveryParameters::DiscoveryParameters() {
  entries_.emplace_back(kProbabilityThresholdName, kProbabilityThresholdDescription, 0.999, 0.999, 0.0, 1.0);
  entries_.emplace_back(kFisherThresholdName, kFisherThresholdDescription, 0.05, 0.05, 0.0, 1.0);
  entries_.emplace_back(kErasName, kErasDescription, 10000, 10000, 0, 2147483647, 1);
  entries_.emplace_back(kRulesFileName, kRulesFileDescription, "", "");
}

DiscoveryAnalyzer::DiscoveryAnalyzer(double probabilityThreshold, double fisherThreshold, int eras,
                                     const std::string& rulesFile)
    : odds_(1.0),
      eras_(eras),
      probability_threshold_(probabilityThreshold),
      fisher_threshold_(fisherThreshold),
      rules_file_(rulesFile) {
  ParameterValue entry;
  parameters_.get(entry, kProbabilityThresholdName);
  entry.setReal(probabilityThreshold);
  parameters_.set(entry);
  parameters_.get(entry, kFisherThresholdName);
  entry.setReal(fisherThreshold);
  parameters_.set(entry);
  parameters_.get(entry, kErasName);
  entry.setInt(eras);
  parameters_.set(entry);
  parameters_.get(entry, kRulesFileName);
  entry.setString(rulesFile.c_str());
  parameters_.set(entry);
}

const uint8_t* DiscoveryAnalyzer::kindId() const { return kDiscoveryKind; }

double DiscoveryAnalyzer::tune(double p) {
  if (p == -1.0) return odds_ / (1 + odds_);
  if (p < 0.0 || p > 1.0) return -1.0;
  p = std::clamp(p, kLowestSensitivity, kHighestSensitivity);
  const double previous = odds_;
  odds_ = p / (1 - p);
  return previous;
}

bool DiscoveryAnalyzer::reset() {
  check_ready_ = false;
  rule_base_.clear();
  scales_.clear();
  // The state file counts the scales there are.
  scale_count_ = 0;
  return true;
}

}  // namespace kst
