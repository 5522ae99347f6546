#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ui/testing.h"
#include "platform/ui/ui.h"

namespace kst::ui {
namespace {

class UiDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testing::UseBackend("headless"));
    testing::Reset();
    previous_ = SetCurrentResources(&AlerterResources());
  }
  void TearDown() override { SetCurrentResources(previous_); }
  Driver& user() { return testing::driver(); }
  const Resources* previous_ = nullptr;
};

TEST_F(UiDialogTest, ExitQuestionAnswers) {
  using Act = bool (*)(Dialog&);
  struct Case {
    const char* what;
    Act act;
    int result;
  } cases[] = {
      {"OK", [](Dialog& d) { return testing::driver().Click(*d.Child(kIdOk)); }, kIdOk},
      {"No", [](Dialog& d) { return testing::driver().Click(*d.Child(kIdNo)); }, kIdNo},
      {"Cancel", [](Dialog& d) { return testing::driver().Click(*d.Child(kIdCancel)); }, kIdCancel},
      {"Escape", [](Dialog& d) { return testing::driver().PressEscape(d); }, kIdCancel},
      {"close box", [](Dialog& d) { return testing::driver().CloseBox(d); }, kIdCancel},
      {"system menu Close", [](Dialog& d) { return testing::driver().ChooseSystemMenu(d, kScClose); }, kIdCancel},
      {"Enter", [](Dialog& d) { return testing::driver().PressEnter(d); }, kIdOk},
  };
  for (const Case& c : cases) {
    class Exit : public Dialog {
     public:
      Exit() : Dialog(6) { OnCommand(kIdNo, [this] { EndDialog(kIdNo); }); }
    } exit;
    bool acted = false;
    testing::OnNextModal([&](Dialog& d) {
      EXPECT_EQ(d.Text(), "Warning system");
      acted = c.act(d);
    });
    EXPECT_EQ(exit.DoModal(), c.result) << c.what;
    EXPECT_TRUE(acted) << c.what;
    EXPECT_FALSE(exit.IsCreated());
  }
}

// While a modal run lasts, every other top-level window refuses the user,
// owner or not; nested runs give their windows back in order, and a window
// the program disabled itself stays disabled.
TEST_F(UiDialogTest, ModalRunsTakeTheOtherWindowsInput) {
  class Exit : public Dialog {
   public:
    Exit() : Dialog(6) { OnCommand(kIdNo, [this] { EndDialog(kIdNo); }); }
  };
  Exit outer, inner, modeless_owned;
  Window spare;  // a top-level window of the program's own, kept disabled
  ASSERT_TRUE(spare.Create(nullptr, 0, {0, 0, 10, 10}));
  spare.Enable(false);
  ASSERT_TRUE(modeless_owned.CreateModeless());
  modeless_owned.Show(true);
  std::vector<std::string> refused;
  testing::OnNextModal([&](Dialog&) {
    if (!user().Click(*modeless_owned.Child(kIdOk))) refused.push_back("other window while outer runs");
    testing::OnNextModal([&](Dialog& box) {
      if (!user().Click(*outer.Child(kIdNo))) refused.push_back("outer's button");
      if (!user().PressEscape(outer)) refused.push_back("outer's Escape");
      if (!user().PressEnter(outer)) refused.push_back("outer's Enter");
      if (!user().CloseBox(outer)) refused.push_back("outer's close box");
      if (!user().ChooseSystemMenu(outer, kScClose)) refused.push_back("outer's system menu");
      user().Click(*box.Child(kIdOk));
    });
    EXPECT_EQ(MessageBox(&inner, "Nested.", "Box"), kIdOk);  // owned by a window that is not running
    EXPECT_TRUE(outer.IsEnabled()) << "the box gave the outer dialog back";
    EXPECT_FALSE(modeless_owned.IsEnabled()) << "the outer run still holds it";
    EXPECT_TRUE(user().Click(*outer.Child(kIdNo)));
  });
  EXPECT_EQ(outer.DoModal(), kIdNo);
  EXPECT_EQ(refused, (std::vector<std::string>{"other window while outer runs", "outer's button", "outer's Escape",
                                               "outer's Enter", "outer's close box", "outer's system menu"}));
  EXPECT_TRUE(modeless_owned.IsEnabled());
  EXPECT_FALSE(spare.IsEnabled());
  modeless_owned.DestroyWindow();
}

