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
  // A new log's instance list holds no data at all, not even the final zero.
  RegType type = 0;
  EXPECT_EQ(RawValue(LogKeyPath("L1"), "analyzersTitles", &type), "");
  EXPECT_EQ(type, kRegMultiSz);
  EXPECT_EQ(RawValue(LogKeyPath("L1"), "countersTitles"), std::string("Memory::A\0Memory::B\0\0", 21));

  AddLog("L1", {"Other::z"}, &result);
  EXPECT_EQ(result, -2);
  EXPECT_EQ(ReadLogCountersTitles("L1", &result), (Titles{"Memory::A", "Memory::B"}));

  RemoveLog("L1", &result);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(ReadLogsTitles(&result), (Titles{"L2"}));
  // A failed read leaves the library's list empty.
  ASSERT_EQ(ReadLogCountersTitles("L2", &result).size(), 1u);
  EXPECT_TRUE(ReadLogCountersTitles("L1", &result).empty());
  EXPECT_EQ(result, -3);
  ASSERT_EQ(ReadLogCountersTitles("L2", &result).size(), 1u);
  EXPECT_TRUE(ReadLogCountersTitles("", &result).empty());
  EXPECT_EQ(result, -7);
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
  // The log "L" above has no countersTitles; then one of another type.
  ReadLogCountersTitles("L", &result);
  EXPECT_EQ(result, -1);
  SetRaw(LogKeyPath("L"), "countersTitles", kRegSz, std::string("A::a\0", 5));
  ReadLogCountersTitles("L", &result);
  EXPECT_EQ(result, -1);

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
  EXPECT_EQ(instances[1].parameters.size(), 3u);  // its own, not also I1's
}

// Every value of an instance key, its type and its bytes.
TEST_F(ConfigTreeTest, InstanceValuesByteForByte) {
  AddLogOk("L", {"A::a"});
  AnalyzerInstance instance = Instance("I");
  instance.trainingPeriod = {0x12345678, -2, 86399, 0x01020304};
  instance.warningLevelThreshold = 100;
  WriteInstanceOk("L", instance);
  struct Value {
    const char* name;
    RegType type;
    std::string bytes;
  };
  const Value values[] = {
      {"pluginFileName", kRegSz, std::string("Discovery.dll\0", 14)},
      {"stateFileName", kRegSz, std::string("I.state\0", 8)},
      {"usesTime", kRegDword, std::string("\x01\0\0\0", 4)},
      {"warningLevelThreshold", kRegDword, std::string("\x64\0\0\0", 4)},
      {"dayTimeIntervalFrom", kRegDword, std::string("\x7f\x51\x01\0", 4)},
      {"dayTimeIntervalTill", kRegDword, "\x04\x03\x02\x01"},
      {"dayIntervalFrom", kRegBinary, "\x78\x56\x34\x12"},
      {"dayIntervalTill", kRegBinary, "\xfe\xff\xff\xff"},
      {"status", kRegSz, std::string("activated\0", 10)},
  };
  for (const Value& v : values) {
    RegType type = 0;
    EXPECT_EQ(RawValue(InstanceKeyPath("L", "I"), v.name, &type), v.bytes) << v.name;
    EXPECT_EQ(type, v.type) << v.name;
  }
  int result = 0;
  const std::vector<AnalyzerInstance>& read = ReadAnalyzerInstances("L", &result);
  ASSERT_EQ(read.size(), 1u);
  EXPECT_EQ(read[0].trainingPeriod.dayIntervalFrom, 0x12345678);
  EXPECT_EQ(read[0].trainingPeriod.dayIntervalTill, -2);
  EXPECT_EQ(read[0].trainingPeriod.dayTimeIntervalFrom, 86399);
  EXPECT_EQ(read[0].trainingPeriod.dayTimeIntervalTill, 0x01020304);
  EXPECT_EQ(read[0].warningLevelThreshold, 100);
}

