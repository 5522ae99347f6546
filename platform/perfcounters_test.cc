#include "platform/perfcounters.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "gtest/gtest.h"
#include "platform/perfcounters_source.h"

namespace kst {
namespace {

using namespace std::string_literals;

class PerfCountersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/kst_perf_XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    home_ = dir;
    ::setenv("KESTRANE_HOME", dir, 1);
    ::unsetenv("KESTRANE_PERF_SCRIPT");
  }
  void TearDown() override {
    ::unsetenv("KESTRANE_PERF_SCRIPT");
    std::filesystem::remove_all(home_);
  }

  void UseScript(const std::string& text) {
    const std::string file = home_ + "/script";
    std::ofstream(file) << text;
    ::setenv("KESTRANE_PERF_SCRIPT", file.c_str(), 1);
  }

  std::string home_;
};

constexpr const char* kScript =
    "# two processors, memory, one thread object\n"
    "rate \\System\\Context Switches/sec\n"
    "tick\n"
    "\\Processor(0)\\% Processor Time = 10\n"
    "Processor(_Total)\\% Processor Time = 20\n"
    "\\Memory\\Available Bytes = 1000\n"
    "\\System\\Context Switches/sec = 100\n"
    "\\Thread(app/0)\\% Processor Time = 1\n"
    "\\Thread(app/1)\\% Processor Time = 2\n"
    "\\Thread(db/0)\\% Processor Time = 3\n"
    "tick\n"
    "\\Processor(0)\\% Processor Time = 11.5\n"
    "\\System\\Context Switches/sec = 160\n"
    "tick\n"
    "\\Memory\\Available Bytes = 900\n"
    "\\System\\Context Switches/sec = 190\n";

TEST_F(PerfCountersTest, ParsesPaths) {
  struct Case {
    const char* path;
    PdhStatus status;
    const char* host = "";
    const char* object = "";
    bool has_instance = false;
    const char* parent = "";
    const char* instance = "";
    const char* counter = "";
  } cases[] = {
      {"\\\\PC1\\Processor(_Total)\\% Processor Time", kPdhSuccess, "PC1", "Processor", true, "", "_Total",
       "% Processor Time"},
      {"\\Memory\\Available Bytes", kPdhSuccess, "", "Memory", false, "", "", "Available Bytes"},
      {"\\Thread(app/3)\\Context Switches/sec", kPdhSuccess, "", "Thread", true, "app", "3",
       "Context Switches/sec"},
      {"\\Processor()\\x", kPdhSuccess, "", "Processor", true, "", "", "x"},
      {"\\\\.\\*(*/*)\\*", kPdhSuccess, ".", "*", true, "*", "*", "*"},
      {"Memory\\Available Bytes", kPdhBadPath},
      {"\\Memory", kPdhBadPath},
      {"\\Memory\\", kPdhBadPath},
      {"\\\\host", kPdhBadPath},
      {"\\\\\\Memory\\x", kPdhBadPath},
      {"\\Processor(0\\x", kPdhBadPath},
      {"\\Proc)essor\\x", kPdhBadPath},
      {"\\(0)\\x", kPdhBadPath},
      {"", kPdhBadPath},
  };
  for (const Case& c : cases) {
    CounterPath path;
    ASSERT_EQ(ParseCounterPath(c.path, &path), c.status) << c.path;
    if (c.status != kPdhSuccess) continue;
    EXPECT_EQ(path.host, c.host) << c.path;
    EXPECT_EQ(path.object, c.object) << c.path;
    EXPECT_EQ(path.has_instance, c.has_instance) << c.path;
    EXPECT_EQ(path.parent, c.parent) << c.path;
    EXPECT_EQ(path.instance, c.instance) << c.path;
    EXPECT_EQ(path.counter, c.counter) << c.path;
    EXPECT_EQ(MakeCounterPath(path), c.path);
  }
}

TEST_F(PerfCountersTest, OnlyThisMachine) {
  char name[256] = {};
  ASSERT_EQ(::gethostname(name, sizeof name - 1), 0);
  for (const char* host : {"", ".", "localhost", "LocalHost", static_cast<const char*>(name)}) {
    EXPECT_TRUE(IsLocalMachine(host)) << host;
  }
  EXPECT_FALSE(IsLocalMachine("no-such-host-kst"));

  UseScript(kScript);
  std::unique_ptr<PerfQuery> query;
  ASSERT_EQ(OpenQuery(&query), kPdhSuccess);
  PerfCounterHandle counter = 7;
  EXPECT_EQ(query->AddCounter("\\\\no-such-host-kst\\Memory\\Available Bytes", &counter), kPdhNoMachine);
  EXPECT_EQ(counter, 0u);
  EXPECT_EQ(query->AddCounter(std::string("\\\\") + name + "\\Memory\\Available Bytes", &counter),
            kPdhSuccess);
  std::vector<std::string> paths;
  EXPECT_EQ(ExpandCounterPath("\\\\no-such-host-kst\\*\\*", &paths), kPdhNoMachine);
}

