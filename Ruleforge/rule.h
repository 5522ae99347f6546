// The rule search's rule record and the order that keeps its rule list.
#ifndef KESTRANE_RULEFORGE_RULE_H_
#define KESTRANE_RULEFORGE_RULE_H_

#include <vector>

namespace kst {

// Feature f lies in interval k of its scale.
struct FeaturePair {
  int feature = 0;
  int interval = 0;
  friend bool operator==(const FeaturePair&, const FeaturePair&) = default;
};

// "If every premise pair holds, at least one conclusion pair holds."
struct Rule {
  std::vector<FeaturePair> conclusion;
  std::vector<FeaturePair> premise;
  double probability = -1.0;
  double fisherProbability = -1.0;
  int support = -1;
  bool accepted = false;
  int trials = 0;
  int successes = 0;
};

// Equality looks at the pair lists only.
bool operator==(const Rule& r, const Rule& s);
inline bool operator!=(const Rule& r, const Rule& s) { return !(r == s); }
// Longer premises are less; then the premise pairs from the last down (the
// greater pair is less); then the conclusions the same way. The search keeps
// its rules in descending order of this.
bool operator<(const Rule& r, const Rule& s);
inline bool operator>(const Rule& r, const Rule& s) { return !(r < s) && !(r == s); }
inline bool operator<=(const Rule& r, const Rule& s) { return !(r > s); }
inline bool operator>=(const Rule& r, const Rule& s) { return !(r < s); }

// Inserts p before the first greater pair (feature, then interval), or at
// the end; false, and nothing inserted, when an equal pair is there.
bool InsertSorted(std::vector<FeaturePair>& pairs, FeaturePair p);

}  // namespace kst

#endif  // KESTRANE_RULEFORGE_RULE_H_
