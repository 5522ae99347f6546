#include "Ruleforge/rule_counter.h"

#include <algorithm>
#include <array>
#include <bit>

#if defined(__x86_64__)
#include <immintrin.h>
#define KST_VECTOR_POPCOUNT 1
#endif

// The kernels get a copy for processors with a popcount instruction, picked
// when the library loads; the plain copy runs anywhere.
#if defined(__x86_64__) && defined(__has_attribute)
#if __has_attribute(target_clones)
#define KST_CLONES __attribute__((target_clones("popcnt", "default")))
#endif
#endif
#ifndef KST_CLONES
#define KST_CLONES
#endif

namespace kst {
namespace {

constexpr size_t kBlockWords = 128;

// Premises of at most two pairs and conclusions of at most two, which are
// nearly all candidates: absent premise pairs read the all-rows bitset,
// absent conclusion pairs the empty one.
KST_CLONES void CountShort(const uint64_t* p0, const uint64_t* p1, const uint64_t* c0, const uint64_t* c1,
                           size_t words, uint64_t* out) {
  uint64_t n_p = 0, n_pc = 0, n_c = 0;
  for (size_t i = 0; i < words; ++i) {
    uint64_t p = p0[i] & p1[i];
    uint64_t c = c0[i] | c1[i];
    n_p += std::popcount(p);
    n_pc += std::popcount(p & c);
    n_c += std::popcount(c);
  }
  out[0] = n_p;
  out[1] = n_pc;
  out[2] = n_c;
}

// Any lengths: the premise and conclusion of one block of rows are built in
// small buffers, then counted.
KST_CLONES void CountLong(const uint64_t* const* premise, size_t np, const uint64_t* const* conclusion,
                          size_t nc, const uint64_t* ones, size_t words, uint64_t* out) {
  uint64_t p[kBlockWords];
  uint64_t c[kBlockWords];
  uint64_t n_p = 0, n_pc = 0, n_c = 0;
  for (size_t base = 0; base < words; base += kBlockWords) {
    const size_t n = std::min(kBlockWords, words - base);
    const uint64_t* first = np ? premise[0] + base : ones + base;
    for (size_t i = 0; i < n; ++i) p[i] = first[i];
    for (size_t j = 1; j < np; ++j) {
      const uint64_t* q = premise[j] + base;
      for (size_t i = 0; i < n; ++i) p[i] &= q[i];
    }
    for (size_t i = 0; i < n; ++i) c[i] = 0;
    for (size_t j = 0; j < nc; ++j) {
      const uint64_t* q = conclusion[j] + base;
      for (size_t i = 0; i < n; ++i) c[i] |= q[i];
    }
    for (size_t i = 0; i < n; ++i) {
      n_p += std::popcount(p[i]);
      n_pc += std::popcount(p[i] & c[i]);
      n_c += std::popcount(c[i]);
    }
  }
  out[0] = n_p;
  out[1] = n_pc;
  out[2] = n_c;
}

#if KST_VECTOR_POPCOUNT
#define KST_VECTOR_TARGET __attribute__((target("avx512f,avx512vpopcntdq")))

// By hand: GCC 12 warns of an uninitialized value inside
// _mm512_reduce_add_epi64.
KST_VECTOR_TARGET uint64_t Sum(__m512i lanes) {
  alignas(64) uint64_t each[8];
  _mm512_store_si512(each, lanes);
  uint64_t sum = 0;
  for (uint64_t v : each) sum += v;
  return sum;
}

// The three counts of eight words of premise and conclusion.
struct VectorCounts {
  __m512i p, pc, c;
};

KST_VECTOR_TARGET void Add(VectorCounts& n, __m512i p, __m512i c) {
  n.p = _mm512_add_epi64(n.p, _mm512_popcnt_epi64(p));
  n.pc = _mm512_add_epi64(n.pc, _mm512_popcnt_epi64(_mm512_and_si512(p, c)));
  n.c = _mm512_add_epi64(n.c, _mm512_popcnt_epi64(c));
}

KST_VECTOR_TARGET void Store(const VectorCounts& n, uint64_t* out) {
  out[0] = Sum(n.p);
  out[1] = Sum(n.pc);
  out[2] = Sum(n.c);
}

// Whole groups of eight words, then the last, partial group under a mask.
KST_VECTOR_TARGET void CountShortVector(const uint64_t* p0, const uint64_t* p1, const uint64_t* c0,
                                        const uint64_t* c1, size_t words, uint64_t* out) {
  VectorCounts n{_mm512_setzero_si512(), _mm512_setzero_si512(), _mm512_setzero_si512()};
  size_t i = 0;
  for (; i + 8 <= words; i += 8) {
    Add(n, _mm512_and_si512(_mm512_loadu_si512(p0 + i), _mm512_loadu_si512(p1 + i)),
        _mm512_or_si512(_mm512_loadu_si512(c0 + i), _mm512_loadu_si512(c1 + i)));
  }
  if (i < words) {
    const __mmask8 m = static_cast<__mmask8>((1u << (words - i)) - 1);
    Add(n, _mm512_and_si512(_mm512_maskz_loadu_epi64(m, p0 + i), _mm512_maskz_loadu_epi64(m, p1 + i)),
        _mm512_or_si512(_mm512_maskz_loadu_epi64(m, c0 + i), _mm512_maskz_loadu_epi64(m, c1 + i)));
  }
  Store(n, out);
}

KST_VECTOR_TARGET void CountLongVector(const uint64_t* const* premise, size_t np, const uint64_t* const* conclusion,
                                       size_t nc, const uint64_t* ones, size_t words, uint64_t* out) {
  VectorCounts n{_mm512_setzero_si512(), _mm512_setzero_si512(), _mm512_setzero_si512()};
  for (size_t i = 0; i < words; i += 8) {
    const __mmask8 m = words - i >= 8 ? 0xff : static_cast<__mmask8>((1u << (words - i)) - 1);
    __m512i p = _mm512_maskz_loadu_epi64(m, (np ? premise[0] : ones) + i);
    for (size_t j = 1; j < np; ++j) p = _mm512_and_si512(p, _mm512_maskz_loadu_epi64(m, premise[j] + i));
    __m512i c = _mm512_setzero_si512();
    for (size_t j = 0; j < nc; ++j) c = _mm512_or_si512(c, _mm512_maskz_loadu_epi64(m, conclusion[j] + i));
    Add(n, p, c);
  }
  Store(n, out);
}
#endif

using ShortKernel = void (*)(const uint64_t*, const uint64_t*, const uint64_t*, const uint64_t*, size_t, uint64_t*);
using LongKernel = void (*)(const uint64_t* const*, size_t, const uint64_t* const*, size_t, const uint64_t*, size_t,
                            uint64_t*);
struct Kernels {
  ShortKernel count_short;
  LongKernel count_long;
};

Kernels KernelsOf(CountKernel kernel) {
#if KST_VECTOR_POPCOUNT
  if (kernel == CountKernel::kVectorPopcount) return {CountShortVector, CountLongVector};
#endif
  (void)kernel;
  return {CountShort, CountLong};
}

// Chosen once, when the library loads.
const CountKernel best_kernel =
    HasCountKernel(CountKernel::kVectorPopcount) ? CountKernel::kVectorPopcount : CountKernel::kWord;

}  // namespace

bool HasCountKernel(CountKernel kernel) {
#if KST_VECTOR_POPCOUNT
  if (kernel == CountKernel::kVectorPopcount) {
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vpopcntdq");
  }
#endif
  return kernel == CountKernel::kWord;
}

PairBitsets::PairBitsets(const StatisticsTable& table)
    : rows_(table.rowCount()), words_((static_cast<size_t>(table.rowCount()) + 63) / 64) {
  const int features = table.featureCount();
  for (int f = 0; f < features; ++f) {
    first_pair_.push_back(pairs_);
    pair_counts_.push_back(table.indexCount(f));
    pairs_ += table.indexCount(f);
  }
  bits_.assign(static_cast<size_t>(pairs_) * words_, 0);
  zeros_.assign(words_, 0);
  ones_.assign(words_, ~uint64_t{0});
  if (rows_ % 64 != 0) ones_.back() = (uint64_t{1} << (rows_ % 64)) - 1;
  for (int r = 0; r < rows_; ++r) {
    std::span<const uint8_t> row = table.row(r);
    for (int f = 0; f < features; ++f) {
      if (row[f] >= pair_counts_[f]) continue;
      bits_[(static_cast<size_t>(first_pair_[f]) + row[f]) * words_ + r / 64] |= uint64_t{1} << (r % 64);
    }
  }
}

const uint64_t* PairBitsets::bits(FeaturePair pair) const {
  if (pair.feature < 0 || pair.feature >= static_cast<int>(first_pair_.size()) || pair.interval < 0 ||
      pair.interval >= pair_counts_[pair.feature]) {
    return zeros_.data();
  }
  return bits_.data() + (static_cast<size_t>(first_pair_[pair.feature]) + pair.interval) * words_;
}

RuleCounts PairBitsets::Count(const Rule& rule) const { return CountWith(rule, best_kernel); }

RuleCounts PairBitsets::Count(const Rule& rule, CountKernel kernel) const {
  if (!HasCountKernel(kernel)) return {};
  return CountWith(rule, kernel);
}

RuleCounts PairBitsets::CountWith(const Rule& rule, CountKernel kernel) const {
  const Kernels kernels = KernelsOf(kernel);
  uint64_t out[3];
  const size_t np = rule.premise.size();
  const size_t nc = rule.conclusion.size();
  if (np <= 2 && nc <= 2) {
    const uint64_t* p0 = np > 0 ? bits(rule.premise[0]) : ones_.data();
    const uint64_t* p1 = np > 1 ? bits(rule.premise[1]) : ones_.data();
    const uint64_t* c0 = nc > 0 ? bits(rule.conclusion[0]) : zeros_.data();
    const uint64_t* c1 = nc > 1 ? bits(rule.conclusion[1]) : zeros_.data();
    kernels.count_short(p0, p1, c0, c1, words_, out);
  } else {
    std::vector<const uint64_t*> pointers;
    pointers.reserve(np + nc);
    for (const FeaturePair& p : rule.premise) pointers.push_back(bits(p));
    for (const FeaturePair& p : rule.conclusion) pointers.push_back(bits(p));
    kernels.count_long(pointers.data(), np, pointers.data() + np, nc, ones_.data(), words_, out);
  }
  return {static_cast<int>(out[0]), static_cast<int>(out[1]), static_cast<int>(out[2])};
}

}  // namespace kst
