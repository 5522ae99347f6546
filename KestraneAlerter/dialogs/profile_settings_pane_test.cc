#include "KestraneAlerter/dialogs/profile_settings_pane.h"

#include <gtest/gtest.h>

#include "KestraneAlerter/dialogs/pane_testing.h"
#include "KestraneAlerter/profile_set.h"

namespace kst {
namespace {

class ProfileSettingsPaneTest : public PaneTest {
 protected:
  void SetUp() override {
    PaneTest::SetUp();
    ASSERT_EQ(set_.addProfile("Night"), 0);
    ASSERT_EQ(set_.addProfile("Day"), 0);
    Profile* night = set_.findProfile("Night");
    night->alertThreshold = 5;
    night->timeSpan = 60;
    night->minimalWait = 300;
  }
  void TearDown() override {
    pane_.DestroyWindow();
    PaneTest::TearDown();
  }
  void Build(const std::string& name = "Night") {
    ASSERT_TRUE(pane_.createControls(set_.findProfile(name), "", {10, 200, 410, 420}, &host_));
  }
  ui::Edit& Box(int id) { return *pane_.ChildAs<ui::Edit>(id); }
  ui::UpDown& Spin(int id) { return *pane_.ChildAs<ui::UpDown>(id); }
  Profile& Night() { return *set_.findProfile("Night"); }

