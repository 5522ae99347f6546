// Test-only helpers of the analyzer plug-in (tests, fuzz targets and the
// benchmark). Never included by the plug-in itself.
#ifndef KESTRANE_RULEFORGE_RULEFORGE_TESTING_H_
#define KESTRANE_RULEFORGE_RULEFORGE_TESTING_H_

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Ruleforge/analyzer.h"
#include "Ruleforge/binary_io.h"
#include "Ruleforge/interval_scale.h"
#include "Ruleforge/rule_counter.h"
#include "Ruleforge/statistics_table.h"

namespace kst {

// The plain way to count: every row, every pair. The reference the bitset
// counter must agree with.
class RowByRowCounter final : public RuleCounter {
 public:
  explicit RowByRowCounter(const StatisticsTable& table) : table_(table) {}

  RuleCounts Count(const Rule& rule) const override {
    RuleCounts counts;
    for (int r = 0; r < table_.rowCount(); ++r) {
      std::span<const uint8_t> row = table_.row(r);
      bool premise = true;
      for (const FeaturePair& p : rule.premise) premise = premise && Holds(row, p);
      bool conclusion = false;
      for (const FeaturePair& p : rule.conclusion) conclusion = conclusion || Holds(row, p);
      counts.premise += premise;
      counts.premiseAndConclusion += premise && conclusion;
      counts.conclusion += conclusion;
    }
    return counts;
  }

 private:
  bool Holds(std::span<const uint8_t> row, const FeaturePair& p) const {
    return p.feature >= 0 && p.feature < table_.featureCount() && p.interval >= 0 &&
           p.interval < table_.indexCount(p.feature) && row[p.feature] == p.interval;
  }

  const StatisticsTable& table_;
};

// Writes a CSV statistics table whose columns follow a hidden state of three
// levels, so that rules exist and the evolution finds more: every fourth
// column (from 0) shows the state's level exactly, the next two mostly (one
// row in ten a random level), the fourth is noise alone; each level value
// gets a little noise too. Deterministic for a seed. Exporter-style cells
// carry fine noise written as the exporter writes values ("%.18g"), so that
// nearly every cell is a text of its own; plain cells have two decimals.
enum class CellStyle { kTwoDecimals, kExporter };
inline void WriteStructuredCsv(const std::string& path, int rows, int features, uint32_t seed,
                               CellStyle style = CellStyle::kTwoDecimals) {
  std::ofstream out(path);
  uint32_t state = seed;
  auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  };
  for (int f = 0; f < features; ++f) out << (f ? ";" : "") << "c" << f;
  out << "\n";
  for (int f = 0; f < features; ++f) out << (f ? ";" : "") << "u";
  out << "\n";
  int hidden = 0;
  char cell[64];
  for (int r = 0; r < rows; ++r) {
    if (next() % 16 == 0) hidden = static_cast<int>(next() % 3);
    for (int f = 0; f < features; ++f) {
      double value;
      if (f % 4 == 3) {
        value = (next() % 1000) / 10.0;
      } else {
        bool noisy = f % 4 != 0 && next() % 10 == 0;
        int level = noisy ? static_cast<int>(next() % 3) : (hidden + f) % 3;
        value = 10.0 * level * (1 + f % 5) + (next() % 100) / 100.0;
      }
      if (style == CellStyle::kExporter) {
        value += (next() % 1000000) / 1e8;
        std::snprintf(cell, sizeof cell, "%s%.18g", f ? ";" : "", value);
      } else {
        std::snprintf(cell, sizeof cell, "%s%.2f", f ? ";" : "", value);
      }
      out << cell;
    }
    out << "\n";
  }
}

// A state file made field by field, as a stored one would be.
struct StateFile {
  struct StoredRule {
    std::vector<FeaturePair> conclusion;
    std::vector<FeaturePair> premise;
  };
  std::vector<StoredRule> rules;
  std::vector<IntervalScale> scales;
  std::vector<FeatureGroup> groups;
  double odds = 1.0;

  std::string Bytes() const {
    std::ostringstream out;
    WriteF64(out, 0.9);
    WriteF64(out, 0.01);
    WriteI32(out, static_cast<int32_t>(rules.size()));
    for (const StoredRule& r : rules) {
      WriteF64(out, 0.95);
      WriteF64(out, 0.001);
      for (const auto* pairs : {&r.conclusion, &r.premise}) {
        WriteI32(out, static_cast<int32_t>(pairs->size()));
        for (const FeaturePair& p : *pairs) {
          WriteI32(out, p.feature);
          WriteI32(out, p.interval);
        }
      }
    }
    WriteI32(out, static_cast<int32_t>(scales.size()));
    for (const IntervalScale& s : scales) s.write(out);
    WriteI32(out, static_cast<int32_t>(groups.size()));
    for (const FeatureGroup& g : groups) {
      WriteI32(out, static_cast<int32_t>(g.lengthCounts.size()));
      for (int n : g.lengthCounts) WriteI32(out, n);
      WriteI32(out, g.longerCount);
    }
    WriteF64(out, odds);
    return out.str();
  }
};

// One interval [lo, hi].
inline IntervalScale Scale(const char* lo, const char* hi) {
  IntervalScale s(1, 0.001, 0.01, 100);
  s.build({{lo, 0.5}, {hi, 0.5}}, 0);
  return s;
}

}  // namespace kst

#endif  // KESTRANE_RULEFORGE_RULEFORGE_TESTING_H_
