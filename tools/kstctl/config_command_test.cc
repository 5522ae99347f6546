// kstctl log, instance and store, run as an administrator would.
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "StatSubsystem/common/product_key.h"
#include "StatSubsystem/common/ring_buffer.h"
#include "StatSubsystem/common/service_keys.h"
#include "gtest/gtest.h"
#include "StatSubsystem/common/fake_exporter_testing.h"
#include "platform/registry.h"
#include "platform/registry_testing.h"
#include "tools/kstctl/kstctl_testing.h"

namespace kst {
namespace {

class ConfigCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string root = "C:\\Program Files\\Kestrane";
    int result = 0;
    WriteProductValue("", "rootDirectory", kRegSz, root.c_str(),
                      static_cast<uint32_t>(root.size() + 1), &result);
    ASSERT_EQ(result, 0);
  }

  KstctlOutcome Run(const std::vector<std::string>& words) { return Kstctl(words, home_.path()); }

  // Runs and expects the exit status; stdout.
  std::string Expect(int status, const std::vector<std::string>& words) {
    const KstctlOutcome outcome = Run(words);
    EXPECT_EQ(outcome.status, status) << words[0] << " " << words[1] << "\n" << outcome.err;
    return outcome.out;
  }

  TempKestraneHome home_;
};

TEST_F(ConfigCommandTest, LogsAndInstances) {
  // Before any set-up there is no Logs key.
  EXPECT_NE(Run({"log", "list"}).err.find("no Logs key"), std::string::npos);
  {
    RegistryKey logs;
    ASSERT_EQ(RegistryKey::Create("SOFTWARE\\Kestrane\\Internal\\Logs", &logs), kErrorSuccess);
    ASSERT_EQ(logs.SetValue("logsTitles", kRegMultiSz, "", 0), kErrorSuccess);
  }
  EXPECT_EQ(Expect(0, {"log", "add", "Memory", "Memory::Available Bytes", "Memory::Pages/sec"}),
            "1 logs\n");
  EXPECT_NE(Run({"log", "add", "Memory", "Memory::x"}).err.find("exists already"), std::string::npos);
  EXPECT_EQ(Expect(0, {"instance", "add", "Memory", "I1", "Discovery.dll", "i1.state",
                       "--uses-time", "--threshold", "40", "--from", "2026-03-03", "--till",
                       "2026-03-05", "--window", "09:00-17:30", "--param", "INT depth=3",
                       "--param", "FLOAT p=0.95", "--param", "STRING expr=a=b"}),
            "1 instances in log Memory\n");
  Expect(2, {"instance", "add", "Memory", "I2", "D.dll", "s", "--threshold", "101"});
  Expect(2, {"instance", "add", "Memory", "I2", "D.dll", "s", "--param", "BOOL b=1"});
  Expect(1, {"instance", "add", "Nowhere", "I2", "D.dll", "s"});

  EXPECT_EQ(Expect(0, {"log", "list"}),
            "log Memory\n"
            "  counter Memory::Available Bytes\n"
            "  counter Memory::Pages/sec\n"
            "  instance I1\n"
            "    plug-in:         Discovery.dll\n"
            "    state file:      i1.state\n"
            "    uses time:       yes\n"
            "    threshold:       40\n"
            "    training period: 2026-03-03 to 2026-03-05, daily 09:00:00 to 17:30:00\n"
            "    parameters:      \"INT depth=3\" \"FLOAT p=0.95000\" \"STRING expr=a=b\"\n"
            "    status:          activated\n");

  Expect(0, {"instance", "status", "Memory", "I1", "training"});
  EXPECT_EQ(Expect(0, {"instance", "status", "Memory", "I1"}), "training\n");
  Expect(2, {"instance", "status", "Memory", "I1", "Activated"});
  Expect(1, {"instance", "status", "Memory", "I9"});

  std::filesystem::create_directories(home_.path() + "/States");
  std::ofstream(home_.path() + "/States/i1.state") << "trained";
  EXPECT_EQ(Expect(0, {"instance", "remove", "Memory", "I1"}), "0 instances left in log Memory\n");
  EXPECT_FALSE(std::filesystem::exists(home_.path() + "/States/i1.state"));
  Expect(1, {"instance", "remove", "Memory", "I1"});
  EXPECT_EQ(Expect(0, {"log", "remove", "Memory"}), "0 logs left\n");
  Expect(1, {"log", "remove", "Memory"});
  EXPECT_EQ(Expect(0, {"log", "list"}), "");
}

