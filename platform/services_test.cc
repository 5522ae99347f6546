#include "platform/services.h"

#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "gtest/gtest.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/registry_testing.h"
#include "platform/services_channel.h"
#include "platform/services_testing.h"

namespace kst {
namespace {

namespace sc = service_channel;

constexpr char kName[] = "Test Service";

class ServicesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(ServiceManager::Open(kManagerConnect | kManagerCreateService, &manager_),
              kErrorSuccess);
  }
  void TearDown() override {
    // Leave no program running.
    std::unique_ptr<Service> service;
    std::vector<std::string> names;
    manager_->ListServices(&names);
    for (const std::string& name : names) {
      if (manager_->OpenService(name, kServiceAllAccess, &service) == kErrorSuccess) {
        service->Control(kServiceControlStop, nullptr);
        WaitStopped(service.get());
      }
    }
    // A sanitizer's report in the daemon lands in its log.
    std::string log = Slurp(std::string("log/") + kName + ".log");
    EXPECT_EQ(log.find("Sanitizer"), std::string::npos) << log;
    EXPECT_EQ(log.find("runtime error:"), std::string::npos) << log;
    SetServiceStartTimeoutForTesting(30000);
  }

  std::unique_ptr<Service> Install(const std::string& image_path,
                                   uint32_t start_type = kServiceDemandStart) {
    ServiceConfig config;
    config.name = kName;
    config.image_path = image_path;
    config.start_type = start_type;
    std::unique_ptr<Service> service;
    EXPECT_EQ(manager_->CreateService(config, kServiceAllAccess, &service), kErrorSuccess);
    return service;
  }

  static bool WaitStopped(Service* service) { return WaitState(service, kServiceStopped); }

