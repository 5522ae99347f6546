// What the configuration dialog's real-window tests share: the dialog over
// profiles on disk, run in its real event loop at a private virtual display
// while a person plays, and `kstctl notifications` played the same way.
#ifndef KESTRANE_ALERTER_DIALOGS_NOTIFICATION_CONFIG_DLG_X11_TESTING_H_
#define KESTRANE_ALERTER_DIALOGS_NOTIFICATION_CONFIG_DLG_X11_TESTING_H_

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

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

inline constexpr const char* kConfig = "User notification";
inline constexpr const char* kBox = "Warning system";  // the exit question, the confirmation, the panes' messages
inline constexpr int kFieldCombo = 32835;
inline constexpr int kValueEdit = 32839;
inline constexpr int kNo = 7;
inline constexpr int kProfileNameEdit = 6101;
// The profile tree's empty part, where the dialog opens (at 200, 130).
inline constexpr ui::Point kProfileTreeSpace{200 + 60, 130 + 250};

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
    // The next test, or another program at the display, finds the screen
    // as the dialog found it.
    ui::testing::Person person;
    EXPECT_EQ(person.Leftovers(), std::vector<std::string>{});
    EXPECT_EQ(ui::TopLevelWindows().size(), 0u);
    ui::SetCurrentResources(previous_);
    AlerterTest::TearDown();
  }

  // Runs the dialog in its real event loop while the person plays.
  int Play(const std::function<void(ui::testing::Person&)>& script) {
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
  bool ClickItem(ui::testing::Person& person, bool filter_tree, const std::string& text, int button = 1) {
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
  void FileClose(ui::testing::Person& person) {
    ui::Rect window;
    ASSERT_TRUE(person.Where(kConfig, {}, &window)) << "the dialog is not on the screen";
    person.ClickAt({window.left + 16, window.top + 10});
    for (int i = 0; i < 3; ++i) person.Key("Down");  // New profile, Save all, Close
    person.Key("Return");
  }
  // True when the newest running dialog with that caption is of class T.
  template <class T>
  bool WaitForDialog(ui::testing::Person& person, const char* caption) {
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
  // Runs `kstctl notifications`, after the command prefix `as`, while the
  // person plays at the display once its dialog shows; its exit status and
  // what it wrote.
  std::pair<int, std::string> KstctlNotifications(const std::string& as,
                                                  const std::function<void(ui::testing::Person&)>& script) {
    const char* bin = std::getenv("KST_BIN_DIR");
    if (bin == nullptr) {
      ADD_FAILURE() << "KST_BIN_DIR names the built programs";
      return {-1, ""};
    }
    // kstctl keeps the font libraries' caches as this program does, so a
    // leak checker is told the same suppressions.
    const std::string suppressions = HomePath("leak-suppressions.txt");
    WriteFile(suppressions, __lsan_default_suppressions());
    ::chmod(suppressions.c_str(), 0644);
    // Bounded: a dialog that never shows is ended by timeout.
    const std::string command = "LSAN_OPTIONS=\"${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=" + suppressions +
                                ":print_suppressions=0\" " + as + " timeout 60 '" + std::string(bin) +
                                "/kstctl' notifications 2>&1";
    FILE* kstctl = ::popen(command.c_str(), "r");
    if (kstctl == nullptr) {
      ADD_FAILURE() << "cannot run " << command;
      return {-1, ""};
    }
    {
      std::atomic<bool> no_loop_here{true};
      ui::testing::Person person(&no_loop_here);
      EXPECT_TRUE(person.connected() && person.WaitForWindow(kConfig))
          << "kstctl notifications showed no \"User notification\"";
      if (person.connected()) script(person);
    }
    std::string output;
    char buffer[512];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, kstctl)) > 0;) output.append(buffer, n);
    return {::pclose(kstctl), output};
  }
  static std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  // Gives the saved profile a mail transporter named "mail".
  void AddMail(const char* profile) {
    ProfileSet set;
    ASSERT_EQ(set.load(), 0);
    set.findProfile(profile)->deliverySettings.push_back(std::make_unique<MailDeliverySettings>("mail"));
    ASSERT_EQ(set.saveAllProfiles(), 0);
  }
  bool Expand(ui::testing::Person& person, const char* profile) {
    return person.Ask([&] {
      ui::TreeCtrl& tree = *dialog_.profileTree();
      for (ui::TreeItem item : tree.VisibleItems()) {
        if (tree.ItemText(item) == profile) tree.Expand(item, ui::ExpandCode::kExpand);
      }
    });
  }
  // The pixels of a control as they are on the screen now, row by row.
  std::vector<uint8_t> Pixels(ui::testing::Person& person, const std::vector<int>& path) {
    std::vector<uint8_t> pixels;
    person.Ask([&] {
      ui::Dialog* shown = ui::testing::RunningDialog(kConfig);
      ui::Window* control = shown;
      for (size_t i = 0; control != nullptr && i < path.size(); ++i) control = control->Child(path[i]);
      ui::Image shot;
      ui::Rect top, where;
      if (control == nullptr || !ui::testing::Capture(*shown, &shot) || !ui::testing::ScreenRect(*shown, &top) ||
          !ui::testing::ScreenRect(*control, &where)) {
        return;
      }
      for (int y = where.top - top.top; y < where.bottom - top.top; ++y) {
        for (int x = where.left - top.left; x < where.right - top.left; ++x) {
          ui::Color c = shot.At(x, y);
          pixels.insert(pixels.end(), {c.r, c.g, c.b});
        }
      }
    });
    return pixels;
  }
  bool ConfigRunning(ui::testing::Person& person) {
    bool running = false;
    person.Ask([&] { running = dialog_.running(); });
    return running;
  }

  ProfileSet profiles_;
  NotificationConfigDlg dialog_{&profiles_, nullptr};
  std::string saved_;
  const ui::Resources* previous_ = nullptr;
};

}  // namespace kst

#endif  // KESTRANE_ALERTER_DIALOGS_NOTIFICATION_CONFIG_DLG_X11_TESTING_H_
