#include "StatSubsystem/common/collector_options.h"

#include <string>
#include <vector>

#include "StatSubsystem/common/service_keys.h"
#include "gtest/gtest.h"
#include "platform/registry.h"
#include "platform/registry_testing.h"

namespace kst {
namespace {

// Values read together in one transaction must be judged exactly as the
// one-value readers judge them, or a tick would accept what a reader refuses.
TEST(CollectorOptionsTest, ValuesReadTogetherAreJudgedAsTheOneValueReadersJudgeThem) {
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
