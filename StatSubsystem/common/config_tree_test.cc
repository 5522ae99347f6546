#include "StatSubsystem/common/config_tree.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "StatSubsystem/common/config_tree_keys.h"
#include "StatSubsystem/common/multi_string.h"
#include "StatSubsystem/common/product_key.h"
#include "platform/registry.h"
#include "platform/registry_testing.h"

namespace kst {
namespace {

using Titles = std::vector<std::string>;

class ConfigTreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetRootDirectory("C:\\Program Files\\Kestrane");
    // What the counter store set-up leaves: Logs with an empty logsTitles.
    RegistryKey logs;
    ASSERT_EQ(RegistryKey::Create(LogsKeyPath(), &logs), kErrorSuccess);
    ASSERT_TRUE(WriteMultiString(logs, "logsTitles", {}));
  }

  static AnalyzerInstance Instance(const std::string& title) {
    AnalyzerInstance instance;
    instance.title = title;
    instance.pluginFileName = "Discovery.dll";
    instance.stateFileName = title + ".state";
    instance.usesTime = true;
    instance.warningLevelThreshold = 40;
    instance.trainingPeriod = {1000, 2000, 3600, 7200};
    instance.parameters.emplace_back("depth", "search depth", 3, 2, 1, 10, 1);
    instance.parameters.emplace_back("x", "", 0.123456, 0.0, 0.0, 1.0);
    instance.parameters.emplace_back("expr", "", "a=b", "");
    return instance;
  }

  void AddLogOk(const std::string& title, const Titles& counters) {
    int result = 0;
    AddLog(title, counters, &result);
    ASSERT_GT(result, 0) << title;
  }

  void WriteInstanceOk(const std::string& log, const AnalyzerInstance& instance) {
    int result = 0;
    WriteAnalyzerInstance(log, instance, &result);
    ASSERT_GT(result, 0) << instance.title;
  }

  static std::string RawValue(const std::string& path, const char* name, RegType* type = nullptr) {
    RegistryKey key;
    std::string bytes;
    if (RegistryKey::Open(path, RegAccess::kRead, &key) != kErrorSuccess) return "<no key>";
    if (key.QueryValue(name, type, &bytes) != kErrorSuccess) return "<no value>";
    return bytes;
  }

  static void SetRaw(const std::string& path, const char* name, RegType type, const std::string& bytes) {
    RegistryKey key;
    ASSERT_EQ(RegistryKey::Open(path, RegAccess::kReadWrite, &key), kErrorSuccess);
    ASSERT_EQ(key.SetValue(name, type, bytes.data(), static_cast<uint32_t>(bytes.size())), kErrorSuccess);
  }

  TempKestraneHome home_;
};

TEST_F(ConfigTreeTest, LogsKeepTheirOrder) {
  int result = 0;
  AddLog("L1", {"Memory::A", "Memory::B"}, &result);
  EXPECT_EQ(result, 1);
  AddLog("L2", {"C::x"}, &result);
  EXPECT_EQ(result, 2);
  EXPECT_EQ(ReadLogsTitles(&result), (Titles{"L1", "L2"}));
  EXPECT_EQ(result, 2);

  EXPECT_EQ(ReadLogCountersTitles("L1", &result), (Titles{"Memory::A", "Memory::B"}));
  EXPECT_EQ(result, 2);
  EXPECT_TRUE(ReadAnalyzerInstances("L1", &result).empty());
  EXPECT_EQ(result, 0);

  AddLog("L1", {"Other::z"}, &result);
  EXPECT_EQ(result, -2);
  EXPECT_EQ(ReadLogCountersTitles("L1", &result), (Titles{"Memory::A", "Memory::B"}));

  RemoveLog("L1", &result);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(ReadLogsTitles(&result), (Titles{"L2"}));
  ReadLogCountersTitles("L1", &result);
  EXPECT_EQ(result, -3);
}

