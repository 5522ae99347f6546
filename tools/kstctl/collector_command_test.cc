// kstctl collector set and kstctl reload: what they refuse, and what a user
// without rights is told.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "StatSubsystem/common/service_keys.h"
#include "gtest/gtest.h"
#include "platform/perfcounters_testing.h"
#include "platform/registry.h"
#include "platform/registry_testing.h"
#include "tools/kstctl/kstctl_testing.h"

namespace kst {
namespace {

const char kCollectorKey[] = "System\\CurrentControlSet\\Services\\Kestrane buffer creator";
const char kCheckerKey[] = "System\\CurrentControlSet\\Services\\Kestrane stat checker";

std::string BinDir() {
  const char* bin = std::getenv("KST_BIN_DIR");
  return bin != nullptr ? bin : "bin";
}

class CollectorCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegistryKey key;
    ASSERT_EQ(RegistryKey::Create(kCollectorKey, &key), kErrorSuccess);
  }

  TempKestraneHome home_;
};

// Paths that would break the ring buffer's header lines, and counters the
// collector could not sample (it would record 0 for ever), are refused, each
// with its reason, and nothing is written.
TEST_F(CollectorCommandTest, SetRefusesPathsTheHeaderLinesCannotHold) {
  struct Case { std::string path; std::string reason; } cases[] = {
      {"\\Memory\\Available;Bytes", "holds ';', which separates the fields of the ring buffer's header lines"},
      {"\\Memory\\Available\nBytes", "holds a line break"},
      {"\\Memory\\Available\rBytes", "holds a line break"},
      {"Memory Available Bytes", "has no backslash (a counter path is \\\\host\\object(instance)\\counter)"},
      {"\\\\otherhost\\Memory\\Available MBytes",
       "names another machine; the collector samples this machine's counters only"},
      {"\\Nope\\Nothing", "names no object of this machine's counters"},
      {"\\Memory\\Nothing", "names no counter of its object"},
      {"\\Processor(nope)\\% Processor Time", "names no instance of its object on this machine"},
      {"Memory\\Cache Bytes", "is not a counter path (\\\\host\\object(instance)\\counter)"},
  };
  for (const Case& c : cases) {
    const KstctlOutcome o = Kstctl({"collector", "set", "\\Memory\\Cache Bytes", c.path}, home_.path());
    EXPECT_EQ(o.status, 2) << c.path;
    EXPECT_EQ(o.err, "kstctl collector: counter path '" + c.path + "' " + c.reason + "\n");
    int flag = 0;
    EXPECT_EQ(ReadServiceDword("kstCollector", "notFirstStartFlag", &flag), -2) << c.path;
  }
  const KstctlOutcome good =
      Kstctl({"collector", "set", "\\Memory\\Cache Bytes", "\\\\.\\System\\Processes"}, home_.path());
  EXPECT_EQ(good.status, 0) << good.err;
  std::vector<std::string> stored;
  ASSERT_EQ(ReadServiceMultiString("kstCollector", "optCounters", &stored), 0);
  EXPECT_EQ(stored, (std::vector<std::string>{"\\Memory\\Cache Bytes", "\\\\.\\System\\Processes"}));
}

// A process is named by its program's whole file name, which the kernel
// cuts to 15 characters; a counter list that names it by the kernel's name,
// as lists of before do, still finds it.
TEST_F(CollectorCommandTest, SetTakesAProcessByItsProgramsWholeName) {
  RunningProgram program(home_.path(), "KestraneLongProgramName");
  ASSERT_TRUE(program.started()) << "the program did not start within 10 s";
  for (const char* path : {"\\Process(KestraneLongProgramName)\\Working Set",
                           "\\Thread(KestraneLongProgramName/0)\\% Processor Time",
                           "\\Process(KestraneLongPro)\\Working Set"}) {
    const KstctlOutcome o = Kstctl({"collector", "set", path}, home_.path());
    EXPECT_EQ(o.status, 0) << path << ": " << o.err;
  }
  const KstctlOutcome gone = Kstctl({"collector", "set", "\\Process(KestraneLongProgramNam)\\Working Set"}, home_.path());
  EXPECT_EQ(gone.err, "kstctl collector: counter path '\\Process(KestraneLongProgramNam)\\Working Set' "
                      "names no instance of its object on this machine\n");
}

// A user who may read the installation but not change it is told that,
// not that the collector is missing or the checker down.
TEST_F(CollectorCommandTest, UserWithoutRightsIsToldAccessIsDenied) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run kstctl as another user";
  ASSERT_EQ(::chmod(home_.path().c_str(), 0755), 0);
  {
    RegistryKey product, checker;
    ASSERT_EQ(RegistryKey::Create("SOFTWARE\\Kestrane", &product), kErrorSuccess);
    const std::string root = std::string("C:\\Program Files\\Kestrane") + '\0';
    ASSERT_EQ(product.SetValue("rootDirectory", kRegSz, root.data(), static_cast<uint32_t>(root.size())),
              kErrorSuccess);
    ASSERT_EQ(RegistryKey::Create(kCheckerKey, &checker), kErrorSuccess);
    const std::string image = std::string("KestraneChecker -service") + '\0';
    ASSERT_EQ(checker.SetValue("ImagePath", kRegSz, image.data(), static_cast<uint32_t>(image.size())),
              kErrorSuccess);
  }
  // The root's run folder, which only root may enter, and the alerter
  // library where the checker loads it from.
  ASSERT_EQ(::mkdir((home_.path() + "/run").c_str(), 0700), 0);
  std::filesystem::copy_file(BinDir() + "/KestraneAlerter.so", home_.path() + "/KestraneAlerter.so");

  ChildOutcome set;
  if (!RunAsNobody(BinDir() + "/kstctl", {"collector", "set", "\\Memory\\Cache Bytes"}, home_.path(), &set)) {
    GTEST_SKIP() << "no user nobody to test another user's access";
  }
  EXPECT_EQ(set.status, 1);
  EXPECT_EQ(set.err,
            "kstctl collector: access denied: you may not change the collector's options "
            "(run as the installation's owner or root)\n");

  ChildOutcome reload;
  ASSERT_TRUE(RunAsNobody(BinDir() + "/kstctl", {"reload"}, home_.path(), &reload));
  EXPECT_EQ(reload.status, 1);
  EXPECT_EQ(reload.err,
            "kstctl reload: reload not requested: access denied: only the checking service's owner "
            "or root may send it controls (result -14)\n");

  // Root, with the same installation and no checker running, hears that.
  const KstctlOutcome down = Kstctl({"reload"}, home_.path());
  EXPECT_EQ(down.status, 1);
  EXPECT_NE(down.err.find("(is it running?) (result -14)"), std::string::npos) << down.err;
}

}  // namespace
}  // namespace kst
