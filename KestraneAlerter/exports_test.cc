// The built library as the checking service uses it: loaded by file name,
// its entry points bound by name.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>

#include "KestraneAlerter/alerter_exports.h"
#include "KestraneAlerter/alerter_testing.h"
#include "KestraneAlerter/profile_set.h"
#include "KestraneAlerter/signal_checker.h"
#include "platform/module.h"
#include "platform/services.h"

namespace kst {
namespace {

class ExportsTest : public AlerterTest {
 protected:
  static bool WaitForState(Service& service, uint32_t state) {
    ServiceStatus status;
    for (int i = 0; i < 1000; ++i) {
      if (service.QueryStatus(&status) == kErrorSuccess && status.current_state == state) return true;
      usleep(10000);
    }
    return false;
  }
};

TEST_F(ExportsTest, ReloadSignalReachesARunningChecker) {
  EXPECT_EQ(signalCheckingService(), -13) << "no checking service installed";
  std::unique_ptr<ServiceManager> manager;
  ASSERT_EQ(ServiceManager::Open(kManagerConnect | kManagerCreateService, &manager), kErrorSuccess);
  ServiceConfig config;
  config.name = "Kestrane stat checker";
  config.image_path = std::string("\"") + KST_RELOAD_SERVICE + "\" -service";
  std::unique_ptr<Service> service;
  ASSERT_EQ(manager->CreateService(config, kServiceAllAccess, &service), kErrorSuccess);
  EXPECT_EQ(signalCheckingService(), -14) << "installed but not running";

  ASSERT_EQ(service->Start(), kErrorSuccess);
  ASSERT_TRUE(WaitForState(*service, kServiceRunning)) << "a start may still be pending on return";
  EXPECT_EQ(signalCheckingService(), 0);
  // Saving the profiles asks for a reload too.
  ProfileSet set;
  set.addProfile("p");
  EXPECT_EQ(set.saveAllProfiles(), 0);
  ASSERT_EQ(service->Control(kServiceControlStop, nullptr), kErrorSuccess);
  EXPECT_EQ(ReadFile(HomePath("controls")), "129\n129\n1\n");
  EXPECT_TRUE(WaitForState(*service, kServiceStopped));
}

TEST_F(ExportsTest, CheckerLoadsTheLibraryAndHandsItAlerts) {
  const char* bin = getenv("KST_BIN_DIR");
  ASSERT_NE(bin, nullptr) << "run through ctest";
  std::string error;
  std::unique_ptr<Module> library = LoadModule(std::string(bin) + "/KestraneAlerter.dll", &error);
  ASSERT_NE(library, nullptr) << error;
  auto* getNew = library->Bind<GetNewDispatherFn>("GetNewDispather");
  auto* process = library->Bind<ProcessAlertMessageFn>("ProcessAlertMessage");
  auto* destroy = library->Bind<DestroyDispatherFn>("DestroyDispather");
  auto* activate = library->Bind<ActivateWarningSystemFn>("ActivateWarningSystem");
  ASSERT_TRUE(getNew && process && destroy && activate);

  AlertMessage alert(55, "Disk log", "Disk rules", "free space falls");
  AlertDispatcher* none = getNew();
  ASSERT_NE(none, nullptr);
  EXPECT_EQ(process(none, &alert), -1) << "no profile list yet";
  destroy(none);
  destroy(nullptr);

  // A default profile whose one transporter runs a program that records
  // its arguments.
  std::string script = HomePath("record.sh");
  WriteFile(script, "#!/bin/sh\necho \"$@\" > \"" + HomePath("received.tmp") + "\"\nmv \"" +
                        HomePath("received.tmp") + "\" \"" + HomePath("received") + "\"\n");
  std::filesystem::permissions(script, std::filesystem::perms::owner_all);
  WriteFile(HomePath("Profiles/_default_.cfg"), "all:\nOps\ndefault:\nOps\n");
  WriteFile(HomePath("Profiles/Ops.cfg"),
            "Warning system config\n1 60 0\n0\n0\n1\nShellDeliverySystem\nrun\n1000 0\n0 0 1 0\n" + script + "\n");
  AlertDispatcher* dispatcher = getNew();
  ASSERT_NE(dispatcher, nullptr);
  EXPECT_EQ(process(dispatcher, &alert), 0);
  for (int i = 0; i < 500 && !std::filesystem::exists(HomePath("received")); ++i) usleep(10000);
  // The line ends stay inside the words; echo joins them with blanks.
  EXPECT_EQ(ReadFile(HomePath("received")), "55\nfree space falls, warning level: 55.\n\n");
  destroy(dispatcher);

  EXPECT_EQ(activate(), -13);
  // Unloading leaves it mapped: a mail sender thread may still run in it.
  library.reset();
  void* still = dlopen((std::string(bin) + "/KestraneAlerter.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
  EXPECT_NE(still, nullptr) << "the library was unmapped";
  if (still != nullptr) dlclose(still);
}

TEST(LibrarySymbolsTest, OnlyTheFiveEntryPointsAreExported) {
  const char* bin = getenv("KST_BIN_DIR");
  ASSERT_NE(bin, nullptr) << "run through ctest";
  std::string command = std::string("nm -D --defined-only '") + bin + "/KestraneAlerter.so' 2>&1";
  std::FILE* nm = popen(command.c_str(), "r");
  ASSERT_NE(nm, nullptr);
  std::set<std::string> names;
  std::string output;
  char line[4096];
  while (std::fgets(line, sizeof line, nm) != nullptr) {
    output += line;
    std::istringstream words(line);
    std::string address, type, name;
    if (words >> address >> type >> name) names.insert(name);
  }
  ASSERT_EQ(pclose(nm), 0) << output;
  EXPECT_EQ(names, (std::set<std::string>{"ActivateWarningSystem", "DestroyDispather", "GetNewDispather",
                                          "LaunchUpdaterDialog", "ProcessAlertMessage"}))
      << output;
}

}  // namespace
}  // namespace kst
