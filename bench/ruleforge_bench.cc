// The rule search's counting, against the row-by-row reference and against
// a plain popcount pass over the same bitsets, and a whole training run of
// 10,000 eras on a month of one-minute rows. Ratios are printed at the end,
// all from this one run.
#include <benchmark/benchmark.h>

#include <bit>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "Ruleforge/analyzer.h"
#include "bench/time_reporter.h"
#include "Ruleforge/ruleforge_testing.h"

namespace kst {
namespace {

constexpr int kRows = 44640;  // 31 days of one-minute samples
constexpr int kFeatures = 64;
constexpr uint32_t kSeed = 20261208;
constexpr int kCandidates = 1000;

struct Fixture {
  std::string home;
  std::string csv;
  std::unique_ptr<DiscoveryAnalyzer> scales_owner;
  std::unique_ptr<StatisticsTable> table;
  std::unique_ptr<PairBitsets> fast;
  std::unique_ptr<RowByRowCounter> reference;
  std::vector<Rule> candidates;
  size_t candidate_bytes = 0;  // bitset bytes the candidates read

  Fixture() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kst-bench-XXXXXX").string();
    home = ::mkdtemp(pattern.data());
    ::setenv("KESTRANE_HOME", home.c_str(), 1);
    csv = home + "/month.csv";
    WriteStructuredCsv(csv, kRows, kFeatures, kSeed);
    // A threshold above 1 accepts nothing: learning builds the scales and
    // runs through the enumeration only.
    scales_owner = std::make_unique<DiscoveryAnalyzer>(2.0, 0.01, 0, "");
    scales_owner->setSearchOptions({.seed = kSeed});
    scales_owner->learn(csv.c_str(), nullptr);
    table = std::make_unique<StatisticsTable>(csv.c_str(), &scales_owner->scales());
    table->load();
    fast = std::make_unique<PairBitsets>(*table);
    reference = std::make_unique<RowByRowCounter>(*table);

    // Shapes as the search meets them: mostly one conclusion pair with no
    // or one premise pair, some bred rules with longer lists.
    RandomSource random(kSeed);
    auto pair = [&] {
      int f = random.Next() % kFeatures;
      return FeaturePair{f, random.Next() % table->indexCount(f)};
    };
    for (int i = 0; i < kCandidates; ++i) {
      Rule r;
      int shape = random.Next() % 10;
      int premise = shape < 3 ? 0 : shape < 8 ? 1 : 2 + random.Next() % 2;
      int conclusion = shape < 8 ? 1 : 1 + random.Next() % 2;
      for (int n = 0; n < premise; ++n) r.premise.push_back(pair());
      for (int n = 0; n < conclusion; ++n) r.conclusion.push_back(pair());
      candidates.push_back(r);
      candidate_bytes += (r.premise.size() + r.conclusion.size()) * fast->wordCount() * sizeof(uint64_t);
    }
  }
  ~Fixture() { std::filesystem::remove_all(home); }
};

Fixture& Data() {
  static Fixture fixture;
  return fixture;
}

void BM_CountFast(benchmark::State& state) {
  Fixture& d = Data();
  for (auto _ : state) {
    for (const Rule& r : d.candidates) benchmark::DoNotOptimize(d.fast->Count(r));
  }
  state.SetItemsProcessed(state.iterations() * d.candidates.size());
  state.SetBytesProcessed(state.iterations() * d.candidate_bytes);
}
BENCHMARK(BM_CountFast)->Unit(benchmark::kMicrosecond);

void BM_CountReference(benchmark::State& state) {
  Fixture& d = Data();
  for (auto _ : state) {
    for (const Rule& r : d.candidates) benchmark::DoNotOptimize(d.reference->Count(r));
  }
  state.SetItemsProcessed(state.iterations() * d.candidates.size());
}
BENCHMARK(BM_CountReference)->Unit(benchmark::kMillisecond)->Iterations(2);

// Whole evaluations (counts, Fisher test, generalisations) of the same
// candidates with either counter, at install's default thresholds.
void Evaluate(benchmark::State& state, const RuleCounter* counter) {
  Fixture& d = Data();
  RuleSearch search(d.table.get(), 0.95, 0.01, 0, {.seed = kSeed, .counter = counter});
  for (auto _ : state) {
    for (const Rule& r : d.candidates) {
      Rule copy = r;
      search.evaluate(copy, 0);
      benchmark::DoNotOptimize(copy.accepted);
    }
  }
  state.SetItemsProcessed(state.iterations() * d.candidates.size());
}
void BM_EvaluateFast(benchmark::State& state) { Evaluate(state, Data().fast.get()); }
void BM_EvaluateReference(benchmark::State& state) { Evaluate(state, Data().reference.get()); }
BENCHMARK(BM_EvaluateFast)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EvaluateReference)->Unit(benchmark::kMillisecond)->Iterations(2);

