#include "StatSubsystem/KestraneCollector/collector.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "StatSubsystem/common/ring_buffer.h"
#include "StatSubsystem/common/service_keys.h"
#include "gtest/gtest.h"
#include "platform/registry.h"
#include "platform/registry_testing.h"
#include "platform/root_doors_testing.h"
#include "StatSubsystem/KestraneCollector/collector_testing.h"

namespace kst {
namespace {

const std::string kId = "kstCollector";

// A moment in UTC (the tests run with TZ=UTC, so local time is UTC).
time_t At(int month, int day, int hour, int minute) {
  std::tm tm{};
  tm.tm_year = 2025 - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  return ::timegm(&tm);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class CollectorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    buffer_ = home_.path() + "/cbuffer";
    const std::string script = home_.path() + "/script";
    std::ofstream(script) << "rate \\System\\Context Switches/sec\n"
                             "tick\n"
                             "\\Memory\\Available Bytes = 1000\n"
                             "\\System\\Context Switches/sec = 100\n"
                             "\\Processor(_Total)\\% Processor Time = 20\n"
                             "tick\n"
                             "\\Memory\\Available Bytes = 900\n"
                             "\\System\\Context Switches/sec = 160\n";
    ::setenv("KESTRANE_PERF_SCRIPT", script.c_str(), 1);
    RegistryKey key;
    ASSERT_EQ(RegistryKey::Create("System\\CurrentControlSet\\Services\\Kestrane buffer creator", &key),
              kErrorSuccess);
  }
  void TearDown() override { ::unsetenv("KESTRANE_PERF_SCRIPT"); }

  void Configure(int flag, int minutes, const std::vector<std::string>& counters) {
    ASSERT_EQ(WriteServiceDword(kId, "notFirstStartFlag", flag), 0);
    ASSERT_EQ(WriteServiceString(kId, "optBufferName", buffer_), 0);
    ASSERT_EQ(WriteServiceDword(kId, "optTimeInt", minutes), 0);
    ASSERT_EQ(WriteServiceMultiString(kId, "optCounters", counters), 0);
  }

  int Dword(const char* name) {
    int value = -12345;
    EXPECT_EQ(ReadServiceDword(kId, name, &value), 0) << name;
    return value;
  }

  // The slot `index` of the buffer as the exporter reads it.
  RingBufferSlot Slot(uint64_t index) {
    std::ifstream in(buffer_, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(
        SlotOffset(Dword("optHeadGrpOffset"), Dword("optCollsCount"), index)));
    RingBufferSlot slot;
    EXPECT_TRUE(ReadSlot(in, Dword("optCollsCount"), &slot)) << index;
    return slot;
  }