TEST_F(ConfigTreeTest, LogResultCodes) {
  int result = 0;
  AddLog("", {"A::a"}, &result);
  EXPECT_EQ(result, -7);
  AddLog("L", {}, &result);
  EXPECT_EQ(result, -8);
  // An empty counter title is found after the key was made; it stays, unlisted.
  AddLog("L", {"A::a", ""}, &result);
  EXPECT_EQ(result, -7);
  EXPECT_EQ(ReadLogsTitles(&result).size(), 0u);
  EXPECT_EQ(RawValue(LogKeyPath("L"), "countersTitles"), "<no value>");

  RemoveLog("", &result);
  EXPECT_EQ(result, -7);
  RemoveLog("missing", &result);
  EXPECT_EQ(result, -3);
  ReadLogCountersTitles("", &result);
  EXPECT_EQ(result, -7);
  ReadAnalyzerInstances("missing", &result);
  EXPECT_EQ(result, -3);

  // No logsTitles (never set up): the log is made but not listed.
  {
    RegistryKey logs;
    ASSERT_EQ(RegistryKey::Open(LogsKeyPath(), RegAccess::kReadWrite, &logs), kErrorSuccess);
    ASSERT_EQ(logs.DeleteValue("logsTitles"), kErrorSuccess);
  }
  EXPECT_TRUE(ReadLogsTitles(&result).empty());
  EXPECT_EQ(result, 0);
  AddLog("M", {"A::a"}, &result);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(RawValue(LogKeyPath("M"), "countersTitles"), std::string("A::a\0\0", 6));

  // logsTitles of another type, and no Logs key at all.
  SetRaw(LogsKeyPath(), "logsTitles", kRegSz, std::string("L\0", 2));
  ReadLogsTitles(&result);
  EXPECT_EQ(result, -1);
  ASSERT_EQ(DeleteKeyTree(LogsKeyPath()), kErrorSuccess);
  ReadLogsTitles(&result);
  EXPECT_EQ(result, -1);
}

TEST_F(ConfigTreeTest, InstancesRoundTrip) {
  AddLogOk("L", {"A::a"});
  int result = 0;
  WriteAnalyzerInstance("L", Instance("I1"), &result);
  EXPECT_EQ(result, 1);
  WriteAnalyzerInstance("L", Instance("I2"), &result);
  EXPECT_EQ(result, 2);

  EXPECT_EQ(RawValue(InstanceKeyPath("L", "I1"), "parameters"),
            std::string("INT depth=3\0FLOAT x=0.12346\0STRING expr=a=b\0\0", 45));

  const std::vector<AnalyzerInstance> instances = ReadAnalyzerInstances("L", &result);
  ASSERT_EQ(result, 2);
  ASSERT_EQ(instances.size(), 2u);
  const AnalyzerInstance& i = instances[0];
  EXPECT_EQ(i.title, "I1");
  EXPECT_EQ(i.pluginFileName, "Discovery.dll");
  EXPECT_EQ(i.stateFileName, "I1.state");
  EXPECT_TRUE(i.usesTime);
  EXPECT_EQ(i.warningLevelThreshold, 40);
  EXPECT_EQ(i.trainingPeriod.dayIntervalFrom, 1000);
  EXPECT_EQ(i.trainingPeriod.dayIntervalTill, 2000);
  EXPECT_EQ(i.trainingPeriod.dayTimeIntervalFrom, 3600);
  EXPECT_EQ(i.trainingPeriod.dayTimeIntervalTill, 7200);
  ASSERT_EQ(i.parameters.size(), 3u);
  EXPECT_EQ(i.parameters[0].line(), "INT depth=3");
  EXPECT_DOUBLE_EQ(i.parameters[1].data().r.value, 0.12346);
  EXPECT_STREQ(i.parameters[2].data().s.value, "a=b");
  EXPECT_STREQ(i.parameters[2].name(), "expr");
  EXPECT_EQ(instances[1].title, "I2");
}

