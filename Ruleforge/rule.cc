#include "Ruleforge/rule.h"

#include <cstddef>

namespace kst {
namespace {

bool PairLess(const FeaturePair& a, const FeaturePair& b) {
  return a.feature < b.feature || (a.feature == b.feature && a.interval < b.interval);
}

// -1 when r's list sorts before s's (r is less), 1 when after, 0 when equal.
int CompareLists(const std::vector<FeaturePair>& r, const std::vector<FeaturePair>& s) {
  if (r.size() != s.size()) return r.size() > s.size() ? -1 : 1;
  for (std::size_t i = r.size(); i-- > 0;) {
    if (PairLess(s[i], r[i])) return -1;
    if (PairLess(r[i], s[i])) return 1;
  }
  return 0;
}

}  // namespace

bool operator==(const Rule& r, const Rule& s) {
  return r.conclusion == s.conclusion && r.premise == s.premise;
}

bool operator<(const Rule& r, const Rule& s) {
  int c = CompareLists(r.premise, s.premise);
  if (c != 0) return c < 0;
  return CompareLists(r.conclusion, s.conclusion) < 0;
}

bool InsertSorted(std::vector<FeaturePair>& pairs, FeaturePair p) {
  for (auto it = pairs.begin(); it != pairs.end(); ++it) {
    if (*it == p) return false;
    if (PairLess(p, *it)) {
      pairs.insert(it, p);
      return true;
    }
  }
  pairs.push_back(p);
  return true;
}

}  // namespace kst
