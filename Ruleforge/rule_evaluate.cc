// Scoring one candidate rule: counts, conditional probability, Fisher test,
// and the generalisation tests that reject a rule a simpler one explains.
#include <chrono>
#include <cmath>

#include "Ruleforge/rule_search.h"

namespace kst {
namespace {

constexpr double kMinSupportShare = 0.05;
constexpr double kGeneralisationLimit = 0.25;

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

int RoundHalfUp(double x) { return static_cast<int>(std::floor(x + 0.5)); }

// The generalisation depth below which a list's pairs are tried one by one:
// -1 (none), 0 (a one-pair list) or the number of pairs to try.
int PairsToTry(size_t size, int depth) {
  int k = depth >= 2 ? 0 : static_cast<int>(size);
  return k < 3 ? k - 1 : k;
}

// Is the chance that a rule as good as the more general one shows the
// observed gap, by the hypergeometric tail, too large?
bool ExplainedByChance(double q_low, double q_high, int n, int misses) {
  const int x1 = RoundHalfUp(n * (1 - q_low));
  const int x2 = RoundHalfUp(n * (1 - q_high));
  double t = 1;
  for (int j = 0; j < x2; ++j) t *= (n * q_low - j) / (n - j);
  double s = t;
  if (s > kGeneralisationLimit) return true;
  for (int j = 0; j < misses; ++j) {
    t = t * (x2 - j) / (j + 1) * (x1 - j) / (n * (q_high + q_low - 1) + j + 1);
    if (t > 0) {
      s += t;
      if (s > kGeneralisationLimit) return true;
    }
  }
  return false;
}

}  // namespace

RuleCounts RuleSearch::CountRows(const Rule& rule) {
  if (stats_ == nullptr) return counter_->Count(rule);
  Clock::time_point start = Clock::now();
  RuleCounts counts = counter_->Count(rule);
  stats_->countSeconds += SecondsSince(start);
  ++stats_->counts;
  return counts;
}

bool RuleSearch::FisherTest(const int table[4], double* p) {
  // Only a positive association can pass: a negative one needs no tail.
  if (stats_ == nullptr) return PositiveFisherExactTest(table, &fisher_threshold_, p, log_factorial_);
  Clock::time_point start = Clock::now();
  bool passed = PositiveFisherExactTest(table, &fisher_threshold_, p, log_factorial_);
  stats_->fisherSeconds += SecondsSince(start);
  ++stats_->fisherTests;
  return passed;
}

void RuleSearch::evaluate(Rule& rule, int depth) {
  const int rows = table_->rowCount();
  const double min_support = rows * kMinSupportShare;
  const RuleCounts counts = CountRows(rule);
  const int n_p = counts.premise;
  const int n_pc = counts.premiseAndConclusion;
  const int n_not_p = rows - n_p;
  const int n_not_pc = counts.conclusion - n_pc;
  rule.support = n_p;
  // A table without rows supports nothing.
  if (n_p < min_support || n_p == 0) {
    rule.probability = 0.0;
    rule.fisherProbability = 1.0;
    rule.accepted = false;
    return;
  }
  rule.probability = static_cast<double>(n_pc) / n_p;
  const int table[4] = {n_not_p - n_not_pc, n_not_pc, n_p - n_pc, n_pc};
  rule.accepted = FisherTest(table, &rule.fisherProbability);
  if (probability_threshold_ > rule.probability) {
    rule.accepted = false;
    return;
  }
  if (!rule.accepted) return;

  auto reject = [&rule] { rule.accepted = false; };
  // The rule with item i of one of its lists alone, and without it; both
  // evaluated one level deeper.
  auto split = [&](std::vector<FeaturePair> Rule::*list, int i, Rule& alone, Rule& without) {
    alone = rule;
    alone.*list = {(rule.*list)[i]};
    without = rule;
    (without.*list).erase((without.*list).begin() + i);
    evaluate(alone, depth + 1);
    evaluate(without, depth + 1);
  };

  // Conclusion generalisations.
  const int conclusion_tries = PairsToTry(rule.conclusion.size(), depth);
  for (int i = 0; i < conclusion_tries; ++i) {
    const int f = rule.conclusion[i].feature;
    int same_feature = 0;
    for (const FeaturePair& p : rule.conclusion) same_feature += p.feature == f;
    if (same_feature == table_->indexCount(f)) return reject();  // says nothing

    Rule r1, r2;
    split(&Rule::conclusion, i, r1, r2);
    if (rule.probability <= r1.probability || rule.probability <= r2.probability) return reject();
    const double q_low = std::min(r1.probability, r2.probability);
    const double q_high = std::max(r1.probability, r2.probability);
    if (ExplainedByChance(q_low, q_high, rule.support, n_p - n_pc)) return reject();
  }

  // Premise generalisations.
  const int premise_tries = PairsToTry(rule.premise.size(), depth);
  Rule general = rule;
  if (premise_tries >= 1) {
    general.premise.clear();
    evaluate(general, depth + 1);
  }
  if (premise_tries == 0) {
    Rule r0 = rule;
    r0.premise.clear();
    evaluate(r0, depth + 1);
    if (rule.probability <= r0.probability) return reject();
  }
  for (int j = 0; j < premise_tries; ++j) {
    Rule a, b;
    split(&Rule::premise, j, a, b);
    if (rule.probability <= a.probability || rule.probability <= b.probability) return reject();
    if ((a.accepted || b.accepted) && a.probability > 0 && b.probability > 0 && general.probability > 0 &&
        a.support >= 1 && b.support >= 1 && general.support >= 1) {
      // The two parts taken as independent evidence.
      const double o = a.support * a.probability * b.support * b.probability / (rows * general.probability);
      const double u = (1 - a.probability) * a.support * (1 - b.probability) * b.support /
                       (rows * (1 - general.probability));
      if (rule.probability <= o / (o + u)) return reject();
    }
  }
}

}  // namespace kst