TEST_F(ConfigTreeTest, InstanceWriteResultCodes) {
  AddLogOk("L", {"A::a"});
  struct Case {
    std::string log;
    AnalyzerInstance instance;
    int code;
  };
  AnalyzerInstance no_title = Instance(""), no_plugin = Instance("P"), no_state = Instance("S");
  no_plugin.pluginFileName.clear();
  no_state.stateFileName.clear();
  const Case cases[] = {
      {"", Instance("I"), -7},   {"L", no_title, -9},         {"L", no_plugin, -9},
      {"L", no_state, -9},       {"missing", Instance("I"), -3},
      {"L", Instance("I"), 1},   {"L", Instance("I"), -4},
  };
  for (const Case& c : cases) {
    int result = 0;
    WriteAnalyzerInstance(c.log, c.instance, &result);
    EXPECT_EQ(result, c.code) << c.log << "/" << c.instance.title;
  }
  // A parameter of kind none is refused once the key was made; the key stays.
  AnalyzerInstance none_kind = Instance("N");
  none_kind.parameters.emplace_back();
  int result = 0;
  WriteAnalyzerInstance("L", none_kind, &result);
  EXPECT_EQ(result, -9);
  WriteAnalyzerInstance("L", Instance("N"), &result);
  EXPECT_EQ(result, -4);

  AnalyzerInstance huge = Instance("H");
  huge.parameters.emplace_back("big", "", std::string(kMultiStringBufferSize, 'x').c_str(), "");
  WriteAnalyzerInstance("L", huge, &result);
  EXPECT_EQ(result, -9);
}

TEST_F(ConfigTreeTest, BadInstancesAreLeftOut) {
  AddLogOk("L", {"A::a"});
  for (const char* title : {"I1", "I2", "I3", "I4", "I5"}) WriteInstanceOk("L", Instance(title));
  const std::string dword_101("\x65\0\0\0", 4);
  SetRaw(InstanceKeyPath("L", "I2"), "warningLevelThreshold", kRegDword, dword_101);
  SetRaw(InstanceKeyPath("L", "I3"), "dayIntervalFrom", kRegDword, std::string(4, '\0'));
  SetRaw(InstanceKeyPath("L", "I4"), "parameters", kRegSz, std::string("x\0", 2));
  ASSERT_EQ(DeleteKeyTree(InstanceKeyPath("L", "I5")), kErrorSuccess);
  // A till of another type is taken as it is.
  SetRaw(InstanceKeyPath("L", "I1"), "dayIntervalTill", kRegDword, std::string("\x10\0\0\0", 4));

  int result = 0;
  const std::vector<AnalyzerInstance>& instances = ReadAnalyzerInstances("L", &result);
  EXPECT_EQ(result, 1);
  ASSERT_EQ(instances.size(), 1u);
  EXPECT_EQ(instances[0].title, "I1");
  EXPECT_EQ(instances[0].trainingPeriod.dayIntervalTill, 16);
}

TEST_F(ConfigTreeTest, ParameterLines) {
  struct Case {
    const char* line;
    bool parsed;
    ParameterKind kind;
    const char* name;
    const char* text;  // the value as its line prints it
  };
  const Case cases[] = {
      {"INT depth=3", true, kParamInt, "depth", "INT depth=3"},
      {"INT n= -12abc", true, kParamInt, "n", "INT n=-12"},
      {"INT n=", true, kParamInt, "n", "INT n=0"},
      {"FLOAT p=0.95000", true, kParamReal, "p", "FLOAT p=0.95000"},
      {"FLOAT p=x", true, kParamReal, "p", "FLOAT p=0.00000"},
      {"STRING mode=fast", true, kParamString, "mode", "STRING mode=fast"},
      {"STRING note=", true, kParamString, "note", "STRING note="},
      {"STRING expr=a=b", true, kParamString, "expr", "STRING expr=a=b"},
      {"BOOL b=1", false, kParamNone, "", ""},
      {"int depth=3", false, kParamNone, "", ""},
      {"INT depth", false, kParamNone, "", ""},
  };
  for (const Case& c : cases) {
    std::optional<ParameterValue> p = ParseParameterLine(c.line);
    ASSERT_EQ(p.has_value(), c.parsed) << c.line;
    if (!p) continue;
    EXPECT_EQ(p->kind(), c.kind) << c.line;
    EXPECT_STREQ(p->name(), c.name);
    EXPECT_STREQ(p->description(), "");
    EXPECT_EQ(p->line(), c.text);
  }
}

