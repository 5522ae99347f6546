#include "StatSubsystem/KestraneExporter/buffer_exporter.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <bit>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <thread>
#include <vector>

#include "StatSubsystem/KestraneExporter/buffer_exporter_testing.h"
#include "StatSubsystem/KestraneExporter/exporter_run.h"
#include "StatSubsystem/common/ring_buffer.h"
#include "StatSubsystem/common/service_keys.h"
#include "platform/registry.h"
#include "platform/registry_testing.h"

namespace kst {
namespace {

TEST_F(BufferExporterTest, HeaderLinesAndValueFormat) {
  MakeBuffer(60, {"\\Memory", "Processor(_Total)"}, {"Available Bytes", "% Processor Time"});
  Sample(3, 5, 60, {0.0, 12.5});
  Sample(3, 5, 120, {0.1, -3e300});
  const std::string text = Run({"-day", "5", "-month", "3"}, Date(3, 9));
  EXPECT_EQ(text,
            "time;_Memory;Processor(_Total)\n"
            "Time;Available Bytes;% Processor Time\n"
            "60;0;12.5\n"
            "120;0.100000000000000006;-3.00000000000000016e+300\n");
  EXPECT_EQ(Run({"-day", "5", "-month", "3", "-ngh"}, Date(3, 9)), "60;0;12.5\n120;0.100000000000000006;-3.00000000000000016e+300\n");
}

TEST_F(BufferExporterTest, ValuesPrintAsPrintfWould) {
  const std::vector<double> values = {
      0.0, -0.0, 12.5, -7, 0.1, 1e-300, 5e-324, -3e300, 1e17, 123456789012345678.0,
      999999999999999999.0, 1e18, 9007199254740993.0, -4503599627370497.5,
      std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
  std::vector<std::string> names(values.size(), "c");
  MakeBuffer(60, names, names);
  Sample(3, 5, 0, values);
  std::string expected = "0";
  for (double v : values) {
    char text[40];
    std::snprintf(text, sizeof text, ";%.18g", v);
    expected += text;
  }
  EXPECT_EQ(Run({"-day", "5", "-month", "3", "-ngh"}, Date(3, 9)), expected + "\n");
}

TEST_F(BufferExporterTest, DayFilters) {
  MakeBuffer(1, {"A"}, {"x"});
  FillDay(4, 1);
  FillDay(4, 2, 0, 10);
  // Day 1 is read to the first slot of day 2, which the day filter drops.
  EXPECT_EQ(Minutes(Run({"-day", "1"}, Date(4, 1))).size(), 1440u);
  EXPECT_EQ(Minutes(Run({"-day", "2"}, Date(4, 1))).size(), 11u);
  // No day given: today.
  EXPECT_EQ(Minutes(Run({}, Date(4, 2))).size(), 11u);
  // -day without value: today; -endtime 00:00 means the whole day.
  EXPECT_EQ(Minutes(Run({"-endtime", "00:00", "-day"}, Date(4, 1))).size(), 1440u);
  EXPECT_EQ(Minutes(Run({"-starttime", "23:50", "-day", "1"}, Date(4, 9))),
            (std::vector<int>{1430, 1431, 1432, 1433, 1434, 1435, 1436, 1437, 1438, 1439}));
}

TEST_F(BufferExporterTest, MonthFilter) {
  MakeBuffer(60, {"A"}, {"x"});
  FillDay(3, 31);  // an older month's day 31 in a 30-day April
  FillDay(4, 30);
  EXPECT_TRUE(Minutes(Run({"-day", "31"}, Date(4, 30))).empty());
  EXPECT_EQ(Minutes(Run({"-day", "31", "-month", "3"}, Date(4, 30))).size(), 24u);
  // -month alone: every written slot of the month, from slot 0 to the end.
  EXPECT_EQ(Minutes(Run({"-month", "4"}, Date(5, 2))).size(), 24u);
  EXPECT_EQ(Minutes(Run({"-month", "4", "-ngh"}, Date(5, 2)), false).size(), 24u);
  EXPECT_EQ(Lines(Run({"-month", "13"}, Date(4, 30))).size(), 2u);  // headers only
}

TEST_F(BufferExporterTest, SpacingCountsFromLastKeptMinute) {
  MakeBuffer(5, {"A"}, {"x"});
  FillDay(4, 1, 0, 60);
  // Slot of minute 15 never written, slot of minute 25 torn (no int holds
  // its key or minute): spacing restarts at 20 and goes on from there.
  std::fstream f(buffer_, std::ios::binary | std::ios::in | std::ios::out);
  f.seekp(static_cast<std::streamoff>(SlotOffset(header_, width_, 3)));
  WriteSlot(f, RingBufferSlot{0, 0, {0}});
  f.seekp(static_cast<std::streamoff>(SlotOffset(header_, width_, 5)));
  WriteSlot(f, RingBufferSlot{std::numeric_limits<double>::quiet_NaN(), 1e300, {0}});
  f.close();
  EXPECT_EQ(Minutes(Run({"-day", "1", "-i", "15"}, Date(4, 1))),
            (std::vector<int>{0, 20, 35, 50}));
  EXPECT_EQ(Minutes(Run({"-day", "1", "-i", "0"}, Date(4, 1))).size(), 11u);
}

// The collector grows the file slot by slot; a slot it has only begun is not
// a row yet.
TEST_F(BufferExporterTest, SlotOnlyBegunAtTheEndGivesNoRow) {
  MakeBuffer(60, {"A", "A"}, {"x", "y"});
  Sample(4, 1, 0, {1, 2});
  {
    std::ofstream f(buffer_, std::ios::binary | std::ios::app);
    const std::string next = EncodeSlot(RingBufferSlot{DateKey(4, 1), 60, {3, 4}});
    f << next.substr(0, next.size() - 3);
  }
  EXPECT_EQ(Run({"-month", "4", "-ngh"}, Date(4, 1)), "0;1;2\n");
  EXPECT_EQ(Run({"-day", "1", "-ngh"}, Date(4, 1)), "0;1;2\n");
}

TEST_F(BufferExporterTest, DayRangeWithBounds) {
  MakeBuffer(60, {"A"}, {"x"});
  for (int d = 2; d <= 6; ++d) FillDay(4, d);
  // 08:00 on the first day, 18:00 on the last.
  std::vector<int> m = Minutes(Run({"-days", "3-5", "-starttime", "08:00", "-endtime", "18:00"}, Date(4, 9)));
  EXPECT_EQ(m.size(), 16u + 24u + 19u);
  EXPECT_EQ(m.front(), 480);
  EXPECT_EQ(m.back(), 1080);
  // -e: 08:00 to 18:00 on every day.
  m = Minutes(Run({"-days", "3-5", "-starttime", "08:00", "-endtime", "18:00", "-e"}, Date(4, 9)));
  EXPECT_EQ(m.size(), 3u * 11u);
  // -e with no range: today only.
  EXPECT_EQ(Minutes(Run({"-e", "-starttime", "20:00", "-month", "4"}, Date(4, 4))),
            (std::vector<int>{1200, 1260, 1320, 1380}));
}

TEST_F(BufferExporterTest, AcrossTheMonthEnd) {
  MakeBuffer(60, {"A"}, {"x"});
  for (int d = 26; d <= 31; ++d) FillDay(3, d);
  for (int d = 1; d <= 4; ++d) FillDay(4, d);
  std::vector<std::string> lines = Lines(Run({"-days", "28-3", "-starttime", "10:00", "-endtime", "14:00"}, Date(4, 2)));
  ASSERT_EQ(lines.size(), 2u + (14 + 24 * 3) + (24 * 2 + 15));
  EXPECT_EQ(lines[0], "time;A");
  EXPECT_EQ(lines[2], "600;600");  // 28 March from 10:00
  EXPECT_EQ(lines[2 + 14 + 24 * 3 - 1], "1380;1380");  // 31 March to its end
  EXPECT_EQ(lines[2 + 14 + 24 * 3], "0;0");  // 1 April from midnight
  EXPECT_EQ(lines.back(), "840;840");  // 3 April until 14:00

  // A one-day range without -month runs across the month end too: 3 March
  // (of which only the 26th on holds March samples) to 3 April.
  lines = Lines(Run({"-days", "3-3", "-ngh"}, Date(4, 9)));
  ASSERT_EQ(lines.size(), 24u * 6 + 24u * 3);
  EXPECT_EQ(lines[24 * 6], "0;0");  // 1 April follows 31 March
}

TEST_F(BufferExporterTest, Failures) {
  std::string err;
  // No settings at all.
  Run({"-day", "1"}, Date(4, 1), &err);
  EXPECT_EQ(err, "KestraneExporter.exe: error gatherer parameters loading failed\n");

  MakeBuffer(60, {"A"}, {"x"});
  ASSERT_EQ(WriteServiceDword("kstCollector", "optTimeInt", 0), 0);
  Run({"-day", "1"}, Date(4, 1), &err);
  EXPECT_EQ(err, "KestraneExporter.exe: error gatherer parameters loading failed\n");

  MakeBuffer(60, {"A"}, {"x"});
  ASSERT_EQ(WriteServiceDword("kstCollector", "optCollsCount", 1), 0);
  Run({"-day", "1"}, Date(4, 1), &err);
  EXPECT_EQ(err, "KestraneExporter.exe: error gatherer parameters loading failed\n");

  // A width no slot of the file can have: no rows, and no buffer of its size.
  MakeBuffer(60, {"A"}, {"x"});
  Sample(4, 1, 0, {1});
  ASSERT_EQ(WriteServiceDword("kstCollector", "optCollsCount", 0x7fffffff), 0);
  EXPECT_EQ(Run({"-day", "1", "-ngh"}, Date(4, 1), &err), "");
  EXPECT_EQ(err, "KestraneExporter.exe: error input statistics file has damaged header lines\n");

  MakeBuffer(60, {"A"}, {"x"});
  std::filesystem::remove(buffer_);
  Run({"-day", "1"}, Date(4, 1), &err);
  EXPECT_EQ(err, "KestraneExporter.exe: error input statistics file opening failed\n");

  Run({"-day", "1", "-of", (home_ + "/no/such/dir/out").c_str()}, Date(4, 1), &err);
  EXPECT_EQ(err, "KestraneExporter.exe: error destination file opening failed\n");

  EXPECT_EQ(Run({"-i", "-5"}, Date(4, 1), &err), "");
  EXPECT_EQ(err.rfind("KestraneExporter.exe: error bad parameter\nusage: ", 0), 0u);
  Run({"-i", "x5"}, Date(4, 1), &err);
  EXPECT_EQ(err.rfind("KestraneExporter.exe: error bad parameter value\nusage: ", 0), 0u);
}

TEST_F(BufferExporterTest, OutputFileIsTruncated) {
  MakeBuffer(60, {"A"}, {"x"});
  Sample(4, 1, 0, {1});
  const std::string out = home_ + "/out.csv";
  std::ofstream(out) << "old contents that are longer than the export\n";
  std::string err;
  EXPECT_EQ(Run({"-day", "1", "-of", out.c_str(), "-help"}, Date(4, 1), &err), "");
  EXPECT_EQ(err.rfind("usage: ", 0), 0u);  // -help prints the usage and goes on
  std::ifstream in(out);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), "time;A\nTime;x\n0;1\n");
}

// Runs the built program with `words` for at most 20 seconds; its exit
// status (124 when it had to be stopped) and its standard output and error.
int RunProgram(const std::string& words, std::string* text) {
  const char* bin = std::getenv("KST_BIN_DIR");
  if (bin == nullptr) return -1;
  const std::string command = "timeout 20 " + std::string(bin) + "/KestraneExporter " + words + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char chunk[256];
  for (size_t n; (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;) text->append(chunk, n);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The exit code tells a written table (0) from a failed export (1) and a
// bad command line (2); -help is no failure.
TEST_F(BufferExporterTest, ProgramExitCodes) {
  std::string text;
  EXPECT_EQ(RunProgram("-month 4", &text), 1);
  EXPECT_EQ(text, "KestraneExporter.exe: error gatherer parameters loading failed\n");

  MakeBuffer(60, {"A"}, {"x"});
  Sample(4, 1, 0, {7});
  text.clear();
  EXPECT_EQ(RunProgram("-month 4 -ngh", &text), 0);
  EXPECT_EQ(text, "0;7\n");
  text.clear();
  EXPECT_EQ(RunProgram("-month 4 -ngh -help", &text), 0);
  EXPECT_EQ(text.rfind("usage: KestraneExporter.exe [options]\n", 0), 0u);
  EXPECT_EQ(text.substr(text.size() - 4), "0;7\n");
  text.clear();
  EXPECT_EQ(RunProgram("-i x5", &text), 2);
  EXPECT_EQ(text.rfind("KestraneExporter.exe: error bad parameter value\nusage: ", 0), 0u);
  text.clear();
  EXPECT_EQ(RunProgram("-nothing", &text), 2);
  EXPECT_EQ(text.rfind("KestraneExporter.exe: error bad parameter\nusage: ", 0), 0u);
  // Across the month end a failing run fails the program too.
  std::filesystem::remove(buffer_);
  text.clear();
  EXPECT_EQ(RunProgram("-days 28-3", &text), 1);
  EXPECT_EQ(text, "KestraneExporter.exe: error input statistics file opening failed\n");
}

// A pipe would block the open until someone writes, a device never ends:
// neither is read as a buffer.
TEST_F(BufferExporterTest, BufferThatIsNoRegularFileIsRefused) {
  MakeBuffer(60, {"A"}, {"x"});
  std::filesystem::remove(buffer_);
  ASSERT_EQ(::mkfifo(buffer_.c_str(), 0600), 0);
  for (const std::string& name : {buffer_, std::string("/dev/zero"), home_}) {
    ASSERT_EQ(WriteServiceString("kstCollector", "optBufferName", name), 0);
    std::string text;
    EXPECT_EQ(RunProgram("-day 1", &text), 1) << name << " (124: still running after 20 s)";
    EXPECT_EQ(text, "KestraneExporter.exe: error input statistics file is not a regular file\n") << name;
  }
}

// Reads `fifo` on a thread of its own, as a program at the far end of a
// pipe does, and counts the ends of input it meets: times when no writer
// held the FIFO open, where such a program would stop. Opened before anyone
// writes, so that a writer finds it; gives up when no writer comes within
// 20 seconds, and ends a quarter second after the last writer has gone.
class FifoReader {
 public:
  explicit FifoReader(const std::string& fifo)
      : fd_(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK)), thread_([this] { Read(); }) {}
  ~FifoReader() { Join(); }
  const std::string& Text() {
    Join();
    return text_;
  }
  int Ends() {
    Join();
    return ends_;
  }

 private:
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  void Read() {
    // Until the first writer comes a read would meet the end at once.
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 20000) == 1) {
      auto last_data = std::chrono::steady_clock::now();
      bool at_end = false;
      while (std::chrono::steady_clock::now() - last_data < std::chrono::milliseconds(250)) {
        char chunk[4096];
        const ssize_t n = ::read(fd_, chunk, sizeof chunk);
        if (n > 0) {
          text_.append(chunk, static_cast<size_t>(n));
          last_data = std::chrono::steady_clock::now();
          at_end = false;
        } else if (n == 0 && !at_end) {
          ++ends_;
          at_end = true;
        }
      }
    }
    ::close(fd_);
  }
  int fd_;
  std::string text_;
  int ends_ = 0;
  std::thread thread_;
};