TEST_F(PerfCountersTest, ScriptedValuesTickByTick) {
  UseScript(kScript);
  std::unique_ptr<PerfQuery> query;
  ASSERT_EQ(OpenQuery(&query), kPdhSuccess);
  PerfCounterHandle cpu0, memory, switches, missing;
  ASSERT_EQ(query->AddCounter("\\Processor(0)\\% Processor Time", &cpu0), kPdhSuccess);
  ASSERT_EQ(query->AddCounter("\\\\localhost\\memory\\available bytes", &memory), kPdhSuccess);
  ASSERT_EQ(query->AddCounter("\\System\\Context Switches/sec", &switches), kPdhSuccess);
  // Named by the script, but without a value until a later tick.
  ASSERT_EQ(query->AddCounter("\\Thread(db/0)\\% Processor Time", &missing), kPdhSuccess);

  double value = -1;
  EXPECT_EQ(query->GetFormattedValue(cpu0, &value), kPdhNoData);

  ASSERT_EQ(query->Collect(), kPdhSuccess);
  EXPECT_EQ(query->GetFormattedValue(cpu0, &value), kPdhSuccess);
  EXPECT_EQ(value, 10.0);
  EXPECT_EQ(query->GetFormattedValue(memory, &value), kPdhSuccess);
  EXPECT_EQ(value, 1000.0);
  EXPECT_EQ(query->GetFormattedValue(switches, &value), kPdhInvalidData);  // one reading only
  EXPECT_EQ(query->GetFormattedValue(missing, &value), kPdhSuccess);
  EXPECT_EQ(value, 3.0);

  ASSERT_EQ(query->Collect(), kPdhSuccess);
  EXPECT_EQ(query->GetFormattedValue(cpu0, &value), kPdhSuccess);
  EXPECT_EQ(value, 11.5);
  EXPECT_EQ(query->GetFormattedValue(memory, &value), kPdhSuccess);
  EXPECT_EQ(value, 1000.0);  // carried from the tick before
  EXPECT_EQ(query->GetFormattedValue(switches, &value), kPdhSuccess);
  EXPECT_EQ(value, 60.0);

  ASSERT_EQ(query->Collect(), kPdhSuccess);
  EXPECT_EQ(query->GetFormattedValue(memory, &value), kPdhSuccess);
  EXPECT_EQ(value, 900.0);
  EXPECT_EQ(query->GetFormattedValue(switches, &value), kPdhSuccess);
  EXPECT_EQ(value, 30.0);

  // Past the last tick the last one repeats: a rate counter stands still.
  ASSERT_EQ(query->Collect(), kPdhSuccess);
  EXPECT_EQ(query->GetFormattedValue(memory, &value), kPdhSuccess);
  EXPECT_EQ(value, 900.0);
  EXPECT_EQ(query->GetFormattedValue(switches, &value), kPdhSuccess);
  EXPECT_EQ(value, 0.0);

  // A second query starts again at the first tick.
  std::unique_ptr<PerfQuery> other;
  ASSERT_EQ(OpenQuery(&other), kPdhSuccess);
  PerfCounterHandle again;
  ASSERT_EQ(other->AddCounter("\\Memory\\Available Bytes", &again), kPdhSuccess);
  ASSERT_EQ(other->Collect(), kPdhSuccess);
  EXPECT_EQ(other->GetFormattedValue(again, &value), kPdhSuccess);
  EXPECT_EQ(value, 1000.0);
}

