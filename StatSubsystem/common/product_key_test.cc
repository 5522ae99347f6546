#include "StatSubsystem/common/product_key.h"

#include <sys/stat.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "StatSubsystem/common/product_key_testing.h"
#include "gtest/gtest.h"
#include "platform/registry.h"
#include "platform/registry_testing.h"

namespace kst {
namespace {

namespace fs = std::filesystem;

class ProductKeyTest : public ::testing::Test {
 protected:
  void SetValue(const std::string& path, const std::string& name, RegType type,
                const std::string& bytes) {
    RegistryKey key;
    ASSERT_EQ(RegistryKey::Create(path, &key), kErrorSuccess);
    ASSERT_EQ(key.SetValue(name, type, bytes.data(), static_cast<uint32_t>(bytes.size())),
              kErrorSuccess);
  }
  bool KeyExists(const std::string& path) {
    RegistryKey key;
    return RegistryKey::Open(path, RegAccess::kRead, &key) == kErrorSuccess;
  }

  TempKestraneHome home_;
};

TEST_F(ProductKeyTest, ReadProductValueCodes) {
  char buffer[1024];
  int result = 0;
  ReadProductValue("", "", kRegSz, buffer, sizeof buffer, &result);
  EXPECT_EQ(result, -14);
  EXPECT_FALSE(fs::exists(home_.path() + "/registry.db"));  // never touched
  ReadProductValue("", "rootDirectory", kRegSz, buffer, sizeof buffer, &result);
  EXPECT_EQ(result, -15);

  int written = 0;
  WriteProductValue("", "rootDirectory", kRegSz, "C:\\Kestra\\", 11, &written);
  ASSERT_EQ(written, 0);
  std::memset(buffer, 'z', sizeof buffer);
  ReadProductValue("", "rootDirectory", kRegSz, buffer, sizeof buffer, &result);
  EXPECT_EQ(result, 11);
  EXPECT_EQ(std::string(buffer, 12), std::string("C:\\Kestra\\\0z", 12));

  uint32_t interval = 60000;
  WriteProductValue("", "intervalBetweenCheckings", kRegDword, &interval, 4, &written);
  ASSERT_EQ(written, 0);
  struct Case { const char* name; RegType type; uint32_t size; int result; } cases[] = {
      {"intervalBetweenCheckings", kRegDword, 4, 4},
      {"intervalBetweenCheckings", kRegDword, 3, -16},
      {"rootDirectory", kRegDword, 1024, -16},
      {"rootDirectory", kRegSz, 10, -16},
      {"missing", kRegSz, 1024, -16},
  };
  for (const Case& c : cases) {
    ReadProductValue("", c.name, c.type, buffer, c.size, &result);
    EXPECT_EQ(result, c.result) << c.name << " " << c.size;
  }

  WriteProductValue("Alerter", "userNotificationStatus", kRegDword, &interval, 4, &written);
  ASSERT_EQ(written, 0);
  EXPECT_TRUE(KeyExists("SOFTWARE\\Kestrane\\Alerter"));
  ReadProductValue("Alerter", "userNotificationStatus", kRegDword, buffer, 4, &result);
  EXPECT_EQ(result, 4);
  ReadProductValue("Other", "userNotificationStatus", kRegDword, buffer, 4, &result);
  EXPECT_EQ(result, -15);
}

TEST_F(ProductKeyTest, RootDirectoryIsCutAtItsFirstZero) {
  int result = 0;
  EXPECT_EQ(ReadProductRootDirectory(1024, &result), "");
  EXPECT_EQ(result, -15);
  struct Case { std::string stored; uint32_t size; int result; const char* root; } cases[] = {
      {std::string("C:\\K\0junk", 9), 1024, 9, "C:\\K"},
      {"C:\\Kestrane", 11, 11, "C:\\Kestrane"},  // fills the buffer: no zero
      {std::string("C:\\Kestrane\0", 12), 11, -16, ""},
      {"", 1024, 0, ""},
  };
  for (const Case& c : cases) {
    SetValue("SOFTWARE\\Kestrane", "rootDirectory", kRegSz, c.stored);
    EXPECT_EQ(ReadProductRootDirectory(c.size, &result), c.root) << c.stored << " " << c.size;
    EXPECT_EQ(result, c.result) << c.stored << " " << c.size;
  }
}

TEST_F(ProductKeyTest, WriteProductValueFailures) {
  int result = 0;
  WriteProductValue("", "", kRegSz, "a", 2, &result);
  EXPECT_EQ(result, -14);
  SetRegistryReadOnlyForTesting(true);
  WriteProductValue("", "rootDirectory", kRegSz, "a", 2, &result);
  EXPECT_EQ(result, -1);
}

TEST_F(ProductKeyTest, CounterIdentityLookups) {
  const std::string title = "Processor::% Processor Time";
  int result = 0;
  EXPECT_EQ(ReadCounterByTitle(title, &result), -1);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(ReadCounterTitleById(-5, &result), "");
  EXPECT_EQ(result, -1);

  // -5 as a signed 64-bit little-endian number.
  SetValue(CounterByTitleKeyPath(title), "id", kRegBinary,
           "\xfb\xff\xff\xff\xff\xff\xff\xff");
  SetValue("SOFTWARE\\Kestrane\\Internal\\Counters\\byId\\-5", "title", kRegSz,
           title + '\0');
  EXPECT_EQ(ReadCounterByTitle(title, &result), -5);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(ReadCounterTitleById(-5, &result), title);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(ReadCounterByTitle("processor::% processor time", &result), -5);
  EXPECT_EQ(ReadCounterByTitle(title + " ", &result), -1);

  SetValue(CounterByTitleKeyPath("time::Time"), "id", kRegBinary,
           std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8));
  EXPECT_EQ(ReadCounterByTitle("time::Time", &result), 0x0807060504030201);

