// The configuration dialog with its panes: what the user types in a pane
// is committed, or refused, before the selection moves or anything is
// saved.
#include "KestraneAlerter/dialogs/filter_dialog.h"
#include "KestraneAlerter/dialogs/notification_config_dlg_testing.h"
#include "KestraneAlerter/dialogs/settings_pane.h"

namespace kst {
namespace {

constexpr int kProfileNameEdit = 6101;
constexpr int kFilterValueEdit = 32839;

using ConfigPanesTest = ConfigDialogTest;

TEST_F(ConfigPanesTest, ARefusedPaneHoldsTheSelectionAndStopsSaving) {
  WriteProfiles();
  const std::string list = ReadFile(HomePath("Profiles/_default_.cfg"));
  int result = Run([&](NotificationConfigDlg& d) {
    ui::TreeCtrl& tree = *d.profileTree();
    ui::TreeItem ops = ProfileItem(d, "Ops");
    ASSERT_TRUE(user().Type(*d.pane()->Child(kProfileNameEdit), "Ops-2"));
    ui::testing::AnswerNextMessageBox(ui::kIdOk);
    ASSERT_TRUE(user().ClickItem(tree, ProfileItem(d, "Spare")));
    EXPECT_EQ(d.paneItem(), ops);
    EXPECT_EQ(tree.selected(), ops);
    EXPECT_EQ(d.filterProfile(), profiles_.findProfile("Ops"));

    ui::testing::OnNextModal([](ui::Dialog& confirm) { ui::testing::driver().Click(*confirm.Child(ui::kIdOk)); });
    ui::testing::AnswerNextMessageBox(ui::kIdOk);
    ASSERT_TRUE(user().ChooseMenu(d, kCmdSaveAll));
    ui::testing::AnswerNextMessageBox(ui::kIdOk);
    ASSERT_TRUE(user().Click(*d.Child(ui::kIdOk)));
    EXPECT_TRUE(d.running());
    EXPECT_EQ(ReadFile(HomePath("Profiles/_default_.cfg")), list);

    ASSERT_TRUE(user().Type(*d.pane()->Child(kProfileNameEdit), "Ops 2"));
    ASSERT_TRUE(user().Click(*d.Child(ui::kIdOk)));
  });
  EXPECT_EQ(result, ui::kIdOk);
  EXPECT_EQ(Messages(), std::vector<std::string>(3, "Name must contain only Latin characters and numbers."));
  EXPECT_EQ(ReadFile(HomePath("Profiles/_default_.cfg")), "all:\nSpare\nOps 2\ndefault:\nOps 2\n");
}

TEST_F(ConfigPanesTest, ARenameRelabelsTheTreeBeforeTheNextPane) {
  WriteProfiles();
  Run([&](NotificationConfigDlg& d) {
    ui::TreeCtrl& tree = *d.profileTree();
    tree.Expand(ProfileItem(d, "Ops"), ui::ExpandCode::kExpand);
    ui::TreeItem oldMail = TransporterItem(d, "Ops", "mail");
    ASSERT_TRUE(user().Type(*d.pane()->Child(kProfileNameEdit), "Prod"));
    // The click's own item goes with the rebuild; its successor takes over.
    ASSERT_TRUE(user().ClickItem(tree, oldMail));
    EXPECT_FALSE(tree.Exists(oldMail));
    EXPECT_EQ(Texts(tree, tree.Root()), (std::vector<std::string>{"Spare", "Prod"}));
    EXPECT_TRUE(tree.IsExpanded(ProfileItem(d, "Prod")));
    ui::TreeItem mail = TransporterItem(d, "Prod", "mail");
    EXPECT_EQ(d.paneItem(), mail);
    EXPECT_EQ(d.contextItem(), mail);
    EXPECT_EQ(tree.selected(), mail);
    EXPECT_EQ(Image(tree, ProfileItem(d, "Prod")), kImageActiveProfile);
    // The transporter pane knows its profile by the new name.
    EXPECT_EQ(d.pane()->apply(profiles_), kApplyUnchanged);
    ASSERT_TRUE(user().ClickItem(tree, ProfileItem(d, "Spare")));
    EXPECT_EQ(d.paneItem(), ProfileItem(d, "Spare"));
  });
  EXPECT_EQ(Messages(), std::vector<std::string>{});
}

TEST_F(ConfigPanesTest, AddFilterTakesTheFilterDialogsChoice) {
  WriteProfiles();
  Run([&](NotificationConfigDlg& d) {
    ui::TreeCtrl& filters = *d.filterTree();
    Gate* anyOf = static_cast<Gate*>(profiles_.findProfile("Ops")->rootGate.childAt(1));
    ui::testing::OnNextModal([](ui::Dialog& dialog) { ui::testing::driver().Click(*dialog.Child(ui::kIdCancel)); });
    RightClick(filters, FilterItem(d, {1}), kCmdAddFilter);
    EXPECT_EQ(anyOf->childCount(), 2);

    ui::testing::OnNextModal([](ui::Dialog& dialog) {
      auto& filterDialog = static_cast<CFilterSettingsDlg&>(dialog);
      ASSERT_TRUE(ui::testing::driver().Type(*filterDialog.pane().Child(kFilterValueEdit), "web"));
      ui::testing::driver().Click(*dialog.Child(ui::kIdOk));
    });
    RightClick(filters, FilterItem(d, {1}), kCmdAddFilter);
    ASSERT_EQ(anyOf->childCount(), 3);
    auto* added = static_cast<Filter*>(anyOf->childAt(2));
    EXPECT_EQ(added->fieldType(), Filter::kLogTitle);
    EXPECT_EQ(added->matchType(), Filter::kContains);
    EXPECT_EQ(added->pattern(), "web");
    EXPECT_TRUE(added->isOn());
    EXPECT_EQ(filters.ItemText(FilterItem(d, {1, 2})), "Filter");
    EXPECT_EQ(Image(filters, FilterItem(d, {1, 2})), 3);

    // Under a gate that is off the new Filter is off too.
    RightClick(filters, FilterItem(d, {1}), kCmdSwitchOff);
    ui::testing::OnNextModal([](ui::Dialog& dialog) {
      auto& filterDialog = static_cast<CFilterSettingsDlg&>(dialog);
      ui::testing::driver().Type(*filterDialog.pane().Child(kFilterValueEdit), "db");
      ui::testing::driver().Click(*dialog.Child(ui::kIdOk));
    });
    RightClick(filters, FilterItem(d, {1}), kCmdAddFilter);
    EXPECT_EQ(Image(filters, FilterItem(d, {1, 3})), 7);
  });
}

TEST_F(ConfigPanesTest, AFilterPaneWritesItsOwnFilterAfterAnEarlierNodeIsDeleted) {
  WriteProfiles();
  Run([&](NotificationConfigDlg& d) {
    ui::TreeCtrl& filters = *d.filterTree();
    ASSERT_TRUE(user().ClickItem(filters, FilterItem(d, {2, 0})));
    ASSERT_TRUE(user().Type(*d.pane()->Child(kFilterValueEdit), "changed"));
    RightClick(filters, FilterItem(d, {0}), kCmdDeleteNode);
    ASSERT_TRUE(user().Click(*d.Child(ui::kIdOk)));
    EXPECT_FALSE(d.running());
  });
  Gate& root = profiles_.findProfile("Ops")->rootGate;
  ASSERT_EQ(root.childCount(), 2);
  Gate* none = static_cast<Gate*>(root.childAt(1));
  EXPECT_EQ(static_cast<Filter*>(none->childAt(0))->pattern(), "changed");
  Gate* anyOf = static_cast<Gate*>(root.childAt(0));
  EXPECT_EQ(static_cast<Filter*>(anyOf->childAt(1))->pattern(), "cpu");
  EXPECT_EQ(Messages(), std::vector<std::string>{});
}

}  // namespace
}  // namespace kst
