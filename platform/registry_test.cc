#include "platform/registry.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/registry_testing.h"

namespace kst {
namespace {

std::string WorkerPath() {
  return (std::filesystem::read_symlink("/proc/self/exe").parent_path() /
          "registry_worker")
      .string();
}

// Runs the worker through the shell; returns its exit status and output.
int RunWorker(const std::string& args, std::string* out = nullptr) {
  FILE* pipe = ::popen(("'" + WorkerPath() + "' " + args).c_str(), "r");
  if (pipe == nullptr) return -1;
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) text.append(buf, n);
  int status = ::pclose(pipe);
  if (out != nullptr) *out = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Bytes(std::initializer_list<int> list) {
  std::string s;
  for (int b : list) s.push_back(static_cast<char>(b));
  return s;
}

class RegistryTest : public ::testing::Test {
 protected:
  RegistryKey MakeKey(const std::string& path) {
    RegistryKey key;
    EXPECT_EQ(RegistryKey::Create(path, &key), kErrorSuccess) << path;
    return key;
  }
  void Set(RegistryKey& key, const std::string& name, RegType type,
           const std::string& data) {
    ASSERT_EQ(key.SetValue(name, type, data.data(),
                           static_cast<uint32_t>(data.size())),
              kErrorSuccess);
  }

