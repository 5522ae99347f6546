// The rule search's counting, against the row-by-row reference, a plain
// column scan and a plain pass that only loads the same bitset bytes (the
// memory limit); a whole training run of 10,000 eras on a month of
// one-minute rows; install on exporter-style cells ("%.18g"), 64 and 256
// columns, against the least work of its data phase over the same file, with
// install's peak memory measured in a fresh process; and the analyzer's
// check against the same judgement made on numbers. Ratios are printed at
// the end, all from this one run.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "Ruleforge/analyzer.h"
#include "Ruleforge/csv_lines.h"
#include "Ruleforge/plugin_exports.h"
#include "Ruleforge/ruleforge_testing.h"
#include "Ruleforge/text_counts.h"
#include "bench/time_reporter.h"
#include "platform/paths.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace kst {
namespace {

constexpr int kRows = 44640;  // 31 days of one-minute samples
constexpr int kFeatures = 64;
constexpr int kWideFeatures = 256;
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

// The least work learning's data phase can do, all columns in memory at
// once: the file read once, every cell parsed once, each column sorted and
// its distinct values counted, the same clustering, every cell placed. No
// rules.
void DataPhaseLimit(const std::string& csv, int features) {
  FILE* file = std::fopen(csv.c_str(), "r");
  LineReader lines(file, kLearnLongestLine, LineReader::LongLines::kSplit);
  std::string_view line;
  lines.Next(&line);
  lines.Next(&line);
  std::vector<std::vector<double>> columns(features);
  for (auto& c : columns) c.reserve(kRows);
  while (lines.Next(&line)) {
    FieldCursor fields(line);
    std::string_view field;
    for (int f = 0; f < features && fields.Next(&field); ++f) {
      double v = 0;
      std::from_chars(field.data(), field.data() + field.size(), v);
      columns[f].push_back(v);
    }
  }
  std::fclose(file);
  const size_t rows = columns[0].size();
  std::vector<uint8_t> indices(rows * features);  // column by column
  std::vector<double> sorted, values, weights;
  for (int f = 0; f < features; ++f) {
    sorted = columns[f];
    std::sort(sorted.begin(), sorted.end());
    values.clear();
    weights.clear();
    for (size_t i = 0; i < sorted.size();) {
      size_t j = i + 1;
      while (j < sorted.size() && sorted[j] == sorted[i]) ++j;
      values.push_back(sorted[i]);
      weights.push_back(static_cast<double>(j - i) / rows);
      i = j;
    }
    IntervalScale scale(4, 0.001, 0.01, 100);
    scale.buildFromValues(values, weights);
    for (size_t r = 0; r < rows; ++r) indices[f * rows + r] = static_cast<uint8_t>(scale.indexOfValue(columns[f][r]));
  }
  benchmark::DoNotOptimize(indices.data());
}

// The same month with 256 columns (about 230 MB), written when first asked.
const std::string& WideExporterCsv() {
  static const std::string path = [] {
    std::string p = Data().home + "/exporter256.csv";
    WriteStructuredCsv(p, kRows, kWideFeatures, kSeed, CellStyle::kExporter);
    return p;
  }();
  return path;
}

// install and its limit in turns, three rounds, so that the machine's load
// meets both alike; the medians make the ratio. Argument: the columns.
struct TrainingTimes {
  double install = 0;
  double limit = 0;
};
std::map<int, TrainingTimes> training_times;

void BM_InstallVsDataPhase(benchmark::State& state) {
  const int features = static_cast<int>(state.range(0));
  const std::string& csv = features == kFeatures ? Data().exporter_csv : WideExporterCsv();
  using Clock = std::chrono::steady_clock;
  auto seconds = [](Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); };
  for (auto _ : state) {
    std::vector<double> install, limit;
    for (int round = 0; round < 3; ++round) {
      const Clock::time_point start = Clock::now();
      InstallExporterCells(csv, Data().home + "/exporter.state");
      const Clock::time_point middle = Clock::now();
      DataPhaseLimit(csv, features);
      install.push_back(seconds(start, middle));
      limit.push_back(seconds(middle, Clock::now()));
    }
    std::sort(install.begin(), install.end());
    std::sort(limit.begin(), limit.end());
    training_times[features] = {install[1], limit[1]};
  }
  state.counters["install_s"] = training_times[features].install;
  state.counters["limit_s"] = training_times[features].limit;
}
BENCHMARK(BM_InstallVsDataPhase)->Arg(kFeatures)->Arg(kWideFeatures)->Unit(benchmark::kSecond)->Iterations(1);