// An output may be what people name on a command line: standard output (a
// pipe or a redirected file behind /dev/stdout), /dev/null, a FIFO that a
// reader holds open. Whatever would block or make no sense is refused at
// once, saying why.
TEST_F(BufferExporterTest, OutputMayBeAFileADeviceOrAFifoWithAReader) {
  MakeBuffer(60, {"A"}, {"x"});
  Sample(4, 1, 0, {7});
  std::string text;
  EXPECT_EQ(RunProgram("-month 4 -ngh -of /dev/stdout", &text), 0);
  EXPECT_EQ(text, "0;7\n");
  const std::string out = home_ + "/out.csv";
  std::ofstream(out) << "old contents that are longer than the export\n";
  text.clear();
  EXPECT_EQ(RunProgram("-month 4 -of /dev/stdout >" + out, &text), 0);
  EXPECT_EQ(text, "");
  EXPECT_EQ(FileText(out), "time;A\nTime;x\n0;7\n");
  text.clear();
  EXPECT_EQ(RunProgram("-month 4 -of /dev/null", &text), 0);
  EXPECT_EQ(text, "");

  const std::string fifo = home_ + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  {
    FifoReader reader(fifo);
    text.clear();
    EXPECT_EQ(RunProgram("-month 4 -of " + fifo, &text), 0) << "(124: blocked for 20 s)";
    EXPECT_EQ(text, "");
    EXPECT_EQ(reader.Text(), "time;A\nTime;x\n0;7\n");
    EXPECT_EQ(reader.Ends(), 1);
  }
  const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(sock, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socket_name = home_ + "/socket";
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socket_name.c_str());
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  // Run as root, a stream is opened by name only where no other user could
  // put another one under that name.
  const std::string open_folder = home_ + "/open";
  ASSERT_EQ(::mkdir(open_folder.c_str(), 0777), 0);
  ASSERT_EQ(::chmod(open_folder.c_str(), 0777), 0);
  ASSERT_EQ(::mkfifo((open_folder + "/fifo").c_str(), 0600), 0);
  std::vector<std::pair<std::string, const char*>> refused = {
      {fifo, "no process reads the destination FIFO"},
      {home_, "destination file is a folder, a block device or a socket"},
      {socket_name, "destination file is a folder, a block device or a socket"},
  };
  if (::geteuid() == 0) refused.emplace_back(open_folder + "/fifo", "destination file opening failed");
  for (const auto& [name, message] : refused) {
    text.clear();
    EXPECT_EQ(RunProgram("-month 4 -of " + name, &text), 1) << name << " (124: still running after 20 s)";
    EXPECT_EQ(text, std::string("KestraneExporter.exe: error ") + message + "\n") << name;
  }
  ::close(sock);
}

