#include "StatSubsystem/common/service_control.h"

#include "StatSubsystem/common/service_install.h"
#include "gtest/gtest.h"
#include "platform/registry_testing.h"

namespace kst {
namespace {

TEST(ServiceControlTest, ErrorTexts) {
  struct Case { int code; const char* text; } cases[] = {
      {-1, "couldn't connect to SCManager"},
      {-2, "OpenService() failed (possibly service is not installed)"},
      {-3, "bad module name"},
      {-6, "service is already running"},
      {-14, "last error message"},
      {-16, "service has not been started"},
      {0, "unknown error"},
      {-17, "unknown error"},
      {5, "unknown error"},
  };
  for (const Case& c : cases) {
    std::string text;
    EXPECT_EQ(ServiceErrorText(c.code, &text), 0);
    EXPECT_EQ(text, c.text) << c.code;
  }
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
