// A check that raises an alert, beside the least work such a check needs,
// the two taking turns in one run, with the ratio printed at the end.
//
// The installation: one log of twelve counters from a scripted source, one
// activated instance of the analyzer plug-in on a stored state whose rules
// the values break 27 times (an alert of level 75 with 27 counter parts),
// and the alerter library with no profile.
//   check      KestraneChecker's check of that installation, no reload;
//   limit      the same query collected once, the same plug-in `check` on
//              the same values, then the alert's steps once: stamp, console
//              line, record built from ids held in memory and serialised,
//              the dispatcher called, and one frame appended to the opened
//              "alertmessages" file, which is closed again.
// Console lines go to /dev/null in both.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "KestraneAlerter/alerter_exports.h"
#include "Ruleforge/plugin_exports.h"
#include "StatSubsystem/KestraneChecker/check_cycle.h"
#include "StatSubsystem/common/alert_message.h"
#include "StatSubsystem/common/config_tree.h"
#include "StatSubsystem/common/counter_values.h"
#include "StatSubsystem/common/service_keys.h"
#include "StatSubsystem/common/service_names.h"
#include "benchmark/benchmark.h"
#include "platform/module.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/registry_testing.h"

namespace kst {
namespace {

constexpr char kRoot[] = "C:\\Program Files\\Kestrane";
constexpr char kLog[] = "Bench";
constexpr char kInstance[] = "inst";
// Values that break 27 rules of the stored state.
const std::vector<double> kValues = {10.5, 20.5, 0.5, 50.5, 0.5,  20.5,
                                     0.5,  50.5, 40.5, 50.5, 20.5, 50.5};

std::string CounterPath(size_t i) { return "\\Bench\\c" + std::to_string(i); }

struct Setup {
  TempKestraneHome home;
  std::vector<std::string> titles;  // the log's counters, as the checker names them
  std::vector<uint64_t> ids;        // their ids in the counter store
  bool ok = false;

  Setup() {
    namespace fs = std::filesystem;
    const std::string root = home.path();
    std::error_code error;
    fs::create_directory(root + "/States", error);
    fs::copy_file(KST_BENCH_STATE, root + "/States/inst.st", error);
    if (error) return;
    fs::copy_file(KST_BENCH_ALERTER, root + "/KestraneAlerter.so", error);
    if (error) return;
    ::setenv("KESTRANE_PERF_SCRIPT", (root + "/counters.txt").c_str(), 1);

    std::ofstream script(root + "/counters.txt");
    std::vector<std::string> paths;
    for (size_t i = 0; i < kValues.size(); ++i) {
      paths.push_back(CounterPath(i));
      script << paths.back() << " = " << kValues[i] << "\n";
      titles.push_back(CheckerCounterName(CounterObjectPart(paths[i]), CounterNamePart(paths[i])));
      ids.push_back(1000 + i);
    }
    script.close();
    const char* const collector = ServiceNameTable[kCollectorId];
    RegistryKey service;
    if (RegistryKey::Create(ServiceKeyPath(collector), &service) != kErrorSuccess ||
        WriteServiceMultiString(collector, "optCounters", paths) != 0) {
      return;
    }

    titles.push_back("time::Time");
    ids.push_back(999);
    for (size_t i = 0; i < titles.size(); ++i) {
      unsigned char bytes[8];
      for (int b = 0; b < 8; ++b) bytes[b] = static_cast<unsigned char>(ids[i] >> (8 * b));
      RegistryKey key;
      if (RegistryKey::Create(std::string("SOFTWARE\\Kestrane\\Internal\\Counters\\byTitle\\") +
                                  titles[i], &key) != kErrorSuccess ||
          key.SetValue("id", kRegBinary, bytes, sizeof bytes) != kErrorSuccess) {
        return;
      }
    }
    titles.pop_back();
    ids.pop_back();

    RegistryKey logs;
    if (RegistryKey::Create("SOFTWARE\\Kestrane\\Internal\\Logs", &logs) != kErrorSuccess ||
        logs.SetValue("logsTitles", kRegMultiSz, "", 1) != kErrorSuccess) {
      return;
    }
    int result = 0;
    AddLog(kLog, titles, &result);
    if (result <= 0) return;
    AnalyzerInstance instance;
    instance.title = kInstance;
    instance.pluginFileName = KST_BENCH_PLUGIN;
    instance.stateFileName = "inst.st";
    WriteAnalyzerInstance(kLog, instance, &result);
    ok = result > 0;
  }
};

std::unique_ptr<Setup> g_setup;

Setup& Installation() {
  if (g_setup == nullptr) g_setup = std::make_unique<Setup>();
  return *g_setup;
}

// Console lines of the benchmarked code go nowhere while it runs.
class QuietStdout {
 public:
  QuietStdout() {
    std::fflush(stdout);
    saved_ = ::dup(1);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    ::dup2(null, 1);
    ::close(null);
  }
  ~QuietStdout() {
    std::fflush(stdout);
    ::dup2(saved_, 1);
    ::close(saved_);
  }

 private:
  int saved_ = -1;
};

// KestraneChecker's check of the installation, reloaded once.
class CheckedInstallation {
 public:
  CheckedInstallation() {
    controls_.rootDirectory = kRoot;
    controls_.reloadRequested = &reload_;
    ok_ = cycle_.Check(controls_) == 0;
  }
  bool ok() const { return ok_; }
  bool Run() { return cycle_.Check(controls_) == 0; }