  TempKestraneHome home_;
};

TEST_F(RegistryTest, ValuesKeepTypeAndExactBytes) {
  struct Case { const char* name; RegType type; std::string data; } cases[] = {
      {"text", kRegSz, std::string("C:\\Kestrane\0", 12)},
      {"unterminated", kRegSz, "abc"},
      {"number", kRegDword, Bytes({0x78, 0x56, 0x34, 0x12})},
      {"blob", kRegBinary, Bytes({0, 0xff, 0, 0x80, 0})},
      {"empty", kRegBinary, ""},
      {"multi", kRegMultiSz, std::string("a\0bc\0\0", 6)},
      {"odd type", 11, "x"},
      {"", kRegSz, std::string("default\0", 8)},
  };
  RegistryKey key = MakeKey("SOFTWARE\\Kestrane");
  for (const Case& c : cases) Set(key, c.name, c.type, c.data);
  RegistryKey reader;
  ASSERT_EQ(RegistryKey::Open("SOFTWARE\\Kestrane", RegAccess::kRead, &reader),
            kErrorSuccess);
  for (const Case& c : cases) {
    RegType type = 0;
    std::string data;
    ASSERT_EQ(reader.QueryValue(c.name, &type, &data), kErrorSuccess) << c.name;
    EXPECT_EQ(type, c.type) << c.name;
    EXPECT_EQ(data, c.data) << c.name;
  }
  // Replacing changes type and size, and keeps the enumeration place.
  Set(key, "number", kRegSz, std::string("7\0", 2));
  std::string name, data;
  RegType type = 0;
  ASSERT_EQ(reader.EnumValue(2, &name, &type, &data), kErrorSuccess);
  EXPECT_EQ(name, "number");
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(data, std::string("7\0", 2));
}

TEST_F(RegistryTest, QueryReportsSizeAndMoreData) {
  RegistryKey key = MakeKey("SOFTWARE\\Kestrane");
  Set(key, "rootDirectory", kRegSz, std::string("0123456789\0", 11));

  uint32_t size = 0;
  RegType type = 0;
  EXPECT_EQ(key.QueryValue("rootDirectory", &type, nullptr, &size), kErrorSuccess);
  EXPECT_EQ(size, 11u);
  EXPECT_EQ(type, kRegSz);

  char small[10];
  std::memset(small, 'z', sizeof small);
  size = sizeof small;
  type = 0;
  EXPECT_EQ(key.QueryValue("rootDirectory", &type, small, &size), kErrorMoreData);
  EXPECT_EQ(size, 11u);
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(std::string(small, 10), std::string(10, 'z'));

  char exact[11];
  size = sizeof exact;
  EXPECT_EQ(key.QueryValue("rootDirectory", nullptr, exact, &size), kErrorSuccess);
  EXPECT_EQ(size, 11u);
  EXPECT_STREQ(exact, "0123456789");

  char big[1024];
  size = sizeof big;
  EXPECT_EQ(key.QueryValue("rootDirectory", nullptr, big, &size), kErrorSuccess);
  EXPECT_EQ(size, 11u);

  size = sizeof big;
  EXPECT_EQ(key.QueryValue("missing", &type, big, &size), kErrorFileNotFound);
  EXPECT_EQ(key.QueryValue("rootDirectory", &type, big, nullptr),
            kErrorInvalidParameter);
}

TEST_F(RegistryTest, NamesKeepCaseAndCompareWithoutIt) {
  bool created = false;
  RegistryKey key;
  ASSERT_EQ(RegistryKey::Create("SOFTWARE\\Kestrane\\Internal", &key, &created),
            kErrorSuccess);
  EXPECT_TRUE(created);
  Set(key, "logsTitles", kRegSz, "x");
  Set(key, "LOGSTITLES", kRegSz, "y");  // the same value

  RegistryKey again;
  ASSERT_EQ(RegistryKey::Create("software\\KESTRANE\\internal", &again, &created),
            kErrorSuccess);
  EXPECT_FALSE(created);
  std::string data;
  ASSERT_EQ(again.QueryValue("LogsTitles", nullptr, &data), kErrorSuccess);
  EXPECT_EQ(data, "y");
  std::string name;
  ASSERT_EQ(again.EnumValue(0, &name, nullptr, nullptr), kErrorSuccess);
  EXPECT_EQ(name, "logsTitles");
  EXPECT_EQ(again.EnumValue(1, &name, nullptr, nullptr), kErrorNoMoreItems);

  RegistryKey parent;
  ASSERT_EQ(RegistryKey::Open("Software", RegAccess::kRead, &parent), kErrorSuccess);
  ASSERT_EQ(parent.EnumSubkey(0, &name), kErrorSuccess);
  EXPECT_EQ(name, "Kestrane");
  // Only ASCII letters fold.
  MakeKey("SOFTWARE\\\xC3\x89t\xC3\xA9");
  RegistryKey other;
  EXPECT_EQ(RegistryKey::Open("SOFTWARE\\\xC3\xA9t\xC3\xA9", RegAccess::kRead, &other),
            kErrorFileNotFound);
}

TEST_F(RegistryTest, PathsAndMissingKeys) {
  RegistryKey key;
  EXPECT_EQ(RegistryKey::Open("SOFTWARE\\Kestrane", RegAccess::kRead, &key),
            kErrorFileNotFound);
  EXPECT_FALSE(key.is_open());
  MakeKey("System\\CurrentControlSet\\Services\\Kestrane stat checker");
  for (const char* path : {"System\\CurrentControlSet\\Services\\",
                           "\\System\\\\CurrentControlSet\\Services",
                           "System\\CurrentControlSet\\Services\\Kestrane stat checker"}) {
    EXPECT_EQ(RegistryKey::Open(path, RegAccess::kReadWrite, &key), kErrorSuccess)
        << path;
  }
  EXPECT_EQ(RegistryKey::Open("System\\CurrentControlSet\\Services\\Kestrane",
                              RegAccess::kRead, &key),
            kErrorFileNotFound);
  // The empty path is HKEY_LOCAL_MACHINE.
  ASSERT_EQ(RegistryKey::Open("", RegAccess::kRead, &key), kErrorSuccess);
  std::string name;
  ASSERT_EQ(key.EnumSubkey(0, &name), kErrorSuccess);
  EXPECT_EQ(name, "System");

  RegistryKey closed;
  uint32_t size = 0;
  EXPECT_EQ(closed.QueryValue("x", nullptr, nullptr, &size), kErrorInvalidHandle);
  EXPECT_EQ(closed.SetValue("x", kRegSz, "", 0), kErrorInvalidHandle);
  RegistryKey moved = std::move(key);
  EXPECT_FALSE(key.is_open());
  EXPECT_TRUE(moved.is_open());
}

TEST_F(RegistryTest, EnumerationAndKeyInformation) {
  RegistryKey key = MakeKey("SOFTWARE\\Kestrane");
  MakeKey("SOFTWARE\\Kestrane\\beta");
  MakeKey("SOFTWARE\\Kestrane\\Alpha\\deeper");
  MakeKey("SOFTWARE\\Kestrane\\gamma-long-name");
  Set(key, "zz", kRegDword, "1234");
  Set(key, "a-longer-name", kRegBinary, std::string(300, 'x'));
  Set(key, "m", kRegSz, "");

  std::vector<std::string> names;
  std::string name;
  for (uint32_t i = 0; key.EnumValue(i, &name, nullptr, nullptr) == kErrorSuccess; ++i)
    names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"zz", "a-longer-name", "m"}));
  names.clear();
  uint32_t i = 0;
  WinError err;
  while ((err = key.EnumSubkey(i, &name)) == kErrorSuccess) {
    names.push_back(name);
    ++i;
  }
  EXPECT_EQ(err, kErrorNoMoreItems);
  EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "beta", "gamma-long-name"}));

  RegKeyInfo info;
  ASSERT_EQ(key.QueryInfo(&info), kErrorSuccess);
  EXPECT_EQ(info.subkey_count, 3u);
  EXPECT_EQ(info.max_subkey_name_length, 15u);
  EXPECT_EQ(info.value_count, 3u);
  EXPECT_EQ(info.max_value_name_length, 13u);
  EXPECT_EQ(info.max_value_data_length, 300u);

  RegistryKey empty = MakeKey("SOFTWARE\\Kestrane\\beta");
  ASSERT_EQ(empty.QueryInfo(&info), kErrorSuccess);
  EXPECT_EQ(info.subkey_count + info.value_count + info.max_value_data_length, 0u);
}

