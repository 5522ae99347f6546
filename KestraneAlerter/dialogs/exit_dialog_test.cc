#include "KestraneAlerter/dialogs/exit_dialog.h"

#include <gtest/gtest.h>

#include <functional>

#include "KestraneAlerter/dialogs/pane_testing.h"

namespace kst {
namespace {

class ExitDialogTest : public PaneTest {};

TEST_F(ExitDialogTest, EachAnswerHasItsOwnResult) {
  struct Case {
    const char* what;
    std::function<bool(ui::Dialog&)> act;
    int result;
  } cases[] = {
      {"OK", [this](ui::Dialog& d) { return user().Click(*d.Child(ui::kIdOk)); }, 1},
      {"No", [this](ui::Dialog& d) { return user().Click(*d.Child(ui::kIdNo)); }, 7},
      {"Cancel", [this](ui::Dialog& d) { return user().Click(*d.Child(ui::kIdCancel)); }, 2},
      {"Escape", [this](ui::Dialog& d) { return user().PressEscape(d); }, 2},
      {"close box", [this](ui::Dialog& d) { return user().CloseBox(d); }, 2},
  };
  for (const Case& c : cases) {
    bool acted = false;
    std::string question;
    ui::testing::OnNextModal([&](ui::Dialog& d) {
      question = d.Child(ui::kNoId)->Text();
      acted = c.act(d);
    });
    CExitDialog dialog;
    EXPECT_EQ(dialog.DoModal(), c.result) << c.what;
    EXPECT_TRUE(acted) << c.what;
    EXPECT_EQ(question, "Save changes?");
    EXPECT_EQ(ui::testing::modal_log().back().caption, "Warning system");
  }
}

}  // namespace
}  // namespace kst