TEST_F(PerfCountersTest, AddRemoveAndClose) {
  UseScript(kScript + std::string("\\Thread(db/9)\\% Processor Time = 3\ntick\n"));
  std::unique_ptr<PerfQuery> query;
  ASSERT_EQ(OpenQuery(&query), kPdhSuccess);
  struct Case { const char* path; PdhStatus status; } cases[] = {
      {"\\Disk\\Reads", kPdhNoObject},
      {"\\Memory\\No Such Counter", kPdhNoCounter},
      {"\\Processor(7)\\% Processor Time", kPdhNoInstance},
      {"\\Processor\\% Processor Time", kPdhNoInstance},  // instance left out
      {"\\Memory(0)\\Available Bytes", kPdhNoInstance},   // instance where none exist
      {"\\Thread(db/0)\\% Processor Time", kPdhSuccess},
      {"\\Thread(0)\\% Processor Time", kPdhNoInstance},  // parent left out
      {"not a path", kPdhBadPath},
  };
  for (const Case& c : cases) {
    PerfCounterHandle counter = 99;
    EXPECT_EQ(query->AddCounter(c.path, &counter), c.status) << c.path;
    EXPECT_EQ(counter != 0, c.status == kPdhSuccess) << c.path;
  }

  PerfCounterHandle a, b;
  ASSERT_EQ(query->AddCounter("\\Memory\\Available Bytes", &a), kPdhSuccess);
  ASSERT_EQ(query->AddCounter("\\Processor(_Total)\\% Processor Time", &b), kPdhSuccess);
  EXPECT_NE(a, b);
  EXPECT_EQ(query->RemoveCounter(a), kPdhSuccess);
  EXPECT_EQ(query->RemoveCounter(a), kPdhInvalidHandle);
  ASSERT_EQ(query->Collect(), kPdhSuccess);
  double value = 0;
  EXPECT_EQ(query->GetFormattedValue(a, &value), kPdhInvalidHandle);
  EXPECT_EQ(query->GetFormattedValue(b, &value), kPdhSuccess);
  EXPECT_EQ(value, 20.0);

  EXPECT_EQ(query->Close(), kPdhSuccess);
  EXPECT_EQ(query->Close(), kPdhInvalidHandle);
  EXPECT_EQ(query->Collect(), kPdhInvalidHandle);
  EXPECT_EQ(query->RemoveCounter(b), kPdhInvalidHandle);
  EXPECT_EQ(query->AddCounter("\\Memory\\Available Bytes", &a), kPdhInvalidHandle);

  std::unique_ptr<PerfQuery> empty;
  ASSERT_EQ(OpenQuery(&empty), kPdhSuccess);
  EXPECT_EQ(empty->Collect(), kPdhSuccess);
}

TEST_F(PerfCountersTest, ScriptThatCannotBeRead) {
  for (const char* text : {"\\Memory\\Available Bytes = lots\n", "\\Memory\\Available Bytes 5\n",
                           "\\\\pc\\Memory\\Available Bytes = 5\n",
                           "\\Memory\\x = 1\n\\Memory(0)\\y = 2\n"}) {
    UseScript(text);
    std::unique_ptr<PerfQuery> query;
    EXPECT_EQ(OpenQuery(&query), kPdhSourceUnreadable) << text;
    EXPECT_EQ(query, nullptr);
  }
  ::setenv("KESTRANE_PERF_SCRIPT", (home_ + "/absent").c_str(), 1);
  std::unique_ptr<PerfQuery> query;
  EXPECT_EQ(OpenQuery(&query), kPdhSourceUnreadable);
  std::vector<std::string> objects;
  EXPECT_EQ(EnumObjects("", &objects), kPdhSourceUnreadable);
}

