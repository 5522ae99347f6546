// What the pane tests share: a private KESTRANE_HOME, the headless back
// end with the alerter's resources, a host window to build panes in, and
// the texts of the message boxes shown.
#ifndef KESTRANE_ALERTER_DIALOGS_PANE_TESTING_H_
#define KESTRANE_ALERTER_DIALOGS_PANE_TESTING_H_

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/registry_testing.h"
#include "platform/ui/testing.h"
#include "platform/ui/ui.h"

namespace kst {

class PaneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = std::make_unique<TempKestraneHome>();
    ASSERT_FALSE(home_->path().empty());
    ASSERT_TRUE(ui::testing::UseBackend("headless"));
    ui::testing::Reset();
    previous_ = ui::SetCurrentResources(&ui::AlerterResources());
    ASSERT_TRUE(host_.Create(nullptr, 0, {0, 0, 600, 500}));
  }
  void TearDown() override {
    host_.DestroyWindow();
    ui::SetCurrentResources(previous_);
    home_.reset();
  }

  ui::Driver& user() { return ui::testing::driver(); }

  // Message boxes shown since the last call, oldest first.
  std::vector<std::string> TakeMessages() {
    std::vector<std::string> texts;
    const auto& log = ui::testing::modal_log();
    for (size_t i = seen_; i < log.size(); ++i) {
      if (log[i].message_box) texts.push_back(log[i].text);
    }
    seen_ = log.size();
    return texts;
  }
  // The one message shown since the last call; "" when none.
  std::string OneMessage() {
    std::vector<std::string> texts = TakeMessages();
    EXPECT_LE(texts.size(), 1u);
    return texts.empty() ? std::string() : texts.front();
  }

  std::unique_ptr<TempKestraneHome> home_;
  const ui::Resources* previous_ = nullptr;
  ui::Window host_;
  size_t seen_ = 0;
};

}  // namespace kst

#endif  // KESTRANE_ALERTER_DIALOGS_PANE_TESTING_H_
