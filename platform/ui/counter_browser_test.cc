#include "platform/ui/counter_browser.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/perfcounters.h"
#include "platform/perfcounters_testing.h"
#include "platform/ui/testing.h"
#include "platform/ui/ui.h"

namespace kst::ui {
namespace {

class CounterBrowserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testing::UseBackend("headless"));
    testing::Reset();
    char dir[] = "/tmp/kst_browse_XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    home_ = dir;
    ::setenv("KESTRANE_HOME", dir, 1);
    const std::string script = home_ + "/script";
    std::ofstream(script) << "\\Memory\\Available Bytes = 1\n"
                             "\\Memory\\Cache Bytes = 2\n"
                             "\\Processor(0)\\% Processor Time = 3\n"
                             "\\Processor(_Total)\\% Processor Time = 4\n"
                             "\\Processor(0)\\Interrupts/sec = 5\n"
                             "\\Processor(_Total)\\Interrupts/sec = 6\n";
    ::setenv("KESTRANE_PERF_SCRIPT", script.c_str(), 1);
    ASSERT_TRUE(LocalHostName(&host_));
    settings_.buffer = storage_.data();
    settings_.buffer_length = 8;
    settings_.callback = [this](uintptr_t argument) {
      EXPECT_EQ(argument, 7u);
      if (settings_.callback_status == kPdhMoreData) {
        ++grown_;
        storage_.resize(storage_.size() + 8);
        settings_.buffer = storage_.data();
        settings_.buffer_length = static_cast<uint32_t>(storage_.size());
        return kPdhRetry;
      }
      adds_.push_back(Split(settings_.buffer));
      return kPdhSuccess;
    };
    settings_.callback_argument = 7;
  }
  void TearDown() override {
    ::unsetenv("KESTRANE_PERF_SCRIPT");
    ::unsetenv("KESTRANE_HOME");
    std::filesystem::remove_all(home_);
  }

  static std::vector<std::string> Split(const char* multi) {
    std::vector<std::string> paths;
    for (const char* p = multi; *p != '\0'; p += paths.back().size() + 1) paths.emplace_back(p);
    return paths;
  }

  // Runs the browser with the user's actions.
  void Browse(std::function<void(Dialog&)> user) {
    testing::OnNextModal([&](Dialog& d) {
      EXPECT_EQ(d.Text(), settings_.caption);
      user(d);
      EXPECT_TRUE(testing::driver().Click(*d.Child(kIdCancel)));
    });
    EXPECT_EQ(BrowseCounters(settings_, nullptr), kPdhSuccess);
  }

  static void ChooseObject(Dialog& d, const std::string& name) {
    auto* combo = d.ChildAs<ComboBox>(kBrowseObjectId);
    for (int i = 0; i < combo->count(); ++i) {
      if (combo->ItemText(i) == name) {
        ASSERT_TRUE(testing::driver().Select(*combo, i));
      }
    }
  }

  std::string home_;
  std::string host_;
  std::vector<char> storage_ = std::vector<char>(8);
  CounterBrowseSettings settings_;
  int grown_ = 0;
  std::vector<std::vector<std::string>> adds_;
};

