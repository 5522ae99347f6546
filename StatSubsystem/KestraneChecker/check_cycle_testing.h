// The check cycle's test fixture: a private installation with a scripted
// counter source, logs and instances of the test plug-in, and readers of
// what a check left behind.
#ifndef KESTRANE_STATSUBSYSTEM_KESTRANECHECKER_CHECK_CYCLE_TESTING_H_
#define KESTRANE_STATSUBSYSTEM_KESTRANECHECKER_CHECK_CYCLE_TESTING_H_

#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "StatSubsystem/KestraneChecker/check_cycle.h"
#include "StatSubsystem/common/config_tree.h"
#include "gtest/gtest.h"
#include "platform/registry.h"
#include "platform/registry_testing.h"

namespace kst {

inline constexpr char kRoot[] = "C:\\Program Files\\Kestrane";
inline constexpr char kCollectorKey[] = "System\\CurrentControlSet\\Services\\Kestrane buffer creator";
inline constexpr char kProcessorPath[] = "\\\\localhost\\Processor(_Total)\\% Processor Time";
inline constexpr char kMemoryPath[] = "\\Memory\\Available Bytes";
inline constexpr char kProcessorTitle[] = "Processor(_Total)::% Processor Time";
inline constexpr char kMemoryTitle[] = "_Memory::Available Bytes";

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

inline uint32_t Le32(const std::string& bytes, size_t at) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
  return v;
}

inline void SetValue(const std::string& key_path, const std::string& name, RegType type,
              const std::string& data) {
  RegistryKey key;
  ASSERT_EQ(RegistryKey::Create(key_path, &key), kErrorSuccess);
  ASSERT_EQ(key.SetValue(name, type, data.data(), static_cast<uint32_t>(data.size())),
            kErrorSuccess);
}

inline std::string MultiString(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& item : items) out += item + '\0';
  return out + '\0';
}

// What one analyzer instance says, in the test plug-in's script form.
struct Answer {
  int level;
  std::string message;
  std::string details;
  bool throws;
};
inline Answer Said(int level, const std::string& message = "anomaly", const std::string& details = "") {
  return {level, message, details, false};
}
inline Answer Thrown() { return {0, "", "", true}; }

class CheckCycleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = temp_home_.path();
    std::filesystem::create_directory(home_ + "/States");
    ::setenv("KESTRANE_PERF_SCRIPT", (home_ + "/counters.txt").c_str(), 1);
    SetCounters({{kProcessorPath, 12.5}, {kMemoryPath, 2048}});
    SetCounterId(kProcessorTitle, 11);
    SetCounterId(kMemoryTitle, 22);
    SetCounterId("time::Time", 33);
  }
  void TearDown() override { ::unsetenv("KESTRANE_PERF_SCRIPT"); }

  // The collector's counter list and one tick of scripted values.
  void SetCounters(const std::vector<std::pair<std::string, double>>& counters) {
    std::vector<std::string> paths;
    std::ofstream script(home_ + "/counters.txt");
    for (const auto& [path, value] : counters) {
      paths.push_back(path);
      const size_t skip = path.rfind("\\\\", 0) == 0 ? path.find('\\', 2) : 0;  // no host
      script << path.substr(skip) << " = " << value << "\n";
    }
    SetValue(kCollectorKey, "optCounters", kRegMultiSz, MultiString(paths));
  }

  void SetCounterId(const std::string& title, int64_t id) {
    std::string bytes(8, '\0');
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<char>(static_cast<uint64_t>(id) >> (8 * i));
    SetValue("SOFTWARE\\Kestrane\\Internal\\Counters\\byTitle\\" + title, "id", kRegBinary, bytes);
  }

  void AddLog(const std::string& log, const std::vector<std::string>& titles) {
    RegistryKey logs;
    ASSERT_EQ(RegistryKey::Create("SOFTWARE\\Kestrane\\Internal\\Logs", &logs), kErrorSuccess);
    std::string existing;
    if (logs.QueryValue("logsTitles", nullptr, &existing) != kErrorSuccess) {
      ASSERT_EQ(logs.SetValue("logsTitles", kRegMultiSz, "", 1), kErrorSuccess);
    }
    int result = 0;
    kst::AddLog(log, titles, &result);
    ASSERT_GT(result, 0) << log;
  }

  // An activated instance of the test plug-in answering `answer`.
  void AddInstance(const std::string& log, const std::string& title, const Answer& answer,
                   bool usesTime = false, int threshold = 0,
                   const std::string& plugin = KST_CHECK_PLUGIN_DLL, int from = 0, int till = 0) {
    std::ofstream script(home_ + "/States/" + title + ".st");
    script << "level=" << answer.level << "\nmessage=" << answer.message
           << "\nthrow=" << (answer.throws ? 1 : 0) << "\ndetails=" << answer.details << "\n";
    AnalyzerInstance instance;
    instance.title = title;
    instance.pluginFileName = plugin;
    instance.stateFileName = title + ".st";
    instance.usesTime = usesTime;
    instance.warningLevelThreshold = static_cast<int8_t>(threshold);
    instance.trainingPeriod.dayTimeIntervalFrom = from;
    instance.trainingPeriod.dayTimeIntervalTill = till;
    int result = 0;
    WriteAnalyzerInstance(log, instance, &result);
    ASSERT_GT(result, 0) << title;
  }

  void InstallAlerter() {
    std::filesystem::copy_file(KST_CHECK_ALERTER, home_ + "/KestraneAlerter.so");
  }

  // One check; its console output goes to *out.
  int RunCheck(CheckCycle& cycle, bool* reload, std::string* out = nullptr,
               std::function<bool()> stop = nullptr) {
    CheckControls controls;
    controls.rootDirectory = kRoot;
    controls.reloadRequested = reload;
    controls.stopRequested = std::move(stop);
    ::testing::internal::CaptureStdout();
    const int rc = cycle.Check(controls);
    const std::string text = ::testing::internal::GetCapturedStdout();
    if (out != nullptr) *out = text;
    return rc;
  }

  // The alerts in "alertmessages", each frame's lengths checked.
  std::vector<AlertMessage> Frames() {
    const std::string bytes = ReadFile(home_ + "/alertmessages");
    std::vector<AlertMessage> alerts;
    size_t at = 0;
    while (at + 8 <= bytes.size()) {
      const uint32_t n = Le32(bytes, at);
      EXPECT_LE(at + 8 + n, bytes.size());
      if (at + 8 + n > bytes.size()) break;
      EXPECT_EQ(Le32(bytes, at + 4 + n), n);
      AlertMessage alert;
      EXPECT_EQ(alert.deserialize(bytes.data() + at + 4, static_cast<int>(n)), 0);
      alerts.push_back(alert);
      at += 8 + n;
    }
    EXPECT_EQ(at, bytes.size());
    return alerts;
  }

  std::vector<std::vector<double>> Features(const std::string& instance) {
    std::vector<std::vector<double>> calls;
    std::ifstream in(home_ + "/States/" + instance + ".st.features");
    std::string line;
    while (std::getline(in, line)) {
      std::stringstream values(line);
      std::vector<double> call;
      double v;
      while (values >> v) call.push_back(v);
      calls.push_back(call);
    }
    return calls;
  }

  std::vector<std::string> AlerterLog() {
    std::vector<std::string> lines;
    std::ifstream in(home_ + "/alerter.log");
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
  }

  static int MinuteOfDay() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local.tm_hour * 60 + local.tm_min;
  }

  TempKestraneHome temp_home_;
  std::string home_;
};

}  // namespace kst

#endif  // KESTRANE_STATSUBSYSTEM_KESTRANECHECKER_CHECK_CYCLE_TESTING_H_