TEST_F(UiDialogTest, TemplatesComeFromTheCurrentResources) {
  // 102 is another dialog in each module.
  Dialog alerter(102);
  EXPECT_EQ(alerter.DoModal(), kIdCancel);  // nobody answers: closed
  ASSERT_FALSE(testing::modal_log().empty());
  EXPECT_EQ(testing::modal_log().back().caption, "User notification");
  SetCurrentResources(&ConsoleResources());
  Dialog console(102);
  testing::OnNextModal([](Dialog& d) {
    EXPECT_EQ(d.Text(), "System statistics collecting");
    testing::driver().Click(*d.Child(8));  // Close has no handler here
    d.EndDialog(8);
  });
  EXPECT_EQ(console.DoModal(), 8);
  Dialog missing(140);
  EXPECT_EQ(missing.DoModal(), -1);
  SetCurrentResources(nullptr);
  EXPECT_EQ(Dialog(6).DoModal(), -1);
}

TEST_F(UiDialogTest, ConsoleTemplateBuildsHiddenWithEveryControl) {
  SetCurrentResources(&ConsoleResources());
  class Console : public Dialog {
   public:
    Console() : Dialog(102) {}
    bool OnInitDialog() override {
      ChildAs<Edit>(1023)->SetText("1");
      ++inits;
      return true;
    }
    int inits = 0;
  } dialog;
  ASSERT_TRUE(dialog.CreateModeless());
  EXPECT_EQ(dialog.inits, 1);
  EXPECT_FALSE(dialog.IsVisible());
  struct Case {
    int id;
    Kind kind;
    const char* text;
  } cases[] = {
      {1008, Kind::kListBox, ""},         {1023, Kind::kEdit, "1"},          {1000, Kind::kButton, "Add..."},
      {1009, Kind::kButton, "Remove"},    {1001, Kind::kEdit, ""},           {1013, Kind::kButton, "Start service"},
      {1014, Kind::kButton, "Stop service"}, {1002, Kind::kButton, "Apply"}, {1012, Kind::kCheckBox, "Create new buffer"},
      {1025, Kind::kButton, "Remove"},    {1024, Kind::kButton, "Install"},  {1003, Kind::kEdit, ""},
      {1004, Kind::kButton, "OK"},        {1005, Kind::kButton, "Add all sys. counters"},
      {1006, Kind::kButton, "Remove all"}, {8, Kind::kButton, "Close"},
  };
  for (const Case& c : cases) {
    Window* control = dialog.Child(c.id);
    ASSERT_NE(control, nullptr) << c.id;
    EXPECT_EQ(control->kind(), c.kind) << c.id;
    EXPECT_EQ(control->Text(), c.text) << c.id;
  }
  EXPECT_TRUE(dialog.Child(1008)->HasStyle(kSorted | kExtendedSel));
  EXPECT_TRUE(dialog.Child(1023)->HasStyle(kDigitsOnly));
  // The user cannot reach a hidden dialog; code can still run its handlers.
  EXPECT_FALSE(user().Click(*dialog.Child(1002)));
  dialog.EndDialog(kIdOk);
  EXPECT_EQ(dialog.result(), kIdOk);
}

TEST_F(UiDialogTest, TemplateUnitsBecomePixels) {
  const DialogTemplate* exit = AlerterResources().FindDialog(6);
  ASSERT_NE(exit, nullptr);
  EXPECT_EQ(TemplateRect(*exit, 0, 0, exit->cx, exit->cy), (Rect{0, 0, 296, 89}));
  EXPECT_EQ(TemplateRect(*exit, 15, 33, 50, 15), (Rect{23, 54, 98, 78}));
  EXPECT_EQ(TemplateFont(*exit).height, 11);
}

