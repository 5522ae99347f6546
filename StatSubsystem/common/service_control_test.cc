#include "StatSubsystem/common/service_control.h"

#include "StatSubsystem/common/service_install.h"
#include "gtest/gtest.h"
#include "platform/registry_testing.h"
#include "platform/services.h"

namespace kst {
namespace {

TEST(ServiceControlTest, EveryCodeHasItsText) {
  const char* const texts[] = {
      "couldn't connect to SCManager",
      "OpenService() failed (possibly service is not installed)",
      "bad module name",
      "access denied",
      "invalid expected binary file",
      "service is already running",
      "service database locked",
      "service is disabled",
      "service is marked for delete",
      "service request time out",
      "logon failed",
      "the specified network password is not correct",
      "unknown error",
      "last error message",
      "service cannot accept control",
      "service has not been started",
  };
  for (int code = -1; code >= -16; --code) {
    std::string text = "stale";
    EXPECT_EQ(ServiceErrorText(code, &text), 0);
    EXPECT_EQ(text, texts[-code - 1]) << code;
  }
  for (int code : {0, -17, 5, -100}) {
    std::string text;
    EXPECT_EQ(ServiceErrorText(code, &text), 0);
    EXPECT_EQ(text, "unknown error") << code;
  }
}

TEST(ServiceControlTest, SystemErrorsMapToTheirCodes) {
  struct Case { WinError error; int start; int control; } cases[] = {
      {5, -4, -4},       {3, -5, -13},      {1056, -6, -13},   {1055, -7, -13},
      {1058, -8, -13},   {1072, -9, -13},   {1053, -10, -13},  {1069, -11, -13},
      {86, -12, -13},    {1061, -13, -15},  {1062, -13, -16},  {2, -13, -13},
      {1060, -13, -13},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StartErrorCode(c.error), c.start) << c.error;
    EXPECT_EQ(ControlErrorCode(c.error), c.control) << c.error;
  }
}

TEST(ServiceControlTest, InterrogationGivesTheState) {
  constexpr int kLeft = 99;  // the caller's value, left alone
  struct Case { WinError error; uint32_t reported; int result; int state; } cases[] = {
      {0, kServiceStopped, 0, kServiceStateStopped},
      {0, kServiceStartPending, 0, kServiceStateRunning},
      {0, kServiceStopPending, 0, kServiceStateStopped},
      {0, kServiceRunning, 0, kServiceStateRunning},
      {0, kServiceContinuePending, 0, kServiceStateRunning},
      {0, kServicePausePending, 0, kLeft},
      {0, kServicePaused, 0, kServiceStatePaused},
      {1062, kServiceRunning, 0, kServiceStateStopped},  // not active
      {1058, kServiceRunning, 0, kServiceStateDisabled},
      {5, kServiceRunning, -13, kLeft},
  };
  for (const Case& c : cases) {
    int state = kLeft;
    EXPECT_EQ(ServiceStateOf(c.error, c.reported, &state), c.result) << c.error << "/" << c.reported;
    EXPECT_EQ(state, c.state) << c.error << "/" << c.reported;
  }
  EXPECT_EQ(kServiceStateStopped, 0);
  EXPECT_EQ(kServiceStateRunning, 1);
  EXPECT_EQ(kServiceStatePaused, 2);
  EXPECT_EQ(kServiceStateDisabled, 3);
  EXPECT_EQ(kServiceStateNotInstalled, 4);
}

TEST(ServiceControlTest, ServicesThatDoNotRun) {
  TempKestraneHome home;
  std::string name;
  EXPECT_EQ(ServiceDisplayName("kstCollector", &name), 0);
  EXPECT_EQ(name, "Kestrane buffer creator");
  EXPECT_EQ(ServiceDisplayName("kstChecker", &name), 0);
  EXPECT_EQ(name, "Kestrane stat checker");
  EXPECT_EQ(ServiceDisplayName("KstChecker", &name), -1);

  int state = -1;
  EXPECT_EQ(QueryServiceState("kstChecker", &state), 0);
  EXPECT_EQ(state, kServiceStateNotInstalled);
  EXPECT_EQ(QueryServiceState("other", &state), -3);
  EXPECT_EQ(StartServiceByName("kstChecker"), -2);
  EXPECT_EQ(StopServiceByName("other"), -3);
  EXPECT_EQ(SendReloadControl("kstCollector"), -15);
  EXPECT_EQ(SendReloadControl("kstChecker"), -2);

  InstallService(kCheckerService);
  EXPECT_EQ(QueryServiceState("kstChecker", &state), 0);
  EXPECT_EQ(state, kServiceStateStopped);
  EXPECT_EQ(StopServiceByName("kstChecker"), -16);
  EXPECT_EQ(PauseServiceByName("kstChecker"), -16);
  EXPECT_EQ(ContinueServiceByName("kstChecker"), -16);
  EXPECT_EQ(SendReloadControl("kstChecker"), -16);
}

}  // namespace
}  // namespace kst
