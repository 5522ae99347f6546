#include "StatSubsystem/common/counter_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "StatSubsystem/common/config_tree.h"
#include "StatSubsystem/common/config_tree_keys.h"
#include "StatSubsystem/common/exporter_command.h"
#include "StatSubsystem/common/fake_exporter_testing.h"
#include "StatSubsystem/common/product_key.h"
#include "StatSubsystem/common/ring_buffer.h"
#include "StatSubsystem/common/service_keys.h"
#include "platform/registry.h"
#include "platform/registry_testing.h"
#include "platform/root_doors_testing.h"

namespace kst {
namespace {

using Titles = std::vector<std::string>;

class CounterStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { SetRootDirectory("C:\\Program Files\\Kestrane"); }

  void Table(const std::string& text) { std::ofstream(home_.path() + "/table") << text; }

  bool TemporaryFileExists() const {
    return std::filesystem::exists(home_.path() + "/Temporary/temporary");
  }

  TempKestraneHome home_;
};

TEST_F(CounterStoreTest, CommandLine) {
  SetRootDirectory("D:\\K");
  EXPECT_EQ(HeaderOnlyCommandLine(TemporaryExportPath()),
            "\"D:\\K\\KestraneExporter.exe\"  -day 1 -starttime 23:40 -of \"D:\\K\\Temporary\\temporary\"");
}

// The real exporter over a ring buffer that the collector would have written.
TEST_F(CounterStoreTest, SetUpFromTheRingBuffer) {
  ASSERT_TRUE(InstallRealExporter(home_.path()));
  const std::string head = GroupLine({"Memory", "Memory", "Processor(_Total)"}) +
                           HeaderLine({"Available Bytes", "Pages/sec", "% Processor Time"});
  std::ofstream(home_.path() + "/cbuffer", std::ios::binary) << head;
  ASSERT_EQ(WriteServiceDword("kstCollector", "optTimeInt", 1), 0);
  ASSERT_EQ(WriteServiceDword("kstCollector", "optHeadGrpOffset", static_cast<int>(head.size())), 0);
  ASSERT_EQ(WriteServiceDword("kstCollector", "optCollsCount", 5), 0);
  ASSERT_EQ(WriteServiceString("kstCollector", "optBufferName", "C:\\Program Files\\Kestrane\\cbuffer"), 0);

  // A log of the same name loses its instances; another log keeps its key.
  int result = 0;
  {
    RegistryKey logs;
    ASSERT_EQ(RegistryKey::Create(LogsKeyPath(), &logs), kErrorSuccess);
    ASSERT_EQ(logs.SetValue("logsTitles", kRegMultiSz, "", 0), kErrorSuccess);
  }
  AddLog("Memory", {"Memory::Old"}, &result);
  AddLog("Other", {"Other::x"}, &result);
  ASSERT_EQ(result, 2);

  InitializeCounterStore(&result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(ReadLogsTitles(&result), (Titles{"Memory", "Processor(_Total)"}));
  EXPECT_EQ(ReadLogCountersTitles("Memory", &result),
            (Titles{"Memory::Available Bytes", "Memory::Pages/sec"}));
  EXPECT_EQ(ReadLogCountersTitles("Processor(_Total)", &result),
            (Titles{"Processor(_Total)::% Processor Time"}));
  EXPECT_EQ(ReadLogCountersTitles("Other", &result), (Titles{"Other::x"}));
  for (const char* title : {"Memory::Available Bytes", "Memory::Pages/sec",
                            "Processor(_Total)::% Processor Time"}) {
    const int64_t id = ReadCounterByTitle(title, &result);
    ASSERT_EQ(result, 0) << title;
    EXPECT_EQ(ReadCounterTitleById(id, &result), title);
  }
  EXPECT_FALSE(TemporaryFileExists());
  EXPECT_TRUE(std::filesystem::is_directory(home_.path() + "/States"));

  EXPECT_EQ(ExportLastDay(&result), (Titles{"Memory::Available Bytes", "Memory::Pages/sec",
                                            "Processor(_Total)::% Processor Time"}));
  EXPECT_EQ(result, 3);
  EXPECT_TRUE(TemporaryFileExists());
}

TEST_F(CounterStoreTest, HeaderLineShapes) {
  InstallFakeExporter(home_.path());
  std::filesystem::create_directories(home_.path() + "/Temporary");
  int result = 0;

  // A first line "cbuffer" is passed over by the set-up only.
  Table("cbuffer\ntime;A;B;A\r\nTime;x;y;z\r\n");
  InitializeCounterStore(&result);
  EXPECT_EQ(result, 0);
  // An object that comes back is listed once and keeps collecting columns.
  EXPECT_EQ(ReadLogsTitles(&result), (Titles{"A", "B"}));
  EXPECT_EQ(ReadLogCountersTitles("A", &result), (Titles{"A::x", "A::z"}));
  ExportLastDay(&result);
  EXPECT_EQ(result, -1);

  EXPECT_EQ(FakeExporterRuns(home_.path()).front(),
            (Titles{"-day", "1", "-starttime", "23:40", "-of",
                    "C:\\Program Files\\Kestrane\\Temporary\\temporary"}));

  struct Case {
    const char* table;
    int setup;
    int listed;
  };
  const Case cases[] = {
      {"time;A;B\nTime;x;y\n", 0, 2},
      {"time;A;B\nTime;x;y;z\n", -1, -1},  // more counters than objects
      {"time;A;B\nTime;x\n", -1, -1},      // fewer
      {"time\nTime\n", 0, 0},
  };
  for (const Case& c : cases) {
    Table(c.table);
    InitializeCounterStore(&result);
    EXPECT_EQ(result, c.setup) << c.table;
    const Titles& titles = ExportLastDay(&result);
    EXPECT_EQ(result, c.listed) << c.table;
    if (c.listed < 0) {
      EXPECT_TRUE(titles.empty());
    }
  }
}

TEST_F(CounterStoreTest, NoOutputIsAFailure) {
  int result = 0;
  // No exporter at all. The folders and keys made before the run stay.
  InitializeCounterStore(&result);
  EXPECT_EQ(result, -1);
  for (const char* key : {"\\Logs", "\\Counters", "\\Counters\\byTitle", "\\Counters\\byId"}) {
    RegistryKey opened;
    EXPECT_EQ(RegistryKey::Open(std::string("SOFTWARE\\Kestrane\\Internal") + key, RegAccess::kRead, &opened),
              kErrorSuccess)
        << key;
  }
  EXPECT_TRUE(std::filesystem::is_directory(home_.path() + "/Temporary"));
  EXPECT_TRUE(std::filesystem::is_directory(home_.path() + "/States"));
  EXPECT_TRUE(ExportLastDay(&result).empty());
  EXPECT_EQ(result, -1);

  // An exporter that writes nothing, over an older run's file.
  InstallFakeExporter(home_.path());
  std::ofstream(home_.path() + "/Temporary/temporary") << "time;A\nTime;x\n";
  EXPECT_TRUE(ExportLastDay(&result).empty());
  EXPECT_EQ(result, -1);
}

// The exporter's output is read only when it is a regular file (a FIFO
// would hold the set-up) and, run as root, root's own: refused at once,
// named on the log, and removed as any output is.
TEST_F(CounterStoreTest, OutputThatIsNoRegularFileOrAnotherUsersIsRefused) {
  std::filesystem::create_directories(home_.path() + "/Temporary");
  const std::string output = home_.path() + "/Temporary/temporary";
  const std::string refusing = "refusing to read " + output + (::geteuid() == 0 ? " as root: " : ": ") + output;
  auto exporter = [&](const std::string& makes_output) {
    const std::string script = home_.path() + "/KestraneExporter";
    std::ofstream(script) << "#!/bin/sh\n" << makes_output << "\n";
    ::chmod(script.c_str(), 0755);
  };
  int result = 0;
  {
    UnwrittenFifo fifo(output);  // the rescue, should the set-up wait on the exporter's FIFO
    exporter("mkfifo \"$KESTRANE_HOME/Temporary/temporary\"");
    ::testing::internal::CaptureStderr();
    InitializeCounterStore(&result);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              refusing + " is not a regular file; only a regular file is used there\n");
    EXPECT_EQ(result, -1);
    EXPECT_FALSE(fifo.waited()) << "the set-up waited on a FIFO";
    EXPECT_FALSE(TemporaryFileExists());
  }
  if (::geteuid() != 0) return;
  Table("time;A\nTime;x\n");
  exporter("cat \"$KESTRANE_HOME/table\" > \"$KESTRANE_HOME/Temporary/temporary\"\nchown " +
           std::to_string(NobodyUid()) + " \"$KESTRANE_HOME/Temporary/temporary\"");
  ::testing::internal::CaptureStderr();
  InitializeCounterStore(&result);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            refusing + " belongs to user " + std::to_string(NobodyUid()) + ", not root; only root may own and change it\n");
  EXPECT_EQ(result, -1);
  EXPECT_FALSE(TemporaryFileExists());
}

}  // namespace
}  // namespace kst