// Across the month end the reader of a FIFO gets both runs as one table: it
// does not meet the end of its input between them.
TEST_F(BufferExporterTest, FifoReaderGetsBothRunsAcrossTheMonthEnd) {
  MakeBuffer(60, {"A"}, {"x"});
  Sample(3, 31, 60, {1});
  Sample(4, 1, 120, {2});
  const std::string fifo = home_ + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  FifoReader reader(fifo);
  std::string err;
  Run({"-days", "30-1", "-of", fifo.c_str()}, Date(4, 2), &err);
  EXPECT_EQ(err, "");
  EXPECT_EQ(reader.Text(), "time;A\nTime;x\n60;1\n120;2\n");
  EXPECT_EQ(reader.Ends(), 1) << "the reader met the end of its input between the runs";
}

// An output the disk cannot hold whole is a failure, not a shorter table.
TEST_F(BufferExporterTest, OutputThatCannotBeWrittenWholeFails) {
  const std::string disk = home_ + "/disk";
  std::filesystem::create_directory(disk);
  SmallDisk small(disk, 16 * 1024);
  if (!small.mounted()) GTEST_SKIP() << small.why();
  std::ofstream(disk + "/fill", std::ios::binary) << std::string(12 * 1024, 'x');
  MakeBuffer(1, {"A"}, {"x"});
  FillDay(4, 1);  // 1440 rows of about 10 bytes
  std::string text;
  EXPECT_EQ(RunProgram("-month 4 -of " + disk + "/out.csv", &text), 1);
  EXPECT_EQ(text, "KestraneExporter.exe: error destination file writing failed\n");
}

