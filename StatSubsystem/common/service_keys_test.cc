#include "StatSubsystem/common/service_keys.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/registry.h"
#include "platform/registry_testing.h"

namespace kst {
namespace {

const char kCollectorKey[] =
    "System\\CurrentControlSet\\Services\\Kestrane buffer creator";

class ServiceKeysTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(RegistryKey::Create(kCollectorKey, &key_), kErrorSuccess); }
  void Put(const std::string& name, RegType type, const std::string& bytes) {
    ASSERT_EQ(key_.SetValue(name, type, bytes.data(), static_cast<uint32_t>(bytes.size())),
              kErrorSuccess);
  }
  std::string Stored(const std::string& name, RegType* type = nullptr) {
    std::string bytes;
    EXPECT_EQ(key_.QueryValue(name, type, &bytes), kErrorSuccess);
    return bytes;
  }

  TempKestraneHome home_;
  RegistryKey key_;
};

TEST(ServiceKeyPathTest, IdentifierNamesTheKey) {
  struct Case { const char* id; const char* path; } cases[] = {
      {"kstCollector", "System\\CurrentControlSet\\Services\\Kestrane buffer creator"},
      {"kstChecker", "System\\CurrentControlSet\\Services\\Kestrane stat checker"},
      {"KSTCOLLECTOR", "System\\CurrentControlSet\\Services\\"},
      {"kstChecker ", "System\\CurrentControlSet\\Services\\"},
      {"", "System\\CurrentControlSet\\Services\\"},
  };
  for (const Case& c : cases) EXPECT_EQ(ServiceKeyPath(c.id), c.path) << c.id;
}

TEST(ServiceKeysNoKeyTest, NothingIsCreatedBeforeInstallation) {
  TempKestraneHome home;
  std::string text = "keep";
  int value = 7;
  std::vector<std::string> list{"keep"};
  EXPECT_EQ(WriteServiceString("kstChecker", "lastErrorMessage", "x"), -1);
  EXPECT_EQ(WriteServiceDword("kstChecker", "lastErrorNo", 1), -1);
  EXPECT_EQ(WriteServiceMultiString("kstCollector", "optCounters", {"a"}), -1);
  EXPECT_EQ(ReadServiceString("kstChecker", "lastErrorMessage", &text), -1);
  EXPECT_EQ(ReadServiceDword("kstChecker", "lastErrorNo", &value), -1);
  EXPECT_EQ(ReadServiceMultiString("kstCollector", "optCounters", &list), -1);
  EXPECT_EQ(text, "keep");
  EXPECT_EQ(value, 7);
  EXPECT_EQ(list.size(), 1u);
  RegistryKey key;
  EXPECT_EQ(RegistryKey::Open("System", RegAccess::kRead, &key), kErrorFileNotFound);
}

TEST_F(ServiceKeysTest, StringsAndTheirLimits) {
  ASSERT_EQ(WriteServiceString("kstCollector", "optBufferName", "C:\\Program Files\\cbuffer"), 0);
  EXPECT_EQ(Stored("optBufferName"), std::string("C:\\Program Files\\cbuffer\0", 25));
  std::string text;
  ASSERT_EQ(ReadServiceString("kstCollector", "optBufferName", &text), 0);
  EXPECT_EQ(text, "C:\\Program Files\\cbuffer");

  Put("full", kRegSz, std::string(1023, 'a') + '\0');
  ASSERT_EQ(ReadServiceString("kstCollector", "full", &text), 0);
  EXPECT_EQ(text, std::string(1023, 'a'));
  Put("unterminated", kRegSz, std::string(1024, 'b'));
  ASSERT_EQ(ReadServiceString("kstCollector", "unterminated", &text), 0);
  EXPECT_EQ(text, std::string(1024, 'b'));
  Put("embedded", kRegSz, std::string("ab\0cd\0", 6));
  ASSERT_EQ(ReadServiceString("kstCollector", "embedded", &text), 0);
  EXPECT_EQ(text, "ab");

  text = "untouched";
  Put("long", kRegSz, std::string(1024, 'a') + '\0');
  EXPECT_EQ(ReadServiceString("kstCollector", "long", &text), -4);
  EXPECT_EQ(ReadServiceString("kstCollector", "missing", &text), -2);
  Put("number", kRegDword, "1234");
  EXPECT_EQ(ReadServiceString("kstCollector", "number", &text), -3);
  EXPECT_EQ(text, "untouched");
}

