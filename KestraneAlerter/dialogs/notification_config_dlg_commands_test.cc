// The configuration dialog's menus and commands, played through scripted
// modal runs on the headless back end.
#include <unistd.h>

#include "KestraneAlerter/dialogs/notification_config_dlg_testing.h"
#include "platform/services.h"

namespace kst {
namespace {

using ui::kNoItem;

// The commands of a menu in order, popups flattened, greyed ones negative.
std::vector<int> Commands(const ui::Menu& menu) {
  std::vector<int> commands;
  for (int pos = 0; pos < menu.count(); ++pos) {
    int state = menu.ItemState(pos, ui::By::kPosition);
    if (const ui::Menu* popup = menu.SubMenu(pos)) {
      for (int command : Commands(*popup)) commands.push_back((state & ui::kMenuGrayed) ? -std::abs(command) : command);
    } else if (!(state & ui::kMenuSeparator)) {
      commands.push_back((state & ui::kMenuGrayed) ? -menu.ItemCommand(pos) : menu.ItemCommand(pos));
    }
  }
  return commands;
}

using ConfigCommandsTest = ConfigDialogTest;

TEST_F(ConfigCommandsTest, NewProfilesTakeTheFirstFreeNumber) {
  Run([&](NotificationConfigDlg& d) {
    ui::TreeCtrl& tree = *d.profileTree();
    for (int i = 0; i < 9; ++i) ASSERT_TRUE(user().ChooseMenu(d, kCmdNewProfile));
    RightClick(tree, tree.Root(), kCmdNewProfile);
    std::vector<std::string> expected;
    for (int i = 1; i <= 10; ++i) expected.push_back("profile" + std::to_string(i));
    EXPECT_EQ(Texts(tree, tree.Root()), expected);
    EXPECT_EQ(profiles_.profileNames(), expected);
    EXPECT_EQ(Image(tree, ProfileItem(d, "profile10")), kImageProfile);
    EXPECT_EQ(d.pane(), nullptr) << "a new profile is not selected";
    EXPECT_EQ(profiles_.defaultProfile(), nullptr);

    RightClick(tree, ProfileItem(d, "profile3"), kCmdDeleteProfile);
    EXPECT_EQ(profiles_.findProfile("profile3"), nullptr);
    EXPECT_EQ(ProfileItem(d, "profile3"), kNoItem);
    EXPECT_EQ(d.contextItem(), kNoItem);
    ASSERT_TRUE(user().ChooseMenu(d, kCmdNewProfile));
    EXPECT_EQ(tree.ItemText(d.profileTree()->FirstChild(tree.Root())), "profile1");
    EXPECT_EQ(profiles_.profileNames().back(), "profile3");
    // Deleting makes the set's first profile the default: its image shows it.
    EXPECT_EQ(profiles_.defaultProfile(), profiles_.findProfile("profile1"));
    EXPECT_EQ(Image(tree, ProfileItem(d, "profile1")), kImageActiveProfile);
  });
  EXPECT_EQ(Messages(), std::vector<std::string>{});
}

TEST_F(ConfigCommandsTest, TransportersGoUnderTheProfileLastClicked) {
  WriteProfiles();
  Run([&](NotificationConfigDlg& d) {
    ui::TreeCtrl& tree = *d.profileTree();
    ui::TreeItem spare = ProfileItem(d, "Spare");
    ASSERT_EQ(d.paneItem(), ProfileItem(d, "Ops"));
    RightClick(tree, spare, kCmdAddMail);
    // The menu bar's "Profile" popup acts on the same item.
    ASSERT_TRUE(user().ChooseMenu(d, kCmdAddShell));
    ASSERT_TRUE(user().ChooseMenu(d, kCmdAddNetSend));
    EXPECT_EQ(Texts(tree, spare), (std::vector<std::string>{"transporter1", "transporter2", "transporter3"}));
    EXPECT_TRUE(tree.IsExpanded(spare));
    EXPECT_EQ(Image(tree, TransporterItem(d, "Spare", "transporter1")), kImageMail);
    EXPECT_EQ(Image(tree, TransporterItem(d, "Spare", "transporter2")), kImageShell);
    EXPECT_EQ(Image(tree, TransporterItem(d, "Spare", "transporter3")), kImageNetSend);
    const auto& list = profiles_.findProfile("Spare")->deliverySettings;
    ASSERT_EQ(list.size(), 3u);
    EXPECT_STREQ(list[1]->typeName(), kShellTypeName);
    EXPECT_EQ(list[2]->maxMessageLength, 1000);
    EXPECT_EQ(d.paneItem(), ProfileItem(d, "Ops")) << "no pane for the new transporter";

    // A freed name is taken again.
    RightClick(tree, TransporterItem(d, "Spare", "transporter2"), kCmdDeleteTransporter);
    RightClick(tree, spare, kCmdAddNetSend);
    EXPECT_EQ(Texts(tree, spare), (std::vector<std::string>{"transporter1", "transporter3", "transporter2"}));
    EXPECT_STREQ(list[2]->typeName(), kNetSendTypeName);
  });
}

TEST_F(ConfigCommandsTest, TransporterNamesStopAt9999) {
  WriteProfiles();
  Run([&](NotificationConfigDlg& d) {
    ui::TreeCtrl& tree = *d.profileTree();
    ui::TreeItem spare = ProfileItem(d, "Spare");
    auto& list = profiles_.findProfile("Spare")->deliverySettings;
    for (int i = 1; i <= 9998; ++i) {
      list.push_back(std::make_unique<MailDeliverySettings>("transporter" + std::to_string(i)));
    }
    RightClick(tree, spare, kCmdAddMail);
    EXPECT_EQ(Texts(tree, spare), std::vector<std::string>{"transporter9999"});
    RightClick(tree, spare, kCmdAddMail);
    EXPECT_EQ(Texts(tree, spare), std::vector<std::string>{"transporter9999"}) << "a name past 9999";
    EXPECT_EQ(list.size(), 9999u);
  });
}

TEST_F(ConfigCommandsTest, DeletingTheShownProfileClearsItsPaneAndFilterTree) {
  struct Case {
    const char* shown;
    std::function<void(NotificationConfigDlg&)> show;
  } cases[] = {
      {"profile pane", [](NotificationConfigDlg&) {}},
      {"transporter pane",
       [](NotificationConfigDlg& d) {
         d.profileTree()->Expand(ProfileItem(d, "Ops"), ui::ExpandCode::kExpand);
         ASSERT_TRUE(ui::testing::driver().ClickItem(*d.profileTree(), TransporterItem(d, "Ops", "run")));
       }},
      {"filter pane",
       [](NotificationConfigDlg& d) {
         ASSERT_TRUE(ui::testing::driver().ClickItem(*d.filterTree(), FilterItem(d, {2, 0})));
       }},
  };
  WriteProfiles();
  for (const Case& c : cases) {
    profiles_.clear();
    Run([&](NotificationConfigDlg& d) {
      c.show(d);
      ASSERT_NE(d.pane(), nullptr) << c.shown;
      RightClick(*d.profileTree(), ProfileItem(d, "Ops"), kCmdDeleteProfile);
      EXPECT_EQ(d.pane(), nullptr) << c.shown;
      EXPECT_EQ(d.paneItem(), kNoItem) << c.shown;
      EXPECT_EQ(d.filterProfile(), nullptr) << c.shown;
      EXPECT_EQ(d.filterTree()->Root(), kNoItem) << c.shown;
      EXPECT_EQ(ProfileMenuState(d), ui::kMenuPopup | ui::kMenuGrayed) << c.shown;
      EXPECT_EQ(Texts(*d.profileTree(), d.profileTree()->Root()), std::vector<std::string>{"Spare"});
      EXPECT_EQ(Image(*d.profileTree(), ProfileItem(d, "Spare")), kImageActiveProfile);
    });
  }
  // Another profile's deletion leaves the shown one alone.
  profiles_.clear();
  Run([&](NotificationConfigDlg& d) {
    RightClick(*d.profileTree(), ProfileItem(d, "Spare"), kCmdDeleteProfile);
    EXPECT_NE(d.pane(), nullptr);
    EXPECT_EQ(d.filterProfile(), profiles_.findProfile("Ops"));
    EXPECT_EQ(ProfileMenuState(d), ui::kMenuPopup);
  });
}

TEST_F(ConfigCommandsTest, ContextMenusByItemKind) {
  WriteProfiles();
  Run([&](NotificationConfigDlg& d) {
    ui::TreeCtrl& profiles = *d.profileTree();
    ui::TreeCtrl& filters = *d.filterTree();
    profiles.Expand(ProfileItem(d, "Ops"), ui::ExpandCode::kExpand);
    EXPECT_EQ(Commands(RightClick(profiles, profiles.Root())), (std::vector<int>{32791, 32790}));
    EXPECT_EQ(Commands(RightClick(profiles, ProfileItem(d, "Spare"))),
              (std::vector<int>{32776, 32796, 32779, 32803, 32802, 32849}));
    EXPECT_EQ(d.contextItem(), ProfileItem(d, "Spare"));
    EXPECT_EQ(Commands(RightClick(profiles, TransporterItem(d, "Ops", "send"))), (std::vector<int>{32783, 32782}));

    struct Case {
      std::vector<int> path;
      std::vector<int> commands;
    } cases[] = {
        {{}, {-32811, 32812, 32815, 32816, 32817, 32814}},                   // the root gate: no Delete
        {{1}, {-32811, 32812, 32815, 32816, 32817, 32814, 32813}},           // OR gate
        {{2}, {-32811, 32812, -32815, -32816, -32817, -32814, 32813}},       // NOT gate with its child
        {{0}, {-32811, 32812, 32824, 32813}},                                // Filter
    };
    for (const Case& c : cases) {
      EXPECT_EQ(Commands(RightClick(filters, FilterItem(d, c.path))), c.commands) << c.path.size();
      EXPECT_EQ(d.contextItem(), FilterItem(d, c.path));
    }
    // Off: "Switch off" greyed; "Switch on" too when the model cannot.
    RightClick(filters, FilterItem(d, {2, 0}), kCmdDeleteNode);
    EXPECT_EQ(Commands(RightClick(filters, FilterItem(d, {2}))),
              (std::vector<int>{-32811, -32812, 32815, 32816, 32817, 32814, 32813}))
        << "a NOT gate without its child, and without a Filter below it";
    RightClick(filters, FilterItem(d, {1}), kCmdSwitchOff);
    EXPECT_EQ(Commands(RightClick(filters, FilterItem(d, {1}))),
              (std::vector<int>{32811, -32812, 32815, 32816, 32817, 32814, 32813}));
  });
}

TEST_F(ConfigCommandsTest, MenuBarSwitchesTheSelectedProfilesFilters) {
  WriteProfiles();
  Run([&](NotificationConfigDlg& d) {
    ui::TreeCtrl& filters = *d.filterTree();
    Gate& root = profiles_.findProfile("Ops")->rootGate;
    ASSERT_TRUE(user().ChooseMenu(d, kCmdSwitchOffAll));
    EXPECT_FALSE(root.isOn());
    EXPECT_FALSE(root.childAt(1)->isOn());
    EXPECT_EQ(Image(filters, FilterItem(d, {1, 1})), 7);
    EXPECT_EQ(Image(filters, filters.Root()), 4);
    EXPECT_FALSE(user().ChooseMenu(d, kCmdSwitchOffAll)) << "greyed while the root is off";
    ASSERT_TRUE(user().ChooseMenu(d, kCmdSwitchOnAll));
    EXPECT_TRUE(root.isOn());
    EXPECT_EQ(Image(filters, FilterItem(d, {2, 0})), 3);
    EXPECT_EQ(Image(filters, filters.Root()), 0);

    // A profile whose tree holds no Filter cannot be switched on.
    ASSERT_TRUE(user().ClickItem(*d.profileTree(), ProfileItem(d, "Spare")));
    EXPECT_FALSE(user().ChooseMenu(d, kCmdSwitchOnAll));
    EXPECT_FALSE(user().ChooseMenu(d, kCmdSwitchOffAll));
    EXPECT_TRUE(user().ChooseMenu(d, kCmdHowToUse));
    EXPECT_TRUE(d.running());
  });
}

TEST_F(ConfigCommandsTest, ActivateMovesTheActiveImage) {
  WriteProfiles();
  Run([&](NotificationConfigDlg& d) {
    ui::TreeCtrl& tree = *d.profileTree();
    RightClick(tree, ProfileItem(d, "Spare"), kCmdActivate);
    EXPECT_EQ(profiles_.defaultProfile(), profiles_.findProfile("Spare"));
    EXPECT_EQ(Image(tree, ProfileItem(d, "Spare")), kImageActiveProfile);
    EXPECT_EQ(Image(tree, ProfileItem(d, "Ops")), kImageProfile);
  });
  // No item shows the active image: the activated one still gets it.
  WriteFile(HomePath("Profiles/_default_.cfg"), "all:\na\nb\n");
  Run([&](NotificationConfigDlg& d) {
    RightClick(*d.profileTree(), ProfileItem(d, "b"), kCmdActivate);
    EXPECT_EQ(Image(*d.profileTree(), ProfileItem(d, "b")), kImageActiveProfile);
    EXPECT_EQ(Image(*d.profileTree(), ProfileItem(d, "a")), kImageProfile);
  });
}

TEST_F(ConfigCommandsTest, GatesAndFiltersAreAddedAndDeleted) {
  WriteProfiles();
  Run([&](NotificationConfigDlg& d) {
    ui::TreeCtrl& filters = *d.filterTree();
    Gate& root = profiles_.findProfile("Ops")->rootGate;
    RightClick(filters, FilterItem(d, {1}), kCmdAddNot);
    Gate* anyOf = static_cast<Gate*>(root.childAt(1));
    ASSERT_EQ(anyOf->childCount(), 3);
    EXPECT_EQ(static_cast<Gate*>(anyOf->childAt(2))->gateType(), Gate::kNot);
    EXPECT_FALSE(anyOf->childAt(2)->isOn());
    EXPECT_EQ(filters.ItemText(FilterItem(d, {1, 2})), "Gate");
    EXPECT_EQ(Image(filters, FilterItem(d, {1, 2})), 6);
    RightClick(filters, filters.Root(), kCmdAddAnd);
    EXPECT_EQ(Image(filters, FilterItem(d, {3})), 4);

    // Deleting a subtree that holds the shown pane drops the pane.
    ASSERT_TRUE(user().ClickItem(filters, FilterItem(d, {1, 0})));
    RightClick(filters, FilterItem(d, {1}), kCmdDeleteNode);
    EXPECT_EQ(d.pane(), nullptr);
    EXPECT_EQ(d.paneItem(), kNoItem);
    EXPECT_EQ(root.childCount(), 3);
    EXPECT_EQ(Texts(filters, filters.Root()), (std::vector<std::string>{"Filter", "Gate", "Gate"}));
    EXPECT_EQ(d.contextItem(), kNoItem);
    // The root gate is never deleted.
    RightClick(filters, filters.Root());
    d.onDeleteNode();
    EXPECT_EQ(filters.Root() != kNoItem, true);
    EXPECT_EQ(root.childCount(), 3);

    // The last Filters going take the switch state of their gates along.
    RightClick(filters, FilterItem(d, {1, 0}), kCmdDeleteNode);
    RightClick(filters, FilterItem(d, {0}), kCmdDeleteNode);
    EXPECT_FALSE(root.isOn());
    EXPECT_EQ(Image(filters, filters.Root()), 4);
  });
}

TEST_F(ConfigCommandsTest, DeletingANodeKeepsAFilterPaneOnItsFilter) {
  WriteProfiles();
  Run([&](NotificationConfigDlg& d) {
    ui::TreeCtrl& filters = *d.filterTree();
    ui::TreeItem shown = FilterItem(d, {2, 0});
    ASSERT_TRUE(user().ClickItem(filters, shown));
    RightClick(filters, FilterItem(d, {0}), kCmdDeleteNode);
    EXPECT_EQ(d.paneItem(), shown);
    EXPECT_NE(d.pane(), nullptr);
    EXPECT_EQ(filters.selected(), shown);
  });
}

class ConfigSaveTest : public ConfigDialogTest {
 protected:
  // Installs and starts the stand-in checking service, which notes every
  // control it takes in $KESTRANE_HOME/controls.
  void StartChecker() {
    std::unique_ptr<ServiceManager> manager;
    ASSERT_EQ(ServiceManager::Open(kManagerConnect | kManagerCreateService, &manager), kErrorSuccess);
    ServiceConfig config;
    config.name = "Kestrane stat checker";
    config.image_path = std::string("\"") + KST_RELOAD_SERVICE + "\" -service";
    ASSERT_EQ(manager->CreateService(config, kServiceAllAccess, &checker_), kErrorSuccess);
    ASSERT_EQ(checker_->Start(), kErrorSuccess);
    ASSERT_TRUE(WaitForState(kServiceRunning));
  }
  // Stops it and gives the controls it took.
  std::string StopChecker() {
    EXPECT_EQ(checker_->Control(kServiceControlStop, nullptr), kErrorSuccess);
    EXPECT_TRUE(WaitForState(kServiceStopped));
    return ReadFile(HomePath("controls"));
  }
  bool WaitForState(uint32_t state) {
    ServiceStatus status;
    for (int i = 0; i < 1000; ++i) {
      if (checker_->QueryStatus(&status) == kErrorSuccess && status.current_state == state) return true;
      usleep(10000);
    }
    return false;
  }
  static void Answer(int button) {
    ui::testing::OnNextModal([button](ui::Dialog& d) { EXPECT_TRUE(ui::testing::driver().Click(*d.Child(button))); });
  }
  std::string List() { return ReadFile(HomePath("Profiles/_default_.cfg")); }

