// The one-tailed Fisher exact test the rule search scores rules with.
#ifndef KESTRANE_RULEFORGE_FISHER_EXACT_H_
#define KESTRANE_RULEFORGE_FISHER_EXACT_H_

#include <vector>

namespace kst {

// ln(n!) for n >= 0: a small table of rounded values up to 10, then
// Stirling's series (with the constant 1.8374 the stored rules were found
// with).
double LogFactorial(int n);

// LogFactorial(0..max) computed once; larger n fall back to LogFactorial.
// Gives the same doubles as LogFactorial.
class LogFactorialTable {
 public:
  explicit LogFactorialTable(int max);
  double operator()(int n) const {
    return n < static_cast<int>(values_.size()) ? values_[n] : LogFactorial(n);
  }

 private:
  std::vector<double> values_;
};

// table: rows where neither premise nor conclusion holds, where only the
// conclusion holds, only the premise, both. Sets *p to the probability of
// the observed or a more extreme table (the walk stops early once *p passes
// *threshold) and returns whether the association is positive and *p is at
// most *threshold.
bool FisherExactTest(const int table[4], const double* threshold, double* p);
bool FisherExactTest(const int table[4], const double* threshold, double* p, const LogFactorialTable& lf);
// The same verdict, and the same *p for a positive association; a negative
// one is refused before any term is summed, with *p = 1.
bool PositiveFisherExactTest(const int table[4], const double* threshold, double* p, const LogFactorialTable& lf);

}  // namespace kst

#endif  // KESTRANE_RULEFORGE_FISHER_EXACT_H_
