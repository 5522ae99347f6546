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
  std::string error;
  EXPECT_TRUE(InstallService(kCheckerService, &error));
  ServiceIdentity changed = kCheckerService;
  changed.description = "another description";
  EXPECT_TRUE(InstallService(changed, &error));
  EXPECT_EQ(error, "");

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
  std::string error;
  ASSERT_TRUE(InstallService(kCollectorService, &error));
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(RemoveService(kCheckerService, &error));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));
  std::vector<std::string> names;
  ASSERT_EQ(manager_->ListServices(&names), kErrorSuccess);
  EXPECT_EQ(names, std::vector<std::string>{"Kestrane buffer creator"});
  EXPECT_TRUE(RemoveService(kCollectorService, &error));
  EXPECT_EQ(error, "");
  ASSERT_EQ(manager_->ListServices(&names), kErrorSuccess);
  EXPECT_TRUE(names.empty());
}

// Without the right to change the service database, both say so and name it.
TEST_F(ServiceInstallTest, WithoutWritableRegistryBothSayWhy) {
  const std::string refusal =
      "access denied to the service database " + home_.path() + "/registry.db";
  std::string error;
  SetRegistryReadOnlyForTesting(true);
  EXPECT_FALSE(InstallService(kCheckerService, &error));
  SetRegistryReadOnlyForTesting(false);
  EXPECT_EQ(error, refusal);
  std::vector<std::string> names;
  ASSERT_EQ(manager_->ListServices(&names), kErrorSuccess);
  EXPECT_TRUE(names.empty());

  ASSERT_TRUE(InstallService(kCheckerService, &error));
  error.clear();
  SetRegistryReadOnlyForTesting(true);
  EXPECT_FALSE(RemoveService(kCheckerService, &error));
  SetRegistryReadOnlyForTesting(false);
  EXPECT_EQ(error, refusal);
  ASSERT_EQ(manager_->ListServices(&names), kErrorSuccess);
  EXPECT_EQ(names, std::vector<std::string>{"Kestrane stat checker"});
}

}  // namespace
}  // namespace kst
