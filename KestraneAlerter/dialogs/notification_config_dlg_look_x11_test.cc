// The configuration dialog's panes on real windows, as a person sees them:
// every text fits its control, and labels keep their look while the person
// types.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "KestraneAlerter/dialogs/notification_config_dlg_x11_testing.h"

namespace kst {
namespace {

using ui::testing::Person;

// Typing in an edit box of a pane or of the filter dialog repaints the
// pane: each label is drawn again over its own background, not over its
// old self (which would look bold and smeared).
TEST_F(ConfigDialogX11Test, LabelsLookTheSameAfterTyping) {
  AddMail("Ops");
  struct Case {
    const char* where;
    std::vector<int> label, edit;
  };
  const Case profile{"profile pane", {kPaneId, 6113}, {kPaneId, kProfileNameEdit}};
  const Case mail{"mail pane", {kPaneId, 6213}, {kPaneId, 6203}};
  const Case filter{"filter dialog", {kPaneId, 65535}, {kPaneId, kValueEdit}};
  std::vector<std::string> smeared;
  auto type_and_compare = [&](Person& person, const Case& c) {
    std::vector<uint8_t> before = Pixels(person, c.label);
    ASSERT_FALSE(before.empty()) << c.where << ": the label is not on the screen";
    ASSERT_TRUE(person.Click(kConfig, c.edit)) << c.where << ": the edit box is not on the screen";
    person.Type("abc");
    person.Key("BackSpace");
    if (Pixels(person, c.label) != before) smeared.push_back(c.where);
  };
  int result = Play([&](Person& person) {
    ASSERT_TRUE(person.WaitForWindow(kConfig)) << "the dialog never showed";
    ASSERT_TRUE(Expand(person, "Ops"));
    ASSERT_TRUE(ClickItem(person, false, "mail")) << "no transporter mail";
    type_and_compare(person, mail);
    ASSERT_TRUE(ClickItem(person, false, "Ops"));
    type_and_compare(person, profile);
    ASSERT_TRUE(ClickItem(person, true, "Gate", 3)) << "the root gate is not in the filter tree";
    ASSERT_TRUE(person.ClickMenuItem(0, 3, 4)) << "no context menu on the root gate";
    ASSERT_TRUE(WaitForDialog<CFilterSettingsDlg>(person, kConfig)) << "no filter dialog after Add filter";
    type_and_compare(person, filter);
    ASSERT_TRUE(person.Click(kConfig, {ui::kIdCancel}));
    ASSERT_TRUE(WaitForDialog<NotificationConfigDlg>(person, kConfig)) << "the filter dialog stayed after Cancel";
    ASSERT_TRUE(person.Click(kConfig, {ui::kIdCancel}));
  });
  EXPECT_EQ(result, ui::kIdCancel);
  EXPECT_EQ(smeared, std::vector<std::string>{});
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

}  // namespace
}  // namespace kst
