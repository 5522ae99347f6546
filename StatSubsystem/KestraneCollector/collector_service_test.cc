#include "StatSubsystem/KestraneCollector/collector_service.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "StatSubsystem/common/ring_buffer.h"
#include "StatSubsystem/common/service_control.h"
#include "StatSubsystem/common/service_keys.h"
#include "gtest/gtest.h"
#include "platform/registry.h"
#include "platform/registry_testing.h"
#include "platform/services.h"

namespace kst {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

const std::string kId = "kstCollector";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string CollectorProgram() {
  const char* bin = std::getenv("KST_BIN_DIR");
  return std::string(bin != nullptr ? bin : "build/bin") + "/KestraneCollector";
}

// A collector process with its output in files of the test's home.
class Program {
 public:
  Program(const std::string& home, const std::vector<std::string>& args) : home_(home) {
    std::vector<std::string> words = {CollectorProgram()};
    words.insert(words.end(), args.begin(), args.end());
    pid_ = ::fork();
    if (pid_ == 0) {
      const int out = ::open((home + "/stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int err = ::open((home + "/stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(out, 1);
      ::dup2(err, 2);
      std::vector<char*> argv;
      for (std::string& word : words) argv.push_back(word.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
  }
  ~Program() {
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  // The exit code, or -1 when the program still runs after `limit`.
  int Wait(milliseconds limit) {
    const auto end = steady_clock::now() + limit;
    while (steady_clock::now() < end) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(milliseconds(20));
    }
    return -1;
  }

  std::string Out() const { return ReadFile(home_ + "/stdout"); }
  std::string Err() const { return ReadFile(home_ + "/stderr"); }

 private:
  std::string home_;
  pid_t pid_ = -1;
  bool exited_ = false;
};

std::tm LocalNow() {
  const time_t now = ::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  return local;
}

// Polls until `done` or the limit passes.
template <typename Done>
bool Eventually(Done done, milliseconds limit) {
  const auto end = steady_clock::now() + limit;
  while (steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(milliseconds(50));
  }
  return done();
}

class CollectorServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    buffer_ = home_.path() + "/cbuffer";
    RegistryKey key;
    ASSERT_EQ(RegistryKey::Create("System\\CurrentControlSet\\Services\\Kestrane buffer creator", &key),
              kErrorSuccess);
  }
  void TearDown() override {
    ::unsetenv("KESTRANE_PERF_SCRIPT");
    StopServiceByName(kId);  // a service a failed test left running
  }

  void Configure(int flag, const std::vector<std::string>& counters) {
    ASSERT_EQ(WriteServiceDword(kId, "notFirstStartFlag", flag), 0);
    ASSERT_EQ(WriteServiceString(kId, "optBufferName", buffer_), 0);
    ASSERT_EQ(WriteServiceDword(kId, "optTimeInt", 1), 0);
    ASSERT_EQ(WriteServiceMultiString(kId, "optCounters", counters), 0);
  }

  int Dword(const char* name) {
    int value = -12345;
    EXPECT_EQ(ReadServiceDword(kId, name, &value), 0) << name;
    return value;
  }

  // The collector's frame with its interval counted in seconds, not minutes.
  static void UseFrameOfSeconds() {
    static ServiceFrame frame;
    frame = CollectorServiceFrame();
    frame.interval_unit_ms = 1000;
    UseServiceFrame(frame);
  }

  // Runs the service in a child process that must end with exit code 1 and
  // standard error matching `log`. The child runs the test anew in a home
  // of its own, which its exit would otherwise leave behind (`mount` in it
  // mounted, when given).
  void ExpectServiceToFail(const std::string& log, const std::string& mount = "") {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    UseFrameOfSeconds();
    static std::string child_home, child_mount;
    child_home = home_.path();
    child_mount = mount;
    EXPECT_EXIT(
        {
          std::atexit([] {
            if (!child_mount.empty()) SmallDisk::UnmountAll(child_mount);
            std::error_code ignored;
            std::filesystem::remove_all(child_home, ignored);
          });
          ServiceMain(0, nullptr);
        },
        ::testing::ExitedWithCode(1), log);
  }

  TempKestraneHome home_;
  std::string buffer_;
};

TEST_F(CollectorServiceTest, UsageAndFailedStart) {
  Program usage(home_.path(), {});
  ASSERT_EQ(usage.Wait(milliseconds(10000)), 0);
  EXPECT_EQ(usage.Out(),
            "usage: service.exe [options]\noptions:\n"
            "-install\tinstalls the service in SCM database\n"
            "-remove\tremoves the service from SCM database\n"
            "-debug\truns the service as normal process\n"
            "-service\truns the process as a service\n");

  // Started by hand, not by the service manager.
  Program by_hand(home_.path(), {"-service"});
  ASSERT_EQ(by_hand.Wait(milliseconds(10000)), 0);
  EXPECT_EQ(by_hand.Err(),
            "error 91: 'StartServiceCtrlDispatcher' error: ERROR_FAILED_SERVICE_CONTROLLER_CONNECT\n");
  EXPECT_EQ(Dword("lastErrorNo"), 91);

  // A flag of 2 stops the service at start.
  Configure(2, {"\\Memory\\Available Bytes"});
  Program debug(home_.path(), {"-debug"});
  ASSERT_EQ(debug.Wait(milliseconds(10000)), 1);
  const std::string message = "KestraneCollector::LoadParameters() call failed with return value -2";
  EXPECT_EQ(debug.Err(), "error 11: " + message + "\n");
  EXPECT_EQ(Dword("lastErrorNo"), 11);
  std::string saved;
  ASSERT_EQ(ReadServiceString(kId, "lastErrorMessage", &saved), 0);
  EXPECT_EQ(saved, message);
}

TEST_F(CollectorServiceTest, DebugRunWritesRealSlots) {
  const std::tm before = LocalNow();
  Configure(0, {"\\Memory\\Available Bytes", "\\System\\Processes",
                "\\Processor(_Total)\\% Processor Time", "\\Memory\\No Such Counter"});
  Program debug(home_.path(), {"-debug"});
  ASSERT_TRUE(Eventually([&] { return Dword("notFirstStartFlag") == 1 &&
                                      std::filesystem::exists(buffer_) &&
                                      std::filesystem::file_size(buffer_) >
                                          static_cast<uintmax_t>(Dword("optHeadGrpOffset")); },
                         milliseconds(10000)));
  EXPECT_EQ(debug.Wait(milliseconds(300)), -1);  // still sampling

  const std::tm after = LocalNow();
  ASSERT_EQ(Dword("optCollsCount"), 6);
  const int header = Dword("optHeadGrpOffset");
  std::ifstream in(buffer_, std::ios::binary);
  std::string group, names;
  ASSERT_TRUE(ReadHeaderLine(in, &group));
  ASSERT_TRUE(ReadHeaderLine(in, &names));
  EXPECT_EQ(group, "date;time;\\Memory;\\System;\\Processor(_Total);\\Memory");
  EXPECT_EQ(names, "Date;Time;Available Bytes;Processes;% Processor Time;No Such Counter");
  EXPECT_EQ(static_cast<int>(in.tellg()), header);

  // The one slot written is the last one of the file.
  const uintmax_t size = std::filesystem::file_size(buffer_);
  ASSERT_EQ((size - static_cast<uintmax_t>(header)) % 48, 0u);
  in.seekg(static_cast<std::streamoff>(size - 48));
  RingBufferSlot slot;
  ASSERT_TRUE(ReadSlot(in, 6, &slot));
  // Written between the two readings of the clock.
  const bool then = slot.date_key == DateKey(before.tm_mon + 1, before.tm_mday) &&
                    slot.minute == MinuteOfDay(before.tm_hour, before.tm_min);
  const bool now = slot.date_key == DateKey(after.tm_mon + 1, after.tm_mday) &&
                   slot.minute == MinuteOfDay(after.tm_hour, after.tm_min);
  EXPECT_TRUE(then || now) << slot.date_key << " " << slot.minute;
  ASSERT_EQ(slot.values.size(), 4u);
  EXPECT_GT(slot.values[0], 0.0);   // available memory
  EXPECT_GE(slot.values[1], 1.0);   // processes, this one among them
  EXPECT_EQ(slot.values[2], 0.0);   // a time share has no value in the first tick
  EXPECT_EQ(slot.values[3], 0.0);   // no such counter
}

// In process, with the interval counted in seconds rather than minutes: a
// buffer that is missing while notFirstStartFlag is 1 is retried every 2 s
// until it is there, and a stop ends the service.
TEST_F(CollectorServiceTest, RetriesWhileTheBufferIsMissing) {
  const std::string script = home_.path() + "/script";
  std::ofstream(script) << "\\Memory\\Available Bytes = 4096\n";
  ::setenv("KESTRANE_PERF_SCRIPT", script.c_str(), 1);
  const std::string lines = GroupLine({"\\Memory"}) + HeaderLine({"Available Bytes"});
  Configure(1, {"\\Memory\\Available Bytes"});
  ASSERT_EQ(WriteServiceDword(kId, "optCollsCount", 3), 0);
  ASSERT_EQ(WriteServiceDword(kId, "optHeadGrpOffset", static_cast<int>(lines.size())), 0);

  UseFrameOfSeconds();
  std::thread service([] { ServiceMain(0, nullptr); });

  std::this_thread::sleep_for(milliseconds(2500));
  EXPECT_FALSE(std::filesystem::exists(buffer_));  // the collector never creates it
  std::ofstream(buffer_, std::ios::binary) << lines;
  const bool written = Eventually(
      [&] { return std::filesystem::file_size(buffer_) > lines.size(); }, milliseconds(6000));

  const auto asked = steady_clock::now();
  EXPECT_EQ(ServiceCtrlHandler(1, 0, nullptr, nullptr), 0u);
  service.join();
  EXPECT_LT(steady_clock::now() - asked, milliseconds(30000)) << "the stop took more than 30 s";
  ASSERT_TRUE(written);
  EXPECT_EQ(ReadFile(buffer_).substr(0, lines.size()), lines);
  EXPECT_EQ((std::filesystem::file_size(buffer_) - lines.size()) % 24, 0u);
}

// A buffer that cannot be opened is retried, and why is told once, not at
// every retry: a missing file, a folder, a link to nothing.
TEST_F(CollectorServiceTest, BufferThatCannotBeOpenedIsToldOnce) {
  const std::string script = home_.path() + "/script";
  std::ofstream(script) << "\\Memory\\Available Bytes = 4096\n";
  ::setenv("KESTRANE_PERF_SCRIPT", script.c_str(), 1);
  Configure(1, {"\\Memory\\Available Bytes"});
  ASSERT_EQ(WriteServiceDword(kId, "optCollsCount", 3), 0);
  ASSERT_EQ(WriteServiceDword(kId, "optHeadGrpOffset", 40), 0);
  UseFrameOfSeconds();

  const std::string missing = home_.path() + "/nothing";
  struct Case {
    void (*make)(const std::string& buffer, const std::string& missing);
    std::string cause;
  };
  const Case cases[] = {
      {[](const std::string&, const std::string&) {}, "No such file or directory"},
      {[](const std::string& buffer, const std::string&) { std::filesystem::create_directory(buffer); },
       "Is a directory"},
      {[](const std::string& buffer, const std::string& target) {
         std::filesystem::remove(buffer);
         std::filesystem::create_symlink(target, buffer);
       },
       "it is a link to " + missing + ", which does not exist"},
  };
  for (const Case& c : cases) {
    c.make(buffer_, missing);
    ::testing::internal::CaptureStderr();
    ServiceCtrlHandler(3, 0, nullptr, nullptr);  // running again after the last case's stop
    std::thread service([] { ServiceMain(0, nullptr); });
    // Ticks at 0 s and 1 s, a retry at 3 s.
    std::this_thread::sleep_for(milliseconds(4000));
    EXPECT_EQ(ServiceCtrlHandler(1, 0, nullptr, nullptr), 0u);
    service.join();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "ring buffer " + buffer_ + " cannot be opened: " + c.cause + "\n");
  }
  std::filesystem::remove(buffer_);
}

// A tick that fails otherwise than with -2 stops the service: the first
// tick's failure passes with its cause told, the next one ends the process.
TEST_F(CollectorServiceTest, FailedTickEndsTheService) {
  const std::string lines = GroupLine({"\\Memory"}) + HeaderLine({"Available Bytes"});
  Configure(1, {"\\Memory\\Available Bytes"});
  ASSERT_EQ(WriteServiceDword(kId, "optCollsCount", 3), 0);
  ASSERT_EQ(WriteServiceDword(kId, "optHeadGrpOffset", static_cast<int>(lines.size())), 0);
  std::ofstream(buffer_, std::ios::binary) << lines.substr(0, lines.size() - 1);

  ExpectServiceToFail("^ring buffer [^\n]*/cbuffer is shorter than its header lines \\(" +
                      std::to_string(lines.size() - 1) + " bytes, optHeadGrpOffset " +
                      std::to_string(lines.size()) +
                      "\\)\n"
                      "error 11: KestraneCollector::Gather\\(\\) call failed with return value -3\n$");
  EXPECT_EQ(ReadFile(buffer_), lines.substr(0, lines.size() - 1));
}

// A disk that is full while a new buffer is made: the cause is told, and
// the next tick stops the service with its error.
TEST_F(CollectorServiceTest, FullDiskWhileMakingABufferStopsTheService) {
  const std::string mount = home_.path() + "/disk";
  std::filesystem::create_directory(mount);
  SmallDisk disk(mount, 16 * 1024);
  if (!disk.mounted()) GTEST_SKIP() << disk.why();
  ASSERT_TRUE(disk.Fill()) << "the small disk never said it is full";
  buffer_ = mount + "/cbuffer";
  Configure(0, {"\\Memory\\Available Bytes"});
  // The child's home is its own.
  ExpectServiceToFail(
      "^ring buffer [^\n]*/disk/cbuffer cannot take its header lines: No space left on device\n"
      "error 11: KestraneCollector::Gather\\(\\) call failed with return value -4\n$",
      mount);
  EXPECT_EQ(Dword("notFirstStartFlag"), 0);
}

// Installed by the program itself and started by the service manager: it
// samples until stopped, and a load failure stops it with 1066 and 124.
TEST_F(CollectorServiceTest, AsAnInstalledService) {
  Program install(home_.path(), {"-remove", "-install"});  // nothing to remove yet
  ASSERT_EQ(install.Wait(milliseconds(10000)), 0);
  std::string image;
  ASSERT_EQ(ReadServiceString(kId, "ImagePath", &image), 0);
  EXPECT_EQ(image, CollectorProgram() + " -service");

  Configure(0, {"\\Memory\\Available Bytes"});
  ASSERT_EQ(StartServiceByName(kId), 0);
  EXPECT_TRUE(Eventually([&] { return Dword("notFirstStartFlag") == 1; }, milliseconds(10000)));
  int state = -1;
  EXPECT_EQ(QueryServiceState(kId, &state), 0);
  EXPECT_EQ(state, kServiceStateRunning);
  // QueryServiceState already calls a stop-pending service stopped: wait
  // for the service's own stopped state before starting it again.
  std::unique_ptr<ServiceManager> manager;
  std::unique_ptr<Service> service;
  ServiceStatus status;
  ASSERT_EQ(ServiceManager::Open(kManagerConnect, &manager), kErrorSuccess);
  ASSERT_EQ(manager->OpenService("Kestrane buffer creator", kServiceQueryStatus, &service), kErrorSuccess);
  auto stopped = [&] {
    return service->QueryStatus(&status) == kErrorSuccess && status.current_state == kServiceStopped;
  };
  ASSERT_EQ(StopServiceByName(kId), 0);
  EXPECT_TRUE(Eventually(stopped, milliseconds(5000)));

  ASSERT_EQ(WriteServiceDword(kId, "notFirstStartFlag", 2), 0);
  StartServiceByName(kId);  // it may have failed before the answer
  ASSERT_TRUE(Eventually(stopped, milliseconds(5000)));
  EXPECT_EQ(status.win32_exit_code, kErrorServiceSpecificError);
  EXPECT_EQ(status.service_specific_exit_code, 124u);
  std::string message;
  ASSERT_EQ(ReadServiceString(kId, "lastErrorMessage", &message), 0);
  EXPECT_EQ(message, "KestraneCollector::LoadParameters() call failed with return value -2");

  // With its run folder on a full disk (as root, where one can be mounted)
  // the stop cannot be kept: it still reads as no clean one.
  std::unique_ptr<SmallDisk> disk;
  if (::geteuid() == 0) disk = std::make_unique<SmallDisk>(home_.path() + "/run", 1 << 20);
  if (disk != nullptr && disk->mounted()) {
    ASSERT_TRUE(disk->Fill());
    StartServiceByName(kId);
    ASSERT_TRUE(Eventually(stopped, milliseconds(5000)));
    EXPECT_EQ(status.win32_exit_code, kErrorProcessAborted);
    EXPECT_EQ(status.service_specific_exit_code, 0u);
  }

  Program remove(home_.path(), {"-remove"});
  ASSERT_EQ(remove.Wait(milliseconds(10000)), 0);
  EXPECT_EQ(QueryServiceState(kId, &state), 0);
  EXPECT_EQ(state, kServiceStateNotInstalled);
}

// Run as root in a home other users may write, the program runs nothing:
// not by hand, not for the service manager.
TEST_F(CollectorServiceTest, RefusesToRunAsRootInAHomeOthersMayWrite) {
  if (::geteuid() != 0) GTEST_SKIP() << "the refusal guards a service run as root";
  Configure(0, {"\\Memory\\Available Bytes"});
  ASSERT_EQ(::chmod(home_.path().c_str(), 0775), 0);
  for (const char* word : {"-debug", "-service"}) {
    Program refused(home_.path(), {word});
    ASSERT_EQ(refused.Wait(milliseconds(10000)), 1) << word;
    EXPECT_EQ(refused.Err(), "Kestrane buffer creator: refusing to run as root: " + home_.path() +
                                 " may be written by its group or by other users; only root may own "
                                 "and change it\n")
        << word;
    EXPECT_FALSE(std::filesystem::exists(buffer_)) << word;
  }
  ASSERT_EQ(::chmod(home_.path().c_str(), 0700), 0);
}

// Kills while the collector makes a new buffer, half of them the moment the
// registry names it: none may leave a buffer that the next tick refuses.
TEST_F(CollectorServiceTest, KillsWhileABufferIsMadeLeaveNoRefusedBuffer) {
  const std::vector<std::string> counters = {"\\Processor(_Total)\\% Processor Time",
                                             "\\Memory\\Available Bytes", "\\System\\Processes"};
  const auto give_up = steady_clock::now() + std::chrono::seconds(240);
  int kills = 0, named = 0;
  for (; kills < 50 && steady_clock::now() < give_up; ++kills) {
    Configure(0, counters);
    {
      Program debug(home_.path(), {"-debug"});
      if (kills % 2 == 0) {
        const auto end = steady_clock::now() + milliseconds(5000);
        int flag = 0;
        while (steady_clock::now() < end &&
               (ReadServiceDword(kId, "notFirstStartFlag", &flag) != 0 || flag != 1)) {
          std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        named += flag == 1;
      } else {
        std::this_thread::sleep_for(std::chrono::microseconds(700 * kills));
      }
    }  // killed with SIGKILL here
    int flag = 0;
    ASSERT_EQ(ReadServiceDword(kId, "notFirstStartFlag", &flag), 0);
    KestraneCollector next;
    ASSERT_EQ(next.Gather(), 0) << "after kill " << kills << " (flag " << flag << ")";
  }
  EXPECT_EQ(kills, 50) << "the kills took longer than 240 s";
  EXPECT_GE(named, 20) << "too few kills came after the registry named the buffer";
}

TEST_F(CollectorServiceTest, ControlsWithoutAUserControl) {
  const ServiceFrame& frame = CollectorServiceFrame();
  // What the frame shares with the checker's is tested there; these are the
  // collector's own.
  EXPECT_EQ(frame.controls_accepted, 7u);
  EXPECT_EQ(frame.reload_control, 0u);
  EXPECT_FALSE(frame.running_before_load);
  EXPECT_EQ(frame.priority_steps, 2);
  EXPECT_EQ(frame.interval_unit_ms, 60000);
  EXPECT_EQ(frame.retry_result, -2);
  EXPECT_EQ(frame.load_failure_exit, 124u);
  EXPECT_EQ(frame.tick_failure_exit, 125u);
  EXPECT_EQ(frame.tick_error_code, 11);
  EXPECT_STREQ(frame.service.name, "Kestrane buffer creator");
  UseServiceFrame(frame);
  EXPECT_EQ(ServiceCtrlHandler(129, 0, nullptr, nullptr), 120u);
  EXPECT_EQ(ServiceCtrlHandler(4, 0, nullptr, nullptr), 0u);
}

}  // namespace
}  // namespace kst
