// The configuration dialog's trees and selection, played through scripted
// modal runs on the headless back end.
#include "KestraneAlerter/dialogs/notification_config_dlg_testing.h"

namespace kst {
namespace {

using ui::kNoItem;

TEST_F(ConfigDialogTest, OpensWithBothTreesAndTheActiveProfilesPane) {
  WriteProfiles();
  std::string listBefore = ReadFile(HomePath("Profiles/_default_.cfg"));
  int result = Run([&](NotificationConfigDlg& d) {
    EXPECT_EQ(d.Text(), "User notification");
    EXPECT_EQ(d.rect(), (ui::Rect{200, 130, 820, 560}));
    EXPECT_EQ(d.Child(ui::kIdOk)->rect(), (ui::Rect{440, 350, 515, 375}));
    EXPECT_EQ(d.Child(ui::kIdCancel)->rect(), (ui::Rect{530, 350, 605, 375}));
    EXPECT_NE(d.icon(true), nullptr);
    EXPECT_TRUE(d.SystemMenu()->CanChoose(kCmdSystemAbout));
    EXPECT_EQ(d.paneRect(), (ui::Rect{180, 200, 600, 500}));

    const ui::TreeCtrl& profiles = *d.profileTree();
    EXPECT_EQ(profiles.id(), kProfileTreeId);
    EXPECT_EQ(profiles.rect(), (ui::Rect{5, 10, 180, 365}));
    EXPECT_TRUE(profiles.HasStyle(ui::kHasButtons | ui::kHasLines | ui::kLinesAtRoot | ui::kClientEdge));
    ui::TreeItem root = profiles.Root();
    EXPECT_EQ(profiles.ItemText(root), "Profiles:");
    EXPECT_EQ(Image(profiles, root), kImageRoot);
    EXPECT_TRUE(profiles.IsExpanded(root));
    EXPECT_EQ(profiles.NextSibling(root), kNoItem);
    EXPECT_EQ(Texts(profiles, root), (std::vector<std::string>{"Spare", "Ops"}));
    ui::TreeItem ops = ProfileItem(d, "Ops");
    // The images by their numbers: profile 0, active 1, mail 2, program 3,
    // root 4, net send 5.
    EXPECT_EQ(Image(profiles, root), 4);
    EXPECT_EQ(Image(profiles, ProfileItem(d, "Spare")), 0);
    EXPECT_EQ(Image(profiles, ops), 1);
    EXPECT_EQ(Texts(profiles, ops), (std::vector<std::string>{"mail", "run", "send"}));
    EXPECT_EQ(Image(profiles, TransporterItem(d, "Ops", "mail")), 2);
    EXPECT_EQ(Image(profiles, TransporterItem(d, "Ops", "run")), 3);
    EXPECT_EQ(Image(profiles, TransporterItem(d, "Ops", "send")), 5);
    ASSERT_EQ(d.profileImages()->count(), 6);
    EXPECT_EQ(d.profileImages()->At(kImageActiveProfile), ui::AlerterResources().LoadIcon(130));
    EXPECT_EQ(d.profileImages()->At(kImageNetSend), ui::AlerterResources().LoadIcon(157));

    // The active profile is shown: its pane, its filter tree, the menu.
    EXPECT_NE(d.pane(), nullptr);
    EXPECT_EQ(d.paneItem(), ops);
    EXPECT_EQ(d.contextItem(), ops);
    EXPECT_EQ(profiles.selected(), ops);
    EXPECT_EQ(d.filterProfile(), profiles_.findProfile("Ops"));
    EXPECT_EQ(ProfileMenuState(d), ui::kMenuPopup);

    const ui::TreeCtrl& filters = *d.filterTree();
    EXPECT_EQ(filters.rect(), (ui::Rect{185, 10, 600, 200}));
    EXPECT_TRUE(filters.IsEnabled());
    EXPECT_EQ(filters.background(), (ui::Color{255, 255, 255}));
    ASSERT_EQ(d.filterImages()->count(), 8);
    EXPECT_EQ(d.filterImages()->At(7), ui::AlerterResources().LoadIcon(146));
    EXPECT_EQ(d.filterImages()->cx(), 24);
    ui::TreeItem gate = filters.Root();
    EXPECT_EQ(filters.NextSibling(gate), kNoItem);
    EXPECT_EQ(Texts(filters, gate), (std::vector<std::string>{"Filter", "Gate", "Gate"}));
    EXPECT_EQ(Image(filters, gate), 0);
    EXPECT_EQ(Image(filters, FilterItem(d, {0})), 3);
    EXPECT_EQ(Image(filters, FilterItem(d, {1})), 1);
    EXPECT_EQ(Image(filters, FilterItem(d, {1, 1})), 3);
    EXPECT_EQ(Image(filters, FilterItem(d, {2})), 2);
    EXPECT_TRUE(filters.IsExpanded(FilterItem(d, {1})));
    Profile* opsProfile = profiles_.findProfile("Ops");
    EXPECT_EQ(d.nodeForItem(FilterItem(d, {1, 1}), opsProfile),
              static_cast<Gate*>(opsProfile->rootGate.childAt(1))->childAt(1));
    EXPECT_EQ(d.nodeForItem(gate, opsProfile), &opsProfile->rootGate);
    EXPECT_EQ(d.nodeForItem(ops, opsProfile), nullptr) << "an item of the other tree";
  });
  EXPECT_EQ(result, ui::kIdCancel);
  EXPECT_EQ(ReadFile(HomePath("Profiles/_default_.cfg")), listBefore) << "Cancel saves nothing";
}

TEST_F(ConfigDialogTest, WithoutProfilesOrDefaultNothingIsShown) {
  Run([&](NotificationConfigDlg& d) {
    EXPECT_EQ(Texts(*d.profileTree(), d.profileTree()->Root()), std::vector<std::string>{});
    EXPECT_TRUE(d.profileTree()->IsExpanded(d.profileTree()->Root()));
    EXPECT_EQ(d.pane(), nullptr);
    EXPECT_EQ(d.filterTree()->Root(), kNoItem);
    EXPECT_EQ(ProfileMenuState(d), ui::kMenuPopup | ui::kMenuGrayed);
  });
  // A list that names no default (its marker is missing).
  WriteFile(HomePath("Profiles/_default_.cfg"), "all:\na\nb\n");
  Run([&](NotificationConfigDlg& d) {
    ui::TreeCtrl& tree = *d.profileTree();
    EXPECT_EQ(Texts(tree, tree.Root()), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(Image(tree, ProfileItem(d, "a")), kImageProfile);
    EXPECT_EQ(Image(tree, ProfileItem(d, "b")), kImageProfile);
    EXPECT_EQ(d.pane(), nullptr);
    // With no pane shown the selection is free.
    EXPECT_TRUE(user().Arrow(tree, +1));
    EXPECT_TRUE(user().Arrow(tree, +1));
    EXPECT_EQ(tree.selected(), ProfileItem(d, "a"));
  });
}

TEST_F(ConfigDialogTest, ClicksSwitchPanesAndTheFilterTreesLook) {
  WriteProfiles();
  Run([&](NotificationConfigDlg& d) {
    ui::TreeCtrl& profiles = *d.profileTree();
    ui::TreeCtrl& filters = *d.filterTree();
    Profile* ops = profiles_.findProfile("Ops");

    // A transporter: its pane, the grey disabled filter tree of its
    // profile, the "Profile" popup greyed.
    ui::TreeItem mail = TransporterItem(d, "Ops", "mail");
    EXPECT_FALSE(user().ClickItem(profiles, mail)) << "profiles open collapsed";
    profiles.Expand(ProfileItem(d, "Ops"), ui::ExpandCode::kExpand);
    ASSERT_TRUE(user().ClickItem(profiles, mail));
    EXPECT_EQ(d.paneItem(), mail);
    EXPECT_EQ(profiles.selected(), mail);
    EXPECT_NE(d.pane(), nullptr);
    EXPECT_FALSE(filters.IsEnabled());
    EXPECT_EQ(filters.background(), (ui::Color{212, 208, 200}));
    EXPECT_EQ(d.filterImages()->background(), (ui::Color{212, 208, 200}));
    EXPECT_EQ(d.filterImages()->count(), 8);
    EXPECT_EQ(ProfileMenuState(d), ui::kMenuPopup | ui::kMenuGrayed);
    EXPECT_FALSE(user().ClickItem(filters, FilterItem(d, {0}))) << "a disabled tree takes no click";

    // Another profile: its own filter tree, white and enabled again.
    ui::TreeItem spare = ProfileItem(d, "Spare");
    ASSERT_TRUE(user().ClickItem(profiles, spare));
    EXPECT_EQ(d.paneItem(), spare);
    EXPECT_EQ(d.filterProfile(), profiles_.findProfile("Spare"));
    EXPECT_TRUE(filters.IsEnabled());
    EXPECT_EQ(filters.background(), (ui::Color{255, 255, 255}));
    EXPECT_EQ(Texts(filters, filters.Root()), std::vector<std::string>{});
    EXPECT_EQ(Image(filters, filters.Root()), 4) << "a new profile's root gate is off";
    EXPECT_EQ(ProfileMenuState(d), ui::kMenuPopup);

    // A transporter of another profile brings that profile's filter tree.
    ASSERT_TRUE(user().ClickItem(profiles, TransporterItem(d, "Ops", "send")));
    EXPECT_EQ(d.filterProfile(), ops);
    EXPECT_EQ(Texts(filters, filters.Root()).size(), 3u);

    ASSERT_TRUE(user().ClickItem(profiles, ProfileItem(d, "Ops")));
    // A gate shows no pane; a Filter does. The root item does nothing.
    SettingsPane* profilePane = d.pane();
    ASSERT_TRUE(user().ClickItem(filters, FilterItem(d, {1})));
    EXPECT_EQ(d.pane(), profilePane);
    EXPECT_EQ(d.paneItem(), ProfileItem(d, "Ops"));
    EXPECT_EQ(filters.selected(), FilterItem(d, {1})) << "the pane's item is in the other tree";
    ui::TreeItem filter = FilterItem(d, {1, 0});
    ASSERT_TRUE(user().ClickItem(filters, filter));
    EXPECT_EQ(d.paneItem(), filter);
    EXPECT_EQ(filters.selected(), filter);
    EXPECT_NE(d.pane(), nullptr);
    ASSERT_TRUE(user().ClickItem(profiles, profiles.Root()));
    EXPECT_EQ(d.paneItem(), filter);
  });
}

TEST_F(ConfigDialogTest, TheSelectionFollowsThePane) {
  WriteProfiles();
  Run([&](NotificationConfigDlg& d) {
    ui::TreeCtrl& profiles = *d.profileTree();
    ui::TreeItem ops = ProfileItem(d, "Ops");
    ASSERT_EQ(d.paneItem(), ops);
    EXPECT_TRUE(user().Arrow(profiles, -1));
    EXPECT_EQ(profiles.selected(), ops) << "a keyboard move is undone";
    // A filter's pane frees the profile tree and locks the filter tree.
    ui::TreeCtrl& filters = *d.filterTree();
    ui::TreeItem filter = FilterItem(d, {0});
    ASSERT_TRUE(user().ClickItem(filters, filter));
    EXPECT_TRUE(user().Arrow(profiles, -1));
    EXPECT_NE(profiles.selected(), ops);
    EXPECT_TRUE(user().Arrow(filters, +1));
    EXPECT_EQ(filters.selected(), filter);
  });
}

TEST_F(ConfigDialogTest, TransportersOfOneNameStandForTheLastOfThem) {
  ProfileSet set;
  set.addProfile("p");
  Profile* p = set.findProfile("p");
  p->deliverySettings.push_back(std::make_unique<MailDeliverySettings>("twin"));
  p->deliverySettings.push_back(std::make_unique<ShellDeliverySettings>("twin"));
  ASSERT_EQ(set.saveAllProfiles(), 0);
  Run([&](NotificationConfigDlg& d) {
    ui::TreeCtrl& tree = *d.profileTree();
    ui::TreeItem first = tree.FirstChild(ProfileItem(d, "p"));
    ui::TreeItem second = tree.NextSibling(first);
    tree.Expand(ProfileItem(d, "p"), ui::ExpandCode::kExpand);
    EXPECT_EQ(Image(tree, first), kImageMail);
    EXPECT_EQ(Image(tree, second), kImageShell);
    // Both delete the program settings, the last of that name.
    RightClick(tree, first, kCmdDeleteTransporter);
    Profile* loaded = profiles_.findProfile("p");
    ASSERT_EQ(loaded->deliverySettings.size(), 1u);
    EXPECT_STREQ(loaded->deliverySettings[0]->typeName(), kMailTypeName);
    EXPECT_FALSE(tree.Exists(first));
    EXPECT_TRUE(tree.Exists(second));
  });
}

TEST_F(ConfigDialogTest, SwitchedIconsFollowTheModelUpAndDown) {
  WriteProfiles();
  Run([&](NotificationConfigDlg& d) {
    ui::TreeCtrl& filters = *d.filterTree();
    Gate& root = profiles_.findProfile("Ops")->rootGate;
    Gate* anyOf = static_cast<Gate*>(root.childAt(1));

    // Off one gate: its children go off with it.
    RightClick(filters, FilterItem(d, {1}), kCmdSwitchOff);
    EXPECT_FALSE(anyOf->isOn());
    EXPECT_EQ(Image(filters, FilterItem(d, {1})), 5);
    EXPECT_EQ(Image(filters, FilterItem(d, {1, 0})), 7);
    EXPECT_EQ(Image(filters, FilterItem(d, {1, 1})), 7);
    EXPECT_EQ(Image(filters, filters.Root()), 0) << "other children are still on";

    // A child cannot be switched on under an off parent: nothing changes.
    d.refreshSwitchedOn(FilterItem(d, {1, 0}), anyOf->childAt(0), true);
    EXPECT_EQ(Image(filters, FilterItem(d, {1, 0})), 7);
    EXPECT_FALSE(anyOf->childAt(0)->isOn());

    // The last children going off take the root gate with them.
    RightClick(filters, FilterItem(d, {0}), kCmdSwitchOff);
    RightClick(filters, FilterItem(d, {2, 0}), kCmdSwitchOff);
    EXPECT_FALSE(root.isOn());
    EXPECT_EQ(Image(filters, FilterItem(d, {2})), 6);
    EXPECT_EQ(Image(filters, filters.Root()), 4);

    // On again from the top: everything below follows.
    RightClick(filters, filters.Root(), kCmdSwitchOn);
    for (const std::vector<int>& path : std::vector<std::vector<int>>{{}, {0}, {1}, {1, 0}, {1, 1}, {2}, {2, 0}}) {
      EXPECT_LT(Image(filters, FilterItem(d, path)), 4) << path.size();
    }
    EXPECT_TRUE(anyOf->childAt(1)->isOn());
  });
}

TEST_F(ConfigDialogTest, TreeControlReturnsToItsCreationRectangle) {
  ui::Window host;
  ASSERT_TRUE(host.Create(nullptr, 0, {0, 0, 640, 480}));
  ConfigTreeCtrl tree;
  ASSERT_TRUE(tree.Create(&host, kFilterTreeId, {185, 10, 600, 200}));
  tree.Move({185, 10, 576, 200});  // a scroll bar's room taken away
  EXPECT_EQ(tree.rect(), (ui::Rect{185, 10, 600, 200}));
  tree.Move({185, 10, 500, 200});
  EXPECT_EQ(tree.rect(), (ui::Rect{185, 10, 500, 200}));
  tree.Move({0, 0, 391, 10});
  EXPECT_EQ(tree.rect(), (ui::Rect{185, 10, 600, 200}));
}

TEST_F(ConfigDialogTest, ExpansionIsCapturedByPosition) {
  WriteProfiles();
  Run([&](NotificationConfigDlg& d) {
    ui::TreeCtrl& tree = *d.profileTree();
    tree.Expand(ProfileItem(d, "Ops"), ui::ExpandCode::kExpand);
    tree.Expand(ProfileItem(d, "Spare"), ui::ExpandCode::kCollapse);
    std::unique_ptr<ExpansionState> state = d.captureExpansion();
    EXPECT_TRUE(state->expanded);
    ASSERT_EQ(state->children.size(), 2u);
    EXPECT_FALSE(state->children[0]->expanded);
    EXPECT_TRUE(state->children[1]->expanded);
    EXPECT_EQ(state->children[1]->children.size(), 3u);
    profiles_.addProfile("Third");
    d.buildProfileTree(state.get());
    EXPECT_TRUE(tree.IsExpanded(tree.Root()));
    EXPECT_FALSE(tree.IsExpanded(ProfileItem(d, "Spare")));
    EXPECT_TRUE(tree.IsExpanded(ProfileItem(d, "Ops")));
    EXPECT_FALSE(tree.IsExpanded(ProfileItem(d, "Third"))) << "no recorded state";
    d.buildProfileTree(nullptr);
    EXPECT_FALSE(tree.IsExpanded(tree.Root()));
  });
}

}  // namespace
}  // namespace kst