TEST_F(PerfCountersTest, EnumeratesAndExpands) {
  UseScript(kScript);
  std::vector<std::string> objects, counters, instances;
  ASSERT_EQ(EnumObjects(".", &objects), kPdhSuccess);
  EXPECT_EQ(objects, (std::vector<std::string>{"System", "Processor", "Memory", "Thread"}));
  ASSERT_EQ(EnumObjectItems("", "thread", &counters, &instances), kPdhSuccess);
  EXPECT_EQ(counters, std::vector<std::string>{"% Processor Time"});
  EXPECT_EQ(instances, (std::vector<std::string>{"app/0", "app/1", "db/0"}));
  ASSERT_EQ(EnumObjectItems("", "Memory", &counters, &instances), kPdhSuccess);
  EXPECT_TRUE(instances.empty());
  EXPECT_EQ(EnumObjectItems("", "Disk", &counters, &instances), kPdhNoObject);

  struct Case { const char* pattern; std::vector<std::string> paths; } cases[] = {
      {"\\\\.\\*(*/*)\\*",
       {"\\\\.\\System\\Context Switches/sec", "\\\\.\\Processor(0)\\% Processor Time",
        "\\\\.\\Processor(_Total)\\% Processor Time", "\\\\.\\Memory\\Available Bytes",
        "\\\\.\\Thread(app/0)\\% Processor Time", "\\\\.\\Thread(app/1)\\% Processor Time",
        "\\\\.\\Thread(db/0)\\% Processor Time"}},
      {"\\Thread(app/*)\\*", {"\\Thread(app/0)\\% Processor Time", "\\Thread(app/1)\\% Processor Time"}},
      {"\\Thread(0)\\*", {"\\Thread(app/0)\\% Processor Time", "\\Thread(db/0)\\% Processor Time"}},
      {"\\*\\*", {"\\System\\Context Switches/sec", "\\Memory\\Available Bytes"}},
      {"\\Proc*(_T*)\\*Time", {"\\Processor(_Total)\\% Processor Time"}},
      {"\\Memory\\Available Bytes", {"\\Memory\\Available Bytes"}},
      {"\\Nothing(*)\\*", {}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> paths;
    ASSERT_EQ(ExpandCounterPath(c.pattern, &paths), kPdhSuccess) << c.pattern;
    EXPECT_EQ(paths, c.paths) << c.pattern;
  }
  std::vector<std::string> paths;
  EXPECT_EQ(ExpandCounterPath("*", &paths), kPdhBadPath);
}

TEST_F(PerfCountersTest, ExpansionIntoACallersBuffer) {
  UseScript(kScript);
  const std::string expected = std::string("\\Thread(app/0)\\% Processor Time") + '\0' +
                               "\\Thread(app/1)\\% Processor Time" + '\0' + '\0';
  const char* pattern = "\\Thread(app/*)\\*";
  uint32_t length = 0;
  EXPECT_EQ(ExpandCounterPath(pattern, nullptr, &length), kPdhMoreData);
  EXPECT_EQ(length, expected.size());

  std::string buffer(expected.size() - 1, 'x');
  length = static_cast<uint32_t>(buffer.size());
  EXPECT_EQ(ExpandCounterPath(pattern, buffer.data(), &length), kPdhMoreData);
  EXPECT_EQ(length, expected.size());
  EXPECT_EQ(buffer, std::string(expected.size() - 1, 'x'));  // untouched

  buffer.assign(expected.size() + 10, 'x');
  length = static_cast<uint32_t>(buffer.size());
  ASSERT_EQ(ExpandCounterPath(pattern, buffer.data(), &length), kPdhSuccess);
  EXPECT_EQ(length, expected.size());
  EXPECT_EQ(buffer.substr(0, length), expected);

  char one[1] = {'x'};
  length = 1;
  ASSERT_EQ(ExpandCounterPath("\\Nothing(*)\\*", one, &length), kPdhSuccess);
  EXPECT_EQ(one[0], '\0');
}

TEST_F(PerfCountersTest, MachineCounters) {
  std::vector<std::string> objects;
  ASSERT_EQ(EnumObjects("", &objects), kPdhSuccess);
  EXPECT_EQ(objects, (std::vector<std::string>{"Processor", "Memory", "System", "PhysicalDisk",
                                               "LogicalDisk", "Network Interface", "Process", "Thread"}));
  std::vector<std::string> cpus;
  ASSERT_EQ(ExpandCounterPath("\\Processor(*)\\% Processor Time", &cpus), kPdhSuccess);
  ASSERT_GE(cpus.size(), 2u);  // one processor and _Total
  EXPECT_EQ(cpus.back(), "\\Processor(_Total)\\% Processor Time");

  std::unique_ptr<PerfQuery> query;
  ASSERT_EQ(OpenQuery(&query), kPdhSuccess);
  PerfCounterHandle busy, available, switches, threads, self;
  ASSERT_EQ(query->AddCounter(cpus.back(), &busy), kPdhSuccess);
  ASSERT_EQ(query->AddCounter("\\Memory\\Available Bytes", &available), kPdhSuccess);
  ASSERT_EQ(query->AddCounter("\\System\\Context Switches/sec", &switches), kPdhSuccess);
  ASSERT_EQ(query->AddCounter("\\Process(_Total)\\Thread Count", &threads), kPdhSuccess);
  ASSERT_EQ(query->AddCounter("\\Thread(_Total/_Total)\\% Processor Time", &self), kPdhSuccess);

  ASSERT_EQ(query->Collect(), kPdhSuccess);
  double value = 0;
  EXPECT_EQ(query->GetFormattedValue(available, &value), kPdhSuccess);
  EXPECT_GT(value, 0.0);
  EXPECT_EQ(query->GetFormattedValue(threads, &value), kPdhSuccess);
  EXPECT_GE(value, 1.0);
  EXPECT_EQ(query->GetFormattedValue(busy, &value), kPdhInvalidData);
  EXPECT_EQ(query->GetFormattedValue(switches, &value), kPdhInvalidData);

  ::usleep(150 * 1000);  // long enough for the clock ticks to move
  ASSERT_EQ(query->Collect(), kPdhSuccess);
  ASSERT_EQ(query->GetFormattedValue(busy, &value), kPdhSuccess);
  EXPECT_GE(value, 0.0);
  EXPECT_LE(value, 100.0);
  ASSERT_EQ(query->GetFormattedValue(switches, &value), kPdhSuccess);
  EXPECT_GE(value, 0.0);
}

// A process that ends between two collections must not take the CPU time it
// had used out of the sums it was part of: they stay valid and not negative.
TEST_F(PerfCountersTest, SumsSurviveAProcessThatEnds) {
  std::unique_ptr<PerfQuery> query;
  ASSERT_EQ(OpenQuery(&query), kPdhSuccess);
  PerfCounterHandle processes, threads, switches;
  ASSERT_EQ(query->AddCounter("\\Process(_Total)\\% Processor Time", &processes), kPdhSuccess);
  ASSERT_EQ(query->AddCounter("\\Thread(_Total/_Total)\\% Processor Time", &threads), kPdhSuccess);
  ASSERT_EQ(query->AddCounter("\\Thread(_Total/_Total)\\Context Switches/sec", &switches),
            kPdhSuccess);

  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Half a second of CPU time: more than the rest of the machine can use
    // between the two collections below.
    timespec used{};
    do {
      ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used);
    } while (used.tv_sec == 0 && used.tv_nsec < 500000000);
    (void)!::write(ready[1], "x", 1);
    ::pause();
    ::_exit(0);
  }
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  ::close(ready[0]);
  ::close(ready[1]);
  ASSERT_EQ(query->Collect(), kPdhSuccess);
  ::kill(child, SIGKILL);
  ASSERT_EQ(::waitpid(child, nullptr, 0), child);
  ASSERT_EQ(query->Collect(), kPdhSuccess);

  for (PerfCounterHandle handle : {processes, threads, switches}) {
    double value = -1;
    EXPECT_EQ(query->GetFormattedValue(handle, &value), kPdhSuccess) << handle;
    EXPECT_GE(value, 0.0) << handle;
  }
}

