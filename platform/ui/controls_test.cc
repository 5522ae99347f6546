#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ui/testing.h"
#include "platform/ui/ui.h"

namespace kst::ui {
namespace {

class UiControlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testing::UseBackend("headless"));
    testing::Reset();
    ASSERT_TRUE(top_.Create(nullptr, 0, {0, 0, 400, 300}));
  }
  // Records every notification the top window receives.
  void Listen(int id, Event event, int result = 0) {
    top_.OnNotify(id, event, [this, id, event, result](const NotifyInfo& info) {
      events_.push_back(std::to_string(id) + ":" + std::to_string(static_cast<int>(event)) + ":" +
                        std::to_string(info.pos) + "," + std::to_string(info.delta));
      return result;
    });
  }
  Driver& user() { return testing::driver(); }

  Window top_;
  std::vector<std::string> events_;
};

TEST_F(UiControlsTest, EditNotifiesEveryChangeAndKeepsDigitsOnly) {
  Edit edit;
  ASSERT_TRUE(edit.Create(&top_, 10, {0, 0, 50, 20}, kVisible | kDigitsOnly | kAlignRight));
  Listen(10, Event::kChange);
  edit.SetText("42");
  EXPECT_EQ(edit.selection(), std::make_pair(0, 0));  // caret at the start
  EXPECT_EQ(events_.size(), 1u);
  EXPECT_TRUE(user().Type(edit, "1x2-3"));
  EXPECT_EQ(edit.Text(), "123");  // replaces what was there, refuses non-digits
  EXPECT_EQ(events_.size(), 4u);  // one per accepted character
  edit.SetSel(1, -1);
  edit.ReplaceSel("9");
  EXPECT_EQ(edit.Text(), "19");
  EXPECT_EQ(edit.selection(), std::make_pair(2, 2));
  edit.SetSel(5, 1);  // clamped and ordered
  EXPECT_EQ(edit.selection(), std::make_pair(1, 2));
}

TEST_F(UiControlsTest, DigitsOnlyBoxesRefusePrintingKeysOnly) {
  Edit digits, plain;
  ASSERT_TRUE(digits.Create(&top_, 11, {0, 0, 40, 20}, kVisible | kDigitsOnly));
  ASSERT_TRUE(plain.Create(&top_, 12, {0, 0, 40, 20}, kVisible));
  struct Case {
    const char* typed;
    bool refused;
  } cases[] = {
      {"7", false}, {"x", true}, {" ", true}, {"-", true}, {"\xc3\xa9", true},  // a letter beyond ASCII
      {"\x7f", false},  // Delete
      {"\b", false},    // Backspace
      {"", false},       // arrows and other keys that type nothing
  };
  for (const Case& c : cases) {
    EXPECT_EQ(digits.RefusesKey(c.typed), c.refused) << static_cast<int>(c.typed[0]);
    EXPECT_FALSE(plain.RefusesKey(c.typed));
  }
}

TEST_F(UiControlsTest, DisabledOrHiddenControlsRefuseTheUser) {
  Button button;
  CheckBox check;
  Window pane;
  ASSERT_TRUE(pane.Create(&top_, 5, {0, 0, 100, 100}));
  ASSERT_TRUE(button.Create(&pane, 1, {0, 0, 10, 10}, kVisible, "B"));
  ASSERT_TRUE(check.Create(&top_, 2, {0, 0, 10, 10}, kVisible | kDisabled, "C"));
  int clicks = 0;
  pane.OnCommand(1, [&] { ++clicks; });
  EXPECT_FALSE(user().Click(check));
  EXPECT_FALSE(check.IsChecked());
  pane.Show(false);  // hiding the parent hides the button
  EXPECT_FALSE(user().Click(button));
  pane.Show(true);
  EXPECT_TRUE(user().Click(button));
  EXPECT_EQ(clicks, 1);
  check.Enable(true);
  EXPECT_TRUE(user().Click(check));
  EXPECT_TRUE(check.IsChecked());
}

TEST_F(UiControlsTest, UpDownAsksBeforeEveryStep) {
  UpDown spin;
  ASSERT_TRUE(spin.Create(&top_, 20, {0, 0, 20, 20}, kVisible));
  spin.SetRange32(0, 9999);
  spin.SetPos32(9999);
  Listen(20, Event::kDeltaPos);
  EXPECT_TRUE(user().Step(spin, +1));  // at the end: still asked, position held
  EXPECT_EQ(spin.pos(), 9999);
  EXPECT_TRUE(user().Step(spin, -1));
  EXPECT_EQ(spin.pos(), 9998);
  EXPECT_EQ(events_, (std::vector<std::string>{"20:2:9999,1", "20:2:9999,-1"}));
  Listen(20, Event::kDeltaPos, 1);  // a veto keeps the position
  user().Step(spin, -1);
  EXPECT_EQ(spin.pos(), 9998);
  spin.SetRange32(-2147483647 - 1, 2147483647);
  spin.SetPos32(2147483647);
  Listen(20, Event::kDeltaPos);
  user().Step(spin, +1);  // no overflow at the 32-bit end
  EXPECT_EQ(spin.pos(), 2147483647);
}

