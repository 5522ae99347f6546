#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ui/testing.h"
#include "platform/ui/ui.h"

namespace kst::ui {
namespace {

class UiTreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testing::UseBackend("headless"));
    ASSERT_TRUE(top_.Create(nullptr, 0, {0, 0, 400, 400}));
    ASSERT_TRUE(tree_.Create(&top_, 6001, {5, 10, 180, 365},
                             kVisible | kClientEdge | kHasButtons | kHasLines | kLinesAtRoot));
    tree_.SetImageList(&images_);
    root_ = tree_.InsertItem("Profiles:", 4, 4);
    a_ = tree_.InsertItem("alpha", 0, 0, root_);
    b_ = tree_.InsertItem("beta", 1, 1, root_);
    mail_ = tree_.InsertItem("transporter1", 2, 2, a_);
    tree_.Expand(root_, ExpandCode::kExpand);
    top_.OnNotify(6001, Event::kClick, [this](const NotifyInfo&) {
      TreeHit hit = tree_.HitTest(tree_.ScreenToClient(CursorPos()));
      log_.push_back("click " + tree_.ItemText(hit.item));
      return click_result_;
    });
    top_.OnNotify(6001, Event::kRightClick, [this](const NotifyInfo&) {
      log_.push_back("right " + tree_.ItemText(tree_.HitTest(tree_.ScreenToClient(CursorPos())).item));
      return 0;
    });
    top_.OnNotify(6001, Event::kSelChanged, [this](const NotifyInfo& info) {
      log_.push_back("sel " + tree_.ItemText(info.old_item) + ">" + tree_.ItemText(info.new_item));
      return 0;
    });
  }

  Window top_;
  TreeCtrl tree_;
  ImageList images_{16, 16};
  TreeItem root_, a_, b_, mail_;
  std::vector<std::string> log_;
  int click_result_ = 0;
};

TEST_F(UiTreeTest, WalksAndDeletes) {
  EXPECT_EQ(tree_.Root(), root_);
  EXPECT_EQ(tree_.FirstChild(root_), a_);
  EXPECT_EQ(tree_.NextSibling(a_), b_);
  EXPECT_EQ(tree_.NextSibling(b_), kNoItem);
  EXPECT_EQ(tree_.Parent(mail_), a_);
  EXPECT_EQ(tree_.Depth(mail_), 2);
  EXPECT_EQ(tree_.VisibleItems(), (std::vector<TreeItem>{root_, a_, b_}));  // alpha is collapsed
  EXPECT_TRUE(tree_.SelectItem(mail_));  // selecting shows it
  EXPECT_TRUE(tree_.IsExpanded(a_));
  EXPECT_TRUE(tree_.DeleteItem(a_));
  EXPECT_EQ(tree_.selected(), kNoItem);
  EXPECT_FALSE(tree_.Exists(mail_));
  TreeItem again = tree_.InsertItem("alpha", 0, 0, root_);
  EXPECT_NE(again, a_);  // handles are not reused
  EXPECT_FALSE(tree_.SetItemText(a_, "stale"));
  EXPECT_EQ(tree_.InsertItem("orphan", 0, 0, a_), kNoItem);
  tree_.DeleteAllItems();
  EXPECT_EQ(tree_.Root(), kNoItem);
}

TEST_F(UiTreeTest, AnotherTreesItemIsNotFound) {
  TreeCtrl filters;
  ASSERT_TRUE(filters.Create(&top_, 6002, {185, 10, 600, 200}, kVisible));
  TreeItem gate = filters.InsertItem("Gate", 0, 0);
  for (TreeItem mine : {root_, a_, b_, mail_}) EXPECT_NE(gate, mine);
  EXPECT_FALSE(tree_.Exists(gate));
  EXPECT_FALSE(tree_.SetItemImage(gate, 7, 7));
  EXPECT_FALSE(tree_.DeleteItem(gate));
  EXPECT_FALSE(filters.Exists(a_));
  EXPECT_EQ(tree_.Depth(gate), -1);
  EXPECT_TRUE(filters.Exists(gate));
}

