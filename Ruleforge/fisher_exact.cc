#include "Ruleforge/fisher_exact.h"

#include <algorithm>
#include <cmath>

namespace kst {
namespace {

constexpr double faktor[11] = {0.0, 0.0, 0.692, 1.791, 3.177, 4.787, 6.579, 8.525, 10.604, 12.802, 15.104};

// Terms below e^-300 add nothing a double can hold against the sum.
constexpr double kSmallestLogTerm = -300;

template <typename LF>
bool Fisher(const int t[4], const double* threshold, double* p, const LF& lf, bool signFirst) {
  *p = 0;
  const int n = t[0] + t[1] + t[2] + t[3];
  if (n == 0) return false;
  const int r = t[2] + t[3];
  const int c = t[1] + t[3];
  const int d = t[3];
  if (signFirst && d < static_cast<double>(r) * c / n) {
    *p = 1.0;
    return false;
  }
  const double k = lf(r) + lf(n - r) + lf(c) + lf(n - c) - lf(n);
  double l = k - lf(t[3]) - lf(t[1]) - lf(t[2]) - lf(t[0]);
  if (l >= kSmallestLogTerm) *p = std::exp(l);
  if (*p > *threshold) return false;
  const int steps = std::min(r, c) - d;
  for (int i = 1; i <= steps; ++i) {
    l = k - lf(t[3] + i) - lf(t[1] - i) - lf(t[2] - i) - lf(t[0] + i);
    if (l < kSmallestLogTerm) break;
    *p += std::exp(l);
    if (*p > *threshold) return false;
  }
  if (d < static_cast<double>(r) * c / n) return false;
  return *p <= *threshold;
}

}  // namespace

double LogFactorial(int n) {
  if (n <= 10) return faktor[n];
  const double x = n;
  return x * std::log(x) + (std::log(x) + 1.8374) / 2 - x + 1 / (12 * x) - 1 / (360 * x * x);
}

LogFactorialTable::LogFactorialTable(int max) {
  values_.resize(static_cast<size_t>(std::max(max, 0)) + 1);
  for (int n = 0; n <= max; ++n) values_[n] = LogFactorial(n);
}

bool FisherExactTest(const int table[4], const double* threshold, double* p) {
  return Fisher(table, threshold, p, LogFactorial, false);
}

bool FisherExactTest(const int table[4], const double* threshold, double* p, const LogFactorialTable& lf) {
  return Fisher(table, threshold, p, lf, false);
}

bool PositiveFisherExactTest(const int table[4], const double* threshold, double* p, const LogFactorialTable& lf) {
  return Fisher(table, threshold, p, lf, true);
}

}  // namespace kst
