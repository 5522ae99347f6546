// The analyzer's state file: thresholds, rules, scales, feature groups and
// odds, little-endian, no header.
#include <iostream>

#include "Ruleforge/analyzer.h"
#include "Ruleforge/binary_io.h"
#include "Ruleforge/exceptions.h"

namespace kst {
namespace {

[[noreturn]] void Fail(const char* what) { throw new LoadDataException(what); }

int ReadCount(std::istream& in) {
  int32_t n;
  if (!ReadI32(in, &n)) Fail("state file ends early");
  if (n < 0) Fail("bad count in state file");
  return n;
}

double ReadDouble(std::istream& in) {
  double v;
  if (!ReadF64(in, &v)) Fail("state file ends early");
  return v;
}

void ReadPairs(std::istream& in, std::vector<FeaturePair>* pairs) {
  const int n = ReadCount(in);
  for (int i = 0; i < n; ++i) {
    int32_t f, k;
    if (!ReadI32(in, &f) || !ReadI32(in, &k)) Fail("state file ends early");
    pairs->push_back({f, k});
  }
}

void WritePairs(std::ostream& out, int count, const std::vector<FeaturePair>& pairs) {
  WriteI32(out, count);
  for (const FeaturePair& p : pairs) {
    WriteI32(out, p.feature);
    WriteI32(out, p.interval);
  }
}

}  // namespace

void DiscoveryAnalyzer::save(std::ostream& out) const {
  WriteF64(out, probability_threshold_);
  WriteF64(out, fisher_threshold_);
  WriteI32(out, static_cast<int32_t>(rule_base_.size()));
  for (const AnalyzerRule& rule : rule_base_) {
    WriteF64(out, rule.probability);
    WriteF64(out, rule.fisherProbability);
    WritePairs(out, rule.conclusionCount, rule.conclusion);
    WritePairs(out, rule.premiseCount, rule.premise);
  }
  WriteI32(out, scale_count_);
  // A learning that failed leaves the list sized but scale_count_ at 0.
  for (int i = 0; i < scale_count_; ++i) scales_[i]->write(out);
  WriteI32(out, static_cast<int32_t>(feature_groups_.size()));
  for (const FeatureGroup& group : feature_groups_) {
    WriteI32(out, static_cast<int32_t>(group.lengthCounts.size()));
    for (int n : group.lengthCounts) WriteI32(out, n);
    WriteI32(out, group.longerCount);
  }
  WriteF64(out, odds_);
}

void DiscoveryAnalyzer::load(std::istream& in) {
  check_ready_ = false;
  probability_threshold_ = ReadDouble(in);
  fisher_threshold_ = ReadDouble(in);
  rule_base_.clear();
  const int rules = ReadCount(in);
  for (int i = 0; i < rules; ++i) {
    AnalyzerRule rule;
    rule.probability = ReadDouble(in);
    rule.fisherProbability = ReadDouble(in);
    ReadPairs(in, &rule.conclusion);
    ReadPairs(in, &rule.premise);
    rule.conclusionCount = static_cast<int>(rule.conclusion.size());
    rule.premiseCount = static_cast<int>(rule.premise.size());
    rule_base_.push_back(std::move(rule));
  }
  scale_count_ = ReadCount(in);
  scales_.clear();
  for (int i = 0; i < scale_count_; ++i) {
    scales_.push_back(std::make_unique<IntervalScale>());
    scales_.back()->read(in);
  }
  feature_groups_.clear();
  const int groups = ReadCount(in);
  for (int i = 0; i < groups; ++i) {
    FeatureGroup group;
    const int lengths = ReadCount(in);
    for (int j = 0; j < lengths; ++j) group.lengthCounts.push_back(ReadCount(in));
    group.longerCount = ReadCount(in);
    feature_groups_.push_back(std::move(group));
  }
  odds_ = ReadDouble(in);
  Validate();
}

// A rule that names a feature or an interval the file lacks would make the
// check read past its scales; such a file is refused as a whole.
void DiscoveryAnalyzer::Validate() const {
  for (const AnalyzerRule& rule : rule_base_) {
    for (const auto* pairs : {&rule.premise, &rule.conclusion}) {
      for (const FeaturePair& p : *pairs) {
        if (p.feature < 0 || p.feature >= scale_count_) Fail("rule names a missing feature");
        const IntervalScale& s = *scales_[p.feature];
        if (p.interval < 0 || p.interval >= s.indexCount()) {
          std::cerr << " Error in intervals " << p.interval << " " << s.indexCount() << std::endl;
          Fail("rule names a missing interval");
        }
        if (pairs == &rule.conclusion && p.feature >= static_cast<int>(feature_groups_.size())) {
          Fail("rule names a missing feature group");
        }
      }
    }
  }
}

}  // namespace kst