TEST_F(UiTreeTest, ArrowsWalkShownItemsAndSelectionScrollsIntoView) {
  Driver& user = testing::driver();
  EXPECT_TRUE(user.Arrow(tree_, +1));  // nothing selected: the first row
  EXPECT_EQ(tree_.selected(), root_);
  user.Arrow(tree_, +1);
  user.Arrow(tree_, +1);  // alpha is collapsed: its child is skipped
  EXPECT_EQ(tree_.selected(), b_);
  user.Arrow(tree_, +1);  // stays on the last row
  EXPECT_EQ(tree_.selected(), b_);
  for (int i = 0; i < 40; ++i) tree_.InsertItem("more", 0, 0, b_);
  TreeItem last = tree_.InsertItem("last", 0, 0, b_);
  tree_.SelectItem(last);
  EXPECT_TRUE(tree_.IsExpanded(b_));
  Rect icon, label;
  ASSERT_TRUE(tree_.ItemGeometry(last, &icon, &label));
  EXPECT_LE(label.bottom, tree_.ClientRect().bottom);
  EXPECT_GE(label.top, 0);
  EXPECT_EQ(tree_.HitTest({label.left + 1, label.top + 1}).item, last);
}

TEST_F(UiTreeTest, HitTestingByPart) {
  Rect icon, label;
  ASSERT_TRUE(tree_.ItemGeometry(a_, &icon, &label));
  int mid = (icon.top + icon.bottom) / 2;
  struct Case {
    Point at;
    TreeItem item;
    unsigned flags;
  } cases[] = {
      {{icon.left + 2, mid}, a_, kHitOnIcon},
      {{label.left + 1, mid}, a_, kHitOnLabel},
      {{label.right + 3, mid}, a_, kHitOnRight},
      {{icon.left - 5, mid}, a_, kHitOnButton},  // alpha has a child
      {{icon.left - 5, mid + tree_.row_height()}, b_, kHitOnIndent},  // beta has none
      {{1, mid}, a_, kHitOnIndent},
      {{label.left, tree_.row_height() * 10}, kNoItem, kHitNowhere},
      {{-1, mid}, kNoItem, kHitNowhere},
  };
  for (const Case& c : cases) {
    TreeHit hit = tree_.HitTest(c.at);
    EXPECT_EQ(hit.item, c.item) << c.at.x << "," << c.at.y;
    EXPECT_EQ(hit.flags, c.flags) << c.at.x << "," << c.at.y;
  }
}

TEST_F(UiTreeTest, ClickNotifiesThenSelects) {
  Driver& user = testing::driver();
  EXPECT_TRUE(user.ClickItem(tree_, a_));
  EXPECT_TRUE(user.ClickItem(tree_, b_, true));  // right click: no selection
  click_result_ = 1;
  EXPECT_TRUE(user.ClickItem(tree_, b_));  // a non-zero result keeps the selection
  EXPECT_EQ(log_, (std::vector<std::string>{"click alpha", "sel >alpha", "right beta", "click beta"}));
  EXPECT_EQ(tree_.selected(), a_);
}

TEST_F(UiTreeTest, HandlersMayRebuildOrPutTheSelectionBack) {
  Driver& user = testing::driver();
  // The selection lock: a change away from alpha is put back at once.
  tree_.SelectItem(a_);
  top_.OnNotify(6001, Event::kSelChanged, [this](const NotifyInfo& info) {
    log_.push_back("sel " + tree_.ItemText(info.new_item));
    if (info.new_item != a_) tree_.SelectItem(a_);
    return 0;
  });
  user.ClickItem(tree_, b_);
  EXPECT_EQ(tree_.selected(), a_);
  user.Arrow(tree_, +1);  // keyboard moves are put back too
  EXPECT_EQ(tree_.selected(), a_);
  EXPECT_EQ(log_.back(), "sel alpha");
  // A click handler that rebuilds the tree leaves the clicked handle stale.
  top_.OnNotify(6001, Event::kClick, [this](const NotifyInfo&) {
    tree_.DeleteAllItems();
    tree_.InsertItem("Profiles:", 4, 4);
    return 0;
  });
  EXPECT_TRUE(user.ClickItem(tree_, root_));
  EXPECT_EQ(tree_.selected(), kNoItem);
  tree_.Enable(false);
  EXPECT_FALSE(user.ClickItem(tree_, tree_.Root()));
}

}  // namespace
}  // namespace kst::ui
