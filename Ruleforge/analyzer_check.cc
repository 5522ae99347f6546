// Judging one set of current values against the rule base.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>

#include "Ruleforge/analyzer.h"
#include "platform/paths.h"

namespace kst {
namespace {

constexpr char kDebugFile[] = "C:\\Program Files\\Kestrane\\freq.txt";
// Keeps a learned bound inside its own interval at odds 1.0.
constexpr double kOddsSlack = 0.000001;

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};

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

// Does the value break conclusion pair (feature's scale, k) at these odds?
// Real intervals narrow as the odds grow; "out of bounds" fails inside any
// interval widened by the odds. False in *ok for an interval the scale lacks.
bool ItemFails(const IntervalScale& s, int k, double v, double odds, bool* ok) {
  double lo, hi;
  if (k != s.indexCount() - 1) {
    if (!IntervalBounds(s, k, &lo, &hi)) return *ok = false;
    const double mid = (lo + hi) / 2;
    const double low = mid + (lo - mid) / (odds - kOddsSlack);
    const double high = mid + (hi - mid) / (odds - kOddsSlack);
    return v < low || v > high;
  }
  bool inside = false;
  for (int j = 0; j < s.count(); ++j) {
    const char* text = s.intervalText(j, nullptr);
    if (text == nullptr) {
      std::cerr << " Error in intervals " << k << " " << s.indexCount() << std::endl;
      return *ok = false;
    }
    if (!IntervalBounds(s, j, &lo, &hi)) {
      std::cerr << " Error in string format " << std::endl;
      return *ok = false;
    }
    const double mid = (lo + hi) / 2;
    const double low = mid + (lo - mid) * odds;
    const double high = mid + (hi - mid) * odds;
    if (low < v && v < high) inside = true;
  }
  return inside;
}

}  // namespace

bool DiscoveryAnalyzer::check(std::string& message, const std::vector<double>* values) {
  const std::vector<double>& v = *values;
  std::vector<std::string> value_texts;
  value_texts.reserve(v.size());
  char text[512];
  for (double x : v) {
    std::snprintf(text, sizeof text, "%lf", x);
    value_texts.emplace_back(text);
  }
  std::unique_ptr<FILE, FileCloser> debug(std::fopen(NativePath(kDebugFile).c_str(), "w"));

  int applicable = 0;
  int anomalous = 0;
  std::vector<double> group_share(feature_groups_.size(), 0.0);
  double share_sum = 0.0;
  bool ok = true;
  for (const AnalyzerRule& rule : rule_base_) {
    bool holds = true;
    for (const FeaturePair& p : rule.premise) {
      if (scales_[p.feature]->indexOf(value_texts[p.feature].c_str()) != p.interval) holds = false;
    }
    if (!holds) continue;
    ++applicable;
    int failed = 0;
    for (const FeaturePair& p : rule.conclusion) {
      failed += ItemFails(*scales_[p.feature], p.interval, v[p.feature], odds_, &ok);
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