  TempKestraneHome home_;
  std::string buffer_;
};

TEST_F(CollectorTest, LoadParametersCodes) {
  KestraneCollector collector;
  uint32_t interval = 99;
  EXPECT_EQ(collector.LoadParameters(&interval), -1);  // nothing configured yet
  ASSERT_EQ(WriteServiceDword(kId, "notFirstStartFlag", 2), 0);
  EXPECT_EQ(collector.LoadParameters(&interval), -2);
  ASSERT_EQ(WriteServiceDword(kId, "notFirstStartFlag", 0), 0);
  EXPECT_EQ(collector.LoadParameters(&interval), -3);
  ASSERT_EQ(WriteServiceString(kId, "optBufferName", buffer_), 0);
  EXPECT_EQ(collector.LoadParameters(&interval), -4);
  for (int bad : {0, -3}) {
    ASSERT_EQ(WriteServiceDword(kId, "optTimeInt", bad), 0);
    EXPECT_EQ(collector.LoadParameters(&interval), -5) << bad;
  }
  ASSERT_EQ(WriteServiceDword(kId, "optTimeInt", 5), 0);
  EXPECT_EQ(collector.LoadParameters(&interval), 0);
  EXPECT_EQ(interval, 5u);

  // An existing buffer needs its shape too.
  ASSERT_EQ(WriteServiceDword(kId, "notFirstStartFlag", 1), 0);
  EXPECT_EQ(collector.LoadParameters(&interval), -6);
  ASSERT_EQ(WriteServiceDword(kId, "optCollsCount", 0), 0);
  EXPECT_EQ(collector.LoadParameters(&interval), -7);
  ASSERT_EQ(WriteServiceDword(kId, "optCollsCount", 5), 0);
  EXPECT_EQ(collector.LoadParameters(&interval), -8);
  for (int bad : {0, -1}) {
    ASSERT_EQ(WriteServiceDword(kId, "optHeadGrpOffset", bad), 0);
    EXPECT_EQ(collector.LoadParameters(&interval), -9) << bad;
  }
  ASSERT_EQ(WriteServiceDword(kId, "optHeadGrpOffset", 60), 0);
  interval = 0;
  EXPECT_EQ(collector.LoadParameters(&interval), 0);
  EXPECT_EQ(interval, 5u);
}

TEST_F(CollectorTest, NewBufferHeaderAndFirstSlot) {
  Configure(0, 5, {"\\\\localhost\\Memory\\Available Bytes", "\\System\\Context Switches/sec",
                   "\\Processor(_Total)\\% Processor Time"});
  KestraneCollector collector([] { return At(3, 5, 14, 30); });
  ASSERT_EQ(collector.Gather(), 0);

  const std::string lines =
      "date;time;Memory;\\System;\\Processor(_Total)\n"
      "Date;Time;Available Bytes;Context Switches/sec;% Processor Time\n";
  EXPECT_EQ(Dword("notFirstStartFlag"), 1);
  EXPECT_EQ(Dword("optCollsCount"), 5);
  EXPECT_EQ(Dword("optHeadGrpOffset"), static_cast<int>(lines.size()));
  const std::string file = ReadFile(buffer_);
  EXPECT_EQ(file.substr(0, lines.size()), lines);
  const uint32_t slot = (4 * 1440 + 870) / 5;
  EXPECT_EQ(file.size(), lines.size() + (slot + 1) * 40ull);
  EXPECT_EQ(file.substr(lines.size(), slot * 40ull), std::string(slot * 40ull, '\0'));

  // A rate counter has no value in the first tick.
  RingBufferSlot first = Slot(slot);
  EXPECT_EQ(first.date_key, 305.0);
  EXPECT_EQ(first.minute, 870.0);
  EXPECT_EQ(first.values, (std::vector<double>{1000, 0.0, 20}));

  // The next tick opens the buffer as it is and reads the next values.
  KestraneCollector* same = &collector;
  ASSERT_EQ(same->Gather(), 0);
  EXPECT_EQ(Slot(slot).values, (std::vector<double>{900, 60, 20}));
  EXPECT_EQ(ReadFile(buffer_).size(), file.size());
}

TEST_F(CollectorTest, SlotsAcrossTheMonth) {
  Configure(0, 1, {"\\Memory\\Available Bytes"});
  time_t now = At(1, 1, 0, 0);
  KestraneCollector collector([&now] { return now; });
  ASSERT_EQ(collector.Gather(), 0);
  EXPECT_EQ(Slot(0).date_key, 101.0);
  EXPECT_EQ(Slot(0).minute, 0.0);

  now = At(1, 31, 23, 59);
  ASSERT_EQ(collector.Gather(), 0);
  const RingBufferSlot last = Slot(44639);
  EXPECT_EQ(last.date_key, 131.0);
  EXPECT_EQ(last.minute, 1439.0);
  const uint64_t header = static_cast<uint64_t>(Dword("optHeadGrpOffset"));
  EXPECT_EQ(std::filesystem::file_size(buffer_), header + 44640 * 24);
  EXPECT_EQ(Slot(1).date_key, 0.0);  // never written: reads as zero
}

TEST_F(CollectorTest, SevenMinuteSlotsShareTheirSlot) {
  Configure(0, 7, {"\\Memory\\Available Bytes"});
  time_t now = At(6, 1, 0, 0);
  KestraneCollector collector([&now] { return now; });
  ASSERT_EQ(collector.Gather(), 0);
  now = At(6, 1, 0, 6);
  ASSERT_EQ(collector.Gather(), 0);  // the same slot; this tick wins
  RingBufferSlot slot = Slot(0);
  EXPECT_EQ(slot.minute, 6.0);
  EXPECT_EQ(slot.values, std::vector<double>{900});
  now = At(6, 1, 0, 7);
  ASSERT_EQ(collector.Gather(), 0);
  EXPECT_EQ(Slot(1).minute, 7.0);
}

TEST_F(CollectorTest, DamagedOrMissingBuffer) {
  Configure(0, 5, {"\\Memory\\Available Bytes"});
  KestraneCollector collector([] { return At(2, 10, 8, 0); });
  ASSERT_EQ(collector.Gather(), 0);

  // A file cut inside its header lines.
  const int header = Dword("optHeadGrpOffset");
  std::filesystem::resize_file(buffer_, static_cast<uintmax_t>(header - 24));
  const std::string cut = ReadFile(buffer_);
  EXPECT_EQ(collector.Gather(), -3);
  EXPECT_EQ(ReadFile(buffer_), cut);

  // Slots too narrow for the date and the minute.
  std::filesystem::resize_file(buffer_, static_cast<uintmax_t>(header));
  ASSERT_EQ(WriteServiceDword(kId, "optCollsCount", 1), 0);
  EXPECT_EQ(collector.Gather(), -3);
  EXPECT_EQ(std::filesystem::file_size(buffer_), static_cast<uintmax_t>(header));
  ASSERT_EQ(WriteServiceDword(kId, "optCollsCount", 3), 0);

  std::filesystem::remove(buffer_);
  EXPECT_EQ(collector.Gather(), -2);
  EXPECT_FALSE(std::filesystem::exists(buffer_));

  // A FIFO where the buffer belongs, to open or to make anew, is refused at
  // once: no tick waits for a writer, and no retry would mend it.
  {
    UnwrittenFifo fifo(buffer_);
    ASSERT_TRUE(fifo.made());
    const std::string refused = "ring buffer " + buffer_ + " is refused: " + buffer_ +
                                " is not a regular file; only a regular file is used there\n";
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(collector.Gather(), -3);
    ASSERT_EQ(WriteServiceDword(kId, "notFirstStartFlag", 0), 0);
    EXPECT_EQ(collector.Gather(), -4);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), refused) << "the same cause, told once";
    EXPECT_FALSE(fifo.waited()) << "a tick waited on the FIFO";
    ASSERT_EQ(WriteServiceDword(kId, "notFirstStartFlag", 1), 0);
  }

  ASSERT_EQ(WriteServiceDword(kId, "notFirstStartFlag", 7), 0);
  EXPECT_EQ(collector.Gather(), -1);
}