// A key must take its own value, not that of a key that begins or ends
// with it; the last line of a key counts.
TEST(KeyValueTest, EachKeyTakesItsOwnLine) {
  struct Case {
    const char* text;
    const char* key;
    double value;
  };
  const Case cases[] = {
      {"Cached:  5 kB\nSwapCached:  7 kB\n", "Cached", 5},
      {"SwapCached:  7 kB\nCached:  5 kB\n", "Cached", 5},
      {"Cached:  5 kB\nSwapCached:  7 kB\n", "SwapCached", 7},
      {"Cached:  5 kB\nCachedBytes:  9 kB\n", "Cached", 5},
      {"CachedBytes:  9 kB\nCached:  5 kB\n", "Cached", 5},
      {"Cached:\t5 kB\n", "Cached", 5},
      {"ctxt 12\nctxtx 3\nxctxt 4\n", "ctxt", 12},
      {"nonvoluntary_ctxt_switches:\t7\nvoluntary_ctxt_switches:\t5\n", "voluntary_ctxt_switches", 5},
      {"Cached:  5 kB\nCached:  6 kB\n", "Cached", 6},
      {"Cached:5 kB\n", "Cached", 0},
      {"Cached:", "Cached", 0},
      {"Other:  5 kB\n", "Cached", 0},
      {"pgfault 18446744073709551615\n", "pgfault", 18446744073709551615.0},
  };
  for (const Case& c : cases) EXPECT_EQ(perf::KeyValue(c.text, c.key), c.value) << c.key << " in " << c.text;
}

