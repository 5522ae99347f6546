// The library's LaunchUpdaterDialog, bound by name from the built library
// as a management host binds it.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "KestraneAlerter/alerter_testing.h"
#include "KestraneAlerter/dialogs/config_dialog_launch.h"
#include "platform/module.h"
#include "platform/ui/testing.h"
#include "platform/ui/ui.h"

namespace kst {
namespace {

using LaunchUpdaterDialogFn = void();

TEST_F(AlerterTest, LaunchUpdaterDialogRunsFromTheLibraryAndSavesNothingOnCancel) {
  const char* bin = getenv("KST_BIN_DIR");
  ASSERT_NE(bin, nullptr) << "run through ctest";
  std::string error;
  std::unique_ptr<Module> library = LoadModule(std::string(bin) + "/KestraneAlerter.dll", &error);
  ASSERT_NE(library, nullptr) << error;
  auto* launch = library->Bind<LaunchUpdaterDialogFn>("LaunchUpdaterDialog");
  ASSERT_NE(launch, nullptr);

  WriteFile(HomePath("Profiles/_default_.cfg"), "all:\nOps\ndefault:\nOps\n");
  // The library draws nothing here and nobody is there to answer: it says
  // so instead of ending in silence.
  const char* forced = getenv("KST_UI");
  const std::string kept = forced != nullptr ? forced : "";
  setenv("KST_UI", "headless", 1);
  const ui::Resources* host = ui::SetCurrentResources(&ui::ConsoleResources());
  ::testing::internal::CaptureStderr();
  launch();
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "LaunchUpdaterDialog: the notification settings dialog needs a display (set DISPLAY to an X server)\n");
  // The next test finds the process as this one found it.
  if (forced != nullptr) {
    setenv("KST_UI", kept.c_str(), 1);
  } else {
    unsetenv("KST_UI");
  }
  EXPECT_EQ(ui::CurrentResources(), &ui::ConsoleResources());
  ui::SetCurrentResources(host);
  EXPECT_EQ(ReadFile(HomePath("Profiles/_default_.cfg")), "all:\nOps\ndefault:\nOps\n");
  EXPECT_FALSE(std::filesystem::exists(HomePath("Profiles/Ops.cfg")));
}

TEST_F(AlerterTest, LaunchUpdaterDialogTakesTheAlerterResourcesForItsRun) {
  ASSERT_TRUE(ui::testing::UseBackend("headless"));
  ui::testing::Reset();
  WriteFile(HomePath("Profiles/_default_.cfg"), "all:\nOps\ndefault:\nOps\n");
  const ui::Resources* host = ui::SetCurrentResources(&ui::ConsoleResources());
  ui::testing::OnNextModal([](ui::Dialog& d) {
    EXPECT_EQ(ui::CurrentResources(), &ui::AlerterResources());
    EXPECT_EQ(d.Text(), "User notification");
    EXPECT_EQ(d.owner(), nullptr);
    EXPECT_TRUE(ui::testing::driver().Click(*d.Child(ui::kIdOk)));
  });
  LaunchUpdaterDialog();
  EXPECT_EQ(ui::CurrentResources(), &ui::ConsoleResources());
  ui::SetCurrentResources(host);
  // OK saved the profile it loaded.
  EXPECT_TRUE(std::filesystem::exists(HomePath("Profiles/Ops.cfg")));
}

}  // namespace
}  // namespace kst