  std::unique_ptr<Service> checker_;
};

TEST_F(ConfigSaveTest, SaveAllAsksFirstThenSavesAndTellsTheChecker) {
  WriteProfiles();
  StartChecker();
  int result = Run([&](NotificationConfigDlg& d) {
    RightClick(*d.profileTree(), ProfileItem(d, "Spare"), kCmdActivate);
    Answer(ui::kIdCancel);
    ASSERT_TRUE(user().ChooseMenu(d, kCmdSaveAll));
    EXPECT_EQ(List(), "all:\nSpare\nOps\ndefault:\nOps\n");
    Answer(ui::kIdOk);
    RightClick(*d.profileTree(), d.profileTree()->Root(), kCmdSaveAll);
    EXPECT_EQ(List(), "all:\nSpare\nOps\ndefault:\nSpare\n");
    EXPECT_TRUE(d.running());
    EXPECT_NE(d.pane(), nullptr) << "the pane stays";
  });
  EXPECT_EQ(result, ui::kIdCancel);
  const auto& log = ui::testing::modal_log();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[0].template_id, 140);
  EXPECT_EQ(log[0].caption, "Warning system");
  EXPECT_EQ(Messages(), std::vector<std::string>{});
  EXPECT_EQ(StopChecker(), "129\n1\n");
}

TEST_F(ConfigSaveTest, CloseAsksWhetherToSave) {
  WriteProfiles();
  const std::string before = List();
  struct Case {
    const char* what;
    std::vector<int> answers;  // the exit question's, then the confirmation's
    bool closes;
    bool saves;
    bool rootGone = false;
  } cases[] = {
      {"No", {ui::kIdNo}, true, false},
      {"OK, then OK", {ui::kIdOk, ui::kIdOk}, true, true},
      {"OK, then Cancel", {ui::kIdOk, ui::kIdCancel}, false, false},
      {"Cancel", {ui::kIdCancel}, false, false},
      {"OK, then OK, the save fails", {ui::kIdOk, ui::kIdOk, ui::kIdOk}, false, false, true},
  };
  for (const Case& c : cases) {
    WriteFile(HomePath("Profiles/_default_.cfg"), before);
    profiles_.clear();
    bool stillRunning = false;
    int result = Run([&](NotificationConfigDlg& d) {
      ASSERT_TRUE(user().ChooseMenu(d, kCmdNewProfile));
      if (c.rootGone) SetRootDirectory(std::string(kWindowsInstallDir) + "\\gone");
      for (int answer : c.answers) Answer(answer);
      ASSERT_TRUE(user().ChooseMenu(d, kCmdClose));
      stillRunning = d.running();
      SetRootDirectory(std::string(kWindowsInstallDir));
    });
    EXPECT_EQ(stillRunning, !c.closes) << c.what;
    EXPECT_EQ(result, c.closes ? ui::kIdNo : ui::kIdCancel) << c.what;
    EXPECT_EQ(List() != before, c.saves) << c.what;
  }
}

TEST_F(ConfigSaveTest, OkSavesWithoutAskingAndReportsAFailure) {
  WriteProfiles();
  int result = Run([&](NotificationConfigDlg& d) {
    ASSERT_TRUE(user().ChooseMenu(d, kCmdNewProfile));
    ASSERT_TRUE(user().Click(*d.Child(ui::kIdOk)));
  });
  EXPECT_EQ(result, ui::kIdOk);
  EXPECT_EQ(List(), "all:\nSpare\nOps\nprofile1\ndefault:\nOps\n");
  EXPECT_EQ(Messages(), std::vector<std::string>{});

  // The root folder is gone: nothing can be saved, and the dialog stays
  // open with what it holds, on Save all and on OK, until a save succeeds.
  profiles_.clear();
  bool failed = false, failedAfterOk = false;
  result = Run([&](NotificationConfigDlg& d) {
    SetRootDirectory(std::string(kWindowsInstallDir) + "\\gone");
    Answer(ui::kIdOk);
    Answer(ui::kIdOk);  // the message
    ASSERT_TRUE(user().ChooseMenu(d, kCmdSaveAll));
    EXPECT_TRUE(d.running()) << "Save all stays open";
    failed = d.lastSaveFailed();
    Answer(ui::kIdOk);
    ASSERT_TRUE(user().Click(*d.Child(ui::kIdOk)));
    EXPECT_TRUE(d.running()) << "OK closed after a failed save";
    failedAfterOk = d.lastSaveFailed();
    SetRootDirectory(std::string(kWindowsInstallDir));
    ASSERT_TRUE(user().Click(*d.Child(ui::kIdOk)));
    EXPECT_FALSE(d.lastSaveFailed()) << "a save that succeeded";
  });
  EXPECT_EQ(result, ui::kIdOk);
  EXPECT_TRUE(failed);
  EXPECT_TRUE(failedAfterOk);
  EXPECT_EQ(Messages(), (std::vector<std::string>{"Saving operation not completed!", "Saving operation not completed!"}));
}

TEST_F(ConfigCommandsTest, AboutBoxFromMenuAndSystemMenu) {
  Run([&](NotificationConfigDlg& d) {
    ui::testing::AnswerNextMessageBox(ui::kIdOk);
    ui::testing::AnswerNextMessageBox(ui::kIdOk);
    ASSERT_TRUE(user().ChooseMenu(d, kCmdAbout));
    ASSERT_TRUE(user().ChooseSystemMenu(d, kCmdSystemAbout));
    EXPECT_TRUE(d.running());
  });
  const auto& log = ui::testing::modal_log();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].caption, "About KestraneAlerter");
  EXPECT_EQ(log[1].template_id, 100);
}

}  // namespace
}  // namespace kst