// The machine's source over a copy of /proc: the memory and system figures
// are those of the files read by hand, with lines added whose keys begin or
// end with the keys the counters need; processes are named by their
// programs' whole file names.
class MachineFilesTest : public PerfCountersTest {
 protected:
  void Write(const std::string& name, const std::string& text) {
    const std::filesystem::path path = home_ + "/root" + name;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
  }
  static std::string Real(const char* path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // Every "key: value" or "key value" line's first number, the last line of
  // a key winning.
  static std::map<std::string, double> Keys(const std::string& text) {
    std::map<std::string, double> values;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
      std::istringstream words(line);
      std::string key;
      double value = 0;
      if (words >> key >> value) values[key.back() == ':' ? key.substr(0, key.size() - 1) : key] = value;
    }
    return values;
  }
  // A process folder: stat with the kernel's name and fields 4.. set to
  // their own numbers, its program file and command line.
  void Process(int pid, const std::string& kernel_name, const std::string& program, const std::string& cmdline) {
    const std::string folder = "/proc/" + std::to_string(pid);
    std::string stat = std::to_string(pid) + " (" + kernel_name + ") S";
    for (int field = 4; field <= 52; ++field) stat += " " + std::to_string(field);
    Write(folder + "/stat", stat + "\n");
    Write(folder + "/statm", "1 2 3 4 5 6 7\n");
    Write(folder + "/cmdline", cmdline);
    Write(folder + "/task/" + std::to_string(pid) + "/stat", stat + "\n");
    Write(folder + "/task/" + std::to_string(pid) + "/status",
          "Name:\tx\nnonvoluntary_ctxt_switches:\t7\nvoluntary_ctxt_switches:\t5\n");
    if (!program.empty()) std::filesystem::create_symlink(program, home_ + "/root" + folder + "/exe");
  }
  static size_t ObjectIndex(perf::CounterSource& source, const std::string& name) {
    size_t i = 0;
    while (i < source.Objects().size() && source.Objects()[i].name != name) ++i;
    return i;
  }
};