  // A title fits the 255-byte buffer with its zero up to 254 characters.
  SetValue(CounterByIdKeyPath(1), "title", kRegSz, std::string(254, 't') + '\0');
  SetValue(CounterByIdKeyPath(2), "title", kRegSz, std::string(255, 't') + '\0');
  EXPECT_EQ(ReadCounterTitleById(1, &result).size(), 254u);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(ReadCounterTitleById(2, &result), "");
  EXPECT_EQ(result, -1);

  // The title lookup opens for writing: a read-only registry hides it.
  SetRegistryReadOnlyForTesting(true);
  EXPECT_EQ(ReadCounterByTitle(title, &result), -1);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(ReadCounterTitleById(-5, &result), title);
}

TEST_F(ProductKeyTest, ExplanationBufferGrowsAndStays) {
  int result = 0;
  EXPECT_EQ(ReadCounterExplanation("Memory::Available Bytes", &result), "");
  EXPECT_EQ(result, -1);
  SetValue(CounterByTitleKeyPath("Memory::Available Bytes"), "id", kRegBinary,
           std::string(8, '\0'));
  EXPECT_EQ(ReadCounterExplanation("Memory::Available Bytes", &result), "");
  EXPECT_EQ(result, 0);
  size_t before = CounterExplanationBufferSize();
  EXPECT_GE(before, 512u);

  std::string text(2000, 'e');
  SetValue(CounterByTitleKeyPath("Memory::Available Bytes"), "explanation", kRegSz,
           text + '\0');
  EXPECT_EQ(ReadCounterExplanation("Memory::Available Bytes", &result), text);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(CounterExplanationBufferSize(), std::max<size_t>(before, 2048));
  SetValue(CounterByTitleKeyPath("Memory::Available Bytes"), "explanation", kRegSz,
           std::string("short\0", 6));
  EXPECT_EQ(ReadCounterExplanation("Memory::Available Bytes", &result), "short");
  EXPECT_EQ(CounterExplanationBufferSize(), std::max<size_t>(before, 2048));
}

TEST_F(ProductKeyTest, RandomIdentifiersAreTimeTimesTwoDraws) {
  int64_t limit = static_cast<int64_t>(std::time(nullptr) + 5) * 1073676289;
  int64_t first = RandomId64();
  bool differ = false;
  for (int i = 0; i < 20; ++i) {
    int64_t id = RandomId64();
    EXPECT_GE(id, 0);
    EXPECT_LE(id, limit);
    differ = differ || id != first;
  }
  EXPECT_TRUE(differ);
}

TEST_F(ProductKeyTest, ResetConfigurationDeletesTreeThenFiles) {
  SetRootDirectory("C:\\Program Files\\Kestrane");
  const std::string& home = home_.path();
  for (const char* dir : {"/States/sub", "/AnalyzersMessages", "/LogsMessages", "/Profiles"})
    fs::create_directories(home + dir);
  for (const char* file : {"/States/a.st", "/States/sub/kept", "/AnalyzersMessages/m",
                           "/LogsMessages/l", "/Profiles/p", "/target"})
    std::ofstream(home + file) << "x";
  // Entries that are not plain files go too, links as links: a pipe, a link
  // out of the home (a later state-file write would follow it), links to a
  // file and to a folder.
  const std::string outside = home + ".outside";
  std::ofstream(outside) << "kept";
  ASSERT_EQ(::mkfifo((home + "/States/pipe").c_str(), 0600), 0);
  fs::create_symlink(outside, home + "/States/i1.state");
  fs::create_symlink(home + "/target", home + "/LogsMessages/link");
  fs::create_directory_symlink(home + "/Profiles", home + "/AnalyzersMessages/dirlink");

  int result = 0;
  ResetConfiguration(&result);
  EXPECT_EQ(result, -1);
  EXPECT_TRUE(fs::exists(home + "/States/a.st"));

  SetValue("SOFTWARE\\Kestrane\\Internal\\Logs\\cpu", "countersTitles", kRegMultiSz,
           std::string("a\0\0", 3));
  SetValue("SOFTWARE\\Kestrane", "rootDirectory", kRegSz, std::string("r\0", 2));
  ResetConfiguration(&result);
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(KeyExists("SOFTWARE\\Kestrane\\Internal"));
  EXPECT_TRUE(KeyExists("SOFTWARE\\Kestrane"));
  EXPECT_FALSE(fs::exists(home + "/States/a.st"));
  EXPECT_FALSE(fs::exists(home + "/AnalyzersMessages/m"));
  EXPECT_TRUE(fs::exists(home + "/States/sub/kept"));
  EXPECT_TRUE(fs::exists(home + "/Profiles/p"));
  EXPECT_TRUE(fs::is_directory(home + "/States"));
  EXPECT_FALSE(fs::exists(home + "/LogsMessages/l"));
  for (const char* gone : {"/States/pipe", "/States/i1.state", "/LogsMessages/link",
                           "/AnalyzersMessages/dirlink"}) {
    EXPECT_FALSE(fs::exists(fs::symlink_status(home + gone))) << gone;
  }
  EXPECT_TRUE(fs::exists(home + "/target"));
  EXPECT_TRUE(fs::is_directory(home + "/Profiles"));
  std::ifstream in(outside);
  std::string text((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(text, "kept");
  fs::remove(outside);
  SetRootDirectory("");
}

}  // namespace
}  // namespace kst