TEST_F(RegistryTest, DeletingValuesAndTrees) {
  RegistryKey key = MakeKey("SOFTWARE\\Kestrane\\Internal\\Logs\\cpu");
  Set(key, "countersTitles", kRegMultiSz, std::string("a\0\0", 3));
  RegistryKey sibling = MakeKey("SOFTWARE\\Kestrane\\InternalCopy");
  Set(sibling, "keep", kRegDword, "1111");

  EXPECT_EQ(key.DeleteValue("COUNTERSTITLES"), kErrorSuccess);
  EXPECT_EQ(key.DeleteValue("countersTitles"), kErrorFileNotFound);

  Set(key, "countersTitles", kRegMultiSz, std::string("a\0\0", 3));
  EXPECT_EQ(DeleteKeyTree("software\\kestrane\\internal"), kErrorSuccess);
  EXPECT_EQ(DeleteKeyTree("SOFTWARE\\Kestrane\\Internal"), kErrorFileNotFound);
  RegistryKey gone;
  EXPECT_EQ(RegistryKey::Open("SOFTWARE\\Kestrane\\Internal\\Logs", RegAccess::kRead,
                              &gone),
            kErrorFileNotFound);
  // The old handle's key is gone, even when the path is made again.
  MakeKey("SOFTWARE\\Kestrane\\Internal\\Logs\\cpu");
  EXPECT_EQ(key.SetValue("x", kRegSz, "", 0), kErrorKeyDeleted);
  std::string data;
  EXPECT_EQ(key.QueryValue("countersTitles", nullptr, &data), kErrorKeyDeleted);
  // Values of the new key are not the old key's.
  RegistryKey fresh;
  ASSERT_EQ(RegistryKey::Open("SOFTWARE\\Kestrane\\Internal\\Logs\\cpu",
                              RegAccess::kRead, &fresh),
            kErrorSuccess);
  EXPECT_EQ(fresh.QueryValue("countersTitles", nullptr, &data), kErrorFileNotFound);

  EXPECT_EQ(sibling.QueryValue("keep", nullptr, &data), kErrorSuccess);
  EXPECT_EQ(DeleteKeyTree(""), kErrorAccessDenied);
  EXPECT_EQ(sibling.Flush(), kErrorSuccess);
}