TEST_F(MachineFilesTest, FiguresAreThoseOfTheFilesReadByHand) {
  const std::string meminfo = Real("/proc/meminfo") +
                              "MemAvailableSoon:  11 kB\nCachedPages:  13 kB\nXCommitLimit:  17 kB\n"
                              "NotCommitted_AS:  19 kB\n";
  const std::string vmstat = Real("/proc/vmstat") + "pgfault_extra 23\nxpgmajfault 29\npswpout2 31\n";
  // More processes running than there are processors, so that the queue's
  // length shows how many processors there are.
  const std::string stat =
      Real("/proc/stat") + "ctxtx 37\nxprocs_running 41\nprocs_running_total 43\nprocs_running 1000\n";
  const std::string loadavg = "0.50 0.40 0.30 3/1234 999\n";
  Write("/proc/meminfo", meminfo);
  Write("/proc/vmstat", vmstat);
  Write("/proc/stat", stat);
  Write("/proc/loadavg", loadavg);
  Write("/proc/uptime", "12345.67 999.00\n");
  const std::string interrupts = Real("/proc/interrupts");
  Write("/proc/interrupts", interrupts);
  Process(4242, "short", "", "");
  std::map<std::string, double> mem = Keys(meminfo), vm = Keys(vmstat), st = Keys(stat);
  ASSERT_GT(mem["CommitLimit"], 0);
  double cpus = 0;
  for (const auto& [key, value] : st) cpus += key.size() > 3 && key.compare(0, 3, "cpu") == 0;
  ASSERT_GE(cpus, 1);

  std::unique_ptr<perf::CounterSource> source = perf::NewMachineSource(home_ + "/root");
  perf::ObjectSample memory, system;
  source->Sample(ObjectIndex(*source, "Memory"), &memory);
  source->Sample(ObjectIndex(*source, "System"), &system);
  ASSERT_EQ(memory.size(), 1u);
  ASSERT_EQ(system.size(), 1u);
  const double available = mem["MemAvailable"] * 1024;
  const double want_memory[] = {available,
                                std::floor(available / (1024 * 1024)),
                                mem["Committed_AS"] * 1024,
                                mem["CommitLimit"] * 1024,
                                100.0 * mem["Committed_AS"] / mem["CommitLimit"],
                                mem["Cached"] * 1024,
                                vm["pgmajfault"] + vm["pswpout"],
                                vm["pgfault"]};
  ASSERT_EQ(memory[0].values.size(), std::size(want_memory));
  for (size_t i = 0; i < std::size(want_memory); ++i) {
    EXPECT_EQ(memory[0].values[i].raw, want_memory[i]) << source->Objects()[1].counters[i].name;
  }
  const double want_system[] = {1, 1234, st["ctxt"], 1000 - cpus, 12345.67};
  ASSERT_EQ(system[0].values.size(), std::size(want_system));
  for (size_t i = 0; i < std::size(want_system); ++i) {
    EXPECT_EQ(system[0].values[i].raw, want_system[i]) << source->Objects()[2].counters[i].name;
  }

  // Disks that /sys/block lists (not partitions, loop or ram devices) and
  // network interfaces, in the kernel's layout of their files.
  Write("/sys/block/sda/size", "1\n");
  Write("/sys/block/loop0/size", "1\n");
  Write("/proc/diskstats",
        "   7       0 loop0 1 2 3 4 5 6 7 8 9 10 11\n"
        "   8       0 sda 11 12 13 14 15 16 17 18 19 20 21 22 23 24 25 26 27\n"
        "   8       1 sda1 31 32 33 34 35 36 37 38 39 40 41\n");
  Write("/proc/net/dev",
        "Inter-|   Receive                            |  Transmit\n"
        " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets errs drop fifo colls "
        "carrier compressed\n"
        "    lo:       5       6    0    0    0     0          0         0        7       8    0    0    0     0       "
        "0          0\n"
        "  eth0:     100       2    0    0    0     0          0         0      300       4    0    0    0     0       "
        "0          0\n");
  perf::ObjectSample disks, interfaces;
  source->BeginCollection();
  source->Sample(ObjectIndex(*source, "PhysicalDisk"), &disks);
  source->Sample(ObjectIndex(*source, "Network Interface"), &interfaces);
  ASSERT_EQ(disks.size(), 2u);
  const double want_disk[] = {11, 15, 13 * 512, 17 * 512, 19, 20};
  for (const perf::InstanceSample& disk : disks) {
    for (size_t i = 0; i < std::size(want_disk); ++i) EXPECT_EQ(disk.values[i].raw, want_disk[i]) << disk.name << " " << i;
  }
  EXPECT_EQ(disks[0].name, "sda");
  EXPECT_EQ(disks[1].name, "_Total");
  ASSERT_EQ(interfaces.size(), 2u);
  EXPECT_EQ(interfaces[1].name, "eth0");
  const double want_interface[] = {100, 300, 400, 2, 4};
  for (size_t i = 0; i < std::size(want_interface); ++i) EXPECT_EQ(interfaces[1].values[i].raw, want_interface[i]) << i;
  EXPECT_EQ(interfaces[0].values[2].raw, 12);  // lo

  // Processor 0 and _Total: busy, user, privileged, idle and interrupt time
  // of its /proc/stat line in clock ticks, and its interrupts summed over
  // /proc/interrupts' lines (the total: "intr").
  std::map<std::string, std::vector<double>> ticks;
  std::istringstream stat_lines(stat);
  for (std::string line; std::getline(stat_lines, line);) {
    std::istringstream words(line);
    std::string key;
    words >> key;
    if (key == "cpu" || key == "cpu0") {
      for (double v; words >> v;) ticks[key].push_back(v);
    }
  }
  double interrupts0 = 0;
  std::istringstream interrupt_lines(interrupts);
  std::string header;
  std::getline(interrupt_lines, header);
  ASSERT_EQ(header.find("CPU0"), header.find_first_not_of(' ')) << header;
  for (std::string line; std::getline(interrupt_lines, line);) {
    std::istringstream words(line);
    std::string name, count;
    words >> name >> count;
    if (!count.empty() && count.find_first_not_of("0123456789") == std::string::npos) interrupts0 += std::stod(count);
  }
  perf::ObjectSample processors;
  source->Sample(ObjectIndex(*source, "Processor"), &processors);
  ASSERT_GE(processors.size(), 2u);
  ASSERT_EQ(processors.front().name, "0");
  ASSERT_EQ(processors.back().name, "_Total");
  for (const auto& [key, f] : ticks) {
    ASSERT_GE(f.size(), 8u) << key;
    const double all = f[0] + f[1] + f[2] + f[3] + f[4] + f[5] + f[6] + f[7];
    const perf::InstanceSample& cpu = key == "cpu" ? processors.back() : processors.front();
    const double want[] = {all - f[3] - f[4], f[0] + f[1], f[2] + f[5] + f[6], f[3] + f[4], f[5] + f[6],
                           key == "cpu" ? st["intr"] : interrupts0};
    for (size_t i = 0; i < std::size(want); ++i) {
      EXPECT_EQ(cpu.values[i].raw, want[i]) << key << " " << source->Objects()[0].counters[i].name;
      if (i < 5) {
        EXPECT_EQ(cpu.values[i].base, all) << key;
      }
    }
  }
}