TEST_F(ConfigTreeTest, Status) {
  AddLogOk("L", {"A::a"});
  WriteInstanceOk("L", Instance("I"));
  const std::string path = InstanceKeyPath("L", "I");
  int status = -5, result = 0;
  ReadInstanceStatus("L", "I", &status, &result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(status, kStatusActivated);

  const std::pair<int, std::string> stored[] = {{1, std::string("activated\0", 10)},
                                                {2, std::string("training\0", 9)},
                                                {3, std::string("deactivated\0", 12)}};
  for (const auto& [code, bytes] : stored) {
    WriteInstanceStatus("L", "I", code, &result);
    EXPECT_EQ(result, 0);
    RegType type = 0;
    EXPECT_EQ(RawValue(path, "status", &type), bytes);
    EXPECT_EQ(type, kRegSz);
    ReadInstanceStatus("L", "I", &status, &result);
    EXPECT_EQ(status, code);
  }

  SetRaw(path, "status", kRegSz, std::string("Activated\0", 10));
  ReadInstanceStatus("L", "I", &status, &result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(status, kStatusUnknown);
  SetRaw(path, "status", kRegBinary, std::string("activated\0", 10));
  ReadInstanceStatus("L", "I", &status, &result);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(status, kStatusUnknown);

  const struct {
    std::string log, instance;
    int code, expected;
  } writes[] = {{"L", "I", 4, -13}, {"L", "I", 0, -13}, {"", "I", 1, -7},
                {"L", "", 1, -7},   {"L", "X", 1, -3}};
  for (const auto& w : writes) {
    WriteInstanceStatus(w.log, w.instance, w.code, &result);
    EXPECT_EQ(result, w.expected) << w.log << "/" << w.instance << " " << w.code;
  }
  ReadInstanceStatus("L", "X", &status, &result);
  EXPECT_EQ(result, -3);
}

TEST_F(ConfigTreeTest, RemoveInstance) {
  AddLogOk("L", {"A::a"});
  for (const char* title : {"I1", "I2", "I3"}) WriteInstanceOk("L", Instance(title));
  const std::filesystem::path states = std::filesystem::path(home_.path()) / "States";
  std::filesystem::create_directories(states);
  std::ofstream(states / "I2.state") << "trained";
  std::ofstream(states / "I3.state") << "trained";

  int result = 0;
  RemoveAnalyzerInstance("L", "I2", &result);
  EXPECT_EQ(result, 2);
  EXPECT_FALSE(std::filesystem::exists(states / "I2.state"));
  EXPECT_TRUE(std::filesystem::exists(states / "I3.state"));
  EXPECT_EQ(RawValue(InstanceKeyPath("L", "I2"), "status"), "<no key>");
  EXPECT_EQ(RawValue(LogKeyPath("L"), "analyzersTitles"), std::string("I1\0I3\0\0", 7));

  // No state file on disk is fine.
  RemoveAnalyzerInstance("L", "I1", &result);
  EXPECT_EQ(result, 1);

  RemoveAnalyzerInstance("L", "I2", &result);
  EXPECT_EQ(result, -5);
  RemoveAnalyzerInstance("X", "I3", &result);
  EXPECT_EQ(result, -3);
  RemoveAnalyzerInstance("L", "", &result);
  EXPECT_EQ(result, -7);

  // A titles value of another type: the instance goes, the count is 0.
  SetRaw(LogKeyPath("L"), "analyzersTitles", kRegSz, std::string("I3\0", 3));
  RemoveAnalyzerInstance("L", "I3", &result);
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(std::filesystem::exists(states / "I3.state"));
}

}  // namespace
}  // namespace kst