TEST_F(RegistryTest, ReadOnlyHandlesAndDatabases) {
  RegistryKey key = MakeKey("SOFTWARE\\Kestrane");
  Set(key, "v", kRegSz, "1");
  RegistryKey reader;
  ASSERT_EQ(RegistryKey::Open("SOFTWARE\\Kestrane", RegAccess::kRead, &reader),
            kErrorSuccess);
  EXPECT_EQ(reader.SetValue("v", kRegSz, "2", 1), kErrorAccessDenied);
  EXPECT_EQ(reader.DeleteValue("v"), kErrorAccessDenied);

  SetRegistryReadOnlyForTesting(true);
  RegistryKey writer;
  EXPECT_EQ(RegistryKey::Open("SOFTWARE\\Kestrane", RegAccess::kReadWrite, &writer),
            kErrorAccessDenied);
  EXPECT_EQ(RegistryKey::Create("SOFTWARE\\Kestrane", &writer), kErrorAccessDenied);
  EXPECT_EQ(RegistryKey::Create("SOFTWARE\\Other", &writer), kErrorAccessDenied);
  EXPECT_EQ(DeleteKeyTree("SOFTWARE\\Kestrane"), kErrorAccessDenied);
  ASSERT_EQ(RegistryKey::Open("SOFTWARE\\Kestrane", RegAccess::kRead, &reader),
            kErrorSuccess);
  std::string data;
  EXPECT_EQ(reader.QueryValue("v", nullptr, &data), kErrorSuccess);
  EXPECT_EQ(data, "1");
}

TEST_F(RegistryTest, NotWritableDatabaseDeniesWriting) {
  {
    RegistryKey key = MakeKey("SOFTWARE\\Kestrane");
    Set(key, "v", kRegSz, std::string("1\0", 2));
  }
  if (::geteuid() == 0) {
    // Another user, who may read the home folder but not write it.
    ASSERT_EQ(::chmod(home_.path().c_str(), 0755), 0);
    ChildOutcome access, get;
    if (!RunAsNobody(WorkerPath(), {"access", "SOFTWARE\\Kestrane"}, home_.path(), &access))
      GTEST_SKIP() << "no user nobody to test another user's access";
    EXPECT_EQ(access.status, 0) << access.err;
    EXPECT_EQ(access.out, "5 5 5\n") << access.err;
    ASSERT_TRUE(RunAsNobody(WorkerPath(), {"get", "SOFTWARE\\Kestrane", "v"}, home_.path(),
                            &get));
    EXPECT_EQ(get.status, 0) << get.err;
    EXPECT_EQ(get.out, std::string("1\0", 2)) << get.err;
    RegistryKey key;
    EXPECT_EQ(RegistryKey::Open("SOFTWARE\\Kestrane", RegAccess::kRead, &key), kErrorSuccess);
    return;
  }
  std::string db = home_.path() + "/registry.db";
  ASSERT_EQ(::chmod(db.c_str(), 0444), 0);
  RegistryKey key;
  EXPECT_EQ(RegistryKey::Open("SOFTWARE\\Kestrane", RegAccess::kReadWrite, &key),
            kErrorAccessDenied);
  EXPECT_EQ(RegistryKey::Create("SOFTWARE\\New", &key), kErrorAccessDenied);
  ASSERT_EQ(::chmod(db.c_str(), 0644), 0);
  ASSERT_EQ(::chmod(home_.path().c_str(), 0555), 0);
  EXPECT_EQ(RegistryKey::Create("SOFTWARE\\New", &key), kErrorAccessDenied);
  EXPECT_EQ(RegistryKey::Open("SOFTWARE\\Kestrane", RegAccess::kRead, &key),
            kErrorSuccess);
  ASSERT_EQ(::chmod(home_.path().c_str(), 0755), 0);
}

TEST_F(RegistryTest, JournalFilesOutliveTheConnection) {
  MakeKey("SOFTWARE");
  // Another home makes this process close its connection to the first.
  std::string other = home_.path() + "/other";
  ::setenv("KESTRANE_HOME", other.c_str(), 1);
  MakeKey("SOFTWARE");
  for (const char* suffix : {"-wal", "-shm"})
    EXPECT_TRUE(std::filesystem::exists(home_.path() + "/registry.db" + suffix)) << suffix;
}

// A write the disk has no room for fails whole, and says why.
TEST_F(RegistryTest, FullDiskIsTheFailuresCause) {
  SmallDisk disk(home_.path(), 1 << 20);
  if (!disk.mounted()) GTEST_SKIP() << disk.why();
  RegistryKey key = MakeKey("SOFTWARE");
  Set(key, "kept", kRegSz, "before");
  ASSERT_TRUE(disk.Fill());
  const std::string big(100000, 'x');
  EXPECT_EQ(key.SetValue("big", kRegBinary, big.data(), static_cast<uint32_t>(big.size())),
            kErrorRegistryIoFailed);
  EXPECT_EQ(RegistryFailureCause(), "No space left on device");
  disk.Free();
  std::string data;
  EXPECT_EQ(key.QueryValue("kept", nullptr, &data), kErrorSuccess);
  EXPECT_EQ(data, "before");
  EXPECT_EQ(key.QueryValue("big", nullptr, &data), kErrorFileNotFound);
}

