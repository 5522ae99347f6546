// The checking service run as a real service under a private installation.
#include "StatSubsystem/KestraneChecker/checker_service.h"

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "StatSubsystem/common/product_key.h"
#include "StatSubsystem/common/service_frame_testing.h"
#include "StatSubsystem/common/service_control.h"
#include "StatSubsystem/common/service_keys.h"
#include "gtest/gtest.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/registry_testing.h"
#include "platform/services.h"

namespace kst {
namespace {

using Clock = std::chrono::steady_clock;

constexpr char kChecker[] = "kstChecker";

class CheckerServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string root = home_.path();
    int result = 0;
    WriteProductValue("", "rootDirectory", kRegSz, root.c_str(),
                      static_cast<uint32_t>(root.size() + 1), &result);
    ASSERT_EQ(result, 0);
    RegistryKey collector;
    ASSERT_EQ(RegistryKey::Create("System\\CurrentControlSet\\Services\\Kestrane buffer creator",
                                  &collector),
              kErrorSuccess);
    ASSERT_EQ(WriteServiceDword("kstCollector", "notFirstStartFlag", 1), 0);
  }

  void TearDown() override {
    StopServiceByName(kChecker);
    WaitStopped();
    // A sanitizer's report in the daemon lands in its log.
    std::string log = Slurp("log/Kestrane stat checker.log");
    EXPECT_EQ(log.find("Sanitizer"), std::string::npos) << log;
    EXPECT_EQ(log.find("runtime error:"), std::string::npos) << log;
  }

  static void SetInterval(int milliseconds) {
    int result = 0;
    WriteProductValue("", "intervalBetweenCheckings", kRegDword, &milliseconds, 4, &result);
    ASSERT_EQ(result, 0);
  }

  // The checker with the scripted check, as the checking service.
  void InstallScriptedChecker() {
    std::unique_ptr<ServiceManager> manager;
    ASSERT_EQ(ServiceManager::Open(kManagerCreateService, &manager), kErrorSuccess);
    ServiceConfig config;
    config.name = "Kestrane stat checker";
    config.image_path = std::string(KST_CHECKER_TESTPROG) + " -service";
    config.start_type = kServiceAutoStart;
    std::unique_ptr<Service> service;
    ASSERT_EQ(manager->CreateService(config, kServiceAllAccess, &service), kErrorSuccess);
  }

  // Runs the real program by hand; its standard output and error go to a file.
  std::string RunChecker(const std::string& arguments, uint32_t* exit_code = nullptr) {
    ProcessOptions options;
    options.hidden = true;
    options.output_file = home_.path() + "/run.out";
    std::remove(options.output_file.c_str());
    EXPECT_EQ(RunProgramAndWait(std::string(KST_CHECKER_PROGRAM) + " " + arguments, options,
                                exit_code),
              kErrorSuccess);
    return Slurp("run.out");
  }