TEST_F(UiDialogTest, MessageBoxesAreRecordedAndAnswered) {
  Window owner;
  ASSERT_TRUE(owner.Create(nullptr, 0, {0, 0, 100, 100}));
  owner.SetBackground({255, 255, 255});
  EXPECT_EQ(MessageBox(&owner, "Error: no service", "Error", MessageIcon::kError), kIdOk);
  testing::AnswerNextMessageBox(kIdCancel);
  EXPECT_EQ(MessageBox(nullptr, "Do it?\nReally?", "Warning system", MessageIcon::kNone, MessageButtons::kOkCancel),
            kIdCancel);
  testing::OnNextModal([](Dialog& box) {
    EXPECT_EQ(box.Child(kIdCancel), nullptr);  // OK only
    EXPECT_NE(box.ChildAs<Static>(20)->icon(), nullptr);
    testing::driver().PressEscape(box);
  });
  EXPECT_EQ(MessageBox(nullptr, "Some of selected counters has been added earlier", "Ringdesk",
                       MessageIcon::kInformation),
            kIdCancel);
  const auto& log = testing::modal_log();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_TRUE(log[0].message_box);
  EXPECT_EQ(log[0].text, "Error: no service");
  EXPECT_EQ(log[0].caption, "Error");
  EXPECT_EQ(log[0].icon, MessageIcon::kError);
  EXPECT_EQ(log[1].buttons, MessageButtons::kOkCancel);
  EXPECT_EQ(log[1].result, kIdCancel);
  EXPECT_EQ(log[2].icon, MessageIcon::kInformation);
}

TEST_F(UiDialogTest, MenusGreyRemoveAndRoute) {
  std::unique_ptr<Menu> bar = AlerterResources().LoadMenu(152);
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->ItemText(1), "&Profile");
  EXPECT_EQ(bar->EnableItem(1, By::kPosition, kMenuGrayed), kMenuEnabled);
  EXPECT_FALSE(bar->CanChoose(32796));  // under a grey popup
  EXPECT_FALSE(bar->CanChoose(32803));
  EXPECT_TRUE(bar->CanChoose(32791));
  EXPECT_EQ(bar->EnableItem(1, By::kPosition, kMenuEnabled), kMenuGrayed);
  EXPECT_EQ(bar->SubMenu(1)->EnableItem(2, By::kPosition, kMenuGrayed), kMenuEnabled);
  EXPECT_FALSE(bar->CanChoose(32845));
  EXPECT_EQ(bar->EnableItem(99999, By::kCommand, kMenuGrayed), -1);

  std::unique_ptr<Menu> context = AlerterResources().LoadMenu(1241);
  Menu* popup = context->SubMenu(0);
  EXPECT_TRUE(popup->RemoveItem(32824, By::kCommand));
  EXPECT_EQ(popup->ItemText(3), "Add logic gate");
  EXPECT_TRUE(popup->RemoveItem(3, By::kPosition));
  EXPECT_FALSE(popup->CanChoose(32815));
  EXPECT_NE(AlerterResources().LoadMenu(1241)->SubMenu(0)->count(), popup->count());  // copies are apart

  class Host : public Dialog {
   public:
    Host() : Dialog(102) {}
    bool OnInitDialog() override {
      menu = AlerterResources().LoadMenu(152);
      SetMenuBar(menu.get());
      return true;
    }
    void OnMenuSelect() override {
      ++selects;
      menu->EnableItem(32840, By::kCommand, kMenuGrayed);
    }
    std::unique_ptr<Menu> menu;
    int selects = 0;
  } host;
  std::vector<int> commands;
  for (int id : {32791, 32840, 32815, 32814}) host.OnCommand(id, [&commands, id] { commands.push_back(id); });
  testing::QueuePopupChoice(32815);  // its popup was removed above: cannot be chosen
  testing::QueuePopupChoice(32814);
  testing::OnNextModal([&](Dialog& d) {
    EXPECT_TRUE(testing::driver().ChooseMenu(d, 32791));
    EXPECT_FALSE(testing::driver().ChooseMenu(d, 32840));  // greyed as the menu opened
    EXPECT_EQ(TrackPopupMenu(*context->SubMenu(0), {300, 300}, d), 0);
    EXPECT_EQ(TrackPopupMenu(*AlerterResources().LoadMenu(1241)->SubMenu(0), {300, 300}, d), 32814);
    d.EndDialog(kIdOk);
  });
  EXPECT_EQ(host.DoModal(), kIdOk);
  EXPECT_EQ(commands, (std::vector<int>{32791, 32814}));
  EXPECT_EQ(host.selects, 4);  // each menu heard of as it opened
  ASSERT_EQ(testing::popup_log().size(), 2u);
  EXPECT_EQ(testing::popup_log()[0].command, 0);
  EXPECT_EQ(testing::popup_log()[0].menu.count(), popup->count());
}

