#include "StatSubsystem/common/service_frame.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "StatSubsystem/common/service_frame_testing.h"
#include "StatSubsystem/common/service_keys.h"
#include "gtest/gtest.h"
#include "platform/registry.h"
#include "platform/registry_testing.h"
#include "platform/services.h"

namespace kst {
namespace {

// What a scripted service did, in order: its reported statuses, its loads
// and its ticks. Death tests write it to standard error instead.
std::mutex g_mutex;
std::vector<std::string> g_events;
bool g_to_stderr = false;
int g_load_result = 0;
int g_interval = 0;  // 0: the wait ends at once
std::vector<int> g_tick_results;  // one per tick; 0 once they run out
size_t g_ticks = 0;

void Note(const std::string& event) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_to_stderr) {
    std::fprintf(stderr, "%s\n", event.c_str());
  } else {
    g_events.push_back(event);
  }
}

void ObserveStatus(const ServiceStatus& s) {
  Note("state " + std::to_string(s.current_state) + " cp " + std::to_string(s.check_point) +
       " hint " + std::to_string(s.wait_hint) + " exit " + std::to_string(s.win32_exit_code) +
       "/" + std::to_string(s.service_specific_exit_code) + " accepts " +
       std::to_string(s.controls_accepted) + " type " + std::to_string(s.service_type));
}

int ScriptedLoad(int* interval) {
  Note("load");
  if (g_load_result < 0) return g_load_result;
  *interval = g_interval;
  return 0;
}

int ScriptedTick() {
  Note("tick");
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_ticks < g_tick_results.size() ? g_tick_results[g_ticks++] : 0;
}

std::vector<std::string> Events() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_events;
}

class ServiceFrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    frame_.service = kCheckerService;
    frame_.reload_control = 129;
    frame_.load_parameters = ScriptedLoad;
    frame_.load_parameters_name = "Load()";
    frame_.tick = ScriptedTick;
    frame_.tick_name = "Tick()";
    UseServiceFrame(frame_);
    Control(kServiceControlContinue);
    g_events.clear();
    g_to_stderr = false;
    g_load_result = 0;
    g_tick_results.clear();
    g_ticks = 0;
    g_interval = 0;
  }
  void TearDown() override { SetServiceStatusObserverForTesting(nullptr); }
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
    const char* reported;  // the fresh status, or "" for none
  } steps[] = {
      {kServiceControlInterrogate, 0, kRunStateRunning, false, "state 4 cp 5"},
      {129, 0, kRunStateReload, false, ""},
      {kServiceControlPause, 0, kRunStatePaused, true, "state 7 cp 6"},
      {129, 0, kRunStatePaused, true, ""},  // a paused service ignores reloads
      {kServiceControlInterrogate, 0, kRunStatePaused, true, "state 7 cp 5"},
      {130, kErrorCallNotImplemented, kRunStatePaused, true, ""},
      {kServiceControlContinue, 0, kRunStateRunning, false, "state 4 cp 6"},
      {kServiceControlShutdown, 0, kRunStateStopped, true, "state 3 cp 4"},
      {kServiceControlContinue, 0, kRunStateRunning, false, "state 4 cp 6"},
      {kServiceControlStop, 0, kRunStateStopped, true, "state 3 cp 4"},
  };
  SetServiceStatusObserverForTesting(ObserveStatus);
  frame_.controls_accepted = 5;
  for (const Step& step : steps) {
    g_events.clear();
    Control(step.control, step.answer);
    EXPECT_EQ(RunState(), step.run_state) << step.control;
    EXPECT_EQ(StopRequested(), step.stop_requested) << step.control;
    std::vector<std::string> expected;
    if (*step.reported != '\0') {
      expected.push_back(std::string(step.reported) + " hint 0 exit 0/0 accepts 5 type 16");
    }
    EXPECT_EQ(Events(), expected) << step.control;
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
  EXPECT_LT(SecondsOf(start), 30) << "the wait of 60 s did not end at the stop";
}

TEST_F(ServiceFrameTest, PauseHoldsTheClock) {
  auto start = std::chrono::steady_clock::now();
  Control(kServiceControlPause);
  std::thread controller([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    Control(kServiceControlContinue);
  });
  EXPECT_EQ(WaitInterruptible(1000), 1);
  // Timed before the join, which by itself lasts the paused stretch.
  const double waited = SecondsOf(start);
  controller.join();
  // The paused stretch, then what was left of the second.
  EXPECT_GE(waited, 2.5);
}

