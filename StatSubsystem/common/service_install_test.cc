#include "StatSubsystem/common/service_install.h"

#include <chrono>

#include "gtest/gtest.h"
#include "platform/process.h"
#include "platform/registry_testing.h"
#include "platform/services.h"

namespace kst {
namespace {

class ServiceInstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(ServiceManager::Open(kManagerConnect, &manager_), kErrorSuccess);
  }
  TempKestraneHome home_;
  std::unique_ptr<ServiceManager> manager_;
};

TEST_F(ServiceInstallTest, InstallTwiceKeepsTheFirstInstallation) {
  InstallService(kCheckerService);
  ServiceIdentity changed = kCheckerService;
  changed.description = "another description";
  InstallService(changed);

  std::vector<std::string> names;
  ASSERT_EQ(manager_->ListServices(&names), kErrorSuccess);
  EXPECT_EQ(names, std::vector<std::string>{"Kestrane stat checker"});
  std::unique_ptr<Service> service;
  ASSERT_EQ(manager_->OpenService("Kestrane stat checker", kServiceQueryConfig, &service),
            kErrorSuccess);
  ServiceConfig config;
  ASSERT_EQ(service->QueryConfig(&config), kErrorSuccess);
  // The program's path as it is, unquoted, and the service word.
  EXPECT_EQ(config.image_path, CurrentProgramPath() + " -service");
  EXPECT_EQ(config.display_name, "Kestrane stat checker");
  EXPECT_EQ(config.description, kCheckerService.description);
  EXPECT_EQ(config.start_type, kServiceAutoStart);
}

TEST_F(ServiceInstallTest, RemoveOfMissingServiceWaitsAndChangesNothing) {
  InstallService(kCollectorService);
  auto start = std::chrono::steady_clock::now();
  RemoveService(kCheckerService);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));
  std::vector<std::string> names;
  ASSERT_EQ(manager_->ListServices(&names), kErrorSuccess);
  EXPECT_EQ(names, std::vector<std::string>{"Kestrane buffer creator"});
  RemoveService(kCollectorService);
  ASSERT_EQ(manager_->ListServices(&names), kErrorSuccess);
  EXPECT_TRUE(names.empty());
}

TEST_F(ServiceInstallTest, InstallWithoutWritableRegistryIsSilent) {
  SetRegistryReadOnlyForTesting(true);
  InstallService(kCheckerService);
  SetRegistryReadOnlyForTesting(false);
  std::vector<std::string> names;
  ASSERT_EQ(manager_->ListServices(&names), kErrorSuccess);
  EXPECT_TRUE(names.empty());
}

}  // namespace
}  // namespace kst
