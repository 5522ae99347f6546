// The console on real windows, played by a person at a private virtual
// display through the X server: after the counter browser's object list was
// opened, the duplicate message takes the person's click while the browser
// and the console under it take none.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "StatSubsystem/KestraneConsole/console_dialog.h"
#include "StatSubsystem/KestraneConsole/console_testing.h"
#include "StatSubsystem/common/service_keys.h"
#include "platform/ui/counter_browser.h"
#include "platform/ui/testing.h"
#include "platform/ui/xtest_testutil.h"
#include "platform/ui/xvfb_testutil.h"

namespace kst {
namespace {

using ui::testing::Person;

constexpr const char* kConsole = "System statistics collecting";
constexpr const char* kBrowser = "Select counters to monitor.";
constexpr const char* kDuplicate = "Ringdesk";

class ConsoleX11Test : public ConsoleTest {
 protected:
  ConsoleX11Test() { backend_ = "fltk"; }
  void SetUp() override {
    if (!ui::testing::StartVirtualDisplay()) FAIL() << "Xvfb cannot be started (scripts/packages.txt installs it)";
    ConsoleTest::SetUp();
  }
};

TEST_F(ConsoleX11Test, DuplicateMessageAfterTheObjectListTakesTheClick) {
  InstallCollector();
  ConsoleDialog dialog;
  ui::testing::PlayAgainst([&] { dialog.DoModal(); }, [&](Person& person) {
    ASSERT_TRUE(person.Click(kConsole, {kAddId})) << "the console's Add... is not on the screen";
    ASSERT_TRUE(person.WaitForWindow(kBrowser)) << "no counter browser after Add...";
    ASSERT_TRUE(person.Click(kBrowser, {ui::kBrowseObjectId})) << "the object list is not on the screen";
    person.Key("Down");  // from "Memory" to "Processor"
    person.Key("Return");
    for (int add = 0; add < 2; ++add) ASSERT_TRUE(person.Click(kBrowser, {ui::kBrowseAddId}));
    ASSERT_TRUE(person.WaitForWindow(kDuplicate)) << "no duplicate message on the second Add";
    person.Click(kBrowser, {ui::kBrowseAddId});  // neither window under the message takes a click
    person.Click(kConsole, {kCloseId});
    ASSERT_TRUE(person.Click(kDuplicate, {ui::kIdOk})) << "the message's OK is not on the screen";
    ASSERT_TRUE(person.WaitUntilGone(kDuplicate)) << "the message stayed after its OK";
    ASSERT_TRUE(person.Click(kBrowser, {ui::kIdCancel}));
    ASSERT_TRUE(person.WaitUntilGone(kBrowser)) << "the browser stayed after Close";
    ASSERT_TRUE(person.Click(kConsole, {kCloseId}));
  });
  EXPECT_EQ(dialog.counters(), std::vector<std::string>{host_ + "\\Processor(*)\\% Processor Time"});
  EXPECT_EQ(Messages(), std::vector<std::string>{"Ringdesk: Some of selected counters has been added earlier"});
}

// Return with the focus on Close closes without applying; the default OK
// would have written the typed interval.
TEST_F(ConsoleX11Test, ReturnOnTheFocusedCloseAppliesNothing) {
  InstallCollector();
  ConsoleDialog dialog;
  int result = 0;
  ui::testing::PlayAgainst([&] { result = dialog.DoModal(); }, [&](Person& person) {
    ASSERT_TRUE(person.Click(kConsole, {kAddAllId})) << "the console's Add all is not on the screen";
    ASSERT_TRUE(person.Click(kConsole, {kIntervalEditId}));
    person.Type("7");
    ASSERT_TRUE(person.TabTo(kConsole, {kCloseId})) << "Tab never reached Close";
    person.Key("Return");
  });
  EXPECT_EQ(result, kCloseId);
  EXPECT_EQ(Messages(), std::vector<std::string>{});
  int interval = 0;
  EXPECT_NE(ReadServiceDword("kstCollector", "optTimeInt", &interval), 0) << "applied: " << interval;
}

// The dialog and its texts stand on white, as its message boxes do.
TEST_F(ConsoleX11Test, BackgroundIsWhite) {
  InstallCollector();
  ConsoleDialog dialog;
  ui::Image shot, box;
  ui::Rect label, list;
  ui::testing::OnNextModal([&](ui::Dialog& d) {
    ASSERT_TRUE(ui::testing::Capture(d, &shot));
    label = d.children().front()->rect();  // "Performance counters:"
    list = d.Child(kCounterListId)->rect();
    ui::testing::OnNextModal([&](ui::Dialog& message) {
      EXPECT_TRUE(ui::testing::Capture(message, &box));
      message.EndDialog(ui::kIdOk);
    });
    ui::testing::driver().Click(*d.Child(kApplyId));  // with no counter: a message
    d.EndDialog(kCloseId);
  });
  dialog.DoModal();
  ASSERT_GT(shot.width, 0);
  ASSERT_GT(box.width, 0);
  const ui::Color white{255, 255, 255};
  // The margin left of the list, the gap between the list and the buttons,
  // and the end of the label past its text.
  for (ui::Point p : {ui::Point{3, shot.height / 2}, ui::Point{list.right + 4, shot.height / 2},
                      ui::Point{label.right - 2, (label.top + label.bottom) / 2}}) {
    EXPECT_TRUE(shot.At(p.x, p.y) == white) << p.x << "," << p.y;
  }
  EXPECT_TRUE(box.At(3, 3) == white) << "message box";
}

}  // namespace
}  // namespace kst