// A trained month, its state file, the plug-in that checks it, and one row
// of the month as current values.
struct CheckFixture {
  DiscoveryAnalyzer analyzer{0.9, 0.01, 10000, ""};
  std::vector<double> values;
  std::string message;
  std::string state_file;
  CheckExport* check = nullptr;

  CheckFixture() {
    Fixture& d = Data();
    analyzer.setSearchOptions({.seed = kSeed});
    analyzer.learn(d.csv.c_str(), nullptr);
    state_file = d.home + "/check.state";
    std::ofstream(state_file, std::ios::binary) << [&] {
      std::ostringstream out;
      analyzer.save(out);
      return out.str();
    }();
    void* plugin = ::dlopen(KST_DISCOVERY_PLUGIN, RTLD_NOW | RTLD_LOCAL);
    if (plugin != nullptr) check = reinterpret_cast<CheckExport*>(::dlsym(plugin, "check"));
    if (check == nullptr) std::fprintf(stderr, "cannot load the plug-in %s\n", KST_DISCOVERY_PLUGIN);
    // The first row that raises no alert, as most checks are.
    std::ifstream in(d.csv);
    std::string line;
    std::getline(in, line);
    std::getline(in, line);
    while (std::getline(in, line)) {
      values.clear();
      for (std::string_view cell : SplitFields(line)) values.push_back(IntervalScale::ValueOf(cell));
      AnomalyDetails.clear();
      analyzer.check(message, &values);
      if (message.empty()) break;
    }
  }
};

CheckFixture& CheckData() {
  static CheckFixture fixture;
  return fixture;
}

// The plug-in's check, as the checking service calls it.
void BM_Check(benchmark::State& state) {
  CheckFixture& c = CheckData();
  if (c.check == nullptr) {
    state.SkipWithError("no plug-in");
    return;
  }
  char message[1024];
  std::vector<AnomalyDetail>* details = nullptr;
  for (auto _ : state) benchmark::DoNotOptimize(c.check(c.state_file, &c.values, message, sizeof message, &details));
  state.counters["rules"] = static_cast<double>(c.analyzer.ruleBase().size());
}
BENCHMARK(BM_Check)->Unit(benchmark::kMicrosecond);

// The least work of a check: the same rules judged on numbers with every
// bound taken beforehand, each value's six-decimal text made and read once,
// and the debug file truncated as every check does.
struct CheckLimit {
  struct Bounds {
    double narrowLow, narrowHigh, wideLow, wideHigh;
  };
  std::vector<std::vector<Bounds>> bounds;  // per feature and interval

  explicit CheckLimit(const DiscoveryAnalyzer& a) : bounds(a.scales().size()) {
    const double odds = a.odds();
    for (size_t f = 0; f < a.scales().size(); ++f) {
      for (int j = 0; j < a.scales()[f]->count(); ++j) {
        char text[kIntervalTextSize];
        a.scales()[f]->intervalText(j, text);
        const double lo = std::strtod(text + 1, nullptr), hi = std::strtod(std::strchr(text, ',') + 1, nullptr);
        const double mid = (lo + hi) / 2;
        bounds[f].push_back({mid + (lo - mid) / (odds - 0.000001), mid + (hi - mid) / (odds - 0.000001),
                             mid + (lo - mid) * odds, mid + (hi - mid) * odds});
      }
    }
  }

  int Check(const DiscoveryAnalyzer& a, const std::vector<double>& v, const std::string& debug) const {
    std::vector<int> placed(v.size());
    for (size_t f = 0; f < a.scales().size(); ++f) {
      char text[512];
      double x = 0;
      std::from_chars(text, std::to_chars(text, text + sizeof text, v[f], std::chars_format::fixed, 6).ptr, x);
      placed[f] = a.scales()[f]->indexOfValue(x);
    }
    FILE* file = std::fopen(debug.c_str(), "w");
    int anomalous = 0;
    for (const AnalyzerRule& r : a.ruleBase()) {
      bool holds = true;
      for (const FeaturePair& p : r.premise) holds &= placed[p.feature] == p.interval;
      if (!holds) continue;
      size_t failed = 0;
      for (const FeaturePair& c : r.conclusion) {
        const double x = v[c.feature];
        const std::vector<Bounds>& b = bounds[c.feature];
        if (c.interval < static_cast<int>(b.size())) {
          failed += x < b[c.interval].narrowLow || x > b[c.interval].narrowHigh;
        } else {
          bool inside = false;
          for (const Bounds& w : b) inside |= w.wideLow < x && x < w.wideHigh;
          failed += inside;
        }
      }
      anomalous += failed == r.conclusion.size();
    }
    if (file) std::fclose(file);
    return anomalous;
  }
};