  static bool WaitState(Service* service, uint32_t state) {
    for (int i = 0; i < 250; ++i) {
      ServiceStatus status;
      if (service->QueryStatus(&status) == kErrorSuccess && status.current_state == state) {
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  std::string Slurp(const std::string& file) {
    std::ifstream in(home_ + "/" + file);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  bool KeyExists() {
    RegistryKey key;
    return RegistryKey::Open(std::string("System\\CurrentControlSet\\Services\\") + kName,
                             RegAccess::kRead, &key) == kErrorSuccess;
  }

  TempKestraneHome home_dir_;
  const std::string home_ = home_dir_.path();
  std::unique_ptr<ServiceManager> manager_;
  const std::string program_ = KST_SERVICE_TESTPROG;
};

TEST_F(ServicesTest, DatabaseLivesInTheRegistry) {
  std::unique_ptr<Service> service = Install(program_ + " -service", kServiceAutoStart);
  ASSERT_NE(service, nullptr);
  EXPECT_EQ(service->SetDescription("what it does"), kErrorSuccess);

  ServiceConfig again;
  again.name = "test SERVICE";
  again.image_path = "other";
  std::unique_ptr<Service> second;
  EXPECT_EQ(manager_->CreateService(again, kServiceAllAccess, &second),
            kErrorServiceExists);

  std::unique_ptr<Service> opened;
  ASSERT_EQ(manager_->OpenService("TEST service", kServiceQueryConfig, &opened),
            kErrorSuccess);
  EXPECT_EQ(opened->name(), kName);
  ServiceConfig config;
  ASSERT_EQ(opened->QueryConfig(&config), kErrorSuccess);
  EXPECT_EQ(config.display_name, kName);
  EXPECT_EQ(config.image_path, program_ + " -service");
  EXPECT_EQ(config.description, "what it does");
  EXPECT_EQ(config.start_type, kServiceAutoStart);
  EXPECT_EQ(opened->Start(), kErrorAccessDenied);
  EXPECT_EQ(opened->Delete(), kErrorAccessDenied);

  std::vector<std::string> names;
  ASSERT_EQ(manager_->ListServices(&names), kErrorSuccess);
  EXPECT_EQ(names, std::vector<std::string>{kName});

  EXPECT_EQ(manager_->OpenService("missing", kServiceAllAccess, &opened),
            kErrorServiceDoesNotExist);
  std::unique_ptr<ServiceManager> connect_only;
  ASSERT_EQ(ServiceManager::Open(kManagerConnect, &connect_only), kErrorSuccess);
  EXPECT_EQ(connect_only->CreateService(again, kServiceAllAccess, &second),
            kErrorAccessDenied);
  SetRegistryReadOnlyForTesting(true);
  EXPECT_EQ(ServiceManager::Open(kManagerCreateService, &connect_only), kErrorAccessDenied);
  SetRegistryReadOnlyForTesting(false);

  ASSERT_EQ(service->Delete(), kErrorSuccess);
  EXPECT_FALSE(KeyExists());
  EXPECT_EQ(manager_->OpenService(kName, kServiceAllAccess, &opened),
            kErrorServiceDoesNotExist);
}

TEST_F(ServicesTest, StartControlAndStop) {
  std::unique_ptr<Service> service = Install(program_ + " -service");
  ASSERT_EQ(service->Start(), kErrorSuccess);
  EXPECT_EQ(service->Start(), kErrorServiceAlreadyRunning);
  ASSERT_TRUE(WaitState(service.get(), kServiceRunning));

  ServiceStatus status;
  struct Step {
    uint32_t control;
    WinError error;
    uint32_t state;
  } steps[] = {
      {kServiceControlInterrogate, kErrorSuccess, kServiceRunning},
      {kServiceControlPause, kErrorSuccess, kServicePaused},
      {kServiceControlInterrogate, kErrorSuccess, kServicePaused},
      {kServiceControlContinue, kErrorSuccess, kServiceRunning},
      {200, kErrorSuccess, kServiceRunning},
      {201, kErrorCallNotImplemented, kServiceRunning},
      {kServiceControlStop, kErrorSuccess, kServiceStopPending},
  };
  for (const Step& step : steps) {
    status = ServiceStatus();
    EXPECT_EQ(service->Control(step.control, &status), step.error) << step.control;
    // On a busy machine the program may have stopped before the answer.
    if (step.control == kServiceControlStop && status.current_state == kServiceStopped) continue;
    EXPECT_EQ(status.current_state, step.state) << step.control;
  }
  EXPECT_EQ(service->Control(6, &status), kErrorInvalidParameter);
  EXPECT_EQ(service->Control(256, &status), kErrorInvalidParameter);
  ASSERT_TRUE(WaitStopped(service.get()));
  EXPECT_EQ(service->Control(kServiceControlStop, &status), kErrorServiceNotActive);
  EXPECT_EQ(service->Control(kServiceControlInterrogate, &status), kErrorServiceNotActive);

  EXPECT_EQ(Slurp("events"),
            std::string("main 1 ") + kName +
                "\ncontrol 4\ncontrol 2\ncontrol 4\ncontrol 3\ncontrol 200\n"
                "control 201\ncontrol 1\n");
  // Standard output went to the service's log, and the dispatcher returned.
  std::string log = Slurp(std::string("log/") + kName + ".log");
  EXPECT_NE(log.find("pid "), std::string::npos);
  for (int i = 0; i < 100 && log.find("dispatcher 0") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    log = Slurp(std::string("log/") + kName + ".log");
  }
  EXPECT_NE(log.find("dispatcher 0"), std::string::npos);

  // A stopped service starts again.
  ASSERT_EQ(service->Start(), kErrorSuccess);
  ASSERT_TRUE(WaitState(service.get(), kServiceRunning));
  EXPECT_EQ(service->Control(kServiceControlStop, nullptr), kErrorSuccess);
  EXPECT_TRUE(WaitStopped(service.get()));
}

// A stop-pending service takes no control; interrogate is answered from its
// last report without its handler, which would report it settled again.
TEST_F(ServicesTest, PendingServiceTakesOnlyInterrogate) {
  std::unique_ptr<Service> service = Install(program_ + " -slow-stop");
  ASSERT_EQ(service->Start(), kErrorSuccess);
  ASSERT_TRUE(WaitState(service.get(), kServiceRunning));
  ASSERT_EQ(service->Control(kServiceControlStop, nullptr), kErrorSuccess);
  ServiceStatus status;
  EXPECT_EQ(service->Control(kServiceControlInterrogate, &status), kErrorSuccess);
  EXPECT_EQ(status.current_state, kServiceStopPending);
  EXPECT_EQ(service->Control(kServiceControlPause, &status), kErrorServiceCannotAcceptCtrl);
  EXPECT_EQ(status.current_state, kServiceStopPending);
  ASSERT_TRUE(WaitStopped(service.get()));
  EXPECT_EQ(Slurp("events"), std::string("main 1 ") + kName + "\ncontrol 1\n");
}

TEST_F(ServicesTest, UnquotedProgramPathWithBlanksStarts) {
  std::string folder = home_ + "/dir with blanks";
  ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
  ASSERT_EQ(::symlink(program_.c_str(), (folder + "/prog").c_str()), 0);
  std::unique_ptr<Service> service = Install(folder + "/prog -service");
  ASSERT_EQ(service->Start(), kErrorSuccess);
  ASSERT_TRUE(WaitState(service.get(), kServiceRunning));
  EXPECT_EQ(service->Control(kServiceControlStop, nullptr), kErrorSuccess);
  EXPECT_TRUE(WaitStopped(service.get()));
}

TEST_F(ServicesTest, StartFailures) {
  SetServiceStartTimeoutForTesting(300);
  struct Case {
    std::string image_path;
    uint32_t start_type;
    WinError error;
  } cases[] = {
      {home_ + "/missing.exe -service", kServiceDemandStart, kErrorFileNotFound},
      {home_ + "/nofolder/prog -service", kServiceDemandStart, kErrorPathNotFound},
      {program_ + " -no-dispatch", kServiceDemandStart, kErrorServiceRequestTimeout},
      {program_ + " -hang", kServiceDemandStart, kErrorServiceRequestTimeout},
      {program_ + " -service", kServiceDisabled, kErrorServiceDisabled},
  };
  for (const Case& c : cases) {
    std::unique_ptr<Service> service = Install(c.image_path, c.start_type);
    ASSERT_NE(service, nullptr);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(service->Start(), c.error) << c.image_path;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20))
        << "the start waited on past its timeout of 300 ms (30 s by default)";
    ServiceStatus status;
    EXPECT_EQ(service->QueryStatus(&status), kErrorSuccess);
    EXPECT_EQ(status.current_state, kServiceStopped);
    ASSERT_EQ(service->Delete(), kErrorSuccess);
  }
}

TEST_F(ServicesTest, ProgramStartedByHandCannotConnect) {
  std::string out = home_ + "/out";
  ProcessOptions options;
  options.hidden = true;
  options.output_file = out;
  ASSERT_EQ(RunProgramAndWait(program_ + " -service", options, nullptr), kErrorSuccess);
  EXPECT_NE(Slurp("out").find("dispatcher 1063"), std::string::npos);
}

TEST_F(ServicesTest, RunningServiceIsDeletedOnceItStops) {
  std::unique_ptr<Service> service = Install(program_ + " -service");
  ASSERT_EQ(service->Start(), kErrorSuccess);
  ASSERT_TRUE(WaitState(service.get(), kServiceRunning));
  ASSERT_EQ(service->Delete(), kErrorSuccess);
  EXPECT_TRUE(KeyExists());
  EXPECT_EQ(service->Delete(), kErrorServiceMarkedForDelete);
  EXPECT_EQ(service->Start(), kErrorServiceMarkedForDelete);
  ServiceConfig config;
  config.name = kName;
  config.image_path = "x";
  std::unique_ptr<Service> again;
  EXPECT_EQ(manager_->CreateService(config, kServiceAllAccess, &again),
            kErrorServiceMarkedForDelete);
  ASSERT_EQ(service->Control(kServiceControlStop, nullptr), kErrorSuccess);
  ASSERT_TRUE(WaitStopped(service.get()));
  for (int i = 0; i < 100 && KeyExists(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_FALSE(KeyExists());
}

TEST_F(ServicesTest, TerminationSignalIsTheShutdownControl) {
  std::unique_ptr<Service> service = Install(program_ + " -service");
  ASSERT_EQ(service->Start(), kErrorSuccess);
  std::string log = Slurp(std::string("log/") + kName + ".log");
  int pid = 0;
  ASSERT_EQ(std::sscanf(log.c_str(), "pid %d", &pid), 1);
  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  ASSERT_TRUE(WaitStopped(service.get()));
  EXPECT_NE(Slurp("events").find("control 5\n"), std::string::npos);
}

// The last program the service manager started, by the pid it logged.
pid_t LastLoggedPid(const std::string& log) {
  size_t at = log.rfind("pid ");
  return at == std::string::npos ? -1 : std::atoi(log.c_str() + at + 4);
}

// A stop on a failure, or a program gone without a stop, stays visible
// when the run folder's disk is full; only a program that told its stop
// reads as a clean one.
TEST_F(ServicesTest, FullDiskKeepsHowTheServiceStopped) {
  if (::geteuid() != 0) GTEST_SKIP() << "a small disk is mounted only by root";
  ASSERT_EQ(::mkdir(sc::RunFolder().c_str(), 0700), 0);
  SmallDisk disk(sc::RunFolder(), 1 << 20);
  if (!disk.mounted()) GTEST_SKIP() << disk.why();
  enum End { kStop, kKill };
  struct Case {
    const char* mode;
    bool full_before_start;
    End end;
    uint32_t win32_exit_code;
    uint32_t specific_exit_code;
  } cases[] = {
      {"-fail", false, kStop, kErrorServiceSpecificError, 125},
      {"-service", false, kKill, kErrorProcessAborted, 0},
      // Not even the 32 bytes of the final status fit: no clean stop is claimed.
      {"-fail", true, kStop, kErrorProcessAborted, 0},
      {"-service", true, kStop, kErrorProcessAborted, 0},
      {"-service", false, kStop, kErrorSuccess, 0},
  };
  for (const Case& c : cases) {
    const std::string what = std::string(c.mode) + (c.full_before_start ? " full at start" : "") +
                             (c.end == kKill ? " killed" : " stopped");
    // The start forgets the last case's final status, and gives its space back.
    sc::ForgetFinalStatus(kName);
    disk.Free();
    if (c.full_before_start) {
      ASSERT_TRUE(disk.Fill()) << what;
    }
    std::unique_ptr<Service> service = Install(program_ + " " + c.mode);
    ASSERT_NE(service, nullptr);
    ASSERT_EQ(service->Start(), kErrorSuccess) << what;
    ASSERT_TRUE(WaitState(service.get(), kServiceRunning)) << what;
    if (!c.full_before_start) {
      ASSERT_TRUE(disk.Fill()) << what;
    }
    if (c.end == kStop) {
      EXPECT_EQ(service->Control(kServiceControlStop, nullptr), kErrorSuccess) << what;
    } else {
      ASSERT_EQ(::kill(LastLoggedPid(Slurp(std::string("log/") + kName + ".log")), SIGKILL), 0)
          << what;
    }
    ASSERT_TRUE(WaitStopped(service.get())) << what << ": waited 5 s for the stopped state";
    ServiceStatus status;
    ASSERT_EQ(service->QueryStatus(&status), kErrorSuccess) << what;
    EXPECT_EQ(status.current_state, kServiceStopped) << what;
    EXPECT_EQ(status.win32_exit_code, c.win32_exit_code) << what;
    EXPECT_EQ(status.service_specific_exit_code, c.specific_exit_code) << what;
    ASSERT_EQ(service->Delete(), kErrorSuccess) << what;
  }
}

// Sends one raw request and returns the answer's error, or -1 when the
// service gave none.
int64_t RawRequest(const std::string& bytes) {
  int fd = -1;
  if (sc::Connect(kName, &fd) != kErrorSuccess) return -2;
  sc::WriteFully(fd, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  ::shutdown(fd, SHUT_WR);
  unsigned char in[sc::kAnswerSize];
  bool ok = sc::ReadFully(fd, in, sizeof(in), 3000);
  ::close(fd);
  if (!ok) return -1;
  WinError error;
  ServiceStatus status;
  sc::DecodeAnswer(in, &error, &status);
  return error;
}

TEST_F(ServicesTest, MalformedRequestsAreRefusedWithoutHarm) {
  std::unique_ptr<Service> service = Install(program_ + " -service");
  ASSERT_EQ(service->Start(), kErrorSuccess);
  ASSERT_TRUE(WaitState(service.get(), kServiceRunning));
  unsigned char good[sc::kRequestSize];
  sc::EncodeRequest({sc::kOperationControl, 77}, good);
  std::string unknown_control(reinterpret_cast<char*>(good), sizeof(good));
  sc::EncodeRequest({9, kServiceControlStop}, good);
  std::string unknown_operation(reinterpret_cast<char*>(good), sizeof(good));
  EXPECT_EQ(RawRequest(std::string(12, 'x')), kErrorInvalidParameter);
  EXPECT_EQ(RawRequest(unknown_control), kErrorInvalidParameter);
  EXPECT_EQ(RawRequest(unknown_operation), kErrorInvalidParameter);
  EXPECT_EQ(RawRequest("KSV"), -1);
  EXPECT_EQ(RawRequest(""), -1);
  ServiceStatus status;
  ASSERT_EQ(service->QueryStatus(&status), kErrorSuccess);
  EXPECT_EQ(status.current_state, kServiceRunning);
  EXPECT_EQ(Slurp("events").find("control"), std::string::npos);
}

TEST_F(ServicesTest, ControlsFromAnotherUserAreRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
  passwd* nobody = ::getpwnam("nobody");
  if (nobody == nullptr) GTEST_SKIP() << "no user nobody to test another user's access";
  std::unique_ptr<Service> service = Install(program_ + " -service");
  ASSERT_EQ(service->Start(), kErrorSuccess);
  ASSERT_TRUE(WaitState(service.get(), kServiceRunning));

  // As another user: first the folder stops it, then, with the folder and
  // socket opened up, the peer check.
  auto stop_as_nobody = [&]() -> int {
    pid_t child = ::fork();
    if (child == 0) {
      if (::setuid(nobody->pw_uid) != 0) ::_exit(100);
      WinError answer = kErrorSuccess;
      ServiceStatus status;
      WinError error = sc::Exchange(kName, {sc::kOperationControl, kServiceControlStop},
                                    &answer, &status);
      ::_exit(error != kErrorSuccess ? static_cast<int>(error % 200) : 200 + (answer == 5));
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WEXITSTATUS(status);
  };
  EXPECT_EQ(stop_as_nobody(), static_cast<int>(kErrorAccessDenied));
  ASSERT_EQ(::chmod(home_.c_str(), 0755), 0);
  ASSERT_EQ(::chmod(sc::RunFolder().c_str(), 0755), 0);
  ASSERT_EQ(::chmod(sc::ServiceFile(kName, ".sock").c_str(), 0777), 0);
  EXPECT_EQ(stop_as_nobody(), 201);
  ServiceStatus status;
  ASSERT_EQ(service->QueryStatus(&status), kErrorSuccess);
  EXPECT_EQ(status.current_state, kServiceRunning);
}

}  // namespace
}  // namespace kst
