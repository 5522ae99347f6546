// What the configuration dialog's tests share: a private installation with
// profiles on disk, the headless back end with the alerter's resources, a
// scripted modal run of the dialog, and look-ups of its tree items.
#ifndef KESTRANE_ALERTER_DIALOGS_NOTIFICATION_CONFIG_DLG_TESTING_H_
#define KESTRANE_ALERTER_DIALOGS_NOTIFICATION_CONFIG_DLG_TESTING_H_

#include <functional>
#include <string>
#include <vector>

#include "KestraneAlerter/alerter_testing.h"
#include "KestraneAlerter/dialogs/notification_config_dlg.h"
#include "KestraneAlerter/profile_set.h"
#include "platform/ui/testing.h"
#include "platform/ui/ui.h"

namespace kst {

class ConfigDialogTest : public AlerterTest {
 protected:
  void SetUp() override {
    AlerterTest::SetUp();
    ASSERT_TRUE(ui::testing::UseBackend("headless"));
    ui::testing::Reset();
    previous_ = ui::SetCurrentResources(&ui::AlerterResources());
  }
  void TearDown() override {
    ui::SetCurrentResources(previous_);
    AlerterTest::TearDown();
  }

  ui::Driver& user() { return ui::testing::driver(); }

  // Profiles on disk: "Ops" (default) with a mail, a program and a net
  // send transporter and the filter tree AND(Filter, OR(Filter, Filter),
  // NOT(Filter)), all on; "Spare" with nothing.
  static void WriteProfiles() {
    ProfileSet set;
    set.addProfile("Spare");
    set.addProfile("Ops");
    Profile* ops = set.findProfile("Ops");
    ops->deliverySettings.push_back(std::make_unique<MailDeliverySettings>("mail"));
    ops->deliverySettings.push_back(std::make_unique<ShellDeliverySettings>("run"));
    ops->deliverySettings.push_back(std::make_unique<NetSendDeliverySettings>("send"));
    Gate& root = ops->rootGate;
    root.addChild(new Filter(Filter::kLogTitle, Filter::kContains, std::string("disk")));
    auto* anyOf = new Gate(Gate::kOr);
    root.addChild(anyOf);
    anyOf->addChild(new Filter(Filter::kWarningLevel, Filter::kMore, int64_t{50}));
    anyOf->addChild(new Filter(Filter::kAnalyzerTitle, Filter::kEqual, std::string("cpu")));
    auto* none = new Gate(Gate::kNot);
    root.addChild(none);
    none->addChild(new Filter(Filter::kDescription, Filter::kContains, std::string("test")));
    ASSERT_TRUE(root.switchOn());
    set.setDefaultProfile("Ops");
    ASSERT_EQ(set.saveAllProfiles(), 0);
  }

  // Runs the dialog modally over profiles_; `body` plays the user while it
  // is shown. Returns the dialog's result.
  int Run(const std::function<void(NotificationConfigDlg&)>& body) {
    NotificationConfigDlg dialog(&profiles_, nullptr);
    ui::testing::OnNextModal([&](ui::Dialog&) { body(dialog); });
    return dialog.DoModal();
  }

  static ui::TreeItem Child(const ui::TreeCtrl& tree, ui::TreeItem parent, const std::string& text) {
    for (ui::TreeItem item = parent == ui::kNoItem ? tree.Root() : tree.FirstChild(parent); item != ui::kNoItem;
         item = tree.NextSibling(item)) {
      if (tree.ItemText(item) == text) return item;
    }
    return ui::kNoItem;
  }
  static ui::TreeItem ProfileItem(const NotificationConfigDlg& d, const std::string& name) {
    return Child(*d.profileTree(), d.profileTree()->Root(), name);
  }
  static ui::TreeItem TransporterItem(const NotificationConfigDlg& d, const std::string& profile,
                                      const std::string& name) {
    return Child(*d.profileTree(), ProfileItem(d, profile), name);
  }
  // The filter-tree item at child positions below the root gate's item.
  static ui::TreeItem FilterItem(const NotificationConfigDlg& d, const std::vector<int>& path) {
    const ui::TreeCtrl& tree = *d.filterTree();
    ui::TreeItem item = tree.Root();
    for (int index : path) {
      item = tree.FirstChild(item);
      for (int i = 0; i < index; ++i) item = tree.NextSibling(item);
    }
    return item;
  }
  static int Image(const ui::TreeCtrl& tree, ui::TreeItem item) {
    int image = -1, selected = -2;
    tree.ItemImage(item, &image, &selected);
    EXPECT_EQ(image, selected) << tree.ItemText(item);
    return image;
  }
  static std::vector<std::string> Texts(const ui::TreeCtrl& tree, ui::TreeItem parent) {
    std::vector<std::string> texts;
    for (ui::TreeItem item = tree.FirstChild(parent); item != ui::kNoItem; item = tree.NextSibling(item)) {
      texts.push_back(tree.ItemText(item));
    }
    return texts;
  }

  // Right-clicks the item, which must show a menu, and picks `command`
  // from it (0 dismisses it); returns the menu as shown.
  ui::Menu RightClick(ui::TreeCtrl& tree, ui::TreeItem item, int command = 0) {
    size_t before = ui::testing::popup_log().size();
    ui::testing::QueuePopupChoice(command);
    EXPECT_TRUE(user().ClickItem(tree, item, true));
    const auto& log = ui::testing::popup_log();
    if (log.size() == before) {
      ADD_FAILURE() << "no menu for " << tree.ItemText(item);
      return ui::Menu();
    }
    EXPECT_EQ(log.back().command, command) << "not choosable";
    return log.back().menu;
  }
  static int ProfileMenuState(NotificationConfigDlg& d) {
    return d.menu_bar()->ItemState(1, ui::By::kPosition);
  }

  // Message boxes shown so far.
  static std::vector<std::string> Messages() {
    std::vector<std::string> texts;
    for (const auto& record : ui::testing::modal_log()) {
      if (record.message_box) texts.push_back(record.text);
    }
    return texts;
  }

  ProfileSet profiles_;
  const ui::Resources* previous_ = nullptr;
};

}  // namespace kst

#endif  // KESTRANE_ALERTER_DIALOGS_NOTIFICATION_CONFIG_DLG_TESTING_H_
