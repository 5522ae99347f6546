#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "gtest/gtest.h"
#include "platform/registry.h"
#include "platform/registry_testing.h"
#include "platform/services.h"

namespace kst {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kOtherUser = 65534;

class ServicesSafetyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "the refusal guards services run as root";
    RegistryKey key;
    ASSERT_EQ(RegistryKey::Create("SOFTWARE", &key), kErrorSuccess);  // makes the database
    fs::create_directory(home_.path() + "/log");
    outside_ = home_.path() + ".outside";
    fs::create_directory(outside_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(outside_, ignored);
  }

  TempKestraneHome home_;
  std::string outside_;  // where another user would point a link
};

TEST_F(ServicesSafetyTest, EveryWayAnotherUserCouldChangeTheInstallationIsNamed) {
  EXPECT_EQ(UnsafeInstallationReason(), "");
  const std::string home = home_.path();
  const std::string db = home + "/registry.db";
  const std::string tail = "; only root may own and change it";
  struct Case {
    const char* what;
    std::function<void()> make, undo;
    std::string reason;
  } cases[] = {
      {"home group-writable", [&] { ::chmod(home.c_str(), 0770); }, [&] { ::chmod(home.c_str(), 0700); },
       home + " may be written by its group or by other users"},
      {"home other-writable", [&] { ::chmod(home.c_str(), 0703); }, [&] { ::chmod(home.c_str(), 0700); },
       home + " may be written by its group or by other users"},
      {"home of another user", [&] { ::chown(home.c_str(), kOtherUser, 0); },
       [&] { ::chown(home.c_str(), 0, 0); }, home + " belongs to user 65534, not root"},
      {"log folder a link",
       [&] { fs::remove(home + "/log"); fs::create_directory_symlink(outside_, home + "/log"); },
       [&] { fs::remove(home + "/log"); fs::create_directory(home + "/log"); }, home + "/log is a symbolic link"},
      {"log folder writable", [&] { ::chmod((home + "/log").c_str(), 0777); },
       [&] { ::chmod((home + "/log").c_str(), 0755); }, home + "/log may be written by its group or by other users"},
      {"database writable", [&] { ::chmod(db.c_str(), 0666); }, [&] { ::chmod(db.c_str(), 0644); },
       db + " may be written by its group or by other users"},
      {"database of another user", [&] { ::chown(db.c_str(), 1, 0); },
       [&] { ::chown(db.c_str(), 0, 0); }, db + " belongs to user 1, not root"},
      {"journal a link",
       [&] { fs::rename(db + "-wal", outside_ + "/wal"); fs::create_symlink(outside_ + "/wal", db + "-wal"); },
       [&] { fs::remove(db + "-wal"); fs::rename(outside_ + "/wal", db + "-wal"); },
       db + "-wal is a symbolic link"},
  };
  for (const Case& c : cases) {
    c.make();
    EXPECT_EQ(UnsafeInstallationReason(), c.reason + tail) << c.what;
    c.undo();
    EXPECT_EQ(UnsafeInstallationReason(), "") << c.what;
  }

  // The home itself named through a link.
  const std::string link = home + ".link";
  fs::create_directory_symlink(home, link);
  ::setenv("KESTRANE_HOME", (link + "/").c_str(), 1);
  EXPECT_EQ(UnsafeInstallationReason(), link + " is a symbolic link" + tail);
  ::setenv("KESTRANE_HOME", home.c_str(), 1);
  fs::remove(link);
}

// The manager neither starts the program nor opens its log where a link
// points: not with the log folder a link, nor with the log file one.
TEST_F(ServicesSafetyTest, StartRefusesAnUnsafeInstallationAndNeverFollowsTheLog) {
  std::unique_ptr<ServiceManager> manager;
  ASSERT_EQ(ServiceManager::Open(kManagerConnect | kManagerCreateService, &manager), kErrorSuccess);
  ServiceConfig config;
  config.name = "Safety Test";
  config.image_path = "/bin/echo leaked";
  std::unique_ptr<Service> service;
  ASSERT_EQ(manager->CreateService(config, kServiceStart, &service), kErrorSuccess);

  fs::remove(home_.path() + "/log");
  fs::create_directory_symlink(outside_, home_.path() + "/log");
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(service->Start(), kErrorAccessDenied);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Safety Test: refusing to start: " + home_.path() +
                "/log is a symbolic link; only root may own and change it\n");
  EXPECT_TRUE(fs::is_empty(outside_));

  fs::remove(home_.path() + "/log");
  fs::create_directory(home_.path() + "/log");
  const std::string target = outside_ + "/target";
  std::ofstream(target) << "kept";
  fs::create_symlink(target, home_.path() + "/log/Safety Test.log");
  EXPECT_NE(service->Start(), kErrorSuccess);
  std::ifstream in(target);
  std::string text((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(text, "kept");
}

}  // namespace
}  // namespace kst
