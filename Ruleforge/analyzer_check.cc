// Judging one set of current values against the rule base.
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "Ruleforge/analyzer.h"
#include "Ruleforge/csv_lines.h"

namespace kst {
namespace {

constexpr char kDebugFile[] = "C:\\Program Files\\Kestrane\\freq.txt";
// Keeps a learned bound inside its own interval at odds 1.0.
constexpr double kOddsSlack = 0.000001;

// lo and hi of a real interval, read back from its text as the rules dump
// shows it; false for a text that is missing or has no comma.
bool IntervalBounds(const IntervalScale& scale, int index, double* lo, double* hi) {
  const char* text = scale.intervalText(index, nullptr);
  if (text == nullptr) return false;
  const char* comma = std::strchr(text, ',');
  if (comma == nullptr) return false;
  *lo = std::strtod(text + 1, nullptr);
  *hi = std::strtod(comma + 1, nullptr);
  return true;
}

}  // namespace

// Real intervals narrow as the odds grow; "out of bounds" fails inside any
// interval widened by the odds.
void DiscoveryAnalyzer::prepareCheck() {
  check_bounds_.assign(scales_.size(), {});
  for (size_t f = 0; f < scales_.size(); ++f) {
    const IntervalScale& s = *scales_[f];
    for (int j = 0; j < s.count(); ++j) {
      CheckBounds b{};
      // Scales always give real intervals a text with a comma.
      if (!IntervalBounds(s, j, &b.lo, &b.hi)) break;
      const double mid = (b.lo + b.hi) / 2;
      b.narrowLow = mid + (b.lo - mid) / (odds_ - kOddsSlack);
      b.narrowHigh = mid + (b.hi - mid) / (odds_ - kOddsSlack);
      b.wideLow = mid + (b.lo - mid) * odds_;
      b.wideHigh = mid + (b.hi - mid) * odds_;
      check_bounds_[f].push_back(b);
    }
  }
  premise_features_.clear();
  std::vector<bool> seen(scales_.size(), false);
  for (const AnalyzerRule& rule : rule_base_) {
    for (const FeaturePair& p : rule.premise) {
      if (p.feature >= 0 && static_cast<size_t>(p.feature) < seen.size() && !seen[p.feature]) {
        seen[p.feature] = true;
        premise_features_.push_back(p.feature);
      }
    }
  }
  check_odds_ = odds_;
  check_ready_ = true;
}

// Does value v break conclusion pair (f, k)? False in *ok for an interval
// the scale lacks.
bool DiscoveryAnalyzer::itemFails(int f, int k, double v, bool* ok) const {
  const std::vector<CheckBounds>& bounds = check_bounds_[f];
  const int count = scales_[f]->count();
  if (k != count) {
    if (k < 0 || k >= static_cast<int>(bounds.size())) return *ok = false;
    return v < bounds[k].narrowLow || v > bounds[k].narrowHigh;
  }
  if (static_cast<int>(bounds.size()) != count) return *ok = false;
  bool inside = false;
  for (const CheckBounds& b : bounds) {
    if (b.wideLow < v && v < b.wideHigh) inside = true;
  }
  return inside;
}

bool DiscoveryAnalyzer::check(std::string& message, const std::vector<double>* values) {
  const std::vector<double>& v = *values;
  if (!check_ready_ || !(check_odds_ == odds_)) prepareCheck();
  // Premises place a value by its six-decimal text ("%lf"), made once.
  placed_.assign(scales_.size(), 0);
  for (int f : premise_features_) {
    char text[512];
    auto [end, error] = std::to_chars(text, text + sizeof text, v[f], std::chars_format::fixed, 6);
    const std::string_view value_text(text, error == std::errc() ? static_cast<size_t>(end - text) : 0);
    placed_[f] = scales_[f]->indexOfValue(IntervalScale::ValueOf(value_text));
  }
  DataFile debug = OpenDataFile(kDebugFile, "w");

  int applicable = 0;
  int anomalous = 0;
  std::vector<double> group_share(feature_groups_.size(), 0.0);
  double share_sum = 0.0;
  bool ok = true;
  for (const AnalyzerRule& rule : rule_base_) {
    bool holds = true;
    for (const FeaturePair& p : rule.premise) {
      if (placed_[p.feature] != p.interval) holds = false;
    }
    if (!holds) continue;
    ++applicable;
    int failed = 0;
    for (const FeaturePair& p : rule.conclusion) {
      failed += itemFails(p.feature, p.interval, v[p.feature], &ok);
      if (!ok) return false;
    }
    if (failed != rule.conclusionCount) continue;

    AnomalyDetail detail;
    for (const FeaturePair& p : rule.premise) detail.baseFeatures.push_back(p.feature);
    for (const FeaturePair& p : rule.conclusion) detail.resultFeatures.push_back(p.feature);
    AnomalyDetails.push_back(std::move(detail));
    ++anomalous;

    // Only the shortest rules that conclude on a feature weigh for it, each
    // as its share of the rules of that length.
    const int len = static_cast<int>(rule.conclusion.size() + rule.premise.size());
    for (const FeaturePair& p : rule.conclusion) {
      const FeatureGroup& g = feature_groups_[p.feature];
      const int lengths = static_cast<int>(g.lengthCounts.size());
      int divisor = 0;
      bool counts = true;
      if (len > lengths) {
        for (int n : g.lengthCounts) counts = counts && n == 0;
        divisor = g.longerCount;
      } else {
        for (int i = 0; i + 1 < len; ++i) counts = counts && g.lengthCounts[i] == 0;
        divisor = g.lengthCounts[len - 1];
      }
      if (!counts) continue;
      group_share[p.feature] += 1.0 / divisor;
      share_sum += 1.0 / divisor;
      if (debug) std::fprintf(debug.get(), "index: %d, length: %d, count: %d\n", p.feature, len, divisor);
    }
  }
  if (debug) std::fflush(debug.get());
  debug.reset();

  int band100 = 0, band50 = 0, band20 = 0;
  for (double share : group_share) {
    if (share > 0.7) {
      ++band100;
    } else if (share > 0.35) {
      ++band50;
    } else if (share > 0.15) {
      ++band20;
    }
  }
  anomalyLevel = 0;
  message.clear();
  if (anomalous >= 1) {
    const double ratio = static_cast<double>(anomalous) / applicable;
    anomalyLevel = static_cast<int>(ratio * 100.0);
    char summary[512];
    std::snprintf(summary, sizeof summary, "%d of %d (%lf feature groups. 100: %d, 50: %d, 20: %d)", anomalous,
                  applicable, share_sum, band100, band50, band20);
    message = std::string(" Ruleforge: ") + summary + " rules is anomal. ";
  }
  return true;
}

}  // namespace kst
