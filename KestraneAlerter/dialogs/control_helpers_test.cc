#include "KestraneAlerter/dialogs/control_helpers.h"

#include <gtest/gtest.h>

#include "KestraneAlerter/dialogs/pane_testing.h"

namespace kst {
namespace {

TEST(ControlHelpersTest, LeadingNumbers) {
  struct Case {
    const char* text;
    bool ok;
    int64_t value;
  } cases[] = {
      {"42", true, 42},           {"  7x", true, 7},   {"-3", true, -3},  {"+5", true, 5},
      {"", false, 0},             {"x1", false, 0},    {"-", false, 0},   {" ", false, 0},
      {"99999999999999999999999", true, 4294967296},  // held, never wraps back into range
  };
  for (const Case& c : cases) {
    int64_t value = -99;
    EXPECT_EQ(ParseLeadingNumber(c.text, &value), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(value, c.value) << c.text;
    }
  }
}

TEST(ControlHelpersTest, NumberBoxFaultsAndNames) {
  EXPECT_EQ(CheckNumberBox(""), NumberBoxFault::kNone);
  EXPECT_EQ(CheckNumberBox("99999"), NumberBoxFault::kNone);
  EXPECT_EQ(CheckNumberBox("123456"), NumberBoxFault::kTooLong);
  EXPECT_EQ(CheckNumberBox("12a"), NumberBoxFault::kBadCharacter);
  EXPECT_EQ(CheckNumberBox("-1"), NumberBoxFault::kBadCharacter);
  EXPECT_EQ(CheckNumberBox("12 34a"), NumberBoxFault::kTooLong);  // length is checked first

  EXPECT_TRUE(IsLatinName(""));
  EXPECT_TRUE(IsLatinName("Night shift 2"));
  EXPECT_FALSE(IsLatinName("night-shift"));
  EXPECT_FALSE(IsLatinName("v1.2"));
  EXPECT_FALSE(IsLatinName("caf\xc3\xa9"));
}

class NumberBoxTest : public PaneTest {};

TEST_F(NumberBoxTest, StepHoldsTheBoxInsideTheRange) {
  ui::Edit box;
  ui::UpDown spin;
  ASSERT_TRUE(box.Create(&host_, 1, {0, 0, 40, 20}, ui::kVisible | ui::kDigitsOnly));
  ASSERT_TRUE(spin.Create(&host_, 2, {40, 0, 60, 20}, ui::kVisible));
  spin.SetRange32(0, 1024);
  struct Case {
    const char* before;
    int delta;
    const char* after;
  } cases[] = {
      {"5", 1, "6"},     {"0", -1, "0"},     {"", 1, "1"},        {"abc", -1, "0"},
      {"1024", 1, "1024"}, {"99999", 1, "1024"},  // only four characters are read: 9999 + 1, held
      {"1000", -1, "999"},
  };
  for (const Case& c : cases) {
    box.SetText(c.before);
    EXPECT_EQ(StepNumberBox(box, spin, c.delta), 0);
    EXPECT_EQ(box.Text(), c.after) << c.before << " " << c.delta;
  }
}

TEST_F(NumberBoxTest, PaneFontAndMessage) {
  auto font = MakePaneFont();
  EXPECT_EQ(font->face, "Arial");
  EXPECT_EQ(font->height, 14);
  EXPECT_EQ(font->weight, 400);
  ShowPaneMessage(&host_, kSameNameMessage);
  EXPECT_EQ(OneMessage(), "Profile with the same name already exists!");
  EXPECT_EQ(ui::testing::modal_log().back().buttons, ui::MessageButtons::kOk);
}

}  // namespace
}  // namespace kst
