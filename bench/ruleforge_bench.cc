// The rule search's counting, against the row-by-row reference, a plain
// column scan and a plain pass that only loads the same bitset bytes (the
// memory limit); a whole training run of 10,000 eras on a month of
// one-minute rows; and install on exporter-style cells ("%.18g") against a
// parse-once pass over the same file, with install's peak memory measured in
// a fresh process. Ratios are printed at the end, all from this one run.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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
#include "Ruleforge/text_counts.h"
#include "bench/time_reporter.h"
#include "Ruleforge/ruleforge_testing.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace kst {
namespace {

constexpr int kRows = 44640;  // 31 days of one-minute samples
constexpr int kFeatures = 64;
constexpr uint32_t kSeed = 20261208;
constexpr int kCandidates = 1000;

struct Fixture {
  std::string home;
  std::string csv;
  std::string exporter_csv;  // the same month as the exporter writes cells
  std::vector<std::vector<uint8_t>> columns;  // the table column by column
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
    exporter_csv = home + "/exporter.csv";
    WriteStructuredCsv(exporter_csv, kRows, kFeatures, kSeed, CellStyle::kExporter);
    // A threshold above 1 accepts nothing: learning builds the scales and
    // runs through the enumeration only.
    scales_owner = std::make_unique<DiscoveryAnalyzer>(2.0, 0.01, 0, "");
    scales_owner->setSearchOptions({.seed = kSeed});
    scales_owner->learn(csv.c_str(), nullptr);
    table = std::make_unique<StatisticsTable>(csv.c_str(), &scales_owner->scales());
    table->load();
    fast = std::make_unique<PairBitsets>(*table);
    reference = std::make_unique<RowByRowCounter>(*table);
    columns.assign(kFeatures, std::vector<uint8_t>(table->rowCount()));
    for (int r = 0; r < table->rowCount(); ++r) {
      for (int f = 0; f < kFeatures; ++f) columns[f][r] = table->row(r)[f];
    }

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

// The word-by-word kernel, whatever the processor has beside it.
void BM_CountWordKernel(benchmark::State& state) {
  Fixture& d = Data();
  for (auto _ : state) {
    for (const Rule& r : d.candidates) benchmark::DoNotOptimize(d.fast->Count(r, CountKernel::kWord));
  }
  state.SetItemsProcessed(state.iterations() * d.candidates.size());
}
BENCHMARK(BM_CountWordKernel)->Unit(benchmark::kMicrosecond);

// The interval indices column by column, each row tested as the rule says:
// what counting comes to without bitsets.
void BM_CountColumnScan(benchmark::State& state) {
  Fixture& d = Data();
  const int rows = d.table->rowCount();
  for (auto _ : state) {
    for (const Rule& r : d.candidates) {
      int n_p = 0, n_pc = 0, n_c = 0;
      for (int row = 0; row < rows; ++row) {
        bool p = true, c = false;
        for (const FeaturePair& q : r.premise) p &= d.columns[q.feature][row] == q.interval;
        for (const FeaturePair& q : r.conclusion) c |= d.columns[q.feature][row] == q.interval;
        n_p += p;
        n_pc += p & c;
        n_c += c;
      }
      benchmark::DoNotOptimize(n_p + n_pc + n_c);
    }
  }
  state.SetItemsProcessed(state.iterations() * d.candidates.size());
}
BENCHMARK(BM_CountColumnScan)->Unit(benchmark::kMicrosecond);

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

// Popcount alone over every bitset each candidate reads, word by word, no
// AND, no OR.
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

// Only loads: every word folded in with XOR, as wide as the processor goes.
#if defined(__x86_64__)
__attribute__((target("avx512f"))) uint64_t LoadPassWide(const uint64_t* bits, size_t words) {
  __m512i a = _mm512_setzero_si512(), b = _mm512_setzero_si512();
  size_t i = 0;
  for (; i + 16 <= words; i += 16) {
    a = _mm512_xor_si512(a, _mm512_loadu_si512(bits + i));
    b = _mm512_xor_si512(b, _mm512_loadu_si512(bits + i + 8));
  }
  alignas(64) uint64_t lanes[8];
  _mm512_store_si512(lanes, _mm512_xor_si512(a, b));
  uint64_t x = 0;
  for (uint64_t v : lanes) x ^= v;
  for (; i < words; ++i) x ^= bits[i];
  return x;
}
#endif
uint64_t LoadPassPlain(const uint64_t* bits, size_t words) {
  uint64_t x = 0;
  for (size_t i = 0; i < words; ++i) x ^= bits[i];
  return x;
}

// The memory limit for counting: a pass that loads every bitset byte each
// candidate reads and does nothing else.
void BM_LoadPass(benchmark::State& state) {
  Fixture& d = Data();
  const size_t words = d.fast->wordCount();
  auto pass = LoadPassPlain;
#if defined(__x86_64__)
  if (__builtin_cpu_supports("avx512f")) pass = LoadPassWide;
#endif
  for (auto _ : state) {
    for (const Rule& r : d.candidates) {
      uint64_t x = 0;
      for (const auto* pairs : {&r.premise, &r.conclusion}) {
        for (const FeaturePair& p : *pairs) x ^= pass(d.fast->bits(p), words);
      }
      benchmark::DoNotOptimize(x);
    }
  }
  state.SetItemsProcessed(state.iterations() * d.candidates.size());
  state.SetBytesProcessed(state.iterations() * d.candidate_bytes);
}
BENCHMARK(BM_LoadPass)->Unit(benchmark::kMicrosecond);

// install on the exporter-style month: learning with 10,000 eras, then the
// state file.
void InstallExporterCells(const std::string& csv, const std::string& state_file) {
  DiscoveryAnalyzer analyzer(0.9, 0.01, 10000, "");
  analyzer.setSearchOptions({.seed = kSeed});
  analyzer.learn(csv.c_str(), nullptr);
  std::ofstream out(state_file, std::ios::binary);
  analyzer.save(out);
}

void BM_InstallExporterCells(benchmark::State& state) {
  Fixture& d = Data();
  for (auto _ : state) InstallExporterCells(d.exporter_csv, d.home + "/exporter.state");
}
BENCHMARK(BM_InstallExporterCells)->Unit(benchmark::kMillisecond)->Iterations(1);

// The data phase done once, all columns in memory at once: the file read
// once, each column's distinct texts counted (as learning counts them, but
// in one pass whatever memory it takes), sorted and converted once, the
// same k-means. No table, no rules.
void BM_ParseOnce(benchmark::State& state) {
  Fixture& d = Data();
  for (auto _ : state) {
    FILE* file = std::fopen(d.exporter_csv.c_str(), "r");
    std::vector<TextCounts> counts(kFeatures);
    int last = kFeatures;
    const int rows = CountColumnTexts(file, 0, 0, &last, SIZE_MAX, counts);
    std::fclose(file);
    for (TextCounts& c : counts) {
      IntervalScale scale(4, 0.001, 0.01, 100);
      scale.buildFrom(c.ByText(rows));
      benchmark::DoNotOptimize(scale.count());
    }
  }
}
BENCHMARK(BM_ParseOnce)->Unit(benchmark::kMillisecond)->Iterations(1);

// Peak resident memory, in bytes, of a fresh process of this program run
// with `args`.
long PeakOfChild(const std::vector<std::string>& args) {
  pid_t child = ::fork();
  if (child == 0) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv("/proc/self/exe", argv.data());
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (child < 0 || ::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    return -1;
  }
  return usage.ru_maxrss * 1024L;
}

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
void PrintRatios(const TimeReporter& reporter, const char* program) {
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
  const double load = reporter.Seconds("BM_LoadPass");
  const double word = reporter.Seconds("BM_CountWordKernel");
  const double scan = reporter.Seconds("BM_CountColumnScan");
  std::printf("counting (%s kernel) runs at %.2f of a pass that only loads the same bitset bytes (aim >= 0.5); "
              "the word kernel at %.2f; a popcount pass at %.2f\n",
              HasCountKernel(CountKernel::kVectorPopcount) ? "vector popcount" : "word", load / fast, load / word,
              load / popcount);
  std::printf("per candidate: load pass %.3f us, counting %.3f us, word kernel %.3f us, plain column scan %.1f us, "
              "row-by-row %.1f us\n",
              load / kCandidates * 1e6, fast / kCandidates * 1e6, word / kCandidates * 1e6, scan / kCandidates * 1e6,
              reference / kCandidates * 1e6);
  const double install_exporter = reporter.Seconds("BM_InstallExporterCells");
  const double parse_once = reporter.Seconds("BM_ParseOnce");
  if (install_exporter > 0 && parse_once > 0) {
    std::printf("install on %d x %d exporter-style cells: %.3f s, parse-once pass %.3f s: %.2f times it (aim <= 1.5)\n",
                kRows, kFeatures, install_exporter, parse_once, install_exporter / parse_once);
    const long peak = PeakOfChild({program, "--install-peak", Data().exporter_csv, Data().home + "/peak.state"});
    const long idle = PeakOfChild({program, "--idle"});
    std::printf("install's peak memory: %.1f MB (aim <= 64, never above 100); this program at rest %.1f MB\n",
                peak / 1048576.0, idle / 1048576.0);
  }
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
  // The fresh processes whose peak memory the ratios report.
  if (argc == 4 && std::string(argv[1]) == "--install-peak") {
    kst::InstallExporterCells(argv[2], argv[3]);
    return 0;
  }
  if (argc == 2 && std::string(argv[1]) == "--idle") return 0;
  const char* program = argv[0];
  benchmark::Initialize(&argc, argv);
  kst::TimeReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  kst::PrintRatios(reporter, program);
  benchmark::Shutdown();
  return 0;
}