 private:
  CheckCycle cycle_;
  bool reload_ = true;
  CheckControls controls_;
  bool ok_ = false;
};

// The least work of the same check: the same plug-in and alerter, the
// query built and the ids read once.
class AlertLimit {
 public:
  explicit AlertLimit(const Setup& setup)
      : setup_(setup),
        plugin_(LoadModule(KST_BENCH_PLUGIN)),
        alerter_(LoadModule(setup.home.path() + "/KestraneAlerter.so")),
        stateFile_(NativePath(std::string(kRoot) + "\\States\\inst.st")),
        messages_(NativePath(std::string(kRoot) + "\\alertmessages")),
        buffer_(8192) {
    if (!plugin_ || !alerter_) return;
    check_ = plugin_->Bind<CheckExport>("check");
    process_ = alerter_->Bind<ProcessAlertMessageFn>("ProcessAlertMessage");
    dispatcher_ = alerter_->Bind<GetNewDispatherFn>("GetNewDispather")();
    std::vector<std::string> paths;
    for (size_t i = 0; i < kValues.size(); ++i) paths.push_back(CounterPath(i));
    sampler_.Build(paths);
  }
  ~AlertLimit() {
    if (dispatcher_ != nullptr) alerter_->Bind<DestroyDispatherFn>("DestroyDispather")(dispatcher_);
  }
  bool ok() const { return check_ != nullptr && process_ != nullptr && dispatcher_ != nullptr; }

  bool Run() {
    std::vector<double> features;
    sampler_.Collect(features);
    char message[CheckCycle::kMessageSize] = {};
    std::vector<AnomalyDetail>* details = nullptr;
    const int level = check_(stateFile_, &features, message, sizeof message, &details);
    if (level <= 0 || details == nullptr) return false;

    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%02d/%02d/%d %02d:%02d:%02d ", local.tm_mon + 1,
                  local.tm_mday, local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec);
    std::printf("%s  %s:%s   %s\n", stamp, kLog, kInstance, message);
    std::fflush(stdout);

    AlertMessage alert(static_cast<int8_t>(level), kLog, kInstance, message);
    for (size_t j = 0; j < setup_.ids.size(); ++j) alert.counterValues[setup_.ids[j]] = features[j];
    for (const AnomalyDetail& detail : *details) {
      CounterPart part;
      for (int f : detail.baseFeatures) part.baseCounterIds.push_back(setup_.ids[f]);
      for (int f : detail.resultFeatures) part.resultCounterIds.push_back(setup_.ids[f]);
      alert.counterParts.push_back(std::move(part));
    }
    int size = 0;
    if (alert.serialize(buffer_.data(), static_cast<int>(buffer_.size()), &size) != 0) return false;
    process_(dispatcher_, &alert);
    std::FILE* file = std::fopen(messages_.c_str(), "ab");
    if (file == nullptr) return false;
    const std::string frame = AlertFrame(buffer_.data(), static_cast<uint32_t>(size));
    std::fwrite(frame.data(), 1, frame.size(), file);
    std::fclose(file);
    return true;
  }

 private:
  const Setup& setup_;
  std::unique_ptr<Module> plugin_;
  std::unique_ptr<Module> alerter_;
  CheckExport* check_ = nullptr;
  ProcessAlertMessageFn* process_ = nullptr;
  AlertDispatcher* dispatcher_ = nullptr;
  CounterSampler sampler_;
  const std::string stateFile_;
  const std::string messages_;
  std::vector<char> buffer_;
};

double g_ratio = 0;

// The two take turns, each timed on its own, so that both meet the same
// load of the machine and its disk (the plug-in rewrites its debug file and
// both append a frame at every turn).
void BM_CheckWithAlertBesideItsLimit(benchmark::State& state) {
  const Setup& setup = Installation();
  if (!setup.ok) return state.SkipWithError("no installation");
  QuietStdout quiet;
  CheckedInstallation checked;
  AlertLimit limit(setup);
  if (!checked.ok() || !limit.ok()) return state.SkipWithError("no alerting check");
  using Clock = std::chrono::steady_clock;
  Clock::duration check_time{}, limit_time{};
  for (auto _ : state) {
    const Clock::time_point start = Clock::now();
    const bool checked_ok = checked.Run();
    const Clock::time_point middle = Clock::now();
    const bool limit_ok = limit.Run();
    limit_time += Clock::now() - middle;
    check_time += middle - start;
    if (!checked_ok || !limit_ok) return state.SkipWithError("a turn failed");
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["check_us"] = std::chrono::duration<double, std::micro>(check_time).count() / n;
  state.counters["limit_us"] = std::chrono::duration<double, std::micro>(limit_time).count() / n;
  g_ratio = static_cast<double>(check_time.count()) / static_cast<double>(limit_time.count());
}
BENCHMARK(BM_CheckWithAlertBesideItsLimit)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kst

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  if (kst::g_ratio > 0) std::printf("check with alert / its limit = %.2f\n", kst::g_ratio);
  kst::g_setup.reset();  // removes the private home
  ::unsetenv("KESTRANE_PERF_SCRIPT");
  benchmark::Shutdown();
  return 0;
}