// Header lines that do not lead exactly to the slots the registry names
// would have binary read as text, or values shifted across columns: the
// export is refused before anything is written, with or without -ngh.
TEST_F(BufferExporterTest, DamagedHeaderLinesAreRefused) {
  const std::string out = home_ + "/out.csv";
  // Values whose bytes hold a LF, and a ";" and a LF: with the header's
  // own LFs gone, a reader that looks for LFs finds these in the slot.
  const double lf = std::bit_cast<double>(uint64_t{0x0a});
  const double separator_lf = std::bit_cast<double>(uint64_t{0x0a3b});
  struct Case {
    const char* what;
    std::string buffer;  // empty: as MakeBuffer and the sample left it
    int header_size;     // 0: as MakeBuffer wrote it
    int record_width;    // 0: as MakeBuffer wrote it
  };
  const Case cases[] = {
      {"group line without ';'", "date\nDate;Time;x;y\n", 0, 0},
      {"header line without ';'", "date;time;A;A\nDate\n", 0, 0},
      {"no LF within the bound", std::string(2 << 20, 'x'), 0, 0},
      {"both line ends removed", "-", 0, 0},
      {"optHeadGrpOffset past the end", "", 100000, 0},
      {"optHeadGrpOffset short of the slots", "", 20, 0},
      {"optCollsCount too wide", "", 0, 5},
      {"optCollsCount too narrow", "", 0, 3},
      // Each line on its own: one that disagrees with the other and with
      // optCollsCount, where the two lines end where the slots begin.
      {"header line a column short", "date;time;A;A\nDate;Time;x\n", 26, 0},
      {"group line a column short", "date;time;A\nDate;Time;x;y\n", 26, 0},
      {"header line a column long", "date;time;A;A\nDate;Time;x;y;z\n", 30, 0},
  };
  for (const Case& c : cases) {
    MakeBuffer(60, {"A", "A"}, {"x", "y"});
    Sample(4, 1, 0, {lf, separator_lf});
    Sample(4, 1, 60, {1, 2});
    if (c.buffer == "-") {
      std::string bytes = FileText(buffer_);
      bytes.erase(bytes.find('\n'), 1);
      bytes.erase(bytes.find('\n'), 1);
      std::ofstream(buffer_, std::ios::binary | std::ios::trunc) << bytes;
    } else if (!c.buffer.empty()) {
      std::ofstream(buffer_, std::ios::binary | std::ios::trunc) << c.buffer;
    }
    if (c.header_size != 0) {
      ASSERT_EQ(WriteServiceDword("kstCollector", "optHeadGrpOffset", c.header_size), 0);
    }
    if (c.record_width != 0) {
      ASSERT_EQ(WriteServiceDword("kstCollector", "optCollsCount", c.record_width), 0);
    }
    for (const char* headers : {"", " -ngh"}) {
      std::ofstream(out) << "old";
      std::string text;
      EXPECT_EQ(RunProgram(std::string("-month 4 -of ") + out + headers, &text), 1) << c.what << headers;
      EXPECT_EQ(text, "KestraneExporter.exe: error input statistics file has damaged header lines\n")
          << c.what << headers;
      EXPECT_EQ(FileText(out), "") << c.what << headers;
    }
  }
  // The same buffer whole exports as it should.
  MakeBuffer(60, {"A", "A"}, {"x", "y"});
  Sample(4, 1, 60, {1, 2});
  std::string text;
  EXPECT_EQ(RunProgram("-month 4 -of " + out, &text), 0);
  EXPECT_EQ(text, "");
  EXPECT_EQ(FileText(out), "time;A;A\nTime;x;y\n60;1;2\n");
}

