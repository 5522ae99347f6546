// kstdemo's generated history, laid out as the collector lays out its ring
// buffer, and its reading of the alertmessages file.
#include <sys/wait.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "StatSubsystem/common/alert_message.h"
#include "StatSubsystem/common/product_key.h"
#include "StatSubsystem/common/ring_buffer.h"
#include "StatSubsystem/common/service_keys.h"
#include "gtest/gtest.h"
#include "platform/registry.h"
#include "platform/registry_testing.h"
#include "tools/e2e/demo_history.h"
#include "tools/e2e/demo_model.h"

namespace kst {
namespace {

std::string ReadFile(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

class KstdemoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegistryKey key;
    ASSERT_EQ(RegistryKey::Create("System\\CurrentControlSet\\Services\\Kestrane buffer creator", &key),
              kErrorSuccess);
    const std::string root = "C:\\Program Files\\Kestrane";
    int result = 0;
    WriteProductValue("", "rootDirectory", kRegSz, root.c_str(), uint32_t(root.size() + 1), &result);
    ASSERT_EQ(result, 0);
  }

  TempKestraneHome home_;
};

TEST_F(KstdemoTest, HistoryIsARingBufferTheCollectorWouldContinue) {
  std::string error;
  EXPECT_EQ(WriteDemoHistory(2, std::time(nullptr), &error), -1);
  EXPECT_NE(error.find("not set"), std::string::npos);

  ASSERT_EQ(WriteServiceMultiString("kstCollector", "optCounters",
                                    {"\\\\localhost\\Memory\\Available MBytes", "\\System\\Threads"}),
            0);
  ASSERT_EQ(WriteServiceString("kstCollector", "optBufferName", "C:\\Program Files\\Kestrane\\cbuffer"), 0);
  ASSERT_EQ(WriteServiceDword("kstCollector", "optTimeInt", 60), 0);
  ASSERT_EQ(WriteServiceDword("kstCollector", "notFirstStartFlag", 0), 0);
  const std::time_t now = std::time(nullptr);
  ASSERT_EQ(WriteDemoHistory(2, now, &error), 0) << error;

  const std::string bytes = ReadFile(home_.path() + "/cbuffer");
  const std::string header = GroupLine({"Memory", "\\System"}) + HeaderLine({"Available MBytes", "Threads"});
  ASSERT_EQ(bytes.compare(0, header.size(), header), 0);
  EXPECT_EQ(bytes.size(), header.size() + SlotsPerMonth(60) * SlotBytes(4));
  int flag = 0, width = 0, offset = 0;
  ASSERT_EQ(ReadServiceDword("kstCollector", "notFirstStartFlag", &flag), 0);
  ASSERT_EQ(ReadServiceDword("kstCollector", "optCollsCount", &width), 0);
  ASSERT_EQ(ReadServiceDword("kstCollector", "optHeadGrpOffset", &offset), 0);
  EXPECT_EQ(flag, 1);
  EXPECT_EQ(width, 4);
  EXPECT_EQ(offset, int(header.size()));

  // The sample of each of the hours before now, where the collector keeps it.
  for (std::time_t t = now / 3600 * 3600 - 47 * 3600; t < now; t += 3600) {
    std::tm local{};
    localtime_r(&t, &local);
    const uint64_t at = SlotOffset(offset, 4, SlotIndex(local.tm_mday, local.tm_hour, local.tm_min, 60));
    const auto* slot = reinterpret_cast<const unsigned char*>(bytes.data() + at);
    ASSERT_EQ(GetDouble(slot), DateKey(local.tm_mon + 1, local.tm_mday)) << t;
    EXPECT_EQ(GetDouble(slot + 8), MinuteOfDay(local.tm_hour, 0));
    EXPECT_EQ(GetDouble(slot + 16), DemoValue("Available MBytes", DemoLoad(t)));
    EXPECT_EQ(GetDouble(slot + 24), DemoValue("Threads", DemoLoad(t)));
  }
}

TEST(DemoModelTest, CountersMoveTogetherAndBrokenValuesDisagree) {
  // Memory falls and threads rise with the load.
  EXPECT_GT(DemoValue("Available MBytes", 0.2), DemoValue("Available MBytes", 0.8));
  EXPECT_LT(DemoValue("Threads", 0.2), DemoValue("Threads", 0.8));
  EXPECT_EQ(DemoValue("Anything else", 0.5), 150);
  EXPECT_NE(BrokenLoad(0), BrokenLoad(1));
  const std::time_t t = std::time(nullptr);
  EXPECT_EQ(DemoLoad(t / 60 * 60), DemoLoad(t / 60 * 60 + 59));
  for (std::time_t h = 0; h < 48; ++h) {
    const double load = DemoLoad(t + h * 3600);
    EXPECT_GE(load, 0.0);
    EXPECT_LE(load, 1.0);
  }
}

// Runs build/bin/kstdemo alerts; its exit status and output.
std::pair<int, std::string> DecodeAlerts(const std::string& home) {
  const char* bin = std::getenv("KST_BIN_DIR");
  const std::string command = std::string(bin ? bin : "bin") + "/kstdemo alerts 2>" + home + "/err.txt";
  FILE* pipe = ::popen(command.c_str(), "r");
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
  const int status = ::pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out + ReadFile(home + "/err.txt")};
}

std::string FrameOf(int8_t level, const std::string& log) {
  AlertMessage alert(level, log, "memory balance", "8 of 12 rules");
  alert.counterValues[7] = 5880;
  char record[4096];
  int size = 0;
  EXPECT_EQ(alert.serialize(record, sizeof record, &size), AlertMessage::kOk);
  return AlertFrame(record, uint32_t(size));
}

TEST_F(KstdemoTest, WholeFramesAreDecodedAroundATornOne) {
  const std::string a = FrameOf(66, "Memory"), b = FrameOf(67, "Disk"), c = FrameOf(68, "Net");
  std::ofstream(home_.path() + "/alertmessages", std::ios::binary) << a << a;
  auto [status, out] = DecodeAlerts(home_.path());
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("66 Memory memory balance 8 of 12 rules \n    7 = 5880\n"), std::string::npos)
      << out;
  EXPECT_NE(out.find("2 alert frames in"), std::string::npos) << out;

  // A write cut short in the middle (the disk filled, then space came back):
  // the whole frames after it are still read, and the tear is placed.
  const std::string torn = a + b.substr(0, b.size() / 2) + c + a;
  std::ofstream(home_.path() + "/alertmessages", std::ios::binary | std::ios::trunc) << torn;
  std::tie(status, out) = DecodeAlerts(home_.path());
  EXPECT_EQ(status, 1);
  EXPECT_NE(out.find("a torn frame at byte " + std::to_string(a.size()) + " of " + home_.path() +
                     "/alertmessages; going on at byte " + std::to_string(a.size() + b.size() / 2) +
                     "\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find(" 68 Net "), std::string::npos) << out;
  EXPECT_EQ(out.find(" 67 Disk "), std::string::npos) << out;
  EXPECT_NE(out.find("3 alert frames in"), std::string::npos) << out;

  // A cut tail: nothing follows it.
  std::ofstream(home_.path() + "/alertmessages", std::ios::binary | std::ios::trunc)
      << a + c.substr(0, 5);
  std::tie(status, out) = DecodeAlerts(home_.path());
  EXPECT_EQ(status, 1);
  EXPECT_NE(out.find("a torn frame at byte " + std::to_string(a.size()) + " of " + home_.path() +
                     "/alertmessages; no whole frame follows\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("1 alert frames in"), std::string::npos) << out;
}

}  // namespace
}  // namespace kst