TEST_F(ServiceFrameTest, StatusesOfARunFromStartToStop) {
  const std::string pending = "state 2 cp 1 hint 2000 exit 0/0 accepts 7 type 16";
  const std::string running = "state 4 cp 2 hint 0 exit 0/0 accepts 7 type 16";
  const std::string stopping = "state 3 cp 4 hint 0 exit 0/0 accepts 7 type 16";
  const std::string stopped = "state 1 cp 2 hint 0 exit 0/0 accepts 7 type 16";
  struct Case {
    bool running_before_load;
    std::vector<std::string> events;
  } cases[] = {
      {false, {pending, "load", running, "tick", stopping, stopped}},
      {true, {pending, running, "load", "tick", stopping, stopped}},
  };
  SetServiceStatusObserverForTesting(ObserveStatus);
  for (const Case& c : cases) {
    frame_.running_before_load = c.running_before_load;
    Control(kServiceControlContinue);
    g_events.clear();
    g_interval = 60000;  // the stop ends the wait after the first tick
    std::thread service([] { ServiceMain(0, nullptr); });
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < end && Events().size() < 4) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const size_t seen = Events().size();
    Control(kServiceControlStop);
    service.join();  // the wait sees the stop within a second
    EXPECT_EQ(seen, 4u) << "waited 10 s for the first tick";
    EXPECT_EQ(Events(), c.events) << c.running_before_load;
  }
}

// A failed load or tick stops the service with 1066 and the frame's own
// service-specific code, says so on standard error, and ends the process
// with 1; the first tick's failure is not looked at, and the retry result
// waits 2 s and ticks again.
TEST_F(ServiceFrameTest, FailuresEndTheProcessWithTheirCodes) {
  frame_.load_failure_exit = 124;
  frame_.tick_failure_exit = 125;
  frame_.tick_error_code = 11;
  frame_.retry_result = -2;
  struct Case {
    int load;
    std::vector<int> ticks;
    bool running_before_load;
    const char* expected;
  } cases[] = {
      {-2, {}, false,
       "^state 2 cp 1 hint 2000 exit 0/0 accepts 7 type 16\nload\n"
       "state 1 cp 1 hint 2000 exit 1066/124 accepts 7 type 16\n"
       "error 11: Load\\(\\) call failed with return value -2\n"},
      {-1, {}, true,
       "^state 2 cp 1 hint 2000 exit 0/0 accepts 7 type 16\n"
       "state 4 cp 2 hint 0 exit 0/0 accepts 7 type 16\nload\n"
       "state 1 cp 2 hint 0 exit 1066/124 accepts 7 type 16\n"
       "error 11: Load\\(\\) call failed with return value -1\n"},
      {0, {-5, -2, -3}, false,
       "load\nstate 4 cp 2 hint 0 exit 0/0 accepts 7 type 16\ntick\ntick\ntick\n"
       "state 1 cp 2 hint 0 exit 1066/125 accepts 7 type 16\n"
       "error 11: Tick\\(\\) call failed with return value -3\n"},
  };
  for (const Case& c : cases) {
    frame_.running_before_load = c.running_before_load;
    EXPECT_EXIT(
        {
          g_to_stderr = true;
          g_load_result = c.load;
          g_tick_results = c.ticks;
          SetServiceStatusObserverForTesting(ObserveStatus);
          ::alarm(20);  // a service that does not end dies by SIGALRM
          ServiceMain(0, nullptr);
        },
        ::testing::ExitedWithCode(1), c.expected);
  }
}

TEST(DispatcherErrorTest, EachErrorHasItsCodeAndText) {
  struct Case { WinError error; int code; const char* text; } cases[] = {
      {13, 92, "'StartServiceCtrlDispatcher' error: ERROR_INVALID_DATA"},
      {1056, 92, "'StartServiceCtrlDispatcher' error: ERROR_SERVICE_ALREADY_RUNNING"},
      {1063, 91, "'StartServiceCtrlDispatcher' error: ERROR_FAILED_SERVICE_CONTROLLER_CONNECT"},
      {5, 100, "'StartServiceCtrlDispatcher' error: unknown error"},
      {1062, 100, "'StartServiceCtrlDispatcher' error: unknown error"},
  };
  for (const Case& c : cases) {
    int code = 0;
    EXPECT_STREQ(DispatcherErrorText(c.error, &code), c.text) << c.error;
    EXPECT_EQ(code, c.code) << c.error;
  }
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
