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

}  // namespace
}  // namespace kst