  ProfileSet set_;
  ProfileSettingsPane pane_;
};

TEST_F(ProfileSettingsPaneTest, BuildsAndFillsItsControls) {
  Build();
  EXPECT_EQ(pane_.id(), kPaneId);
  EXPECT_EQ(pane_.parent(), &host_);
  EXPECT_EQ(pane_.rect(), (ui::Rect{10, 200, 410, 420}));
  ASSERT_EQ(pane_.children().size(), 11u);
  EXPECT_EQ(Box(6101).Text(), "Night");
  EXPECT_EQ(Box(6111).Text(), "5");
  EXPECT_EQ(Box(6121).Text(), "60");
  EXPECT_EQ(Box(6131).Text(), "300");
  // Every control in creation order, by id and text.
  std::vector<std::string> controls;
  for (ui::Window* child : pane_.children()) controls.push_back(std::to_string(child->id()) + ":" + child->Text());
  EXPECT_EQ(controls, (std::vector<std::string>{"6101:Night", "6102:Name:", "6111:5", "6112:",
                                                "6113:Alert threshold: Kestrane message count.", "6121:60", "6122:",
                                                "6123:Time in which message count determine (sec).", "6131:300", "6132:",
                                                "6133:Minimal wait time between notifications (sec)."}));
  EXPECT_EQ(pane_.Child(6113)->rect(), (ui::Rect{100, 40, 390, 55}));
  EXPECT_EQ(Box(6101).rect(), (ui::Rect{100, 3, 300, 27}));
  EXPECT_EQ(Box(6101).font(), nullptr);  // the name keeps the system font
  ASSERT_NE(Box(6111).font(), nullptr);
  EXPECT_EQ(Box(6111).font()->face, "Arial");
  EXPECT_EQ(Spin(6132).upper(), 9999);
  EXPECT_FALSE(ProfileSettingsPane().createControls(static_cast<FilterNode*>(nullptr), "", {}, &host_));
}

TEST_F(ProfileSettingsPaneTest, ApplyResults) {
  Build();
  EXPECT_EQ(pane_.apply(set_), kApplyUnchanged);
  ASSERT_TRUE(user().Type(Box(6131), "10"));
  EXPECT_EQ(pane_.apply(set_), kApplyChanged);
  EXPECT_EQ(Night().minimalWait, 10);
  ASSERT_TRUE(user().Type(Box(6101), "Night 2"));
  ASSERT_TRUE(user().Type(Box(6111), "7"));
  EXPECT_EQ(pane_.apply(set_), kApplyRenamed);
  ASSERT_NE(set_.findProfile("Night 2"), nullptr);
  EXPECT_EQ(set_.findProfile("Night 2")->alertThreshold, 7);
  EXPECT_EQ(pane_.profileName(), "Night 2");
  // Applied again, the pane finds its profile under the new name.
  EXPECT_EQ(pane_.apply(set_), kApplyUnchanged);
  EXPECT_TRUE(TakeMessages().empty());
}

TEST_F(ProfileSettingsPaneTest, ValidateFaults) {
  Build();
  struct Case {
    int box;
    const char* text;
    const char* message;
  } cases[] = {
      {6101, "Night shift 9", ""},
      {6101, "night-shift", "Name must contain only Latin characters and numbers."},
      {6101, "Day", "Profile with the same name already exists!"},
      {6101, "day", ""},  // another case is another name
      {6101, "Night", ""},
      {6101, "", "You must input profile name."},
      {6101, " ", ""},
      {6111, "123456", "Invalid value in \"Alert threshold\" box."},
      {6121, "123456", "Invalid value in \"Time span\" box."},
      {6131, "123456", "Invalid value in \"Minimal wait time\" box."},
      {6111, "", "Invalid value in \"Alert threshold\" box."},
      {6121, "", "Invalid value in \"Time span\" box."},
      {6131, "", "Invalid value in \"Minimal wait time\" box."},
      {6111, "99999", ""},  // five digits pass although the spin stops at 9999
  };
  for (const Case& c : cases) {
    Box(c.box).SetText(c.text);
    EXPECT_EQ(pane_.validate(set_), *c.message == '\0') << c.text;
    EXPECT_EQ(OneMessage(), c.message) << c.text;
    Box(6101).SetText("Night");
    Box(6111).SetText("5");
    Box(6121).SetText("60");
    Box(6131).SetText("300");
  }
  // Typing refuses letters, but pasted text is checked as well.
  Box(6121).SetText("12a");
  EXPECT_FALSE(pane_.validate(set_));
  EXPECT_EQ(OneMessage(), "One of the fields contains unacceptable character.");
  EXPECT_EQ(pane_.apply(set_), kApplyInvalid);
  EXPECT_EQ(OneMessage(), "One of the fields contains unacceptable character.");
  EXPECT_EQ(Night().timeSpan, 60);  // nothing stored
}

TEST_F(ProfileSettingsPaneTest, DeletedProfileIsReportedBeforeTheNumbers) {
  Build();
  Box(6111).SetText("1234567");
  ASSERT_EQ(set_.removeProfile("Night"), 0);
  EXPECT_EQ(pane_.apply(set_), kApplyInvalid);
  EXPECT_EQ(OneMessage(), "This profile already deleted!");
}

TEST_F(ProfileSettingsPaneTest, EmptyBoxIsNamedAndStoresNothing) {
  Build();
  Box(6101).SetText("Late");
  Box(6111).SetText("");
  EXPECT_EQ(pane_.apply(set_), kApplyInvalid);
  EXPECT_EQ(OneMessage(), "Invalid value in \"Alert threshold\" box.");
  EXPECT_EQ(set_.findProfile("Late"), nullptr);
  EXPECT_EQ(Night().alertThreshold, 5);
}

TEST_F(ProfileSettingsPaneTest, ZeroTimeSpanForcesThresholdZero) {
  Build();
  ASSERT_TRUE(user().Type(Box(6121), "0"));
  EXPECT_EQ(Box(6111).Text(), "0");
  ASSERT_TRUE(user().Type(Box(6111), "8"));
  EXPECT_EQ(Box(6111).Text(), "0");
  ASSERT_TRUE(user().Step(Spin(6112), 1));
  EXPECT_EQ(Box(6111).Text(), "0");
  EXPECT_EQ(pane_.apply(set_), kApplyChanged);
  EXPECT_EQ(Night().alertThreshold, 0);
  EXPECT_EQ(Night().timeSpan, 0);
  ASSERT_TRUE(user().Type(Box(6121), "30"));
  ASSERT_TRUE(user().Type(Box(6111), "8"));
  EXPECT_EQ(Box(6111).Text(), "8");

  // A profile stored with time span 0 is shown with threshold 0.
  Profile* day = set_.findProfile("Day");
  day->alertThreshold = 4;
  ProfileSettingsPane other;
  ASSERT_TRUE(other.createControls(day, "", {0, 0, 400, 200}, &host_));
  EXPECT_EQ(other.Child(6111)->Text(), "0");
  EXPECT_TRUE(other.DestroyWindow());
}

TEST_F(ProfileSettingsPaneTest, SpinsStepTheBoxesWithinTheRange) {
  Build();
  Box(6131).SetText("9999");
  ASSERT_TRUE(user().Step(Spin(6132), 1));
  EXPECT_EQ(Box(6131).Text(), "9999");
  Box(6131).SetText("0");
  ASSERT_TRUE(user().Step(Spin(6132), -1));
  EXPECT_EQ(Box(6131).Text(), "0");
  ASSERT_TRUE(user().Step(Spin(6122), 1));
  EXPECT_EQ(Box(6121).Text(), "61");
}

TEST_F(ProfileSettingsPaneTest, DestroyWindowTakesControlsAndPane) {
  Build();
  pane_.Paint();
  EXPECT_GE(Box(6111).redraw_count(), 2);  // once with its font, once by the pane's painting
  EXPECT_TRUE(pane_.DestroyWindow());
  EXPECT_FALSE(pane_.IsCreated());
  EXPECT_TRUE(host_.children().empty());
  EXPECT_FALSE(pane_.DestroyWindow());
}

}  // namespace
}  // namespace kst
