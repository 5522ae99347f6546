// The configuration dialog on real windows, played by a person at a private
// virtual display: mouse and keys go through the X server into the dialog's
// own event loop. After a menu or a drop-down list, each dialog and message
// box must take the person's answer while the windows under it take none.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "KestraneAlerter/dialogs/notification_config_dlg_x11_testing.h"

namespace kst {
namespace {

using ui::testing::Person;

// Cancel keeps the dialog; No closes it unsaved. While the question is up,
// the dialog's own OK (which would save and close) takes no click.
TEST_F(ConfigDialogX11Test, FileCloseAnsweredCancelThenNo) {
  int result = Play([&](Person& person) {
    ASSERT_TRUE(person.WaitForWindow(kConfig)) << "the dialog never showed";
    ASSERT_TRUE(ClickItem(person, false, "Spare"));  // a pane of a profile without filters
    for (int answer : {ui::kIdCancel, kNo}) {
      FileClose(person);
      ASSERT_TRUE(WaitForDialog<CExitDialog>(person, kBox)) << "no \"Save changes?\" after File > Close";
      ASSERT_TRUE(person.Click(kConfig, {ui::kIdOk}));
      ASSERT_TRUE(person.Click(kBox, {answer})) << "the question's button " << answer << " is not on the screen";
      if (answer == ui::kIdCancel) {
        ASSERT_TRUE(person.WaitUntilGone(kBox)) << "the question stayed after Cancel";
        EXPECT_TRUE(ConfigRunning(person)) << "the dialog closed on Cancel";
      }
    }
  });
  EXPECT_EQ(result, kNo);
  EXPECT_EQ(ReadFile(HomePath("Profiles/Ops.cfg")), saved_) << "saved although the answer was No";
}

// "Add filter" from the root gate's context menu: the filter dialog (over
// the configuration dialog) refuses an empty value with a message box that
// takes the Return key, then takes a typed value and OK.
TEST_F(ConfigDialogX11Test, AddFilterByItsContextMenuTypedAndConfirmed) {
  int result = Play([&](Person& person) {
    ASSERT_TRUE(person.WaitForWindow(kConfig)) << "the dialog never showed";
    ASSERT_TRUE(ClickItem(person, true, "Gate", 3)) << "the root gate is not in the filter tree";
    for (int i = 0; i < 3; ++i) person.Key("Down");  // Switch off, Add logic gate, Add filter
    person.Key("Return");
    ASSERT_TRUE(WaitForDialog<CFilterSettingsDlg>(person, kConfig)) << "no filter dialog after Add filter";
    ASSERT_TRUE(person.Click(kConfig, {kPaneId, kFieldCombo})) << "the field list is not on the screen";
    person.Key("Down");  // "Analyzer title"
    person.Key("Return");
    ASSERT_TRUE(person.Click(kConfig, {ui::kIdOk}));
    ASSERT_TRUE(person.WaitForWindow(kBox)) << "no message for an empty value";
    ClickItem(person, false, "Spare");  // neither window under the box takes a click
    person.KeyWith("Alt_L", "f");       // nor a key of the menu bar (File > Close)
    for (int i = 0; i < 3; ++i) person.Key("Down");
    person.Key("Return");
    ASSERT_TRUE(person.WaitUntilGone(kBox)) << "the message stayed after Return";
    ASSERT_TRUE(WaitForDialog<CFilterSettingsDlg>(person, kConfig)) << "the filter dialog closed on a refused value";
    ASSERT_TRUE(person.Click(kConfig, {kPaneId, kValueEdit}));
    person.Type("cpu 2");
    ASSERT_TRUE(person.Click(kConfig, {ui::kIdOk}));
    ASSERT_TRUE(WaitForDialog<NotificationConfigDlg>(person, kConfig)) << "the filter dialog stayed after OK";
    ASSERT_TRUE(person.Click(kConfig, {ui::kIdCancel}));
  });
  EXPECT_EQ(result, ui::kIdCancel);
  const Gate& root = profiles_.findProfile("Ops")->rootGate;
  ASSERT_EQ(root.childCount(), 2);
  const auto* added = dynamic_cast<const Filter*>(root.childAt(1));
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(added->fieldType(), Filter::kAnalyzerTitle);
  EXPECT_EQ(added->pattern(), "cpu 2");
  EXPECT_EQ(MessageBoxTexts(), std::vector<std::string>{"You must input matching value."});
  for (const auto& shown : ui::testing::modal_log()) EXPECT_NE(shown.template_id, 6) << "File > Close under the message";
}

// A filter pane's error, raised on leaving the pane after its field list was
// opened, takes the click on its OK; meanwhile the profile under it can be
// neither selected nor deleted through its context menu.
TEST_F(ConfigDialogX11Test, PaneErrorAfterADropDownTakesTheClick) {
  int result = Play([&](Person& person) {
    ASSERT_TRUE(person.WaitForWindow(kConfig)) << "the dialog never showed";
    ASSERT_TRUE(ClickItem(person, true, "Filter")) << "no Filter item";
    ASSERT_TRUE(person.Click(kConfig, {kPaneId, kFieldCombo})) << "the filter pane's field list is not on the screen";
    person.Key("Down");
    person.Key("Down");  // "Warning level"
    person.Key("Return");
    ASSERT_TRUE(person.Click(kConfig, {kPaneId, kValueEdit}));
    person.Type("300");
    ASSERT_TRUE(ClickItem(person, false, "Spare"));
    ASSERT_TRUE(person.WaitForWindow(kBox)) << "no message for warning level 300";
    ClickItem(person, false, "Ops", 3);  // its context menu could delete the profile
    ASSERT_TRUE(person.Click(kBox, {ui::kIdOk})) << "the message's OK is not on the screen";
    ASSERT_TRUE(person.WaitUntilGone(kBox)) << "the message stayed after its OK";
    ASSERT_TRUE(person.Click(kConfig, {ui::kIdCancel}));
  });
  EXPECT_EQ(result, ui::kIdCancel);
  EXPECT_TRUE(ui::testing::popup_log().empty()) << "a context menu opened under the message";
  ASSERT_NE(profiles_.findProfile("Ops"), nullptr);
  EXPECT_EQ(MessageBoxTexts(), std::vector<std::string>{"Warning number must be less 256 and not less 0."});
  const auto* filter = dynamic_cast<const Filter*>(profiles_.findProfile("Ops")->rootGate.childAt(0));
  ASSERT_NE(filter, nullptr);
  EXPECT_EQ(filter->pattern(), "disk") << "the refused value reached the filter";
}

// A box the profile pane cannot store, cleared by the keys, is named in a
// message box when OK is pressed, and the dialog stays: an empty name would
// lose the profile list, an empty number box was refused without a word.
TEST_F(ConfigDialogX11Test, ProfilePaneNamesEachClearedBox) {
  {
    ProfileSet set;  // a time span, so that a cleared threshold stays empty
    ASSERT_EQ(set.load(), 0);
    set.findProfile("Ops")->timeSpan = 600;
    ASSERT_EQ(set.saveAllProfiles(), 0);
    saved_ = ReadFile(HomePath("Profiles/Ops.cfg"));
  }
  const std::pair<int, const char*> boxes[] = {{6101, "Ops"}, {6111, "0"}, {6121, "600"}, {6131, "0"}};
  int result = Play([&](Person& person) {
    ASSERT_TRUE(person.WaitForWindow(kConfig)) << "the dialog never showed";
    for (auto [box, text] : boxes) {
      ASSERT_TRUE(person.Click(kConfig, {kPaneId, box})) << "box " << box << " is not on the screen";
      person.Key("End");
      person.Key("Home", true);
      person.Key("BackSpace");
      ASSERT_TRUE(person.Click(kConfig, {ui::kIdOk}));
      ASSERT_TRUE(person.WaitForWindow(kBox)) << "no message for the cleared box " << box;
      person.Key("Return");
      ASSERT_TRUE(person.WaitUntilGone(kBox)) << "the message stayed after Return";
      ASSERT_TRUE(person.Click(kConfig, {kPaneId, box}));
      person.Type(text);
    }
    ASSERT_TRUE(person.Click(kConfig, {ui::kIdCancel}));
  });
  EXPECT_EQ(result, ui::kIdCancel);
  EXPECT_EQ(MessageBoxTexts(), (std::vector<std::string>{"You must input profile name.",
                                                         "Invalid value in \"Alert threshold\" box.",
                                                         "Invalid value in \"Time span\" box.",
                                                         "Invalid value in \"Minimal wait time\" box."}));
  EXPECT_EQ(ReadFile(HomePath("Profiles/Ops.cfg")), saved_);
  EXPECT_FALSE(std::filesystem::exists(HomePath("Profiles/.cfg")));
}

// A pattern typed with a leading blank would lose it in the profile file
// and match more than was typed: the filter pane refuses it on OK.
TEST_F(ConfigDialogX11Test, FilterPaneRefusesALeadingBlank) {
  int result = Play([&](Person& person) {
    ASSERT_TRUE(person.WaitForWindow(kConfig)) << "the dialog never showed";
    ASSERT_TRUE(ClickItem(person, true, "Filter")) << "no Filter item";
    ASSERT_TRUE(person.Click(kConfig, {kPaneId, kValueEdit})) << "the filter pane's value is not on the screen";
    person.Key("Home");
    person.Type(" ");
    ASSERT_TRUE(person.Click(kConfig, {ui::kIdOk}));
    ASSERT_TRUE(person.WaitForWindow(kBox)) << "no message for the pattern \" disk\"";
    person.Key("Return");
    ASSERT_TRUE(person.WaitUntilGone(kBox)) << "the message stayed after Return";
    ASSERT_TRUE(person.Click(kConfig, {ui::kIdCancel}));
  });
  EXPECT_EQ(result, ui::kIdCancel);
  EXPECT_EQ(MessageBoxTexts(), std::vector<std::string>{"Matching value must not begin with blanks."});
  EXPECT_EQ(ReadFile(HomePath("Profiles/Ops.cfg")), saved_);
}

// `kstctl notifications` at the display: the dialog comes up in kstctl's
// own process, from the alerter library, and Escape closes it unsaved.
TEST_F(ConfigDialogX11Test, KstctlNotificationsOpensTheDialog) {
  auto [status, output] = KstctlNotifications("", [&](Person& person) {
    person.ClickAt(kProfileTreeSpace);  // for the focus
    person.Key("Escape");
    EXPECT_TRUE(person.WaitUntilGone(kConfig)) << "the dialog stayed after Escape";
  });
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status << "\n" << output;
  EXPECT_EQ(output, "");
  EXPECT_EQ(ReadFile(HomePath("Profiles/Ops.cfg")), saved_);
}

// A user who may not write the Profiles folder presses OK: the save fails
// whole, says so and keeps the dialog; the profile list still names what
// the files hold; kstctl, closed after that, says so and exits with 1.
TEST_F(ConfigDialogX11Test, KstctlNotificationsSaysWhenTheSaveFailed) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root can run the dialog as the user nobody";
  const std::string list = "all:\r\nSpare\r\nOps\r\ndefault:\r\nOps\r\n";  // as another writer left it
  WriteFile(HomePath("Profiles/_default_.cfg"), list);
  const std::string own = HomePath("nobody");  // what the user keeps: the font caches
  std::filesystem::create_directory(own);
  namespace fs = std::filesystem;
  fs::permissions(home_, fs::perms::all & ~(fs::perms::group_write | fs::perms::others_write));
  fs::permissions(own, fs::perms::all);
  fs::permissions(HomePath("Profiles/_default_.cfg"), fs::perms::all & ~(fs::perms::owner_exec | fs::perms::group_exec |
                                                                           fs::perms::others_exec));
  fs::permissions(HomePath("Profiles"), fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                            fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
  const std::vector<std::string> before = Entries(HomePath("Profiles"));
  const std::string as = "setpriv --reuid=nobody --regid=nogroup --clear-groups env HOME=" + own +
                         " XDG_CONFIG_HOME=" + own + " XDG_CACHE_HOME=" + own;
  auto [status, output] = KstctlNotifications(as, [&](Person& person) {
    person.ClickAt(kProfileTreeSpace);  // for the focus: Return presses OK
    person.Key("Return");
    EXPECT_TRUE(person.WaitForWindow(kBox)) << "no \"Saving operation not completed!\"";
    person.Key("Return");
    EXPECT_TRUE(person.WaitUntilGone(kBox)) << "the message stayed after Return";
    EXPECT_EQ(person.Leftovers(), std::vector<std::string>{"window \"User notification\" still shown"})
        << "the dialog closed after a failed save";
    person.Key("Escape");
    EXPECT_TRUE(person.WaitUntilGone(kConfig)) << "the dialog stayed after Escape";
  });
  fs::permissions(HomePath("Profiles"), fs::perms::owner_write, fs::perm_options::add);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "status " << status << "\n" << output;
  EXPECT_EQ(output, "kstctl notifications: the profiles were not saved: the last save in the dialog failed\n");
  EXPECT_EQ(ReadFile(HomePath("Profiles/_default_.cfg")), list);
  EXPECT_EQ(ReadFile(HomePath("Profiles/Ops.cfg")), saved_);
  EXPECT_EQ(Entries(HomePath("Profiles")), before);
}

// Return presses the push button that has the focus: Cancel leaves the
// renamed profile unsaved; the default OK answers only where the focus is on
// no button.
TEST_F(ConfigDialogX11Test, ReturnPressesTheFocusedCancel) {
  int result = Play([&](Person& person) {
    ASSERT_TRUE(person.Click(kConfig, {kPaneId, kProfileNameEdit})) << "the profile pane is not on the screen";
    person.Type("X");
    ASSERT_TRUE(person.TabTo(kConfig, {ui::kIdCancel})) << "Tab never reached Cancel";
    person.Key("Return");
  });
  EXPECT_EQ(result, ui::kIdCancel);
  EXPECT_EQ(ReadFile(HomePath("Profiles/Ops.cfg")), saved_);
  EXPECT_FALSE(std::filesystem::exists(HomePath("Profiles/OpsX.cfg"))) << "saved on Return with the focus on Cancel";
}

TEST_F(ConfigDialogX11Test, ReturnPressesTheFocusedNo) {
  int result = Play([&](Person& person) {
    ASSERT_TRUE(person.Click(kConfig, {kPaneId, kProfileNameEdit})) << "the profile pane is not on the screen";
    person.Type("X");
    FileClose(person);
    ASSERT_TRUE(WaitForDialog<CExitDialog>(person, kBox)) << "no \"Save changes?\" after File > Close";
    ASSERT_TRUE(person.TabTo(kBox, {kNo})) << "Tab never reached No";
    person.Key("Return");
  });
  EXPECT_EQ(result, kNo);
  EXPECT_EQ(ReadFile(HomePath("Profiles/Ops.cfg")), saved_);
  EXPECT_FALSE(std::filesystem::exists(HomePath("Profiles/OpsX.cfg"))) << "saved on Return with the focus on No";
  for (const auto& shown : ui::testing::modal_log()) EXPECT_NE(shown.template_id, 140) << "confirmation after No";
}

// A click on a context menu's submenu title opens the submenu, and a click
// on one of its items performs it: a gate under the root gate, a mail
// notification under a profile.
TEST_F(ConfigDialogX11Test, ClickOnASubmenuTitleOpensIt) {
  int result = Play([&](Person& person) {
    ASSERT_TRUE(person.WaitForWindow(kConfig)) << "the dialog never showed";
    ASSERT_TRUE(ClickItem(person, true, "Gate", 3)) << "the root gate is not in the filter tree";
    // Switch on, Switch off, Add logic gate, Add filter; then AND, OR, NOT.
    ASSERT_TRUE(person.ClickMenuItem(0, 2, 4)) << "no context menu on the root gate";
    ASSERT_TRUE(person.ClickMenuItem(1, 0, 3)) << "no submenu after a click on \"Add logic gate\"";
    ASSERT_TRUE(ClickItem(person, false, "Spare", 3));
    // Select, Activate, Delete, Add notification; then mail, program, net send.
    ASSERT_TRUE(person.ClickMenuItem(0, 3, 4)) << "no context menu on a profile";
    ASSERT_TRUE(person.ClickMenuItem(1, 0, 3)) << "no submenu after a click on \"Add notification\"";
    ASSERT_TRUE(person.Click(kConfig, {ui::kIdCancel}));
  });
  EXPECT_EQ(result, ui::kIdCancel);
  const Gate& root = profiles_.findProfile("Ops")->rootGate;
  ASSERT_EQ(root.childCount(), 2);
  const auto* added = dynamic_cast<const Gate*>(root.childAt(1));
  ASSERT_NE(added, nullptr) << "no gate added";
  EXPECT_EQ(added->gateType(), 1);
  EXPECT_EQ(profiles_.findProfile("Spare")->deliverySettings.size(), 1u) << "no notification added";
}

// A text field longer than a profile file's line (998 characters) would be
// read back cut, its rest taken as the next line, and every field and
// transporter after it shifted or lost: the pane names the box on OK, and
// the dialog stays. One character less is saved and read back whole.
TEST_F(ConfigDialogX11Test, TransporterTextFieldsHoldWhatTheFileHolds) {
  AddMail("Ops");
  {
    ProfileSet set;
    ASSERT_EQ(set.load(), 0);
    auto net = std::make_unique<NetSendDeliverySettings>("desk");
    net->destination = "ops";
    set.findProfile("Ops")->deliverySettings.push_back(std::move(net));
    ASSERT_EQ(set.saveAllProfiles(), 0);
  }
  constexpr int kTextField = 6203;  // the first: "Mail to:"
  int result = Play([&](Person& person) {
    ASSERT_TRUE(Expand(person, "Ops"));
    ASSERT_TRUE(ClickItem(person, false, "mail")) << "no transporter mail";
    ASSERT_TRUE(person.Ask([&] {
      ui::testing::RunningDialog(kConfig)->Child(kPaneId)->Child(kTextField)->SetText(std::string(997, 'a'));
    }));
    ASSERT_TRUE(person.Click(kConfig, {kPaneId, kTextField}));
    person.Key("End");
    person.Type("bc");
    ASSERT_TRUE(person.Click(kConfig, {ui::kIdOk}));
    ASSERT_TRUE(person.WaitForWindow(kBox)) << "no message for 999 characters";
    person.Key("Return");
    ASSERT_TRUE(person.WaitUntilGone(kBox)) << "the message stayed after Return";
    ASSERT_TRUE(ConfigRunning(person)) << "the dialog closed on a refused value";
    ASSERT_TRUE(person.Click(kConfig, {kPaneId, kTextField}));
    person.Key("End");
    person.Key("BackSpace");
    ASSERT_TRUE(person.Click(kConfig, {ui::kIdOk}));
  });
  EXPECT_EQ(result, ui::kIdOk);
  EXPECT_EQ(MessageBoxTexts(), std::vector<std::string>{"Invalid value in \"Mail to\" box: at most 998 characters."});
  ProfileSet saved;
  ASSERT_EQ(saved.load(), 0);
  const auto& transporters = saved.findProfile("Ops")->deliverySettings;
  ASSERT_EQ(transporters.size(), 2u);
  const auto* mail = dynamic_cast<const MailDeliverySettings*>(transporters[0].get());
  ASSERT_NE(mail, nullptr);
  EXPECT_EQ(mail->recipient, std::string(997, 'a') + "b");
  EXPECT_EQ(mail->sender, "");
  const auto* net = dynamic_cast<const NetSendDeliverySettings*>(transporters[1].get());
  ASSERT_NE(net, nullptr) << "the transporter after it was lost";
  EXPECT_EQ(net->destination, "ops");
}

// The menu bar without the mouse: Alt with a title's letter opens that
// menu, whatever control has the keys; F10 enters the bar; the arrows move
// through it, Return chooses and Escape leaves it, the dialog still open.
TEST_F(ConfigDialogX11Test, MenuBarByTheKeyboard) {
  AddMail("Spare");
  int result = Play([&](Person& person) {
    ASSERT_TRUE(ClickItem(person, false, "Spare"));
    ASSERT_TRUE(person.Click(kConfig, {kPaneId, kProfileNameEdit})) << "the profile pane is not on the screen";
    person.Key("F10");  // File, then Help and back to Profile
    for (const char* key : {"Right", "Right", "Left", "Down"}) person.Key(key);  // Activate
    person.Key("Return");
    person.KeyWith("Alt_L", "p");
    person.Key("Escape");
    ASSERT_TRUE(ConfigRunning(person)) << "Escape in the menu bar closed the dialog";
    std::string typed;
    person.Ask([&] { typed = ui::testing::RunningDialog(kConfig)->Child(kPaneId)->Child(kProfileNameEdit)->Text(); });
    EXPECT_EQ(typed, "Spare") << "a menu key reached the edit box";
    ASSERT_TRUE(Expand(person, "Spare"));
    ASSERT_TRUE(ClickItem(person, false, "mail")) << "no transporter mail";  // "Profile" greyed
    person.KeyWith("Alt_L", "p");
    EXPECT_EQ(person.Leftovers(), std::vector<std::string>{"window \"User notification\" still shown"})
        << "Alt+P opened the greyed \"Profile\"";
    person.KeyWith("Alt_L", "f");
    for (int i = 0; i < 3; ++i) person.Key("Down");  // New profile, Save all, Close
    person.Key("Return");
    ASSERT_TRUE(WaitForDialog<CExitDialog>(person, kBox)) << "no \"Save changes?\" after Alt+F, Close";
    ASSERT_TRUE(person.Click(kBox, {kNo}));
  });
  EXPECT_EQ(result, kNo);
  ASSERT_NE(profiles_.defaultProfile(), nullptr);
  EXPECT_EQ(profiles_.defaultProfile()->name, "Spare") << "F10, Right, Right, Left, Down, Return did not activate";
  EXPECT_EQ(profiles_.profileCount(), 2) << "a menu item other than the one chosen ran";
}

// An address typed as people type it is taken; what is not one address is
// named in a message box on OK, and the dialog stays until it is mended.
TEST_F(ConfigDialogX11Test, MailPaneRefusesWhatIsNotOneAddress) {
  {
    ProfileSet set;
    set.load();
    auto mail = std::make_unique<MailDeliverySettings>("mail");
    mail->recipient = "root@localhost";
    set.findProfile("Spare")->deliverySettings.push_back(std::move(mail));
    ASSERT_EQ(set.saveAllProfiles(), 0);
  }
  int result = Play([&](Person& person) {
    ASSERT_TRUE(person.WaitForWindow(kConfig)) << "the dialog never showed";
    ASSERT_TRUE(person.Ask([&] {
      ui::TreeCtrl& tree = *dialog_.profileTree();
      for (ui::TreeItem item : tree.VisibleItems()) {
        if (tree.ItemText(item) == "Spare") tree.Expand(item, ui::ExpandCode::kExpand);
      }
    }));
    ASSERT_TRUE(ClickItem(person, false, "mail")) << "no transporter mail";
    ASSERT_TRUE(person.Click(kConfig, {kPaneId, 6203})) << "the \"Mail to:\" box is not on the screen";
    person.Key("End");
    person.Key("comma");
    person.Type(" night");
    ASSERT_TRUE(person.Click(kConfig, {ui::kIdOk}));
    ASSERT_TRUE(person.WaitForWindow(kBox)) << "no message for two addresses";
    person.Key("Return");
    ASSERT_TRUE(person.WaitUntilGone(kBox)) << "the message stayed after Return";
    ASSERT_TRUE(person.Click(kConfig, {kPaneId, 6203}));
    person.Key("End");
    person.Key("Home", true);
    // " Admin <root> ", as the keys of a US keyboard give it.
    person.Type(" Admin ");
    person.Key("comma", true);
    person.Type("root");
    person.Key("period", true);
    person.Type(" ");
    ASSERT_TRUE(person.Click(kConfig, {ui::kIdOk}));
  });
  EXPECT_EQ(result, ui::kIdOk);
  EXPECT_EQ(MessageBoxTexts(), std::vector<std::string>{"The address in \"Mail to:\" box holds \",\"."});
  EXPECT_NE(ReadFile(HomePath("Profiles/Spare.cfg")).find("\n Admin <root> \n"), std::string::npos)
      << ReadFile(HomePath("Profiles/Spare.cfg"));
}

}  // namespace
}  // namespace kst
