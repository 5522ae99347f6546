#include "StatSubsystem/common/counter_values.h"

#include <cstdlib>
#include <fstream>

#include "gtest/gtest.h"
#include "platform/registry.h"
#include "platform/registry_testing.h"

namespace kst {
namespace {

constexpr const char* kCollectorKey = "System\\CurrentControlSet\\Services\\Kestrane buffer creator";

class CounterValuesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string script = home_.path() + "/script";
    std::ofstream(script) << "rate \\System\\Context Switches/sec\n"
                             "tick\n"
                             "\\Memory\\Available Bytes = 1000\n"
                             "\\Processor(_Total)\\% Processor Time = 20\n"
                             "\\System\\Context Switches/sec = 100\n"
                             "tick\n"
                             "\\Memory\\Available Bytes = 900\n"
                             "\\System\\Context Switches/sec = 150\n";
    ::setenv("KESTRANE_PERF_SCRIPT", script.c_str(), 1);
  }
  void TearDown() override { ::unsetenv("KESTRANE_PERF_SCRIPT"); }

  void SetCounters(const std::vector<std::string>& paths) {
    std::string block;
    for (const std::string& path : paths) block += path + '\0';
    block += '\0';
    RegistryKey key;
    ASSERT_EQ(RegistryKey::Create(kCollectorKey, &key), kErrorSuccess);
    ASSERT_EQ(key.SetValue("optCounters", kRegMultiSz, block.data(), static_cast<uint32_t>(block.size())),
              kErrorSuccess);
  }

  TempKestraneHome home_;
};

TEST(CounterPartsTest, SplitsPaths) {
  struct Case { const char* path; const char* object; const char* counter; } cases[] = {
      {"\\\\PC1\\Processor(_Total)\\% Processor Time", "Processor(_Total)", "% Processor Time"},
      {"\\Memory\\Available Bytes", "\\Memory", "Available Bytes"},
      {"Memory\\Available Bytes", "Memory", "Available Bytes"},
      {"\\\\PC1\\Thread(app/3)\\Context Switches/sec", "Thread(app/3)", "Context Switches/sec"},
      {"\\\\PC1\\Memory", "\\\\PC1", "Memory"},
      {"no backslash", "", "no backslash"},
      {"", "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CounterObjectPart(c.path), c.object) << c.path;
    EXPECT_EQ(CounterNamePart(c.path), c.counter) << c.path;
  }
}

TEST_F(CounterValuesTest, NameListsAreKeptUntilReread) {
  SetCounters({"\\\\PC1\\Processor(_Total)\\% Processor Time", "\\Memory\\Available Bytes"});
  std::vector<std::string> objects = {"stale"}, counters;
  ASSERT_EQ(ReadObjectNames(objects, true), 0);
  ASSERT_EQ(ReadCounterNames(counters, true), 0);
  EXPECT_EQ(objects, (std::vector<std::string>{"Processor(_Total)", "\\Memory"}));
  EXPECT_EQ(counters, (std::vector<std::string>{"% Processor Time", "Available Bytes"}));

  SetCounters({"\\System\\Threads"});
  ASSERT_EQ(ReadObjectNames(objects, false), 0);
  EXPECT_EQ(objects.size(), 2u);  // the kept list
  ASSERT_EQ(ReadCounterNames(counters, true), 0);
  EXPECT_EQ(counters, std::vector<std::string>{"Threads"});

  SetCounters({});
  ASSERT_EQ(ReadObjectNames(objects, true), 0);
  EXPECT_TRUE(objects.empty());

  // A failed re-read leaves an empty list that later calls answer with 0.
  RegistryKey key;
  ASSERT_EQ(RegistryKey::Open(kCollectorKey, RegAccess::kReadWrite, &key), kErrorSuccess);
  ASSERT_EQ(key.DeleteValue("optCounters"), kErrorSuccess);
  counters = {"x"};
  EXPECT_EQ(ReadCounterNames(counters, true), -1);
  EXPECT_TRUE(counters.empty());
  SetCounters({"\\System\\Threads"});
  EXPECT_EQ(ReadCounterNames(counters, false), 0);
  EXPECT_TRUE(counters.empty());
}

TEST_F(CounterValuesTest, CurrentValues) {
  SetCounters({"\\Memory\\Available Bytes", "\\System\\Context Switches/sec", "\\Memory\\No Such",
               "\\\\elsewhere\\Memory\\Available Bytes", "no path", "\\Processor(_Total)\\% Processor Time"});
  std::vector<double> values = {-1.0};  // appended to, not replaced
  ASSERT_EQ(ReadCurrentCounterValues(values, true), 0);
  EXPECT_EQ(values, (std::vector<double>{-1.0, 1000, 0.0, 0.0, 0.0, 0.0, 20}));

  values.clear();
  ASSERT_EQ(ReadCurrentCounterValues(values, false), 0);
  EXPECT_EQ(values, (std::vector<double>{900, 50, 0.0, 0.0, 0.0, 20}));

  // The query is kept until a rebuild; a rebuild starts from the first tick.
  SetCounters({"\\Memory\\Available Bytes"});
  values.clear();
  ASSERT_EQ(ReadCurrentCounterValues(values, false), 0);
  EXPECT_EQ(values.size(), 6u);
  values.clear();
  ASSERT_EQ(ReadCurrentCounterValues(values, true), 0);
  EXPECT_EQ(values, std::vector<double>{1000});

  SetCounters({});
  values.clear();
  ASSERT_EQ(ReadCurrentCounterValues(values, true), 0);
  EXPECT_TRUE(values.empty());
}

TEST_F(CounterValuesTest, FailuresOfTheQuery) {
  SetCounters({"\\Memory\\Available Bytes"});
  ::setenv("KESTRANE_PERF_SCRIPT", (home_.path() + "/absent").c_str(), 1);
  std::vector<double> values = {7.0};
  EXPECT_EQ(ReadCurrentCounterValues(values, true), -4);
  // No query now: a call without rebuild cannot collect and leaves out alone.
  EXPECT_EQ(ReadCurrentCounterValues(values, false), -6);
  EXPECT_EQ(values, std::vector<double>{7.0});

  RegistryKey key;
  ASSERT_EQ(RegistryKey::Open(kCollectorKey, RegAccess::kReadWrite, &key), kErrorSuccess);
  ASSERT_EQ(key.DeleteValue("optCounters"), kErrorSuccess);
  EXPECT_EQ(ReadCurrentCounterValues(values, true), -3);

  CounterSampler sampler;
  EXPECT_EQ(sampler.Drop(), 0);
  EXPECT_EQ(sampler.Collect(values), -6);
}

}  // namespace
}  // namespace kst
