// Helpers the alerter's tests share: a private installation whose root
// directory is the installation folder, alert messages, files as text.
#ifndef KESTRANE_ALERTER_ALERTER_TESTING_H_
#define KESTRANE_ALERTER_ALERTER_TESTING_H_

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "KestraneAlerter/test_seams.h"
#include "KestraneAlerter/text_file.h"
#include "StatSubsystem/common/alert_message.h"
#include "StatSubsystem/common/product_key.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/registry_testing.h"

namespace kst {

// A fresh KESTRANE_HOME per test, with rootDirectory set to the
// installation folder and its Profiles folder made.
class AlerterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    temp_home_ = std::make_unique<TempKestraneHome>();
    home_ = temp_home_->path();
    ASSERT_FALSE(home_.empty());
    SetRootDirectory(std::string(kWindowsInstallDir));
    std::filesystem::create_directory(home_ + "/Profiles");
  }
  void TearDown() override { temp_home_.reset(); }

  static void SetRootDirectory(const std::string& root) {
    int result;
    WriteProductValue("", "rootDirectory", kRegSz, root.c_str(), static_cast<uint32_t>(root.size() + 1), &result);
    ASSERT_EQ(result, 0);
  }

  // A native path under the home folder.
  std::string HomePath(const std::string& relative) const { return home_ + "/" + relative; }

  static std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  static void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }

  std::unique_ptr<TempKestraneHome> temp_home_;
  std::string home_;
};

// Gives a counter identifier its title in the configuration tree.
inline void SetCounterTitle(int64_t id, const std::string& title) {
  RegistryKey key;
  ASSERT_EQ(RegistryKey::Create(CounterByIdKeyPath(id), &key), kErrorSuccess);
  ASSERT_EQ(key.SetValue("title", kRegSz, title.c_str(), static_cast<uint32_t>(title.size() + 1)), kErrorSuccess);
}

inline AlertMessage Message(int8_t level, const std::string& log, const std::string& analyzer,
                            const std::string& description, int32_t time = 0) {
  AlertMessage m;
  m.time = time;
  m.warningLevel = level;
  m.logTitle = log;
  m.analyzerTitle = analyzer;
  m.description = description;
  m.host = "localhost";
  return m;
}

// Collects the alerter's log lines while it lives (one at a time).
class CapturedLog {
 public:
  CapturedLog() {
    Clear();
    SetAlerterLogForTesting(&Add);
  }
  ~CapturedLog() { SetAlerterLogForTesting(nullptr); }
  static std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> hold(Mutex());
    return Store();
  }
  static void Clear() {
    std::lock_guard<std::mutex> hold(Mutex());
    Store().clear();
  }

 private:
  static void Add(const std::string& line) {
    std::lock_guard<std::mutex> hold(Mutex());
    Store().push_back(line);
  }
  static std::mutex& Mutex() {
    static std::mutex mutex;
    return mutex;
  }
  static std::vector<std::string>& Store() {
    static std::vector<std::string> lines;
    return lines;
  }
};

// Stands in for the alerter's clock while it lives (one at a time); any
// thread may read it.
class FakeAlerterClock {
 public:
  explicit FakeAlerterClock(int32_t now) {
    Set(now);
    SetAlerterClockForTesting(&Read);
  }
  ~FakeAlerterClock() { SetAlerterClockForTesting(nullptr); }
  static void Set(int32_t now) { Now() = now; }

 private:
  static int32_t Read() { return Now(); }
  static std::atomic<int32_t>& Now() {
    static std::atomic<int32_t> now{0};
    return now;
  }
};

// What a record writer writes, through a temporary file.
template <typename Writer>
std::string WrittenText(Writer write) {
  std::FILE* file = std::tmpfile();
  if (file == nullptr) return "tmpfile failed";
  write(file);
  std::fflush(file);
  std::rewind(file);
  std::string text;
  int c;
  while ((c = std::fgetc(file)) != EOF) text.push_back(static_cast<char>(c));
  std::fclose(file);
  return text;
}

}  // namespace kst

#endif  // KESTRANE_ALERTER_ALERTER_TESTING_H_
