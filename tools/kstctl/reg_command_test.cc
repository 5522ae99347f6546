#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/registry.h"
#include "platform/registry_testing.h"
#include "tools/kstctl/kstctl_testing.h"

namespace kst {
namespace {

using Outcome = KstctlOutcome;

class RegCommandTest : public ::testing::Test {
 protected:
  Outcome Run(const std::vector<std::string>& words) { return Kstctl(words, home_.path()); }
  std::string Stored(const std::string& path, const std::string& name, RegType* type) {
    RegistryKey key;
    std::string data;
    EXPECT_EQ(RegistryKey::Open(path, RegAccess::kRead, &key), kErrorSuccess) << path;
    EXPECT_EQ(key.QueryValue(name, type, &data), kErrorSuccess) << name;
    return data;
  }

  TempKestraneHome home_;
};

// Each step runs after the ones before it, on the same registry.
TEST_F(RegCommandTest, SessionOfInvocations) {
  const std::string k = "SOFTWARE\\Kestrane";
  struct Step {
    std::vector<std::string> words;
    int status;
    const char* out;       // exact stdout
    const char* err_part;  // must appear in stderr ("" for none)
  } steps[] = {
      {{"reg", "list", k}, 1, "", "key 'SOFTWARE\\Kestrane': not found"},
      {{"reg", "set", k, "rootDirectory", "string", "C:\\Program Files\\Kestrane"}, 0, "", ""},
      {{"reg", "set", k, "intervalBetweenCheckings", "dword", "60000"}, 0, "", ""},
      {{"reg", "set", k + "\\Internal\\Logs", "logsTitles", "multi", "cpu", "disk io"}, 0, "", ""},
      {{"reg", "set", k, "blob", "binary", "00FF10"}, 0, "", ""},
      {{"reg", "set", k, "none", "binary", ""}, 0, "", ""},
      {{"reg", "set", k, "minus", "dword", "-1"}, 0, "", ""},
      {{"reg", "query", "software\\kestrane", "ROOTDIRECTORY"}, 0,
       "ROOTDIRECTORY\tREG_SZ\tC:\\Program Files\\Kestrane\n", ""},
      {{"reg", "query", k}, 0,
       "rootDirectory\tREG_SZ\tC:\\Program Files\\Kestrane\n"
       "intervalBetweenCheckings\tREG_DWORD\t0x0000ea60 (60000)\n"
       "blob\tREG_BINARY\t00ff10\n"
       "none\tREG_BINARY\t\n"
       "minus\tREG_DWORD\t0xffffffff (4294967295)\n", ""},
      {{"reg", "list", k}, 0,
       "rootDirectory\tREG_SZ\tC:\\Program Files\\Kestrane\n"
       "intervalBetweenCheckings\tREG_DWORD\t0x0000ea60 (60000)\n"
       "blob\tREG_BINARY\t00ff10\n"
       "none\tREG_BINARY\t\n"
       "minus\tREG_DWORD\t0xffffffff (4294967295)\n"
       "Internal\\\n", ""},
      {{"reg", "query", k + "\\Internal\\Logs", "logsTitles"}, 0,
       "logsTitles\tREG_MULTI_SZ\t\"cpu\" \"disk io\"\n", ""},
      {{"reg", "query", k, "missing"}, 1, "", "value 'missing': not found"},
      {{"reg", "delete-value", k, "blob"}, 0, "", ""},
      {{"reg", "delete-value", k, "blob"}, 1, "", "value 'blob': not found"},
      {{"reg", "delete-key", k + "\\Internal"}, 0, "", ""},
      {{"reg", "delete-key", k + "\\Internal"}, 1, "", "not found"},
      {{"reg", "list", k + "\\Internal"}, 1, "", "not found"},
      {{"reg", "delete-key", "\\"}, 1, "", "refusing"},
      {{"reg", "set", k, "x", "dword", "4294967296"}, 1, "", "not a 32-bit number"},
      {{"reg", "set", k, "x", "dword", "12abc"}, 1, "", "not a 32-bit number"},
      {{"reg", "set", k, "x", "binary", "abc"}, 1, "", "hex digits"},
      {{"reg", "set", k, "x", "string", "a", "b"}, 2, "", "TYPE is"},
      {{"reg", "set", k, "x", "text", "a"}, 2, "", "TYPE is"},
      {{"reg", "set", k, "x"}, 2, "", "usage: kstctl reg set KEY VALUE TYPE DATA..."},
      {{"reg", "query"}, 2, "", "usage: kstctl reg query KEY [VALUE]"},
      {{"reg", "frobnicate"}, 2, "", "unknown action 'frobnicate'"},
      {{"reg"}, 2, "", "usage: kstctl reg ACTION"},
      {{"nosuch"}, 2, "", "unknown command 'nosuch'"},
      {{}, 2, "", "usage: kstctl COMMAND"},
  };
  for (const Step& s : steps) {
    std::string shown;
    for (const std::string& w : s.words) shown += " [" + w + "]";
    Outcome o = Run(s.words);
    EXPECT_EQ(o.status, s.status) << shown << "\n" << o.err;
    EXPECT_EQ(o.out, s.out) << shown;
    EXPECT_NE(o.err.find(s.err_part), std::string::npos) << shown << "\n" << o.err;
    if (s.err_part[0] == '\0') {
      EXPECT_EQ(o.err, "") << shown;
    }
  }
}

TEST_F(RegCommandTest, SetStoresTheBytesTheSystemReads) {
  const std::string k = "System\\CurrentControlSet\\Services\\Kestrane buffer creator";
  struct Case {
    std::vector<std::string> data;
    const char* type_name;
    RegType type;
    std::string bytes;
  } cases[] = {
      {{"C:\\cbuffer"}, "string", kRegSz, std::string("C:\\cbuffer\0", 11)},
      {{""}, "string", kRegSz, std::string(1, '\0')},
      {{"0x01020304"}, "dword", kRegDword, "\x04\x03\x02\x01"},
      {{"-2"}, "dword", kRegDword, "\xfe\xff\xff\xff"},
      {{"010"}, "dword", kRegDword, std::string("\x0a\0\0\0", 4)},
      {{"\\Memory\\Available Bytes", "\\System\\Processes"}, "multi", kRegMultiSz,
       std::string("\\Memory\\Available Bytes\0\\System\\Processes\0\0", 43)},
      {{}, "multi", kRegMultiSz, std::string(1, '\0')},
      {{"0001fe"}, "binary", kRegBinary, std::string("\x00\x01\xfe", 3)},
  };
  for (const Case& c : cases) {
    std::vector<std::string> words{"reg", "set", k, "v", c.type_name};
    words.insert(words.end(), c.data.begin(), c.data.end());
    Outcome o = Run(words);
    ASSERT_EQ(o.status, 0) << c.type_name << o.err;
    RegType type = 0;
    EXPECT_EQ(Stored(k, "v", &type), c.bytes) << c.type_name;
    EXPECT_EQ(type, c.type) << c.type_name;
  }
}

TEST_F(RegCommandTest, ReadOnlyRegistryIsReported) {
  ASSERT_EQ(Run({"reg", "set", "SOFTWARE", "v", "dword", "1"}).status, 0);
  if (::geteuid() == 0) {
    // Another user, who may read the home folder but not write it.
    ASSERT_EQ(::chmod(home_.path().c_str(), 0755), 0);
    const char* bin = std::getenv("KST_BIN_DIR");
    std::string kstctl = std::string(bin ? bin : "bin") + "/kstctl";
    ChildOutcome set, query;
    if (!RunAsNobody(kstctl, {"reg", "set", "SOFTWARE", "v", "dword", "2"}, home_.path(), &set))
      GTEST_SKIP() << "no user nobody to test another user's access";
    EXPECT_EQ(set.status, 1);
    EXPECT_NE(set.err.find("access denied"), std::string::npos) << set.err;
    ASSERT_TRUE(RunAsNobody(kstctl, {"reg", "query", "SOFTWARE", "v"}, home_.path(), &query));
    EXPECT_EQ(query.status, 0) << query.err;
    EXPECT_EQ(query.out, "v\tREG_DWORD\t0x00000001 (1)\n");
    return;
  }
  ASSERT_EQ(::chmod(home_.path().c_str(), 0555), 0);
  Outcome o = Run({"reg", "set", "SOFTWARE", "v", "dword", "2"});
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("access denied"), std::string::npos) << o.err;
  EXPECT_EQ(Run({"reg", "query", "SOFTWARE", "v"}).status, 0);
  ::chmod(home_.path().c_str(), 0755);
}

// A value the disk has no room for is refused with the cause, and the
// registry keeps what it held.
TEST_F(RegCommandTest, FullDiskIsNamed) {
  SmallDisk disk(home_.path(), 1 << 20);
  if (!disk.mounted()) GTEST_SKIP() << disk.why();
  const std::string k = "SOFTWARE\\Kestrane";
  ASSERT_EQ(Run({"reg", "set", k, "kept", "string", "before"}).status, 0);
  ASSERT_TRUE(disk.Fill());
  const Outcome full = Run({"reg", "set", k, "big", "string", std::string(100000, 'x')});
  EXPECT_EQ(full.status, 1);
  EXPECT_EQ(full.err, "kstctl reg: value 'big': No space left on device (registry error 1016)\n");
  disk.Free();
  EXPECT_EQ(Run({"reg", "query", k}).out, "kept\tREG_SZ\tbefore\n");
}

TEST_F(RegCommandTest, HelpTextsNameEveryCommandAndAction) {
  Outcome top = Run({"--help"});
  EXPECT_EQ(top.status, 0);
  // One column for every command's help, the longest name included.
  EXPECT_NE(top.out.find("\n  reg           read and change"), std::string::npos) << top.out;
  EXPECT_NE(top.out.find("\n  notifications edit the"), std::string::npos) << top.out;
  Outcome reg = Run({"reg", "--help"});
  EXPECT_EQ(reg.status, 0);
  for (const char* action : {"query KEY [VALUE]", "set KEY VALUE TYPE DATA...",
                             "delete-value KEY VALUE", "delete-key KEY", "list KEY",
                             "string WORD", "dword NUMBER", "multi WORD...", "binary HEX"})
    EXPECT_NE(reg.out.find(action), std::string::npos) << action;
}

}  // namespace
}  // namespace kst