// The parameter lines, each with its zero, and the final zero fill at most
// the readers' 1 MiB.
TEST_F(ConfigTreeTest, ParametersUpToTheReadersBuffer) {
  AddLogOk("L", {"A::a"});
  for (const size_t last_line : {size_t{50}, size_t{51}}) {
    AnalyzerInstance instance = Instance(last_line == 50 ? "Fits" : "TooLong");
    instance.parameters.clear();
    for (int i = 0; i < 524; ++i) {
      instance.parameters.emplace_back("p", "", std::string(1991, 'v').c_str(), "");  // 2,000 characters
    }
    instance.parameters.emplace_back("q", "", std::string(last_line - 9, 'v').c_str(), "");
    int result = 0;
    WriteAnalyzerInstance("L", instance, &result);
    EXPECT_EQ(result, last_line == 50 ? 1 : -9) << last_line;
  }
  int result = 0;
  const std::vector<AnalyzerInstance>& read = ReadAnalyzerInstances("L", &result);
  ASSERT_EQ(read.size(), 1u);
  EXPECT_EQ(read[0].parameters.size(), 525u);
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
  for (const char* title : {"I1", "I2", "I3", "I4", "I5", "I6"}) WriteInstanceOk("L", Instance(title));
  const std::string dword_101("\x65\0\0\0", 4);
  SetRaw(InstanceKeyPath("L", "I1"), "warningLevelThreshold", kRegDword, dword_101);
  SetRaw(InstanceKeyPath("L", "I3"), "dayIntervalFrom", kRegDword, std::string(4, '\0'));
  SetRaw(InstanceKeyPath("L", "I4"), "parameters", kRegSz, std::string("x\0", 2));
  ASSERT_EQ(DeleteKeyTree(InstanceKeyPath("L", "I6")), kErrorSuccess);
  // A till of another type is taken as it is.
  SetRaw(InstanceKeyPath("L", "I5"), "dayIntervalTill", kRegDword, std::string("\x10\0\0\0", 4));

  int result = 0;
  const std::vector<AnalyzerInstance>& instances = ReadAnalyzerInstances("L", &result);
  EXPECT_EQ(result, 2);
  ASSERT_EQ(instances.size(), 2u);
  // Each survivor carries its own values, not a neighbour's.
  EXPECT_EQ(instances[0].title, "I2");
  EXPECT_EQ(instances[0].stateFileName, "I2.state");
  EXPECT_EQ(instances[0].trainingPeriod.dayIntervalTill, 2000);
  EXPECT_EQ(instances[1].title, "I5");
  EXPECT_EQ(instances[1].stateFileName, "I5.state");
  EXPECT_EQ(instances[1].trainingPeriod.dayIntervalTill, 16);
}

// A title with a backslash is a key path: "\" is the Logs key itself and
// "L\I" is log L's instance I. None of them reaches a key.
TEST_F(ConfigTreeTest, TitlesThatAreKeyPaths) {
  AddLogOk("L", {"A::a"});
  WriteInstanceOk("L", Instance("I"));
  int result = 0, status = 0;
  for (const std::string& title : {std::string("\\"), std::string("L\\I"), std::string("L\\")}) {
    RemoveLog(title, &result);
    EXPECT_EQ(result, -7) << title;
    AddLog(title, {"A::a"}, &result);
    EXPECT_EQ(result, -7) << title;
    ReadLogCountersTitles(title, &result);
    EXPECT_EQ(result, -7) << title;
    ReadAnalyzerInstances(title, &result);
    EXPECT_EQ(result, -7) << title;
    RemoveAnalyzerInstance("L", title, &result);
    EXPECT_EQ(result, -7) << title;
    WriteInstanceStatus("L", title, 3, &result);
    EXPECT_EQ(result, -7) << title;
    ReadInstanceStatus(title, "I", &status, &result);
    EXPECT_EQ(result, -7) << title;
    WriteAnalyzerInstance("L", Instance(title), &result);
    EXPECT_EQ(result, -9) << title;
  }
  EXPECT_EQ(ReadLogsTitles(&result), (Titles{"L"}));
  EXPECT_EQ(ReadAnalyzerInstances("L", &result).size(), 1u);
  ReadInstanceStatus("L", "I", &status, &result);
  EXPECT_EQ(status, kStatusActivated);
}