// Root opens no database or journal through a link, and leaves its target
// alone; nor one another user could change, or make where it is missing.
TEST_F(RegistryTest, RootOpensNoDatabaseAnotherUserCouldChange) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root refuses such a database";
  namespace fs = std::filesystem;
  const std::string home = home_.path();
  const std::string target = home + "/elsewhere.db";
  const std::string db = home + "/registry.db";
  const std::string tail = "; only root may own and change it";
  const std::string above = home + ".above", nested = above + "/home";
  {
    RegistryKey key = MakeKey("SOFTWARE");  // the database and its journals
  }
  DropRegistryConnectionForTesting();
  auto own = [](const std::string& path, uid_t user) { ::lchown(path.c_str(), user, user); };
  struct Case {
    const char* what;
    std::function<void()> make, undo;
    std::string cause;
  } cases[] = {
      {"database a link", [&] { fs::rename(db, target); fs::create_symlink(target, db); },
       [&] { fs::remove(db); fs::rename(target, db); },
       db + " is a symbolic link; root never opens the registry through one"},
      {"journal a link", [&] { fs::rename(db + "-wal", target); fs::create_symlink(target, db + "-wal"); },
       [&] { fs::remove(db + "-wal"); fs::rename(target, db + "-wal"); },
       db + "-wal is a symbolic link; root never opens the registry through one"},
      {"shared memory of another user", [&] { own(db + "-shm", 65534); }, [&] { own(db + "-shm", 0); },
       db + "-shm belongs to user 65534, not root" + tail},
      {"journal others may write", [&] { ::chmod((db + "-wal").c_str(), 0666); },
       [&] { ::chmod((db + "-wal").c_str(), 0644); }, db + "-wal may be written by its group or by other users" + tail},
      {"missing journal in a folder others may write",
       [&] { fs::remove(db + "-shm"); ::chmod(home.c_str(), 01777); },
       [&] { ::chmod(home.c_str(), 0700); }, home + " may be written by its group or by other users" + tail},
      {"home in a folder of another user",
       [&] {
         fs::create_directory(above);
         own(above, 65534);
         fs::create_directory(nested);
         ::setenv("KESTRANE_HOME", nested.c_str(), 1);
       },
       [&] {
         ::setenv("KESTRANE_HOME", home.c_str(), 1);
         fs::remove_all(above);
       },
       above + " belongs to user 65534, not root" + tail},
  };
  for (const Case& c : cases) {
    c.make();
    DropRegistryConnectionForTesting();
    RegistryKey key;
    EXPECT_EQ(RegistryKey::Create("SOFTWARE", &key), kErrorRegistryIoFailed) << c.what;
    EXPECT_EQ(RegistryFailureCause(), c.cause) << c.what;
    EXPECT_EQ(RegistryKey::Open("SOFTWARE", RegAccess::kRead, &key), kErrorRegistryIoFailed) << c.what;
    c.undo();
    DropRegistryConnectionForTesting();
    EXPECT_EQ(RegistryKey::Open("SOFTWARE", RegAccess::kRead, &key), kErrorSuccess) << c.what;
  }
  EXPECT_FALSE(fs::exists(target)) << "the link's target was made";
}

TEST_F(RegistryTest, MissingHomeFolderIsCreated) {
  std::string nested = home_.path() + "/a/b";
  ::setenv("KESTRANE_HOME", nested.c_str(), 1);
  RegistryKey key = MakeKey("SOFTWARE");
  EXPECT_TRUE(std::filesystem::exists(nested + "/registry.db"));
}