TEST_F(ServiceKeysTest, DwordsAndTheirTypes) {
  for (int v : {0, 1, 60, -1, 2147483647}) {
    ASSERT_EQ(WriteServiceDword("kstCollector", "optTimeInt", v), 0);
    int back = 12345;
    ASSERT_EQ(ReadServiceDword("kstCollector", "optTimeInt", &back), 0);
    EXPECT_EQ(back, v);
  }
  RegType type = 0;
  ASSERT_EQ(WriteServiceDword("kstCollector", "optTimeInt", 0x01020304), 0);
  EXPECT_EQ(Stored("optTimeInt", &type), std::string("\x04\x03\x02\x01", 4));
  EXPECT_EQ(type, kRegDword);

  struct Case { const char* name; RegType type; std::string bytes; int result; } cases[] = {
      {"short text", kRegSz, std::string("ab\0", 3), -3},
      {"four byte text", kRegSz, "abcd", -3},
      {"long text", kRegSz, "abcde", -2},
      {"binary", kRegBinary, "12345678", -2},
  };
  for (const Case& c : cases) {
    Put(c.name, c.type, c.bytes);
    int value = 99;
    EXPECT_EQ(ReadServiceDword("kstCollector", c.name, &value), c.result) << c.name;
    EXPECT_EQ(value, 99) << c.name;
  }
  int value = 99;
  EXPECT_EQ(ReadServiceDword("kstCollector", "missing", &value), -2);
}

TEST_F(ServiceKeysTest, MultiStringsRoundTripAndOverruns) {
  std::vector<std::string> counters{"\\Processor(_Total)\\% Processor Time",
                                    "\\Memory\\Available Bytes", "x"};
  ASSERT_EQ(WriteServiceMultiString("kstCollector", "optCounters", counters), 0);
  RegType type = 0;
  EXPECT_EQ(Stored("optCounters", &type).size(), 36u + 24u + 2u + 1u);
  EXPECT_EQ(type, kRegMultiSz);
  std::vector<std::string> list{"old"};
  ASSERT_EQ(ReadServiceMultiString("kstCollector", "optCounters", &list), 0);
  EXPECT_EQ(list, counters);

  ASSERT_EQ(WriteServiceMultiString("kstCollector", "optCounters", {}), 0);
  EXPECT_EQ(Stored("optCounters"), std::string(1, '\0'));
  ASSERT_EQ(ReadServiceMultiString("kstCollector", "optCounters", &list), 0);
  EXPECT_TRUE(list.empty());

  struct Case {
    const char* name; RegType type; std::string bytes; int result;
    std::vector<std::string> list;
  } cases[] = {
      {"text", kRegSz, std::string("a\0", 2), -5, {"old"}},
      {"no final zero", kRegMultiSz, std::string("a\0b\0", 4), 0, {"a", "b"}},
      {"overrun", kRegMultiSz, std::string("a\0bc", 4), -6, {"a", "bc"}},
      {"empty first", kRegMultiSz, std::string("\0b\0\0", 4), 0, {}},
      {"no bytes", kRegMultiSz, "", 0, {}},
  };
  for (const Case& c : cases) {
    Put(c.name, c.type, c.bytes);
    list = {"old"};
    EXPECT_EQ(ReadServiceMultiString("kstCollector", c.name, &list), c.result) << c.name;
    EXPECT_EQ(list, c.list) << c.name;
  }
  list = {"old"};
  EXPECT_EQ(ReadServiceMultiString("kstCollector", "missing", &list), -3);
  EXPECT_EQ(list, std::vector<std::string>{"old"});
}