// File names are read back into 260 bytes, the zero included.
TEST_F(ConfigTreeTest, FileNamesTheReadersCanTake) {
  AddLogOk("L", {"A::a"});
  AnalyzerInstance longest = Instance("I1"), too_long_plugin = Instance("I2"),
                   too_long_state = Instance("I3");
  longest.pluginFileName = std::string(259, 'p');
  longest.stateFileName = std::string(259, 's');
  too_long_plugin.pluginFileName = std::string(260, 'p');
  too_long_state.stateFileName = std::string(260, 's');
  int result = 0;
  WriteAnalyzerInstance("L", longest, &result);
  EXPECT_EQ(result, 1);
  WriteAnalyzerInstance("L", too_long_plugin, &result);
  EXPECT_EQ(result, -9);
  WriteAnalyzerInstance("L", too_long_state, &result);
  EXPECT_EQ(result, -9);
  const std::vector<AnalyzerInstance>& instances = ReadAnalyzerInstances("L", &result);
  ASSERT_EQ(result, 1);
  EXPECT_EQ(instances[0].pluginFileName, longest.pluginFileName);
  EXPECT_EQ(instances[0].stateFileName, longest.stateFileName);
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
      {"INT n=-99999999999", true, kParamInt, "n", "INT n=-2147483648"},
      {"INT n=99999999999", true, kParamInt, "n", "INT n=2147483647"},
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
    // Read back, a number carries no default, limits or step.
    if (c.kind == kParamInt) {
      const auto& i = p->data().i;
      EXPECT_EQ(std::vector<int>({i.defaultValue, i.minimum, i.maximum, i.step}), std::vector<int>(4, 0)) << c.line;
    } else if (c.kind == kParamReal) {
      const auto& r = p->data().r;
      EXPECT_EQ(std::vector<double>({r.defaultValue, r.minimum, r.maximum}), std::vector<double>(3, 0.0)) << c.line;
    } else {
      EXPECT_STREQ(p->data().s.defaultValue, "") << c.line;
    }
  }
  EXPECT_EQ(InstanceStatusText(0), nullptr);
  EXPECT_EQ(InstanceStatusText(4), nullptr);
  EXPECT_STREQ(InstanceStatusText(1), "activated");
  EXPECT_STREQ(InstanceStatusText(2), "training");
  EXPECT_STREQ(InstanceStatusText(3), "deactivated");
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

  // Without a readable stateFileName nothing is removed.
  WriteInstanceOk("L", Instance("I4"));
  WriteInstanceOk("L", Instance("I5"));
  std::ofstream(states / "I4.state") << "trained";
  std::ofstream(states / "I5.state") << "trained";
  SetRaw(InstanceKeyPath("L", "I5"), "stateFileName", kRegBinary, "I5.state");
  RemoveAnalyzerInstance("L", "I5", &result);
  EXPECT_EQ(result, -1);
  EXPECT_TRUE(std::filesystem::exists(states / "I5.state"));
  EXPECT_NE(RawValue(InstanceKeyPath("L", "I5"), "status"), "<no key>");
  // The state file and the key go before the titles are read: titles that
  // cannot be read leave the instance half removed.
  SetRaw(LogKeyPath("L"), "analyzersTitles", kRegMultiSz,
         std::string(kMultiStringBufferSize, 'x') + std::string(2, '\0'));
  RemoveAnalyzerInstance("L", "I4", &result);
  EXPECT_EQ(result, -5);
  EXPECT_FALSE(std::filesystem::exists(states / "I4.state"));
  EXPECT_EQ(RawValue(InstanceKeyPath("L", "I4"), "status"), "<no key>");
  SetRaw(LogKeyPath("L"), "analyzersTitles", kRegMultiSz, std::string("I3\0\0", 4));

  // A titles value of another type: the instance goes, the count is 0.
  SetRaw(LogKeyPath("L"), "analyzersTitles", kRegSz, std::string("I3\0", 3));
  RemoveAnalyzerInstance("L", "I3", &result);
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(std::filesystem::exists(states / "I3.state"));
}

// Names stored by another writer: only a file inside States is deleted.
TEST_F(ConfigTreeTest, RemoveInstanceDeletesNothingOutsideStates) {
  AddLogOk("L", {"A::a"});
  const std::filesystem::path home(home_.path());
  std::filesystem::create_directories(home / "States" / "sub");
  std::ofstream(home / "keep") << "data";
  std::ofstream(home / "States" / "sub" / "x.state") << "trained";
  const struct {
    const char* title;
    std::string stored;  // stateFileName's bytes
  } cases[] = {
      {"empty", std::string("\0", 1)},
      {"dot", std::string(".\0", 2)},
      {"parent", std::string("..\\keep\0", 8)},
      {"folder", std::string("sub\0", 4)},
      {"nested", std::string("sub\\x.state\0", 12)},
  };
  for (const auto& c : cases) {
    WriteInstanceOk("L", Instance(c.title));
    SetRaw(InstanceKeyPath("L", c.title), "stateFileName", kRegSz, c.stored);
    int result = 0;
    RemoveAnalyzerInstance("L", c.title, &result);
    EXPECT_GE(result, 0) << c.title;
  }
  EXPECT_TRUE(std::filesystem::is_directory(home / "States" / "sub"));
  EXPECT_TRUE(std::filesystem::exists(home / "keep"));
  EXPECT_FALSE(std::filesystem::exists(home / "States" / "sub" / "x.state"));
}

}  // namespace
}  // namespace kst