TEST_F(MachineFilesTest, ProcessesAreNamedByTheirProgramsWholeFileNames) {
  Process(100, "KestraneCollect", "/opt/kst/KestraneCollector", "KestraneCollector\0-service\0"s);
  Process(101, "KestraneCollect", "/usr/bin/other (deleted)", "/srv/KestraneCollectorTwo\0"s);
  Process(102, "KestraneCollect", "/opt/kst/KestraneCollector (deleted)", ""s);
  Process(103, "averyveryverylo", "", "");  // a kernel thread: no program, no command line
  Process(104, "KestraneExporte", "/bin/KestraneExporter", "/bin/KestraneExporter\0"s);
  Process(105, "KestraneExporte", "", "KestraneExporte\0"s);  // named so itself
  Process(106, "a/b", "/bin/a", "a\0"s);
  std::unique_ptr<perf::CounterSource> source = perf::NewMachineSource(home_ + "/root");
  perf::ObjectSample processes, threads;
  source->Sample(ObjectIndex(*source, "Process"), &processes);
  source->Sample(ObjectIndex(*source, "Thread"), &threads);
  std::vector<std::string> names;
  for (const perf::InstanceSample& p : processes) names.push_back(p.name + "|" + p.alias);
  EXPECT_EQ(names, (std::vector<std::string>{"KestraneCollector|KestraneCollect", "KestraneCollectorTwo|KestraneCollect",
                                             "KestraneExporte|", "KestraneExporter|KestraneExporte", "_Total|", "a_b|",
                                             "averyveryverylo|"}));
  // Two processes of one program add up: working sets of 24 pages each.
  const double page = static_cast<double>(::sysconf(_SC_PAGESIZE));
  EXPECT_EQ(processes[0].values[1].raw, 2 * 24 * page);
  EXPECT_EQ(processes[0].values[3].raw, 2 * 20);  // threads
  std::vector<std::string> thread_names;
  for (const perf::InstanceSample& t : threads) thread_names.push_back(t.parent + "/" + t.name + "|" + t.alias_parent + "/" + t.alias);
  EXPECT_EQ(thread_names, (std::vector<std::string>{"KestraneCollector/0|KestraneCollect/0", "KestraneCollectorTwo/0|KestraneCollect/0",
                                                    "KestraneCollector/1|KestraneCollect/1", "averyveryverylo/0|/",
                                                    "KestraneExporter/0|KestraneExporte/0", "KestraneExporte/0|/",
                                                    "a_b/0|/", "_Total/_Total|/"}));
  EXPECT_EQ(threads[0].values[1].raw, 5 + 7);  // voluntary and nonvoluntary switches

  // A path names an instance by its whole name, or by the kernel's where no
  // instance bears that: counter lists of before still find their process.
  std::unique_ptr<PerfQuery> query = perf::NewQuery(perf::NewMachineSource(home_ + "/root"));
  const std::pair<const char*, double> paths[] = {
      {"\\Process(KestraneCollector)\\Thread Count", 40},
      {"\\Process(kestranecollect)\\Thread Count", 40},  // the first of its programs
      {"\\Process(KestraneCollectorTwo)\\Thread Count", 20},
      {"\\Process(KestraneExporte)\\Thread Count", 20},  // the one named so itself
      {"\\Process(KestraneExporter)\\Thread Count", 20},
  };
  std::vector<PerfCounterHandle> handles;
  for (const auto& [path, value] : paths) {
    handles.emplace_back();
    ASSERT_EQ(query->AddCounter(path, &handles.back()), kPdhSuccess) << path;
  }
  PerfCounterHandle thread = 0, unknown = 0;
  EXPECT_EQ(query->AddCounter("\\Thread(KestraneCollect/1)\\Context Switches/sec", &thread), kPdhSuccess);
  EXPECT_EQ(query->AddCounter("\\Process(KestraneCollecto)\\Thread Count", &unknown), kPdhNoInstance);
  ASSERT_EQ(query->Collect(), kPdhSuccess);
  for (size_t i = 0; i < std::size(paths); ++i) {
    double value = 0;
    EXPECT_EQ(query->GetFormattedValue(handles[i], &value), kPdhSuccess) << paths[i].first;
    EXPECT_EQ(value, paths[i].second) << paths[i].first;
  }
}

}  // namespace
}  // namespace kst
