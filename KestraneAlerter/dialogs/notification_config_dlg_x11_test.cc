// The configuration dialog on real windows, played by a person at a private
// virtual display: mouse and keys go through the X server into the dialog's
// own event loop. After a menu or a drop-down list, each dialog and message
// box must take the person's answer while the windows under it take none.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>

#include "KestraneAlerter/alerter_testing.h"
#include "KestraneAlerter/dialogs/exit_dialog.h"
#include "KestraneAlerter/dialogs/filter_dialog.h"
#include "KestraneAlerter/dialogs/notification_config_dlg.h"
#include "KestraneAlerter/dialogs/settings_pane.h"
#include "KestraneAlerter/profile_set.h"
#include "platform/ui/testing.h"
#include "platform/ui/ui.h"
#include "platform/ui/xtest_testutil.h"
#include "platform/ui/xvfb_testutil.h"

// The real-window helpers' suppressions for the font libraries.
extern "C" const char* __lsan_default_suppressions();

namespace kst {
namespace {

using ui::testing::Person;

constexpr const char* kConfig = "User notification";
constexpr const char* kBox = "Warning system";  // the exit question, the confirmation, the panes' messages
constexpr int kFieldCombo = 32835;
constexpr int kValueEdit = 32839;
constexpr int kNo = 7;

class ConfigDialogX11Test : public AlerterTest {
 protected:
  void SetUp() override {
    if (!ui::testing::StartVirtualDisplay()) FAIL() << "Xvfb cannot be started (scripts/packages.txt installs it)";
    AlerterTest::SetUp();
    ASSERT_TRUE(ui::testing::UseBackend("fltk"));
    ui::testing::Reset();
    previous_ = ui::SetCurrentResources(&ui::AlerterResources());
    // "Ops" (the default) with the filter tree AND(Filter "disk"); "Spare".
    ProfileSet set;
    set.addProfile("Spare");
    set.addProfile("Ops");
    set.findProfile("Ops")->rootGate.addChild(
        new Filter(Filter::kLogTitle, Filter::kContains, std::string("disk")));
    ASSERT_TRUE(set.findProfile("Ops")->rootGate.switchOn());
    set.setDefaultProfile("Ops");
    ASSERT_EQ(set.saveAllProfiles(), 0);
    saved_ = ReadFile(HomePath("Profiles/Ops.cfg"));
  }
  void TearDown() override {
    ui::SetCurrentResources(previous_);
    AlerterTest::TearDown();
  }

  // Runs the dialog in its real event loop while the person plays.
  int Play(const std::function<void(Person&)>& script) {
    int result = 0;
    ui::testing::PlayAgainst([&] { result = dialog_.DoModal(); }, script);
    return result;
  }

  // The screen point of a tree item's label (UI thread).
  static ui::Point ItemPoint(ui::TreeCtrl& tree, ui::TreeItem item) {
    ui::Rect where, icon, label;
    if (!ui::testing::ScreenRect(tree, &where) || !tree.ItemGeometry(item, &icon, &label)) return {-1, -1};
    ui::Point off = tree.ClientOffset();
    return {where.left + off.x + (label.left + label.right) / 2, where.top + off.y + (label.top + label.bottom) / 2};
  }
  bool ClickItem(Person& person, bool filter_tree, const std::string& text, int button = 1) {
    ui::Point at{-1, -1};
    person.Ask([&] {
      ui::TreeCtrl& tree = filter_tree ? *dialog_.filterTree() : *dialog_.profileTree();
      for (ui::TreeItem item : tree.VisibleItems()) {
        if (tree.ItemText(item) == text) {
          at = ItemPoint(tree, item);
          break;
        }
      }
    });
    if (at.x < 0) return false;
    person.ClickAt(at, button);
    return true;
  }
  // File > Close, by the mouse on the bar and the keys in the menu.
  void FileClose(Person& person) {
    ui::Rect window;
    ASSERT_TRUE(person.Where(kConfig, {}, &window)) << "the dialog is not on the screen";
    person.ClickAt({window.left + 16, window.top + 10});
    for (int i = 0; i < 3; ++i) person.Key("Down");  // New profile, Save all, Close
    person.Key("Return");
  }
  // True when the newest running dialog with that caption is of class T.
  template <class T>
  bool WaitForDialog(Person& person, const char* caption) {
    for (int i = 0; i < 100; ++i) {
      bool found = false;
      person.Ask([&] { found = dynamic_cast<T*>(ui::testing::RunningDialog(caption)) != nullptr; });
      if (found) return true;
      person.Settle();
    }
    return false;
  }
  static std::vector<std::string> MessageBoxTexts() {
    std::vector<std::string> texts;
    for (const auto& record : ui::testing::modal_log()) {
      if (record.message_box) texts.push_back(record.text);
    }
    return texts;
  }
  bool ConfigRunning(Person& person) {
    bool running = false;
    person.Ask([&] { running = dialog_.running(); });
    return running;
  }

