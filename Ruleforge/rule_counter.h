// Counting the rows of the training table where a rule's premise and
// conclusion hold: the rule search's inner loop.
#ifndef KESTRANE_RULEFORGE_RULE_COUNTER_H_
#define KESTRANE_RULEFORGE_RULE_COUNTER_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "Ruleforge/rule.h"
#include "Ruleforge/statistics_table.h"

namespace kst {

// A premise holds when all its pairs hold (always, when it is empty); a
// conclusion when at least one pair holds (never, when it is empty). A pair
// naming a feature or interval the table lacks holds nowhere.
struct RuleCounts {
  int premise = 0;               // rows where the premise holds
  int premiseAndConclusion = 0;  // rows where both hold
  int conclusion = 0;            // rows where the conclusion holds
  friend bool operator==(const RuleCounts&, const RuleCounts&) = default;
};

class RuleCounter {
 public:
  virtual ~RuleCounter() = default;
  virtual RuleCounts Count(const Rule& rule) const = 0;
};

// The ways PairBitsets can count: word by word (with the processor's
// popcount instruction where it has one), or eight words at a time with a
// vector popcount.
enum class CountKernel { kWord, kVectorPopcount };
// Whether this processor runs `kernel`; Count uses the fastest that runs.
bool HasCountKernel(CountKernel kernel);

// One bitset of rows per (feature, interval) pair: a premise is the AND of
// its pairs' bitsets, a conclusion the OR, and the counts are popcounts,
// all in one pass over the rows. Holds rows x pairs / 8 bytes; the table
// may go once this is built.
class PairBitsets final : public RuleCounter {
 public:
  explicit PairBitsets(const StatisticsTable& table);

  RuleCounts Count(const Rule& rule) const override;
  // Counted by `kernel`; all zero when the processor lacks it.
  RuleCounts Count(const Rule& rule, CountKernel kernel) const;

  int rowCount() const { return rows_; }
  int wordCount() const { return static_cast<int>(words_); }
  int pairCount() const { return pairs_; }
  // The rows where the pair holds, wordCount() words; an all-zero bitset for
  // a pair the table lacks.
  const uint64_t* bits(FeaturePair pair) const;
  size_t memoryBytes() const { return bits_.capacity() * sizeof(uint64_t); }

 private:
  RuleCounts CountWith(const Rule& rule, CountKernel kernel) const;

  int rows_;
  size_t words_;
  int pairs_ = 0;
  std::vector<int> first_pair_;  // per feature: index of its interval 0
  std::vector<int> pair_counts_;  // per feature: its index count
  std::vector<uint64_t> bits_;    // pair by pair
  std::vector<uint64_t> zeros_;
  std::vector<uint64_t> ones_;    // every row, the tail of the last word clear
};

}  // namespace kst

#endif  // KESTRANE_RULEFORGE_RULE_COUNTER_H_