// Run as root, a buffer in a folder that every user may write is neither
// made nor written, wherever it lies; its cause is told once.
TEST_F(CollectorTest, RootUsesNoBufferAnotherUserCouldChange) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root's collector refuses such a buffer";
  char pattern[] = "/tmp/kst-open-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const std::string open_folder = pattern;
  struct Remove {
    const std::string& folder;
    ~Remove() { std::filesystem::remove_all(folder); }
  } remove{open_folder};
  ::chmod(open_folder.c_str(), 0777);
  buffer_ = open_folder + "/cbuffer";
  Configure(0, 5, {"\\Memory\\Available Bytes"});
  KestraneCollector collector([] { return At(2, 10, 8, 0); });
  const std::string refused = "ring buffer " + buffer_ + " is refused: " + open_folder +
                              " may be written by its group or by other users; only root may own and change it\n";
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(collector.Gather(), -4);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), refused);
  EXPECT_FALSE(std::filesystem::exists(buffer_));

  ::chmod(open_folder.c_str(), 0755);
  ASSERT_EQ(collector.Gather(), 0);
  const std::string made = ReadFile(buffer_);
  ::chmod(open_folder.c_str(), 0777);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(collector.Gather(), -2);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), refused);
  EXPECT_EQ(ReadFile(buffer_), made);
}

TEST_F(CollectorTest, TimeAndCounterFailures) {
  Configure(0, 5, {"\\Memory\\Available Bytes"});
  KestraneCollector no_clock([] { return static_cast<time_t>(-1); });
  EXPECT_EQ(no_clock.Gather(), -101);

  int calls = 0;
  KestraneCollector second_fails([&calls] { return ++calls == 1 ? At(1, 1, 0, 0) : static_cast<time_t>(-1); });
  EXPECT_EQ(second_fails.Gather(), -103);

  ::setenv("KESTRANE_PERF_SCRIPT", (home_.path() + "/absent").c_str(), 1);
  Configure(0, 5, {"\\Memory\\Available Bytes"});
  KestraneCollector no_counters([] { return At(1, 1, 0, 0); });
  EXPECT_EQ(no_counters.Gather(), -7);  // while making the buffer
  KestraneCollector later([] { return At(1, 1, 0, 5); });
  EXPECT_EQ(later.Gather(), -7);  // with the buffer made

  ASSERT_EQ(WriteServiceDword(kId, "notFirstStartFlag", 0), 0);
  RegistryKey key;
  ASSERT_EQ(RegistryKey::Open("System\\CurrentControlSet\\Services\\Kestrane buffer creator",
                              RegAccess::kReadWrite, &key), kErrorSuccess);
  ASSERT_EQ(key.DeleteValue("optCounters"), kErrorSuccess);
  EXPECT_EQ(no_counters.Gather(), -5);

  ASSERT_EQ(WriteServiceString(kId, "optBufferName", home_.path() + "/no/such/folder/cbuffer"), 0);
  EXPECT_EQ(no_counters.Gather(), -4);
}