  ProfileSet profiles_;
  NotificationConfigDlg dialog_{&profiles_, nullptr};
  std::string saved_;
  const ui::Resources* previous_ = nullptr;
};

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
  const char* bin = std::getenv("KST_BIN_DIR");
  ASSERT_NE(bin, nullptr) << "KST_BIN_DIR names the built programs";
  // kstctl keeps the font libraries' caches as this program does, so a leak
  // checker is told the same suppressions.
  const std::string suppressions = HomePath("leak-suppressions.txt");
  WriteFile(suppressions, __lsan_default_suppressions());
  // Bounded: a dialog that never shows is ended by timeout.
  const std::string command = "LSAN_OPTIONS=\"${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=" + suppressions +
                              ":print_suppressions=0\" timeout 60 '" + std::string(bin) + "/kstctl' notifications 2>&1";
  FILE* kstctl = ::popen(command.c_str(), "r");
  ASSERT_NE(kstctl, nullptr);
  {
    std::atomic<bool> no_loop_here{true};
    Person person(&no_loop_here);
    EXPECT_TRUE(person.connected() && person.WaitForWindow(kConfig))
        << "kstctl notifications showed no \"User notification\"";
    if (person.connected()) {
      person.ClickAt({200 + 60, 130 + 250});  // the profile tree's empty part, for the focus
      person.Key("Escape");
      EXPECT_TRUE(person.WaitUntilGone(kConfig)) << "the dialog stayed after Escape";
    }
  }
  std::string output;
  char buffer[512];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, kstctl)) > 0;) output.append(buffer, n);
  const int status = ::pclose(kstctl);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status << "\n" << output;
  EXPECT_EQ(output, "");
  EXPECT_EQ(ReadFile(HomePath("Profiles/Ops.cfg")), saved_);
}

constexpr int kProfileNameEdit = 6101;

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

// Every text of every pane, of each filter field type, and of the filter
// dialog fits its control as drawn with the real font.
TEST_F(ConfigDialogX11Test, EveryPaneTextFits) {
  {
    ProfileSet set;
    set.load();
    auto& spare = set.findProfile("Spare")->deliverySettings;
    spare.push_back(std::make_unique<MailDeliverySettings>("mail"));
    spare.push_back(std::make_unique<NetSendDeliverySettings>("net"));
    spare.push_back(std::make_unique<ShellDeliverySettings>("program"));
    ASSERT_EQ(set.saveAllProfiles(), 0);
  }
  std::vector<std::string> cut;
  int worst = 1000;
  auto collect = [&](Person& person, const std::string& where) {
    person.Ask([&] {
      ui::Dialog* shown = ui::testing::RunningDialog(kConfig);
      if (shown != nullptr) ui::testing::CollectCutTexts(*shown, where, &cut, &worst);
    });
  };
  // Each field type in turn, from "Log title" down the list.
  auto every_field = [&](Person& person, const std::string& where) {
    collect(person, where + " field 0");
    for (int field = 1; field < 6; ++field) {
      ASSERT_TRUE(person.Click(kConfig, {kPaneId, kFieldCombo})) << where << ": no field list";
      person.Key("Down");
      person.Key("Return");
      collect(person, where + " field " + std::to_string(field));
    }
  };
  int result = Play([&](Person& person) {
    ASSERT_TRUE(person.WaitForWindow(kConfig)) << "the dialog never showed";
    collect(person, "profile pane");
    ASSERT_TRUE(person.Ask([&] {
      ui::TreeCtrl& tree = *dialog_.profileTree();
      for (ui::TreeItem item : tree.VisibleItems()) {
        if (tree.ItemText(item) == "Spare") tree.Expand(item, ui::ExpandCode::kExpand);
      }
    }));
    for (const char* transporter : {"mail", "net", "program"}) {
      ASSERT_TRUE(ClickItem(person, false, transporter)) << "no transporter " << transporter;
      collect(person, std::string(transporter) + " pane");
    }
    ASSERT_TRUE(ClickItem(person, false, "Ops"));
    ASSERT_TRUE(ClickItem(person, true, "Filter")) << "no Filter item";
    every_field(person, "filter pane");
    ASSERT_TRUE(ClickItem(person, true, "Gate", 3)) << "the root gate is not in the filter tree";
    ASSERT_TRUE(person.ClickMenuItem(0, 3, 4)) << "no context menu on the root gate";
    ASSERT_TRUE(WaitForDialog<CFilterSettingsDlg>(person, kConfig)) << "no filter dialog after Add filter";
    every_field(person, "filter dialog");
    ASSERT_TRUE(person.Click(kConfig, {ui::kIdCancel}));
    ASSERT_TRUE(WaitForDialog<NotificationConfigDlg>(person, kConfig)) << "the filter dialog stayed after Cancel";
    ASSERT_TRUE(person.Click(kConfig, {ui::kIdCancel}));
  });
  EXPECT_EQ(result, ui::kIdCancel);
  EXPECT_EQ(cut, std::vector<std::string>{});
  std::printf("least room to spare: %d px\n", worst);
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