TEST_F(UiDialogTest, SystemMenuTakesAnExtraItem) {
  class About : public Dialog {
   public:
    About() : Dialog(102) {}
    bool OnInitDialog() override {
      Menu* system = SystemMenu();
      std::string text = AlerterResources().LoadString(101);
      if (system != nullptr && !text.empty()) {
        system->AppendSeparator();
        system->Append(text, 16);
      }
      return true;
    }
    void OnSysCommand(int command) override {
      commands.push_back(command);
      Dialog::OnSysCommand(command);
    }
    std::vector<int> commands;
  } dialog;
  testing::QueuePopupChoice(32815);  // meant for a context menu later on
  testing::OnNextModal([](Dialog& d) {
    EXPECT_TRUE(testing::driver().ChooseSystemMenu(d, 16));
    EXPECT_EQ(TrackPopupMenu(*AlerterResources().LoadMenu(1241)->SubMenu(0), {0, 0}, d), 32815);
    EXPECT_FALSE(testing::driver().ChooseSystemMenu(d, 17));
    EXPECT_TRUE(d.running());
    EXPECT_TRUE(testing::driver().ChooseSystemMenu(d, kScClose));
  });
  EXPECT_EQ(dialog.DoModal(), kIdCancel);
  EXPECT_EQ(dialog.commands, (std::vector<int>{16, kScClose}));
}

TEST_F(UiDialogTest, MovingAndRedrawing) {
  class Moved : public Window {
   public:
    void OnMoved() override { ++moves; }
    int moves = 0;
  } pane;
  Window top;
  ASSERT_TRUE(top.Create(nullptr, 0, {0, 0, 620, 430}));
  ASSERT_TRUE(pane.Create(&top, 666005, {180, 200, 600, 500}));
  pane.Move({180, 200, 576, 500});
  EXPECT_EQ(pane.moves, 1);
  EXPECT_EQ(pane.rect().width(), 396);
  pane.Redraw();
  EXPECT_EQ(pane.redraw_count(), 1);
}

TEST_F(UiDialogTest, EveryNamedIconHasAPicture) {
  for (int id : {128, 129, 130, 131, 132, 136, 142, 143, 144, 145, 146, 147, 148, 149, 153, 155, 157}) {
    const Icon* icon = AlerterResources().LoadIcon(id);
    ASSERT_NE(icon, nullptr) << id;
    EXPECT_GT(icon->width(), 0);
  }
  EXPECT_EQ(AlerterResources().LoadIcon(142)->width(), 24);
  EXPECT_NE(AlerterResources().LoadIcon(142)->argb(), AlerterResources().LoadIcon(147)->argb());  // on and off differ
  EXPECT_NE(ConsoleResources().LoadIcon(129), nullptr);
  EXPECT_EQ(AlerterResources().LoadString(101), "&About KestraneAlerter...");
}

}  // namespace
}  // namespace kst::ui