TEST_F(UiControlsTest, ComboBoxKeepsInsertionOrderAndNotifiesOnlyTheUsersChoice) {
  ComboBox list, drop;
  ASSERT_TRUE(list.Create(&top_, 30, {0, 0, 100, 200}, kVisible | kDropDownList | kVScroll));
  ASSERT_TRUE(drop.Create(&top_, 31, {0, 0, 100, 200}, kVisible | kDropDown));
  for (const char* item : {"Log title", "Analyzer title", "Warning level"}) list.AddString(item);
  Listen(30, Event::kSelChange);
  EXPECT_EQ(list.ItemText(1), "Analyzer title");
  EXPECT_EQ(list.FindStringExact(-1, "warning LEVEL"), 2);
  EXPECT_EQ(list.FindStringExact(-1, "Warning"), -1);
  EXPECT_EQ(list.SelectString(-1, "ana"), 1);
  EXPECT_EQ(list.Text(), "Analyzer title");
  list.SetText("typed");  // a drop-down list shows only its items
  EXPECT_EQ(list.Text(), "Analyzer title");
  EXPECT_TRUE(events_.empty());
  EXPECT_TRUE(user().Select(list, 2));
  EXPECT_EQ(list.CurSel(), 2);
  EXPECT_EQ(events_.size(), 1u);
  EXPECT_FALSE(user().Select(list, 3));
  list.ResetContent();
  EXPECT_EQ(list.CurSel(), -1);
  EXPECT_EQ(list.Text(), "");

  drop.AddString("Processor::% Processor Time");
  EXPECT_FALSE(user().Type(list, "x"));
  EXPECT_TRUE(user().Type(drop, "Memory::Available Bytes"));
  EXPECT_EQ(drop.Text(), "Memory::Available Bytes");
  EXPECT_EQ(drop.CurSel(), -1);
  drop.SetCurSel(0);
  drop.SetCurSel(-1);
  EXPECT_EQ(drop.Text(), "");
  drop.UserType("typed again");
  drop.ResetContent();  // refilling for another log leaves no stale typed title
  EXPECT_EQ(drop.Text(), "");
  EXPECT_EQ(drop.count(), 0);
}

TEST_F(UiControlsTest, SortedListBoxWithExtendedSelection) {
  ListBox list;
  ASSERT_TRUE(list.Create(&top_, 1008, {0, 0, 100, 100}, kVisible | kSorted | kExtendedSel));
  struct Case {
    const char* item;
    int index;
  } cases[] = {{"\\Memory\\Pages/sec", 0}, {"\\Processor(0)\\% Idle", 1}, {"\\memory\\Available", 0},
               {"\\Network\\Bytes", 2}, {"\\Memory\\Pages/sec", 2}};
  for (const Case& c : cases) EXPECT_EQ(list.AddString(c.item), c.index) << c.item;
  Listen(1008, Event::kSelChange);
  EXPECT_TRUE(user().Select(list, 3));
  EXPECT_TRUE(user().Select(list, 0, true));
  EXPECT_TRUE(user().Select(list, 4, true));
  EXPECT_TRUE(user().Select(list, 3, true));  // toggles off
  EXPECT_EQ(list.SelItems(), (std::vector<int>{0, 4}));
  EXPECT_EQ(events_.size(), 4u);
  EXPECT_TRUE(user().Select(list, 1));  // a plain click selects only it
  EXPECT_EQ(list.SelItems(), (std::vector<int>{1}));
  EXPECT_TRUE(list.DeleteString(1));
  EXPECT_FALSE(list.DeleteString(4));
  EXPECT_EQ(list.SelCount(), 0);
  list.SetSel(-1, true);
  EXPECT_EQ(list.SelCount(), 4);
}

TEST_F(UiControlsTest, DestroyingAParentLeavesChildObjectsSafe) {
  auto pane = std::make_unique<Window>();
  Edit edit;
  ASSERT_TRUE(pane->Create(&top_, 666005, {180, 200, 600, 500}));
  ASSERT_TRUE(edit.Create(pane.get(), 6101, {0, 0, 10, 10}, kVisible));
  EXPECT_EQ(top_.Child(666005), pane.get());
  EXPECT_EQ(pane->ChildAs<Edit>(6101), &edit);
  EXPECT_EQ(pane->ChildAs<Button>(6101), nullptr);
  EXPECT_TRUE(pane->DestroyWindow());
  EXPECT_FALSE(pane->DestroyWindow());
  EXPECT_FALSE(edit.IsCreated());
  EXPECT_EQ(top_.Child(666005), nullptr);
  EXPECT_FALSE(user().Type(edit, "1"));
  pane.reset();
  Edit late;
  EXPECT_FALSE(late.Create(pane.get() == nullptr ? &edit : nullptr, 1, {}, kVisible));  // parent not created
}

TEST_F(UiControlsTest, ClientCoordinatesFollowEdgesAndParents) {
  Window pane;
  TreeCtrl tree;
  ASSERT_TRUE(pane.Create(&top_, 1, {10, 20, 200, 200}));
  ASSERT_TRUE(tree.Create(&pane, 2, {5, 10, 105, 110}, kVisible | kClientEdge));
  EXPECT_EQ(tree.ClientToScreen({0, 0}), (Point{17, 32}));
  EXPECT_EQ(tree.ScreenToClient({17, 32}), (Point{0, 0}));
  EXPECT_EQ(tree.ClientRect(), (Rect{0, 0, 96, 96}));
}

}  // namespace
}  // namespace kst::ui