TEST_F(RegistryTest, ChildProgramsInheritNoDatabaseFile) {
  RegistryKey key = MakeKey("SOFTWARE\\Kestrane");
  Set(key, "v", kRegSz, "1");
  std::string db = home_.path() + "/registry.db";
  int seen = 0;
  DIR* dir = ::opendir("/proc/self/fd");
  ASSERT_NE(dir, nullptr);
  while (dirent* entry = ::readdir(dir)) {
    std::error_code ec;
    auto target = std::filesystem::read_symlink(
        std::string("/proc/self/fd/") + entry->d_name, ec);
    if (ec || target.string().rfind(db, 0) != 0) continue;
    ++seen;
    int flags = ::fcntl(std::atoi(entry->d_name), F_GETFD);
    EXPECT_TRUE(flags & FD_CLOEXEC) << target;
  }
  ::closedir(dir);
  EXPECT_GE(seen, 1);

  std::string out;
  ASSERT_EQ(RunWorker("fds", &out), 0);
  EXPECT_EQ(out.find("registry.db"), std::string::npos) << out;
}

TEST_F(RegistryTest, WritesAreSeenByOtherProcesses) {
  RegistryKey key = MakeKey("SOFTWARE\\Kestrane");
  Set(key, "rootDirectory", kRegSz, "/opt/one");
  std::string out;
  ASSERT_EQ(RunWorker("get 'SOFTWARE\\Kestrane' rootDirectory", &out), 0);
  EXPECT_EQ(out, "/opt/one");
  ASSERT_EQ(RunWorker("set 'SOFTWARE\\Kestrane' rootDirectory /opt/two"), 0);
  std::string data;
  ASSERT_EQ(key.QueryValue("rootDirectory", nullptr, &data), kErrorSuccess);
  EXPECT_EQ(data, std::string("/opt/two\0", 9));
}

TEST_F(RegistryTest, ReaderSeesTheFirstKeyAnotherProcessStores) {
  // An empty database, read by a process that may not write it.
  std::ofstream(home_.path() + "/registry.db");
  SetRegistryReadOnlyForTesting(true);
  RegistryKey key;
  EXPECT_EQ(RegistryKey::Open("SOFTWARE", RegAccess::kRead, &key), kErrorFileNotFound);
  ASSERT_EQ(RunWorker("set 'SOFTWARE\\Kestrane' rootDirectory /opt/one"), 0);
  ASSERT_EQ(RegistryKey::Open("SOFTWARE\\Kestrane", RegAccess::kRead, &key), kErrorSuccess);
  std::string data;
  ASSERT_EQ(key.QueryValue("rootDirectory", nullptr, &data), kErrorSuccess);
  EXPECT_EQ(data, std::string("/opt/one\0", 9));
}

TEST_F(RegistryTest, ProcessesHammeringTheSameKeysLoseNothing) {
  constexpr int kCount = 300;
  // Both workers run at once; popen returns as soon as each has started.
  std::string count = std::to_string(kCount);
  FILE* a = ::popen(("'" + WorkerPath() + "' hammer a " + count + " 2>&1").c_str(), "r");
  FILE* b = ::popen(("'" + WorkerPath() + "' hammer b " + count + " 2>&1").c_str(), "r");
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  // The parent writes meanwhile too.
  for (int i = 0; i < kCount; ++i) {
    RegistryKey key = MakeKey("SOFTWARE\\Hammer\\Shared");
    uint32_t v = static_cast<uint32_t>(i);
    ASSERT_EQ(key.SetValue("p_" + std::to_string(i), kRegDword, &v, 4), kErrorSuccess);
  }
  for (FILE* pipe : {a, b}) {
    char buf[512] = {};
    size_t n = std::fread(buf, 1, sizeof buf - 1, pipe);
    int status = ::pclose(pipe);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << std::string(buf, n);
  }
  RegistryKey key;
  ASSERT_EQ(RegistryKey::Open("SOFTWARE\\Hammer\\Shared", RegAccess::kRead, &key),
            kErrorSuccess);
  for (const char* prefix : {"a_", "b_", "p_"}) {
    for (int i = 0; i < kCount; ++i) {
      uint32_t v = 0xffffffff, size = 4;
      ASSERT_EQ(key.QueryValue(prefix + std::to_string(i), nullptr, &v, &size),
                kErrorSuccess)
          << prefix << i;
      EXPECT_EQ(v, static_cast<uint32_t>(i));
    }
  }
  RegKeyInfo info;
  ASSERT_EQ(key.QueryInfo(&info), kErrorSuccess);
  EXPECT_EQ(info.value_count, 3u * kCount + 1);  // and "last"
  EXPECT_EQ(info.subkey_count, 0u);
}

}  // namespace
}  // namespace kst