TEST_F(CollectorTest, ValuesStayInStepWithTheSlotWidth) {
  Configure(0, 5, {"\\Memory\\Available Bytes", "\\Memory\\No Such Counter"});
  time_t now = At(4, 2, 10, 0);
  {
    KestraneCollector collector([&now] { return now; });
    ASSERT_EQ(collector.Gather(), 0);
    // A bad path reads 0.0 and leaves the others alone.
    EXPECT_EQ(Slot(SlotIndex(2, 10, 0, 5)).values, (std::vector<double>{1000, 0.0}));
  }
  // The list changes without a new buffer; a new process samples the new
  // list, but every slot keeps the buffer's width.
  ASSERT_EQ(WriteServiceMultiString(kId, "optCounters", {"\\Memory\\Available Bytes"}), 0);
  now = At(4, 2, 10, 5);
  KestraneCollector shorter([&now] { return now; });
  ASSERT_EQ(shorter.Gather(), 0);
  EXPECT_EQ(Slot(SlotIndex(2, 10, 5, 5)).values, (std::vector<double>{1000, 0.0}));

  ASSERT_EQ(WriteServiceMultiString(kId, "optCounters",
                                    {"\\Processor(_Total)\\% Processor Time", "\\Memory\\Available Bytes",
                                     "\\Memory\\Available Bytes"}),
            0);
  now = At(4, 2, 10, 10);
  KestraneCollector longer([&now] { return now; });
  ASSERT_EQ(longer.Gather(), 0);
  EXPECT_EQ(Slot(SlotIndex(2, 10, 10, 5)).values, (std::vector<double>{20, 1000}));
  const uint64_t header = static_cast<uint64_t>(Dword("optHeadGrpOffset"));
  EXPECT_EQ(std::filesystem::file_size(buffer_), header + (SlotIndex(2, 10, 10, 5) + 1) * 32ull);

  // A new buffer takes the new list in its header, its width and its query.
  ASSERT_EQ(WriteServiceDword(kId, "notFirstStartFlag", 0), 0);
  now = At(4, 2, 10, 15);
  ASSERT_EQ(longer.Gather(), 0);
  EXPECT_EQ(Dword("optCollsCount"), 5);
  EXPECT_EQ(Slot(SlotIndex(2, 10, 15, 5)).values, (std::vector<double>{20, 1000, 1000}));
}

// A slot write cut short (a crash, a full disk) leaves bytes that end inside
// a slot: only they go, every whole slot stays, and collection goes on.
TEST_F(CollectorTest, TornLastSlotIsCutBackToTheLastWholeSlot) {
  Configure(0, 5, {"\\Memory\\Available Bytes"});
  time_t now = At(2, 10, 8, 0);
  KestraneCollector collector([&now] { return now; });
  ASSERT_EQ(collector.Gather(), 0);
  now = At(2, 10, 8, 5);
  ASSERT_EQ(collector.Gather(), 0);
  const std::string whole = ReadFile(buffer_);
  const uint64_t header = static_cast<uint64_t>(Dword("optHeadGrpOffset"));
  ASSERT_EQ(whole.size(), header + (SlotIndex(10, 8, 5, 5) + 1) * 24);

  for (size_t torn : {1, 13, 23}) {
    std::ofstream(buffer_, std::ios::app | std::ios::binary) << std::string(torn, '\x7f');
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(collector.Gather(), 0) << torn;  // the slot of 08:05 again
    const std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(log, "ring buffer " + buffer_ + " ended in a torn slot: cut " + std::to_string(torn) +
                       " bytes, every whole slot kept\n");
    EXPECT_EQ(ReadFile(buffer_), whole) << torn;
  }
  // Nothing torn: nothing said.
  ::testing::internal::CaptureStderr();
  ASSERT_EQ(collector.Gather(), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");

  // A registry that disagrees with the file's own header lines makes whole
  // slots look torn (16 bytes of the last one, with 4 doubles named for 3):
  // nothing is cut, the tick fails.
  struct Case { int width; int header; } cases[] = {
      {4, static_cast<int>(header)}, {3, static_cast<int>(header) + 8}};
  for (const Case& c : cases) {
    ASSERT_EQ(WriteServiceDword(kId, "optCollsCount", c.width), 0);
    ASSERT_EQ(WriteServiceDword(kId, "optHeadGrpOffset", c.header), 0);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(collector.Gather(), -3) << c.width << " " << c.header;
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "ring buffer " + buffer_ +
                  " does not end on a slot boundary, and its header lines do not describe slots of " +
                  std::to_string(c.width) + " doubles (optCollsCount) from byte " +
                  std::to_string(c.header) + " (optHeadGrpOffset) on: left unchanged\n");
    EXPECT_EQ(ReadFile(buffer_), whole) << c.width << " " << c.header;
  }
}