TEST_F(CounterBrowserTest, AddsChosenCountersGrowingTheBuffer) {
  settings_.wildcard_instances = true;
  settings_.caption = "Pick";
  Browse([&](Dialog& d) {
    auto* counters = d.ChildAs<ListBox>(kBrowseCountersId);
    auto* instances = d.ChildAs<ListBox>(kBrowseInstancesId);
    // The first object is chosen and shown; it has no instances.
    EXPECT_EQ(d.ChildAs<ComboBox>(kBrowseObjectId)->Text(), "Memory");
    EXPECT_EQ(instances->count(), 0);
    ASSERT_TRUE(testing::driver().Click(*d.Child(kBrowseAddId)));

    ChooseObject(d, "Processor");
    ASSERT_EQ(instances->count(), 3);
    EXPECT_EQ(instances->ItemText(0), "*");
    EXPECT_EQ(counters->count(), 2);
    // Both counters of two instances: counter by counter.
    ASSERT_TRUE(testing::driver().Select(*counters, 1, true));
    ASSERT_TRUE(testing::driver().Select(*instances, 0, true));  // "*" off
    ASSERT_TRUE(testing::driver().Select(*instances, 1, true));
    ASSERT_TRUE(testing::driver().Select(*instances, 2, true));
    ASSERT_TRUE(testing::driver().Click(*d.Child(kBrowseAddId)));
  });
  const std::string h = "\\\\" + host_;
  ASSERT_EQ(adds_.size(), 2u);
  EXPECT_EQ(adds_[0], (std::vector<std::string>{h + "\\Memory\\Available Bytes"}));
  EXPECT_EQ(adds_[1], (std::vector<std::string>{
                          h + "\\Processor(0)\\% Processor Time", h + "\\Processor(_Total)\\% Processor Time",
                          h + "\\Processor(0)\\Interrupts/sec", h + "\\Processor(_Total)\\Interrupts/sec"}));
  EXPECT_GT(grown_, 2);
}

TEST_F(CounterBrowserTest, LocalPathsWildcardAndARefusedBuffer) {
  settings_.local_counters_only = true;
  settings_.wildcard_instances = true;
  storage_.resize(400);
  settings_.buffer = storage_.data();
  settings_.buffer_length = 400;
  Browse([&](Dialog& d) {
    ChooseObject(d, "Processor");
    ASSERT_TRUE(testing::driver().Click(*d.Child(kBrowseAddId)));
  });
  EXPECT_EQ(adds_, (std::vector<std::vector<std::string>>{{"\\Processor(*)\\% Processor Time"}}));

  // A callback that gives no larger buffer drops the add.
  adds_.clear();
  settings_.buffer_length = 4;
  settings_.callback = [this](uintptr_t) {
    ++grown_;
    if (settings_.callback_status == kPdhSuccess) adds_.push_back({});
    return kPdhSuccess;
  };
  Browse([&](Dialog& d) { ASSERT_TRUE(testing::driver().Click(*d.Child(kBrowseAddId))); });
  EXPECT_EQ(grown_, 1);
  EXPECT_TRUE(adds_.empty());
}

// On the machine itself a process is listed, and added, by its program's
// whole file name, not the kernel's 15 characters of it.
TEST_F(CounterBrowserTest, ProcessesGoByTheirProgramsWholeNames) {
  ::unsetenv("KESTRANE_PERF_SCRIPT");
  RunningProgram program(home_, "KestraneLongProgramName");
  ASSERT_TRUE(program.started()) << "the program did not start within 10 s";
  storage_.resize(4000);
  settings_.buffer = storage_.data();
  settings_.buffer_length = 4000;
  Browse([&](Dialog& d) {
    ChooseObject(d, "Process");
    auto* instances = d.ChildAs<ListBox>(kBrowseInstancesId);
    std::vector<std::string> names;
    for (int i = 0; i < instances->count(); ++i) names.push_back(instances->ItemText(i));
    const auto listed = [&](const char* name) { return std::find(names.begin(), names.end(), name) != names.end(); };
    EXPECT_TRUE(listed("KestraneLongProgramName"));
    EXPECT_FALSE(listed("KestraneLongPro"));
    for (int i = 0; i < instances->count(); ++i) {
      if (instances->ItemText(i) == "KestraneLongProgramName") {
        ASSERT_TRUE(testing::driver().Select(*instances, i));
      }
    }
    ASSERT_TRUE(testing::driver().Click(*d.Child(kBrowseAddId)));
  });
  ASSERT_EQ(adds_.size(), 1u);
  EXPECT_EQ(adds_[0], (std::vector<std::string>{"\\\\" + host_ + "\\Process(KestraneLongProgramName)\\% Processor Time"}));
}

}  // namespace
}  // namespace kst::ui