// From the collector's ring buffer to an instance's training table.
TEST_F(ConfigCommandTest, StoreAndTrainingTable) {
  ASSERT_TRUE(InstallRealExporter(home_.path()));
  const std::string head = GroupLine({"Memory", "Memory", "\\System"}) +
                           HeaderLine({"Available Bytes", "Pages/sec", "Processes"});
  std::string bytes = head;
  for (int minute = 0; minute < 3 * 1440; ++minute) {
    const int day = minute / 1440 + 1;
    const int m = minute % 1440;
    bytes += EncodeSlot(RingBufferSlot{DateKey(3, day), static_cast<double>(m), {m * 2.0, 0.5, 7.0}});
  }
  std::ofstream(home_.path() + "/cbuffer", std::ios::binary) << bytes;
  ASSERT_EQ(WriteServiceDword("kstCollector", "optTimeInt", 1), 0);
  ASSERT_EQ(WriteServiceDword("kstCollector", "optHeadGrpOffset", static_cast<int>(head.size())), 0);
  ASSERT_EQ(WriteServiceDword("kstCollector", "optCollsCount", 5), 0);
  ASSERT_EQ(WriteServiceString("kstCollector", "optBufferName", "C:\\Program Files\\Kestrane\\cbuffer"), 0);

  // Listing the counters needs no set-up first: a new installation has no
  // Temporary folder for the exporter's output yet.
  EXPECT_EQ(Expect(0, {"store", "counters"}),
            "Memory::Available Bytes\nMemory::Pages/sec\n_System::Processes\n");
  EXPECT_TRUE(std::filesystem::is_empty(home_.path() + "/Temporary"));
  EXPECT_EQ(Expect(0, {"store", "setup"}), "counter store set up; logs:\n  Memory\n  _System\n"
                                           "the checking service will use it when it next starts or reloads\n");
  Expect(0, {"instance", "add", "Memory", "I", "Discovery.dll", "i.state", "--uses-time",
             "--from", "2026-03-02", "--till", "2026-03-02", "--window", "09:00-09:04"});
  const std::string table = home_.path() + "/table.csv";
  EXPECT_EQ(Expect(0, {"store", "training", "Memory", "I", table, "120"}),
            "5 lines written to " + table + "\n");
  std::stringstream text;
  text << std::ifstream(table).rdbuf();
  EXPECT_EQ(text.str(),
            "time;Memory;Memory\n"
            "Time;Available Bytes;Pages/sec\n"
            "540;1080;0.5\n"
            "542;1084;0.5\n"
            "544;1088;0.5\n");
  Expect(1, {"store", "training", "Memory", "missing", table});
  EXPECT_TRUE(std::filesystem::is_empty(home_.path() + "/Temporary"));
}

// A buffer that is a pipe or a device gets a clear refusal, not a wait
// without end.
TEST_F(ConfigCommandTest, StoreRefusesABufferThatIsNoRegularFile) {
  ASSERT_TRUE(InstallRealExporter(home_.path()));
  const std::string pipe = home_.path() + "/cbuffer";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  ASSERT_EQ(WriteServiceDword("kstCollector", "optTimeInt", 1), 0);
  ASSERT_EQ(WriteServiceDword("kstCollector", "optHeadGrpOffset", 24), 0);
  ASSERT_EQ(WriteServiceDword("kstCollector", "optCollsCount", 3), 0);
  const char* bin = std::getenv("KST_BIN_DIR");
  ASSERT_NE(bin, nullptr);
  struct Case {
    std::string buffer_name;
    std::string words;
    std::string err;
  };
  const Case cases[] = {
      {"C:\\Program Files\\Kestrane\\cbuffer", "store counters",
       "kstctl store: listing the buffer's counters failed: the ring buffer " + pipe +
           " is not a regular file\n"},
      {"/dev/zero", "store setup",
       "kstctl store: setting up the counter store failed: the ring buffer /dev/zero is not a "
       "regular file\n"},
      {"C:\\Program Files\\Kestrane\\cbuffer", "store training Memory I out.csv",
       "kstctl store: exporting the training period failed: the ring buffer " + pipe +
           " is not a regular file\n"},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(WriteServiceString("kstCollector", "optBufferName", c.buffer_name), 0);
    const std::string command = "timeout 20 " + ShellQuote(std::string(bin) + "/kstctl") + " " +
                                c.words + " 2>&1";
    FILE* out = ::popen(command.c_str(), "r");
    ASSERT_NE(out, nullptr);
    std::string text;
    char chunk[256];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, out)) > 0;) text.append(chunk, n);
    const int status = ::pclose(out);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1) << c.words << ": 124 means still waiting after 20 s";
    EXPECT_EQ(text, c.err);
  }
}

}  // namespace
}  // namespace kst
