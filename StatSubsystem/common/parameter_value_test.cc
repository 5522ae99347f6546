#include "StatSubsystem/common/parameter_value.h"

#include <cstring>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace kst {
namespace {

// Runs f and tells whether it threw the int 1.
template <typename F>
bool ThrowsOne(F f) {
  try {
    f();
  } catch (int code) {
    return code == 1;
  }
  return false;
}

TEST(ParameterValueTest, IntegerParseHonoursDigitsLimitsAndStep) {
  struct Case { const char* text; bool ok; int value; } cases[] = {
      {"0", true, 0},     {"5", true, 5},       {"10", true, 10},
      {"05", true, 5},    {"3", false, 0},      {"11", false, 0},
      {"-5", false, 0},   {"+5", false, 0},     {"5 ", false, 0},
      {" 5", false, 0},   {"", false, 0},       {"-", false, 0},
      {"5-", false, 0},   {"1.0", false, 0},    {"5:", false, 0},
      {"/5", false, 0},
      {"99999999999999999999", false, 0},
  };
  for (const Case& c : cases) {
    ParameterValue p("n", "d", 7, 7, 0, 10, 5);
    EXPECT_EQ(p.parse(c.text), c.ok) << '"' << c.text << '"';
    EXPECT_EQ(p.data().i.value, c.ok ? c.value : 7) << c.text;
  }
  // The step counts from the minimum, also below zero.
  ParameterValue negative("n", "d", 0, 0, -7, 8, 5);
  EXPECT_TRUE(negative.parse("-2"));
  EXPECT_TRUE(negative.parse("8"));
  EXPECT_FALSE(negative.parse("0"));
  // Full int range with step 1.
  ParameterValue wide("n", "d", 0, 0, INT32_MIN, INT32_MAX, 1);
  EXPECT_TRUE(wide.parse("-2147483648"));
  EXPECT_EQ(wide.data().i.value, INT32_MIN);
  EXPECT_TRUE(wide.parse("2147483647"));
  EXPECT_FALSE(wide.parse("2147483648"));
  // A step of 0 refuses every text instead of dividing by it.
  ParameterValue zero_step("n", "d", 1, 1, 0, 10, 0);
  EXPECT_FALSE(zero_step.parse("1"));
  EXPECT_EQ(zero_step.data().i.value, 1);
}

TEST(ParameterValueTest, RealParseHonoursFormAndLimits) {
  struct Case { const char* text; bool ok; double value; } cases[] = {
      {"0.999", true, 0.999}, {"1", true, 1.0},  {"1.", true, 1.0},
      {"0", true, 0.0},       {"-", true, 0.0},  {"-0.0", true, 0.0},
      {".5", false, 0},       {"0.1.2", false, 0}, {"1e-3", false, 0},
      {"2", false, 0},        {"-0.1", false, 0},  {"", false, 0},
      {"0,5", false, 0},      {"0.5 ", false, 0},
  };
  for (const Case& c : cases) {
    ParameterValue p("r", "d", 0.25, 0.25, 0.0, 1.0);
    EXPECT_EQ(p.parse(c.text), c.ok) << '"' << c.text << '"';
    EXPECT_DOUBLE_EQ(p.data().r.value, c.ok ? c.value : 0.25) << c.text;
  }
  ParameterValue positive("r", "d", 0.5, 0.5, 0.1, 1.0);
  EXPECT_FALSE(positive.parse("-"));  // a lone sign is 0, below the minimum
}

TEST(ParameterValueTest, StringAndNoneParse) {
  ParameterValue s("file with rules", "", "", "");
  EXPECT_TRUE(s.parse("C:\\rules dump.txt"));
  EXPECT_STREQ(s.data().s.value, "C:\\rules dump.txt");
  EXPECT_TRUE(s.parse(""));
  EXPECT_STREQ(s.data().s.value, "");
  EXPECT_STREQ(s.data().s.defaultValue, "");
  ParameterValue none;
  EXPECT_FALSE(none.parse("1"));
  EXPECT_FALSE(s.parse(nullptr));
}

TEST(ParameterValueTest, SettersThrowOneForTheWrongKind) {
  ParameterValue i("i", "", 1, 1, 0, 10, 1);
  ParameterValue r("r", "", 0.5, 0.5, 0.0, 1.0);
  ParameterValue s("s", "", "a", "b");
  ParameterValue none;

  r.setInt(3);  // converted, and no limit is checked
  EXPECT_EQ(r.kind(), kParamReal);
  EXPECT_DOUBLE_EQ(r.data().r.value, 3.0);
  i.setInt(-4);
  EXPECT_EQ(i.data().i.value, -4);

  EXPECT_TRUE(ThrowsOne([&] { i.setReal(1.5); }));
  EXPECT_TRUE(ThrowsOne([&] { i.setString("x"); }));
  EXPECT_TRUE(ThrowsOne([&] { s.setInt(1); }));
  EXPECT_TRUE(ThrowsOne([&] { s.setReal(1); }));
  EXPECT_TRUE(ThrowsOne([&] { r.setString("x"); }));
  EXPECT_TRUE(ThrowsOne([&] { none.setInt(1); }));
  EXPECT_TRUE(ThrowsOne([&] { ParameterValue copy(none); }));
  EXPECT_TRUE(ThrowsOne([&] { i.assign(none); }));
  EXPECT_EQ(i.kind(), kParamNone);
  EXPECT_STREQ(i.name(), "");
}

TEST(ParameterValueTest, CopiesAreIndependent) {
  ParameterValue s("s", "desc", "value", "default");
  ParameterValue t(s);
  t.setString("changed");
  EXPECT_STREQ(s.data().s.value, "value");
  EXPECT_STREQ(t.data().s.value, "changed");
  EXPECT_STREQ(t.data().s.defaultValue, "default");
  EXPECT_NE(s.data().s.defaultValue, t.data().s.defaultValue);
  EXPECT_STREQ(t.description(), "desc");

  // Assigning over a string frees its texts (sanitizers watch) and takes
  // every field of the source.
  ParameterValue i("i", "int", 4, 2, 0, 8, 2);
  t = i;
  EXPECT_EQ(t.kind(), kParamInt);
  EXPECT_STREQ(t.name(), "i");
  EXPECT_EQ(t.data().i.step, 2);
  EXPECT_EQ(t.data().i.defaultValue, 2);
  const ParameterValue& same_t = t;
  t = same_t;
  EXPECT_EQ(t.data().i.value, 4);
  const ParameterValue& same_s = s;
  s = same_s;
  EXPECT_STREQ(s.data().s.value, "value");

  std::vector<ParameterValue> list{s, i, ParameterValue("r", "", 0.1, 0.0, 0.0, 1.0)};
  std::vector<ParameterValue> copy = list;
  copy[0].setString("other");
  EXPECT_STREQ(list[0].data().s.value, "value");

  t.clear();
  EXPECT_EQ(t.kind(), kParamNone);
  EXPECT_STREQ(t.name(), "i");
}

TEST(ParameterValueTest, LinesAsStored) {
  EXPECT_EQ(ParameterValue("number of eras", "", 10000, 10000, 0, 2147483647, 1).line(),
            "INT number of eras=10000");
  EXPECT_EQ(ParameterValue("n", "", -3, 0, -5, 5, 1).line(), "INT n=-3");
  EXPECT_EQ(ParameterValue("probability threshold", "", 0.12345678, 0.95, 0.0, 1.0).line(),
            "FLOAT probability threshold=0.12346");
  EXPECT_EQ(ParameterValue("f", "", -1.0, 0.0, -2.0, 0.0).line(), "FLOAT f=-1.00000");
  EXPECT_EQ(ParameterValue("file with rules", "", "a=b c", "").line(),
            "STRING file with rules=a=b c");
  EXPECT_EQ(ParameterValue("s", "", "", "").line(), "STRING s=");
  EXPECT_EQ(ParameterValue().line(), "");
}

}  // namespace
}  // namespace kst
