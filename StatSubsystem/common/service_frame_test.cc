#include "StatSubsystem/common/service_frame.h"

#include <chrono>
#include <thread>

#include "StatSubsystem/common/service_keys.h"
#include "gtest/gtest.h"
#include "platform/registry.h"
#include "platform/registry_testing.h"
#include "platform/services.h"

namespace kst {
namespace {

class ServiceFrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    frame_.service = kCheckerService;
    frame_.reload_control = 129;
    UseServiceFrame(frame_);
    Control(kServiceControlContinue);
  }
  static void Control(uint32_t control, uint32_t expected = 0) {
    EXPECT_EQ(ServiceCtrlHandler(control, 0, nullptr, nullptr), expected) << control;
  }
  static double SecondsOf(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }

  TempKestraneHome home_;
  ServiceFrame frame_;
};

TEST_F(ServiceFrameTest, HandlerMovesTheRunStateAndStopFlag) {
  struct Step {
    uint32_t control;
    uint32_t answer;
    int run_state;
    bool stop_requested;
  } steps[] = {
      {kServiceControlInterrogate, 0, kRunStateRunning, false},
      {129, 0, kRunStateReload, false},
      {kServiceControlPause, 0, kRunStatePaused, true},
      {129, 0, kRunStatePaused, true},  // a paused service ignores reloads
      {kServiceControlInterrogate, 0, kRunStatePaused, true},
      {130, kErrorCallNotImplemented, kRunStatePaused, true},
      {kServiceControlContinue, 0, kRunStateRunning, false},
      {kServiceControlShutdown, 0, kRunStateStopped, true},
      {kServiceControlContinue, 0, kRunStateRunning, false},
      {kServiceControlStop, 0, kRunStateStopped, true},
  };
  for (const Step& step : steps) {
    Control(step.control, step.answer);
    EXPECT_EQ(RunState(), step.run_state) << step.control;
    EXPECT_EQ(StopRequested(), step.stop_requested) << step.control;
  }
  // Without a reload control every user control is unknown.
  frame_.reload_control = 0;
  Control(kServiceControlContinue);
  Control(129, kErrorCallNotImplemented);
  EXPECT_EQ(RunState(), kRunStateRunning);
}

TEST_F(ServiceFrameTest, WaitEndsOnTimeStopAndReload) {
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitInterruptible(500), 1);  // below a second: at once
  EXPECT_EQ(WaitInterruptible(-5), 1);
  EXPECT_LT(SecondsOf(start), 0.5);

  Control(129);
  EXPECT_EQ(WaitInterruptible(60000), kRunStateReload);
  EXPECT_EQ(RunState(), kRunStateRunning);

  start = std::chrono::steady_clock::now();
  std::thread stopper([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    Control(kServiceControlStop);
  });
  EXPECT_EQ(WaitInterruptible(60000), 0);
  stopper.join();
  EXPECT_LT(SecondsOf(start), 1.5);
}

TEST_F(ServiceFrameTest, PauseHoldsTheClock) {
  auto start = std::chrono::steady_clock::now();
  std::thread controller([] {
    Control(kServiceControlPause);
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    Control(kServiceControlContinue);
  });
  EXPECT_EQ(WaitInterruptible(1000), 1);
  controller.join();
  // One second of waiting plus the paused stretch.
  EXPECT_GE(SecondsOf(start), 2.5);
}

TEST_F(ServiceFrameTest, ErrorsAreSavedToTheServiceKey) {
  EXPECT_EQ(SaveLastError(11, "text"), -1);  // not installed: nothing written
  RegistryKey key;
  ASSERT_EQ(RegistryKey::Create("System\\CurrentControlSet\\Services\\Kestrane stat checker",
                                &key),
            kErrorSuccess);
  testing::internal::CaptureStderr();
  ReportError(12, "KestraneChecker::Check() call failed with return value -1");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "error 12: KestraneChecker::Check() call failed with return value -1\n");
  int number = 0;
  std::string message;
  ASSERT_EQ(ReadServiceDword("kstChecker", "lastErrorNo", &number), 0);
  ASSERT_EQ(ReadServiceString("kstChecker", "lastErrorMessage", &message), 0);
  EXPECT_EQ(number, 12);
  EXPECT_EQ(message, "KestraneChecker::Check() call failed with return value -1");

  // Code 1 is the usage, and nothing is stored.
  testing::internal::CaptureStdout();
  ReportError(1, "help");
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "usage: service.exe [options]\noptions:\n"
            "-install\tinstalls the service in SCM database\n"
            "-remove\tremoves the service from SCM database\n"
            "-debug\truns the service as normal process\n"
            "-service\truns the process as a service\n");
  ASSERT_EQ(ReadServiceDword("kstChecker", "lastErrorNo", &number), 0);
  EXPECT_EQ(number, 12);
}

}  // namespace
}  // namespace kst