void BM_CheckLimit(benchmark::State& state) {
  CheckFixture& c = CheckData();
  CheckLimit limit(c.analyzer);
  const std::string debug = NativePath("C:\\Program Files\\Kestrane\\freq.txt");
  for (auto _ : state) benchmark::DoNotOptimize(limit.Check(c.analyzer, c.values, debug));
}
BENCHMARK(BM_CheckLimit)->Unit(benchmark::kMicrosecond);

// This process's peak resident memory, in bytes, from /proc (the rusage a
// parent gets also counts what a forked child held before its exec).
long OwnPeak() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6) * 1024L;
  }
  return -1;
}

// Peak resident memory, in bytes, of a fresh process of this program run
// with `args`; its last argument names the file it writes its peak to.
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
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return -1;
  }
  long peak = -1;
  std::ifstream(args.back()) >> peak;
  return peak;
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
  const double evaluate_fast = reporter.Seconds("BM_EvaluateFast");
  const double evaluate_reference = reporter.Seconds("BM_EvaluateReference");
  const double load = reporter.Seconds("BM_LoadPass");
  const double word = reporter.Seconds("BM_CountWordKernel");
  const double scan = reporter.Seconds("BM_CountColumnScan");
  std::printf("\n");
  // A filtered run times only some of these.
  if (fast > 0 && reference > 0 && load > 0) {
    std::printf("per candidate: fast %.3f us, row-by-row %.1f us: fast is %.0f times faster (aim >= 100)\n",
                fast / kCandidates * 1e6, reference / kCandidates * 1e6, reference / fast);
    std::printf("whole evaluation per candidate: fast %.3f us, row-by-row %.1f us: %.0f times faster\n",
                evaluate_fast / kCandidates * 1e6, evaluate_reference / kCandidates * 1e6,
                evaluate_reference / evaluate_fast);
    std::printf("counting (%s kernel) runs at %.2f of a pass that only loads the same bitset bytes (aim >= 0.5); "
                "the word kernel at %.2f; a popcount pass at %.2f\n",
                HasCountKernel(CountKernel::kVectorPopcount) ? "vector popcount" : "word", load / fast, load / word,
                load / popcount);
    std::printf("per candidate: load pass %.3f us, counting %.3f us, word kernel %.3f us, plain column scan %.1f us, "
                "row-by-row %.1f us\n",
                load / kCandidates * 1e6, fast / kCandidates * 1e6, word / kCandidates * 1e6, scan / kCandidates * 1e6,
                reference / kCandidates * 1e6);
  }
  for (const auto& [features, t] : training_times) {
    std::printf("install on %d x %d exporter-style cells: %.3f s, data-phase limit %.3f s: %.2f times it (aim <= %.1f)\n",
                kRows, features, t.install, t.limit, t.install / t.limit, features == kFeatures ? 1.5 : 2.0);
    const std::string& csv = features == kFeatures ? Data().exporter_csv : WideExporterCsv();
    const long peak = PeakOfChild({program, "--install-peak", csv, Data().home + "/peak.state", Data().home + "/peak"});
    const long idle = PeakOfChild({program, "--idle", Data().home + "/idle"});
    std::printf("install's peak memory, %d columns: %.1f MB (aim <= 64); this program at rest %.1f MB\n", features,
                peak / 1048576.0, idle / 1048576.0);
  }
  const double check = reporter.Seconds("BM_Check");
  const double check_limit = reporter.Seconds("BM_CheckLimit");
  if (check > 0 && check_limit > 0) {
    std::printf("plug-in's check, %s, %zu rules: %.2f us, limit %.2f us: %.2f times it (aim <= 2)\n",
                CheckData().message.empty() ? "no alert" : "an alert", CheckData().analyzer.ruleBase().size(),
                check * 1e6, check_limit * 1e6, check / check_limit);
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
  if (argc == 5 && std::string(argv[1]) == "--install-peak") {
    kst::InstallExporterCells(argv[2], argv[3]);
    std::ofstream(argv[4]) << kst::OwnPeak();
    return 0;
  }
  if (argc == 3 && std::string(argv[1]) == "--idle") {
    std::ofstream(argv[2]) << kst::OwnPeak();
    return 0;
  }
  const char* program = argv[0];
  benchmark::Initialize(&argc, argv);
  kst::TimeReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  kst::PrintRatios(reporter, program);
  benchmark::Shutdown();
  return 0;
}