TEST_F(ServiceKeysTest, OtherIdentifiersUseTheServicesKey) {
  ASSERT_EQ(WriteServiceDword("someService", "lastErrorNo", 5), 0);
  RegistryKey services;
  ASSERT_EQ(RegistryKey::Open("System\\CurrentControlSet\\Services", RegAccess::kRead, &services),
            kErrorSuccess);
  std::string bytes;
  EXPECT_EQ(services.QueryValue("lastErrorNo", nullptr, &bytes), kErrorSuccess);
  int value = 0;
  EXPECT_EQ(ReadServiceDword("kstCollector", "lastErrorNo", &value), -2);
  EXPECT_EQ(ReadServiceDword("", "lastErrorNo", &value), 0);
  EXPECT_EQ(value, 5);
}

// Values read together in one transaction must be judged exactly as the
// one-value readers judge them, or a tick would accept what a reader refuses.
TEST(ServiceValuesTest, ValuesReadTogetherAreJudgedAsTheOneValueReadersJudgeThem) {
  TempKestraneHome home;
  RegistryKey key;
  ASSERT_EQ(RegistryKey::Create(ServiceKeyPath("kstCollector"), &key), kErrorSuccess);
  struct Case { RegType type; std::string bytes; } cases[] = {
      {kRegDword, std::string("\x05\x00\x00\x00", 4)},
      {kRegDword, std::string("\xff\xff\xff\x7f", 4)},
      {kRegDword, std::string("\xfe\xff\xff\xff", 4)},   // -2
      {kRegDword, std::string("\x07\x01", 2)},           // short: the low bytes
      {kRegDword, std::string("\x01\x00\x00\x00\x00", 5)},
      {kRegDword, ""},
      {kRegSz, std::string("ab\0", 3)},
      {kRegSz, std::string("a\0b\0", 4)},                // ends at the first zero
      {kRegSz, "no zero"},
      {kRegSz, std::string(1023, 'x') + '\0'},          // 1024 bytes: whole
      {kRegSz, std::string(1024, 'x') + '\0'},          // 1025 bytes: too long
      {kRegBinary, std::string("\x01\x00\x00\x00", 4)},
      {kRegMultiSz, std::string("a\0\0", 3)},
  };
  std::vector<std::string> names;
  for (size_t i = 0; i < std::size(cases); ++i) {
    names.push_back("v" + std::to_string(i));
    ASSERT_EQ(key.SetValue(names.back(), cases[i].type, cases[i].bytes.data(),
                           static_cast<uint32_t>(cases[i].bytes.size())),
              kErrorSuccess);
  }
  names.push_back("missing");
  std::vector<std::string_view> asked(names.begin(), names.end());
  std::vector<RegistryKey::Value> values;
  ASSERT_EQ(key.QueryValues(asked, &values), kErrorSuccess);
  ASSERT_EQ(values.size(), names.size());
  EXPECT_FALSE(values.back().found);
  for (size_t i = 0; i < names.size(); ++i) {
    int alone = -99, together = -99;
    const bool read = ReadServiceDword("kstCollector", names[i], &alone) == 0;
    EXPECT_EQ(ServiceDwordOf(values[i], &together), read) << names[i];
    EXPECT_EQ(together, read ? alone : -99) << names[i];
    std::string text_alone = "?", text_together = "?";
    const bool text_read = ReadServiceString("kstCollector", names[i], &text_alone) == 0;
    EXPECT_EQ(ServiceStringOf(values[i], &text_together), text_read) << names[i];
    EXPECT_EQ(text_together, text_read ? text_alone : "?") << names[i];
  }
  int value = 0;
  ASSERT_TRUE(ServiceDwordOf(values[2], &value));
  EXPECT_EQ(value, -2);
  ASSERT_TRUE(ServiceDwordOf(values[3], &value));
  EXPECT_EQ(value, 0x107);
  std::string text;
  ASSERT_TRUE(ServiceStringOf(values[7], &text));
  EXPECT_EQ(text, "a");

  // A deleted key answers as a handle of a deleted key does.
  ASSERT_EQ(DeleteKeyTree(ServiceKeyPath("kstCollector")), kErrorSuccess);
  EXPECT_EQ(key.QueryValues(asked, &values), kErrorKeyDeleted);
}

}  // namespace
}  // namespace kst