// Built like the counting kernels: the popcount instruction where the
// processor has one.
#if defined(__x86_64__) && defined(__has_attribute)
#if __has_attribute(target_clones)
__attribute__((target_clones("popcnt", "default")))
#endif
#endif
uint64_t PopcountPass(const uint64_t* bits, size_t words) {
  uint64_t sum = 0;
  for (size_t i = 0; i < words; ++i) sum += std::popcount(bits[i]);
  return sum;
}

// The machine's limit for this work: popcount alone over every bitset each
// candidate reads, no AND, no OR.
void BM_PopcountPass(benchmark::State& state) {
  Fixture& d = Data();
  const size_t words = d.fast->wordCount();
  for (auto _ : state) {
    for (const Rule& r : d.candidates) {
      uint64_t sum = 0;
      for (const auto* pairs : {&r.premise, &r.conclusion}) {
        for (const FeaturePair& p : *pairs) sum += PopcountPass(d.fast->bits(p), words);
      }
      benchmark::DoNotOptimize(sum);
    }
  }
  state.SetItemsProcessed(state.iterations() * d.candidates.size());
  state.SetBytesProcessed(state.iterations() * d.candidate_bytes);
}
BENCHMARK(BM_PopcountPass)->Unit(benchmark::kMicrosecond);

SearchStats install_stats;

// install: learning from the CSV file with 10,000 eras, then the state file.
void BM_Install10000Eras(benchmark::State& state) {
  Fixture& d = Data();
  for (auto _ : state) {
    install_stats = {};
    DiscoveryAnalyzer analyzer(0.9, 0.01, 10000, "");
    analyzer.setSearchOptions({.seed = kSeed, .stats = &install_stats});
    analyzer.learn(d.csv.c_str(), nullptr);
    std::ofstream out(d.home + "/state", std::ios::binary);
    analyzer.save(out);
    state.counters["rules"] = static_cast<double>(analyzer.ruleBase().size());
  }
  state.counters["counts"] = static_cast<double>(install_stats.counts);
  state.counters["fisher_tests"] = static_cast<double>(install_stats.fisherTests);
  state.counters["count_s"] = install_stats.countSeconds;
  state.counters["fisher_s"] = install_stats.fisherSeconds;
}
BENCHMARK(BM_Install10000Eras)->Unit(benchmark::kSecond)->Iterations(1);

// Prints the closing ratios from the times of one run.
void PrintRatios(const TimeReporter& reporter) {
  const double install_seconds = reporter.Seconds("BM_Install10000Eras");
  const double fast = reporter.Seconds("BM_CountFast");
  const double reference = reporter.Seconds("BM_CountReference");
  const double popcount = reporter.Seconds("BM_PopcountPass");
  std::printf("\nper candidate: fast %.3f us, row-by-row %.1f us: fast is %.0f times faster (aim >= 100)\n",
              fast / kCandidates * 1e6, reference / kCandidates * 1e6, reference / fast);
  const double evaluate_fast = reporter.Seconds("BM_EvaluateFast");
  const double evaluate_reference = reporter.Seconds("BM_EvaluateReference");
  std::printf("whole evaluation per candidate: fast %.3f us, row-by-row %.1f us: %.0f times faster\n",
              evaluate_fast / kCandidates * 1e6, evaluate_reference / kCandidates * 1e6,
              evaluate_reference / evaluate_fast);
  std::printf("fast counting runs at %.2f of a plain popcount pass over the same bitsets (aim >= 0.5)\n",
              popcount / fast);
  const Fixture& d = Data();
  const double floor_bytes = static_cast<double>(kRows) * d.fast->pairCount() / 8;
  std::printf("memory: bitsets %.2f MB, with the table's interval indices %.2f MB: %.2f times rows x pairs / 8 "
              "(%d pairs)\n",
              d.fast->memoryBytes() / 1e6, (d.fast->memoryBytes() + d.table->indexBytes()) / 1e6,
              (d.fast->memoryBytes() + d.table->indexBytes()) / floor_bytes, d.fast->pairCount());
  if (install_seconds > 0) {
    std::printf("install, 10000 eras: %.2f s; counting %.0f%%, Fisher test %.0f%% (%lld counts, %lld tests)\n",
                install_seconds, 100 * install_stats.countSeconds / install_seconds,
                100 * install_stats.fisherSeconds / install_seconds, install_stats.counts,
                install_stats.fisherTests);
  }
}

}  // namespace
}  // namespace kst

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  kst::TimeReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  kst::PrintRatios(reporter);
  benchmark::Shutdown();
  return 0;
}