// Nothing past the month's last slot is read: the collector never writes
// there, and a file grown far beyond it must not be read to its end.
TEST_F(BufferExporterTest, ReadingStopsAtTheMonthsLastSlot) {
  MakeBuffer(60, {"A"}, {"x"});
  Sample(4, 30, 1380, {});
  // A slot where the month has none, with a key that would pass.
  const RingBufferSlot beyond{DateKey(4, 30), 1439, {5}};
  {
    std::fstream f(buffer_, std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(static_cast<std::streamoff>(SlotOffset(header_, width_, SlotsPerMonth(60))));
    ASSERT_TRUE(WriteSlot(f, beyond));
  }
  std::string text;
  EXPECT_EQ(RunProgram("-month 4 -ngh", &text), 0);
  EXPECT_EQ(text, "1380;1380\n");
  // The month's last slot itself is read.
  Sample(3, 31, 1380, {8});
  text.clear();
  EXPECT_EQ(RunProgram("-month 3 -ngh", &text), 0);
  EXPECT_EQ(text, "1380;8\n");
  // A sparse file of a terabyte.
  std::filesystem::resize_file(buffer_, uintmax_t{1} << 40);
  text.clear();
  EXPECT_EQ(RunProgram("-month 4 -ngh", &text), 0) << "(124: still reading after 20 s)";
  EXPECT_EQ(text, "1380;1380\n");
}

}  // namespace
}  // namespace kst