// A damaged optCollsCount must not make the tick ask for a slot of
// gigabytes: a width that header lines of optHeadGrpOffset bytes cannot
// name is a bad option.
TEST_F(CollectorTest, WidthNoHeaderCanNameIsABadOption) {
  Configure(1, 5, {"\\Memory\\Available Bytes"});
  std::ofstream(buffer_, std::ios::binary) << std::string(100, ';');
  // "date;time\n" and "Date;Time\n" take 20 bytes, each counter one ";" in
  // each line more: 100 bytes name at most 40 counters, width 42.
  ASSERT_EQ(WriteServiceDword(kId, "optHeadGrpOffset", 100), 0);
  struct Case { int width; int load; } cases[] = {
      {0x7fffffff, -7}, {43, -7}, {42, 0}, {2, 0}, {0, -7}};
  for (const Case& c : cases) {
    ASSERT_EQ(WriteServiceDword(kId, "optCollsCount", c.width), 0);
    KestraneCollector collector([] { return At(1, 1, 0, 0); });
    uint32_t interval = 0;
    EXPECT_EQ(collector.LoadParameters(&interval), c.load) << c.width;
    EXPECT_EQ(collector.Gather(), c.load == 0 ? 0 : -1) << c.width;
  }
  EXPECT_EQ(MinimumHeaderSize(2), 20u);
  EXPECT_EQ(MinimumHeaderSize(1), 20u);
  EXPECT_EQ(MinimumHeaderSize(5), 26u);
}

// The moment the registry says a new buffer exists, before its first slot
// (where a crash once left an empty file that every later tick refused):
// the header lines must already be in the file.
std::string g_buffer_path;
std::string g_file_at_commit;
int g_flag_at_commit = -1;

TEST_F(CollectorTest, NewBufferHeaderIsInTheFileBeforeTheRegistryNamesIt) {
  Configure(0, 5, {"\\Memory\\Available Bytes", "\\System\\Context Switches/sec"});
  g_buffer_path = buffer_;
  SetAfterNewBufferForTesting([] {
    g_file_at_commit = ReadFile(g_buffer_path);
    ReadServiceDword(kId, "notFirstStartFlag", &g_flag_at_commit);
  });
  KestraneCollector collector([] { return At(3, 1, 0, 0); });
  const int result = collector.Gather();
  SetAfterNewBufferForTesting(nullptr);
  ASSERT_EQ(result, 0);
  const std::string lines = "date;time;\\Memory;\\System\nDate;Time;Available Bytes;Context Switches/sec\n";
  EXPECT_EQ(g_flag_at_commit, 1);
  EXPECT_EQ(g_file_at_commit, lines);
  EXPECT_EQ(Dword("optHeadGrpOffset"), static_cast<int>(lines.size()));
  EXPECT_EQ(Dword("optCollsCount"), 4);

  // A buffer that holds its header lines and no slot yet goes on.
  std::filesystem::resize_file(buffer_, lines.size());
  KestraneCollector next([] { return At(3, 1, 0, 5); });
  ASSERT_EQ(next.Gather(), 0);
  EXPECT_EQ(Slot(1).date_key, 301.0);

  // A registry that cannot record the new buffer leaves it unnamed.
  ASSERT_EQ(WriteServiceDword(kId, "notFirstStartFlag", 0), 0);
  SetRegistryReadOnlyForTesting(true);
  const int unrecorded = next.Gather();
  SetRegistryReadOnlyForTesting(false);
  EXPECT_EQ(unrecorded, -8);
  EXPECT_EQ(Dword("notFirstStartFlag"), 0);
}

}  // namespace
}  // namespace kst