  std::string Slurp(const std::string& file) {
    std::ifstream in(home_.path() + "/" + file);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  struct CheckSeen {
    long long ms;
    int reload;
  };
  std::vector<CheckSeen> Checks() {
    std::vector<CheckSeen> checks;
    std::istringstream in(Slurp("checks"));
    std::string word;
    CheckSeen seen;
    while (in >> word >> seen.ms >> seen.reload) checks.push_back(seen);
    return checks;
  }

  // Waits up to `seconds` for the number of checks to reach `count`.
  bool WaitForChecks(size_t count, double seconds) {
    auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
      if (Checks().size() >= count) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return Checks().size() >= count;
  }

  // Waits until the service has stopped (QueryServiceState already calls a
  // stop-pending service stopped).
  static bool WaitStopped(double seconds = 30) {
    std::unique_ptr<ServiceManager> manager;
    std::unique_ptr<Service> service;
    if (ServiceManager::Open(kManagerConnect, &manager) != kErrorSuccess ||
        manager->OpenService("Kestrane stat checker", kServiceQueryStatus, &service) !=
            kErrorSuccess) {
      return true;
    }
    auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
      ServiceStatus status;
      if (service->QueryStatus(&status) == kErrorSuccess &&
          status.current_state == kServiceStopped) {
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  // The error a failed service left in its key and in its log.
  void ExpectStoppedWith(uint32_t specific_exit, int code, const std::string& text) {
    std::unique_ptr<ServiceManager> manager;
    std::unique_ptr<Service> service;
    ServiceStatus status;
    ASSERT_EQ(ServiceManager::Open(kManagerConnect, &manager), kErrorSuccess);
    ASSERT_EQ(manager->OpenService("Kestrane stat checker", kServiceQueryStatus, &service),
              kErrorSuccess);
    ASSERT_EQ(service->QueryStatus(&status), kErrorSuccess);
    EXPECT_EQ(status.current_state, kServiceStopped);
    EXPECT_EQ(status.win32_exit_code, kErrorServiceSpecificError);
    EXPECT_EQ(status.service_specific_exit_code, specific_exit);
    int number = 0;
    std::string message;
    ASSERT_EQ(ReadServiceDword(kChecker, "lastErrorNo", &number), 0);
    ASSERT_EQ(ReadServiceString(kChecker, "lastErrorMessage", &message), 0);
    EXPECT_EQ(number, code);
    EXPECT_EQ(message, text);
    std::string line = "error " + std::to_string(code) + ": " + text + "\n";
    EXPECT_NE(Slurp("log/Kestrane stat checker.log").find(line), std::string::npos);
  }

  void SetCheckResult(int result) { std::ofstream(home_.path() + "/check_result") << result; }

  TempKestraneHome home_;
};

TEST_F(CheckerServiceTest, LoadParametersNeedsACollectorAndAPositiveInterval) {
  struct Case {
    const char* what;
    bool collector_configured;
    int interval;  // 0x7fffffff: no value
    int result;
  } cases[] = {
      {"collector never configured", false, 1000, -1},
      {"no interval", true, 0x7fffffff, -2},
      {"zero interval", true, 0, -3},
      {"negative interval", true, -1, -3},
      {"one millisecond", true, 1, 0},
      {"a minute", true, 60000, 0},
  };
  for (const Case& c : cases) {
    RegistryKey key;
    ASSERT_EQ(RegistryKey::Open("System\\CurrentControlSet\\Services\\Kestrane buffer creator",
                                RegAccess::kReadWrite, &key),
              kErrorSuccess);
    key.DeleteValue("notFirstStartFlag");
    if (c.collector_configured) {
      ASSERT_EQ(WriteServiceDword("kstCollector", "notFirstStartFlag", 0), 0);
    }
    ASSERT_EQ(RegistryKey::Open("SOFTWARE\\Kestrane", RegAccess::kReadWrite, &key), kErrorSuccess);
    key.DeleteValue("intervalBetweenCheckings");
    if (c.interval != 0x7fffffff) {
      SetInterval(c.interval);
    }
    int interval = 777;
    Checker().reloadRequested = false;
    EXPECT_EQ(KestraneChecker::LoadParameters(&interval), c.result) << c.what;
    EXPECT_EQ(interval, c.result == 0 ? c.interval : 777) << c.what;
    EXPECT_EQ(Checker().reloadRequested, c.result == 0) << c.what;
  }
}

// The checker's frame reports running before it loads its parameters; a
// failed load stops it with 128, a failed check (after the first, which is
// not looked at) with 125, and -3 is retried after 2 s. (A child may end
// with a leak report of the registry connection it inherited and must not
// close: hence no end anchor.)
TEST_F(CheckerServiceTest, FrameFailuresEndTheProcessWithTheirCodes) {
  static int checks = 0;
  static std::vector<int> results;
  SetCheckerCheck([]() -> int {
    std::fprintf(stderr, "check\n");
    return checks < static_cast<int>(results.size()) ? results[checks++] : 0;
  });
  auto observe = [](const ServiceStatus& s) {
    std::fprintf(stderr, "state %u exit %u/%u\n", s.current_state, s.win32_exit_code,
                 s.service_specific_exit_code);
  };
  UseServiceFrame(CheckerServiceFrame());
  SetInterval(0);
  EXPECT_EXIT(
      {
        SetServiceStatusObserverForTesting(observe);
        ::alarm(20);  // a service that does not end dies by SIGALRM
        ServiceMain(0, nullptr);
      },
      ::testing::ExitedWithCode(1),
      "^state 2 exit 0/0\nstate 4 exit 0/0\nstate 1 exit 1066/128\n"
      "error 11: KestraneChecker::LoadParameters\\(\\) call failed with return value -3\n");
  SetInterval(1);
  EXPECT_EXIT(
      {
        results.assign({-1, -3, -2});
        SetServiceStatusObserverForTesting(observe);
        ::alarm(20);  // a service that does not end dies by SIGALRM
        ServiceMain(0, nullptr);
      },
      ::testing::ExitedWithCode(1),
      "^state 2 exit 0/0\nstate 4 exit 0/0\ncheck\ncheck\ncheck\nstate 1 exit 1066/125\n"
      "error 12: KestraneChecker::Check\\(\\) call failed with return value -2\n");
  SetCheckerCheck(nullptr);
}

TEST_F(CheckerServiceTest, StartPauseReloadContinueStop) {
  SetInterval(60000);
  InstallScriptedChecker();
  ASSERT_EQ(StartServiceByName(kChecker), 0);
  ASSERT_TRUE(WaitForChecks(1, 30));
  EXPECT_EQ(Checks()[0].reload, 1);
  int state = -1;
  EXPECT_EQ(QueryServiceState(kChecker, &state), 0);
  EXPECT_EQ(state, kServiceStateRunning);
  EXPECT_EQ(StartServiceByName(kChecker), -6);

  // A reload ends the wait: a check follows at once, with the
  // configuration to be read again.
  ASSERT_EQ(SendReloadControl(kChecker), 0);
  ASSERT_TRUE(WaitForChecks(2, 30)) << "no check within 30 s of the reload (the interval is 60 s)";
  EXPECT_EQ(Checks()[1].reload, 1);

  // Paused, a reload is ignored.
  ASSERT_EQ(PauseServiceByName(kChecker), 0);
  EXPECT_EQ(QueryServiceState(kChecker, &state), 0);
  EXPECT_EQ(state, kServiceStatePaused);
  ASSERT_EQ(SendReloadControl(kChecker), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_EQ(Checks().size(), 2u);

  ASSERT_EQ(ContinueServiceByName(kChecker), 0);
  EXPECT_EQ(QueryServiceState(kChecker, &state), 0);
  EXPECT_EQ(state, kServiceStateRunning);

  ASSERT_EQ(StopServiceByName(kChecker), 0);
  ASSERT_TRUE(WaitStopped(30)) << "not stopped within 30 s of the stop (the interval is 60 s)";
  EXPECT_EQ(StopServiceByName(kChecker), -16);
  EXPECT_EQ(Checks().size(), 2u);
}

// Until the wait sees a stop, the service is stop-pending: a query then
// must not make it look running again, and a pause must not undo the stop.
TEST_F(CheckerServiceTest, StopIsNotUndoneByAQueryAndAPause) {
  SetInterval(60000);
  InstallScriptedChecker();
  ASSERT_EQ(StartServiceByName(kChecker), 0);
  ASSERT_TRUE(WaitForChecks(1, 30));
  ASSERT_EQ(StopServiceByName(kChecker), 0);
  int state = -1;
  EXPECT_EQ(QueryServiceState(kChecker, &state), 0);
  EXPECT_EQ(state, kServiceStateStopped);
  // Refused while stop-pending; not running any more once stopped.
  int paused = PauseServiceByName(kChecker);
  EXPECT_TRUE(paused == -15 || paused == -16) << paused;
  EXPECT_TRUE(WaitStopped());
}

// A started service that is neither running nor starting a second later
// gives -14 with the last error of its own key (the collector's key would
// tell of another service).
TEST_F(CheckerServiceTest, StartThatDoesNotComeUpGivesItsOwnLastError) {
  std::unique_ptr<ServiceManager> manager;
  ASSERT_EQ(ServiceManager::Open(kManagerCreateService, &manager), kErrorSuccess);
  ServiceConfig config;
  config.name = "Kestrane stat checker";
  config.image_path = std::string(KST_SERVICE_TESTPROG) + " -paused";
  std::unique_ptr<Service> service;
  ASSERT_EQ(manager->CreateService(config, kServiceAllAccess, &service), kErrorSuccess);
  ASSERT_EQ(WriteServiceDword(kChecker, "lastErrorNo", 12), 0);
  ASSERT_EQ(WriteServiceString(kChecker, "lastErrorMessage", "the checker's"), 0);
  ASSERT_EQ(WriteServiceDword("kstCollector", "lastErrorNo", 11), 0);
  ASSERT_EQ(WriteServiceString("kstCollector", "lastErrorMessage", "the collector's"), 0);

  std::string detail;
  EXPECT_EQ(StartServiceByName(kChecker, &detail), -14);
  EXPECT_EQ(detail, "service error 12 the checker's");
}

TEST_F(CheckerServiceTest, PauseHoldsTheIntervalClock) {
  SetInterval(3000);
  InstallScriptedChecker();
  ASSERT_EQ(StartServiceByName(kChecker), 0);
  ASSERT_TRUE(WaitForChecks(1, 30));
  ASSERT_EQ(PauseServiceByName(kChecker), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  EXPECT_EQ(Checks().size(), 1u);
  ASSERT_EQ(ContinueServiceByName(kChecker), 0);
  ASSERT_TRUE(WaitForChecks(2, 30));
  // Unpaused the next check would have come within 3 s of the first.
  std::vector<CheckSeen> checks = Checks();
  EXPECT_GE(checks[1].ms - checks[0].ms, 3900);
}

TEST_F(CheckerServiceTest, UnopenableMessagesFileIsRetriedOtherFailuresStop) {
  SetInterval(60000);
  SetCheckResult(-3);
  InstallScriptedChecker();
  ASSERT_EQ(StartServiceByName(kChecker), 0);
  ASSERT_TRUE(WaitForChecks(1, 30));  // the first check's answer is not looked at
  ASSERT_EQ(SendReloadControl(kChecker), 0);
  ASSERT_TRUE(WaitForChecks(3, 30)) << "no retry within 30 s (the interval is 60 s)";
  std::vector<CheckSeen> checks = Checks();
  EXPECT_GE(checks[2].ms - checks[1].ms, 900);
  SetCheckResult(0);
  ASSERT_TRUE(WaitForChecks(4, 30)) << "no retry within 30 s (the interval is 60 s)";
  std::this_thread::sleep_for(std::chrono::milliseconds(2200));
  EXPECT_EQ(Checks().size(), 4u);

  SetCheckResult(-1);
  ASSERT_EQ(SendReloadControl(kChecker), 0);
  ASSERT_TRUE(WaitStopped());
  ExpectStoppedWith(125, 12, "KestraneChecker::Check() call failed with return value -1");
}

TEST_F(CheckerServiceTest, ProgramInstallsOnceAndStopsOnABadInterval) {
  RunChecker("-install");
  RunChecker("-install");
  std::unique_ptr<ServiceManager> manager;
  ASSERT_EQ(ServiceManager::Open(kManagerConnect, &manager), kErrorSuccess);
  std::vector<std::string> names;
  ASSERT_EQ(manager->ListServices(&names), kErrorSuccess);
  ASSERT_EQ(names, std::vector<std::string>{"Kestrane stat checker"});
  std::unique_ptr<Service> service;
  ASSERT_EQ(manager->OpenService(names[0], kServiceQueryConfig, &service), kErrorSuccess);
  ServiceConfig config;
  ASSERT_EQ(service->QueryConfig(&config), kErrorSuccess);
  EXPECT_EQ(config.image_path, std::string(KST_CHECKER_PROGRAM) + " -service");

  SetInterval(0);
  int result = StartServiceByName(kChecker);
  EXPECT_TRUE(result == 0 || result == -14) << result;
  ASSERT_TRUE(WaitStopped());
  ExpectStoppedWith(128, 11, "KestraneChecker::LoadParameters() call failed with return value -3");
}

TEST_F(CheckerServiceTest, RemoveStopsARunningService) {
  RunChecker("-install");
  SetInterval(60000);
  ASSERT_EQ(StartServiceByName(kChecker), 0);
  auto start = Clock::now();
  RunChecker("-remove");
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(2000));
  int state = -1;
  EXPECT_EQ(QueryServiceState(kChecker, &state), 0);
  EXPECT_EQ(state, kServiceStateNotInstalled);
}

// Run as root, the checker neither starts nor reloads while another user
// could change what it would read, load or start: the start is refused
// naming the path, a reload is refused in the log and the checks go on
// with what was read before.
TEST_F(CheckerServiceTest, RootRefusesWhatAnotherUserCouldChange) {
  if (::geteuid() != 0) GTEST_SKIP() << "the refusal guards a service run as root";
  const std::string home = home_.path();
  const std::string tail = "; only root may own and change it\n";
  for (const char* folder : {"/States", "/Profiles"}) std::filesystem::create_directory(home + folder);
  for (const char* file : {"/States/i1.state", "/Profiles/_default_.cfg", "/KestraneAlerter.so"}) {
    std::ofstream(home + file) << "x";
  }
  SetInterval(60000);
  InstallScriptedChecker();
  auto own = [](const std::string& path, uid_t user) { ::lchown(path.c_str(), user, 0); };
  auto mode = [](const std::string& path, mode_t m) { ::chmod(path.c_str(), m); };
  const std::string profiles = home + "/Profiles", fallback = home + "/Profiles/_default_.cfg";
  const std::string state = home + "/States/i1.state", alerter = home + "/KestraneAlerter.so";
  struct Case {
    const char* what;
    std::function<void()> make, undo;
    std::string reason;
  } cases[] = {
      {"Profiles of another user", [&] { own(profiles, 65534); }, [&] { own(profiles, 0); },
       profiles + " belongs to user 65534, not root"},
      {"Profiles others may write", [&] { mode(profiles, 0777); }, [&] { mode(profiles, 0755); },
       profiles + " may be written by its group or by other users"},
      {"default profile of another user", [&] { own(fallback, 65534); }, [&] { own(fallback, 0); },
       fallback + " belongs to user 65534, not root"},
      {"state file its group may write", [&] { mode(state, 0664); }, [&] { mode(state, 0644); },
       state + " may be written by its group or by other users"},
      {"alerter of another user", [&] { own(alerter, 65534); }, [&] { own(alerter, 0); },
       alerter + " belongs to user 65534, not root"},
  };
  for (const Case& c : cases) {
    c.make();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(StartServiceByName(kChecker), -4) << c.what;
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Kestrane stat checker: refusing to start: " + c.reason + tail)
        << c.what;
    c.undo();
  }
  EXPECT_TRUE(Checks().empty());

  ASSERT_EQ(StartServiceByName(kChecker), 0);
  ASSERT_TRUE(WaitForChecks(1, 2));
  mode(profiles, 0777);
  ASSERT_EQ(SendReloadControl(kChecker), 0);
  ASSERT_TRUE(WaitForChecks(2, 4)) << "a check after the refused reload";
  EXPECT_EQ(Checks()[1].reload, 0);
  EXPECT_NE(Slurp("log/Kestrane stat checker.log")
                .find("Kestrane stat checker: refusing to reload as root: " + profiles +
                      " may be written by its group or by other users" + tail),
            std::string::npos)
      << Slurp("log/Kestrane stat checker.log");
  mode(profiles, 0755);
  ASSERT_EQ(SendReloadControl(kChecker), 0);
  ASSERT_TRUE(WaitForChecks(3, 4)) << "a check after the reload";
  EXPECT_EQ(Checks()[2].reload, 1);
}

// A home moved to another disk through a link of root's runs the checker;
// another user's link to the same home does not.
TEST_F(CheckerServiceTest, RootStartsInAHomeThatIsALinkOfRoots) {
  if (::geteuid() != 0) GTEST_SKIP() << "the refusal guards a service run as root";
  const std::string link = home_.path() + ".link";
  std::filesystem::create_directory_symlink(home_.path(), link);
  ::setenv("KESTRANE_HOME", link.c_str(), 1);
  SetInterval(60000);
  InstallScriptedChecker();
  ::lchown(link.c_str(), 65534, 0);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(StartServiceByName(kChecker), -4);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Kestrane stat checker: refusing to start: " + link +
                " belongs to user 65534, not root; only root may own and change it\n");
  ::lchown(link.c_str(), 0, 0);
  EXPECT_EQ(StartServiceByName(kChecker), 0);
  EXPECT_TRUE(WaitForChecks(1, 2)) << "a check in the linked home";
  EXPECT_EQ(StopServiceByName(kChecker), 0);
  EXPECT_TRUE(WaitStopped());
  ::setenv("KESTRANE_HOME", home_.path().c_str(), 1);
  std::filesystem::remove(link);
}

// A user who may not change the service database hears why, and the
// program ends with 1 without going on to its next word.
TEST_F(CheckerServiceTest, InstallAndRemoveByAnotherUserSayWhy) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
  ASSERT_EQ(::chmod(home_.path().c_str(), 0755), 0);  // nobody may read, not write
  const std::string refusal =
      ": access denied to the service database " + home_.path() + "/registry.db\n";
  ChildOutcome install;
  if (!RunAsNobody(KST_CHECKER_PROGRAM, {"-install"}, home_.path(), &install)) {
    GTEST_SKIP() << "no user nobody to test another user's access";
  }
  EXPECT_EQ(install.status, 1);
  EXPECT_EQ(install.err, "Kestrane stat checker: cannot install the service" + refusal);
  int state = -1;
  EXPECT_EQ(QueryServiceState(kChecker, &state), 0);
  EXPECT_EQ(state, kServiceStateNotInstalled);

  RunChecker("-install");
  ChildOutcome remove;
  ASSERT_TRUE(RunAsNobody(KST_CHECKER_PROGRAM, {"-remove", "-install"}, home_.path(), &remove));
  EXPECT_EQ(remove.status, 1);
  EXPECT_EQ(remove.err, "Kestrane stat checker: cannot remove the service" + refusal);
  EXPECT_EQ(QueryServiceState(kChecker, &state), 0);
  EXPECT_EQ(state, kServiceStateStopped);
  ASSERT_EQ(::chmod(home_.path().c_str(), 0700), 0);
}

TEST_F(CheckerServiceTest, CommandLineByHand) {
  uint32_t exit_code = 99;
  EXPECT_EQ(RunChecker("", &exit_code),
            "usage: service.exe [options]\noptions:\n"
            "-install\tinstalls the service in SCM database\n"
            "-remove\tremoves the service from SCM database\n"
            "-debug\truns the service as normal process\n"
            "-service\truns the process as a service\n");
  EXPECT_EQ(exit_code, 0u);
  EXPECT_EQ(RunChecker("-unknown -other", &exit_code), "");

  // Started by hand, "-service" cannot reach the manager.
  RunChecker("-install");
  EXPECT_EQ(RunChecker("-service", &exit_code),
            "error 91: 'StartServiceCtrlDispatcher' error: "
            "ERROR_FAILED_SERVICE_CONTROLLER_CONNECT\n");
  EXPECT_EQ(exit_code, 0u);
  int number = 0;
  ASSERT_EQ(ReadServiceDword(kChecker, "lastErrorNo", &number), 0);
  EXPECT_EQ(number, 91);

  // "-debug" runs the service body in the console.
  SetInterval(-5);
  EXPECT_EQ(RunChecker("-debug", &exit_code),
            "error 11: KestraneChecker::LoadParameters() call failed with return value -3\n");
  EXPECT_EQ(exit_code, 1u);

  // Without rootDirectory the service body ends at once, silently.
  RegistryKey product;
  ASSERT_EQ(RegistryKey::Open("SOFTWARE\\Kestrane", RegAccess::kReadWrite, &product),
            kErrorSuccess);
  ASSERT_EQ(product.DeleteValue("rootDirectory"), kErrorSuccess);
  product.Close();
  ASSERT_EQ(WriteServiceDword(kChecker, "lastErrorNo", 0), 0);
  EXPECT_EQ(RunChecker("-debug", &exit_code), "");
  EXPECT_EQ(exit_code, 0u);
  ASSERT_EQ(ReadServiceDword(kChecker, "lastErrorNo", &number), 0);
  EXPECT_EQ(number, 0);
}

}  // namespace
}  // namespace kst
