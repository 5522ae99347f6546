// The search for the rules of one training run: every short candidate
// first (one conclusion pair, at most one premise pair), then an evolution
// that breeds new rules from pairs of found ones.
#ifndef KESTRANE_RULEFORGE_RULE_SEARCH_H_
#define KESTRANE_RULEFORGE_RULE_SEARCH_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "Ruleforge/fisher_exact.h"
#include "Ruleforge/rule.h"
#include "Ruleforge/rule_counter.h"
#include "Ruleforge/shared_progress.h"
#include "Ruleforge/statistics_table.h"

namespace kst {

// Where the time of a search goes; filled only when asked for, since
// reading the clock costs about as much as a short count.
struct SearchStats {
  double countSeconds = 0;
  double fisherSeconds = 0;
  long long counts = 0;
  long long fisherTests = 0;
};

struct SearchOptions {
  // Seeds the random generator; the current time when absent.
  std::optional<uint32_t> seed;
  // Counts rows for evaluate; the search builds PairBitsets when null.
  // Borrowed: must outlive the search.
  const RuleCounter* counter = nullptr;
  SearchStats* stats = nullptr;  // borrowed, may be null
};

// The generator behind the evolution's random choices: 0..32767.
class RandomSource {
 public:
  explicit RandomSource(uint32_t seed) : state_(seed) {}
  int Next() {
    state_ = state_ * 214013u + 2531011u;
    return static_cast<int>((state_ >> 16) & 0x7fff);
  }

 private:
  uint32_t state_;
};

struct SharedPair {
  FeaturePair pair;
  bool inConclusion1;  // in the first parent's conclusion, else its premise
  bool inConclusion2;  // the same for the second parent
};

// Single-threaded. The table must outlive the search.
class RuleSearch {
 public:
  RuleSearch(const StatisticsTable* table, double probabilityThreshold, double fisherThreshold, int eras,
             const SearchOptions& options = {});

  // The next accepted rule, or null when the search is over. The pointer is
  // valid until the next call. Reports the evolution's progress (0.2 .. 1.0)
  // to `progress` when not null.
  const Rule* nextRule(SharedProgress* progress);

  // Advances the enumeration's candidate (0: its conclusion, 1: its
  // premise, 2: ends the enumeration).
  void enumerate(int level);
  std::vector<SharedPair> sharedPairs(const Rule& p1, const Rule& p2) const;
  Rule crossover(const Rule& p1, const Rule& p2, const std::vector<SharedPair>& shared);
  Rule mergeUnion(const Rule& p1, const Rule& p2);
  Rule mergeOther(const Rule& p1, const Rule& p2);
  // Scores the rule against every row: support, probability, Fisher
  // probability, and accepted unless a simpler rule explains as much.
  // depth: 0 for a candidate, one more for each generalisation level.
  void evaluate(Rule& rule, int depth);

  // Where a rule goes in a list kept in descending order; -1 when an equal
  // rule is there.
  static int InsertionPlace(const std::vector<Rule>& rules, const Rule& child);

  const std::vector<Rule>& rules() const { return rules_; }
  const Rule& candidate() const { return candidate_; }
  int eraCount() const { return era_count_; }
  int evolvedCount() const { return evolved_count_; }
  bool enumerating() const { return enumerating_; }
  bool evolving() const { return evolving_; }
  double progress() const { return progress_; }

 private:
  int RandomIndex();
  RuleCounts CountRows(const Rule& rule);
  bool FisherTest(const int table[4], double* p);

  int eras_;
  int era_count_ = 0;
  const StatisticsTable* table_;
  int evolved_count_ = 0;
  std::vector<Rule> rules_;
  int parent_index_ = 0;
  bool enumerating_ = true;
  bool evolving_ = false;
  Rule candidate_;
  double probability_threshold_;
  double fisher_threshold_;
  double progress_ = 0.2;

  RandomSource random_;
  std::unique_ptr<PairBitsets> own_counter_;
  const RuleCounter* counter_;
  LogFactorialTable log_factorial_;
  SearchStats* stats_;
};

}  // namespace kst

#endif  // KESTRANE_RULEFORGE_RULE_SEARCH_H_
