// One sample dialog with every kind of control, played by the same script
// against the headless back end and against real windows on a private
// virtual X server; the real one is also photographed. A missing X server
// fails these tests rather than skipping them, so no run passes unseen.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/ui/png_testutil.h"
#include "platform/ui/testing.h"
#include "platform/ui/ui.h"
#include "platform/ui/xtest_testutil.h"
#include "platform/ui/xvfb_testutil.h"

namespace kst::ui {
namespace {

constexpr Color kRed{220, 30, 30};
constexpr Color kBlue{40, 60, 200};

DialogTemplate SampleTemplate() {
  DialogTemplate t;
  t.id = 900;
  t.caption = "Sample of every control";
  t.pixels = true;
  t.cx = 560;
  t.cy = 400;  // the menu bar takes 20 of it
  const uint32_t v = kVisible;
  t.controls = {
      {Kind::kStatic, 100, "Left text", 10, 10, 140, 20, v, 0},
      {Kind::kStatic, 101, "Centred text", 160, 10, 140, 20, v | kAlignCentre, 0},
      {Kind::kStatic, 102, "Right text", 310, 10, 140, 20, v | kAlignRight, 0},
      {Kind::kStatic, 103, "", 470, 10, 80, 20, v, 0},  // a red patch
      {Kind::kEdit, 200, "", 10, 40, 200, 24, v | kBorder | kClientEdge | kAlignCentre, 0},
      {Kind::kEdit, 201, "", 10, 72, 42, 20, v | kClientEdge | kDigitsOnly | kAlignRight, 0},
      {Kind::kUpDown, 202, "", 50, 72, 37, 20, v | kClientEdge | kBorder, 0},
      {Kind::kButton, 300, "Press", 10, 104, 80, 25, v, 0},
      {Kind::kCheckBox, 301, "", 100, 108, 15, 15, v, 0},
      {Kind::kStatic, 302, "Comments.", 120, 108, 95, 15, v, 0},
      {Kind::kComboBox, 400, "", 220, 40, 200, 200, v | kDropDownList | kVScroll, 0},
      {Kind::kComboBox, 401, "", 220, 72, 200, 200, v | kDropDown | kVScroll, 0},
      {Kind::kListBox, 500, "", 220, 104, 200, 96, v | kBorder | kSorted | kExtendedSel | kVScroll, 0},
      {Kind::kTree, 600, "", 10, 140, 190, 190, v | kClientEdge | kHasButtons | kHasLines | kLinesAtRoot, 0},
      {Kind::kButton, kIdOk, "OK", 380, 345, 75, 25, v | kDefaultButton, 0},
      {Kind::kButton, kIdCancel, "Cancel", 470, 345, 75, 25, v, 0},
  };
  return t;
}

// The sample: every notification lands in log.
class Sample : public Dialog {
 public:
  Sample() : Dialog(900) {}

  bool OnInitDialog() override {
    menu_ = CurrentResources()->LoadMenu(152);
    SetMenuBar(menu_.get());
    menu_->EnableItem(1, By::kPosition, kMenuGrayed);  // "Profile"
    DrawMenuBar();
    SystemMenu()->AppendSeparator();
    SystemMenu()->Append("&About...", 16);
    font_ = Font{"Arial", 14, 400};
    for (Window* child : children()) child->SetFont(&font_);
    ChildAs<Static>(103)->SetBackground(kRed);
    ChildAs<UpDown>(202)->SetRange32(0, 99);
    ChildAs<Edit>(201)->SetText("98");
    auto* combo = ChildAs<ComboBox>(400);
    for (const char* item : {"Log title", "Analyzer title", "Warning level"}) combo->AddString(item);
    combo->SetCurSel(0);
    ChildAs<ComboBox>(401)->AddString("Memory::Available Bytes");
    auto* list = ChildAs<ListBox>(500);
    for (const char* item : {"\\System\\Threads", "\\Memory\\Pages/sec", "\\Processor(_Total)\\% Idle"}) {
      list->AddString(item);
    }
    auto* tree = ChildAs<TreeCtrl>(600);
    const Resources* res = CurrentResources();
    for (int id : {129, 130, 131, 132, 136, 157}) images_.Add(res->LoadIcon(id));
    tree->SetImageList(&images_);
    root_ = tree->InsertItem("Profiles:", 4, 4);
    alpha_ = tree->InsertItem("alpha", 1, 1, root_);
    beta_ = tree->InsertItem("beta", 0, 0, root_);
    tree->InsertItem("transporter1", 2, 2, alpha_);
    tree->Expand(root_, ExpandCode::kExpand);
    tree->Expand(alpha_, ExpandCode::kExpand);

    pane_.Create(this, 666005, {430, 140, 550, 330});
    pane_.SetBackground(kBlue);
    pane_edit_.Create(&pane_, 701, {5, 5, 115, 29}, kVisible | kBorder);
    pane_edit_.SetFont(&font_);
    pane_label_.Create(&pane_, 702, {5, 100, 115, 120}, kVisible, "In pane");
    pane_label_.SetFont(&font_);
    pane_.OnNotify(701, Event::kChange, [this](const NotifyInfo&) { return Log("pane " + pane_edit_.Text()); });

    for (int id : {200, 201}) {
      OnNotify(id, Event::kChange, [this, id](const NotifyInfo&) {
        return Log("change " + std::to_string(id) + " " + Child(id)->Text());
      });
    }
    OnNotify(202, Event::kDeltaPos, [this](const NotifyInfo& info) {
      Log("step " + std::to_string(info.pos) + " " + std::to_string(info.delta));
      int value = std::atoi(Child(201)->Text().c_str()) + info.delta;
      if (value > 99) value = 99;
      auto* edit = ChildAs<Edit>(201);
      edit->SetSel(0, -1);
      edit->ReplaceSel(std::to_string(value));
      return 0;
    });
    OnCommand(300, [this] {
      Log("press");
      Log("box " + std::to_string(MessageBox(this, "Pressed.\nSure?", "Sample", MessageIcon::kInformation,
                                              MessageButtons::kOkCancel)));
    });
    OnCommand(301, [this] {
      bool on = ChildAs<CheckBox>(301)->IsChecked();
      Log(std::string("check ") + (on ? "1" : "0"));
      Child(300)->Enable(!on);
    });
    OnNotify(400, Event::kSelChange, [this](const NotifyInfo&) { return Log("combo " + Child(400)->Text()); });
    OnNotify(401, Event::kSelChange, [this](const NotifyInfo&) { return Log("drop " + Child(401)->Text()); });
    OnNotify(500, Event::kSelChange, [this](const NotifyInfo&) {
      std::string items;
      for (int i : ChildAs<ListBox>(500)->SelItems()) items += " " + ChildAs<ListBox>(500)->ItemText(i);
      return Log("list" + items);
    });
    OnNotify(600, Event::kClick, [this](const NotifyInfo&) { return Log("click " + HitText()); });
    OnNotify(600, Event::kRightClick, [this](const NotifyInfo&) {
      Log("rclick " + HitText());
      std::unique_ptr<Menu> context = CurrentResources()->LoadMenu(1241);
      Log("popup " + std::to_string(TrackPopupMenu(*context->SubMenu(0), CursorPos(), *this)));
      return 0;
    });
    OnNotify(600, Event::kSelChanged, [this](const NotifyInfo& info) {
      return Log("sel " + ChildAs<TreeCtrl>(600)->ItemText(info.new_item));
    });
    OnCommand(32815, [this] { Log("and gate"); });
    OnCommand(32791, [this] {
      class Exit : public Dialog {
       public:
        Exit() : Dialog(6) { OnCommand(kIdNo, [this] { EndDialog(kIdNo); }); }
      } exit;
      Log("exit " + std::to_string(exit.DoModal()));
    });
    OnCommand(32840, [this] { Log("how to"); });
    return true;
  }
  void OnMenuSelect() override { menu_->EnableItem(32840, By::kCommand, kMenuGrayed); }
  void OnSysCommand(int command) override {
    Log("sys " + std::to_string(command));
    Dialog::OnSysCommand(command);
  }

  std::vector<std::string> log;
  TreeItem alpha_ = kNoItem, beta_ = kNoItem, root_ = kNoItem;

 private:
  int Log(std::string line) {
    log.push_back(std::move(line));
    return 0;
  }
  std::string HitText() {
    auto* tree = ChildAs<TreeCtrl>(600);
    TreeHit hit = tree->HitTest(tree->ScreenToClient(CursorPos()));
    return (hit.flags & (kHitOnIcon | kHitOnLabel)) ? tree->ItemText(hit.item) : "-";
  }

  std::unique_ptr<Menu> menu_;
  Font font_;
  ImageList images_{16, 16};
  Window pane_;
  Edit pane_edit_;
  Static pane_label_;
};

class UiSampleTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    if (std::string(GetParam()) == "fltk") {
      if (!testing::StartVirtualDisplay()) FAIL() << "Xvfb cannot be started (scripts/packages.txt installs it)";
    }
    ASSERT_TRUE(testing::UseBackend(GetParam()));
    testing::Reset();
    previous_ = SetCurrentResources(&AlerterResources());
  }
  void TearDown() override { SetCurrentResources(previous_); }
  const Resources* previous_ = nullptr;
};

TEST_P(UiSampleTest, SameScriptSameBehaviour) {
  Sample sample;
  std::vector<std::string> refused;
  auto expect = [&refused](bool done, const char* what) {
    if (!done) refused.push_back(what);
  };
  testing::OnNextModal([&](Dialog&) {
    Driver& user = testing::driver();
    auto* tree = sample.ChildAs<TreeCtrl>(600);
    expect(user.Type(*sample.Child(200), "hi"), "type 200");
    expect(user.Type(*sample.Child(201), "9x"), "type 201");
    expect(user.ChooseSystemMenu(sample, 16), "about");  // Alt+Space while a number box has the keys
    expect(user.ChooseSystemMenu(sample, 17), "no such system command");
    expect(user.Step(*sample.Child(202), +1), "step up");
    expect(user.Step(*sample.Child(202), +1), "step up again");
    expect(user.Step(*sample.Child(202), -1), "step down");
    testing::AnswerNextMessageBox(kIdCancel);
    expect(user.Click(*sample.Child(300)), "press");
    expect(user.Click(*sample.Child(301)), "check");
    expect(user.Click(*sample.Child(300)), "press while disabled");
    expect(user.Select(*sample.Child(400), 2), "combo");
    expect(user.Type(*sample.Child(401), "typed"), "drop typed");
    expect(user.Select(*sample.Child(401), 0), "drop select");
    expect(user.Select(*sample.Child(500), 0), "list");
    expect(user.Select(*sample.Child(500), 2, true), "list add");
    expect(user.ClickItem(*tree, sample.beta_), "click beta");
    expect(user.Arrow(*tree, -1), "arrow up");
    testing::QueuePopupChoice(32815);
    expect(user.ClickItem(*tree, sample.alpha_, true), "right click alpha");
    expect(user.ChooseMenu(sample, 32840), "how to");
    expect(user.ChooseMenu(sample, 32796), "activate under grey popup");
    testing::OnNextModal([](Dialog& exit) { testing::driver().Click(*exit.Child(kIdNo)); });
    expect(user.ChooseMenu(sample, 32791), "new profile");
    testing::OnNextModal([](Dialog& exit) { testing::driver().PressEnter(exit); });
    expect(user.ChooseMenu(sample, 32791), "new profile, Enter");
    testing::OnNextModal([](Dialog& exit) { testing::driver().CloseBox(exit); });
    expect(user.ChooseMenu(sample, 32791), "new profile, close box");
    expect(user.Type(*sample.Child(666005)->Child(701), "ok"), "pane type");
    expect(user.PressEscape(sample), "escape");
  });
  EXPECT_EQ(sample.DoModal(SampleTemplate()), kIdCancel);
  EXPECT_EQ(refused, (std::vector<std::string>{"no such system command", "press while disabled", "how to",
                                               "activate under grey popup"}));
  std::vector<std::string> expected = {
      "change 200 h", "change 200 hi", "change 201 9", "sys 16",
      "step 0 1", "change 201 10",
      "step 1 1", "change 201 11",
      "step 2 -1", "change 201 10",
      "press", "box 2",
      "check 1",
      "combo Warning level",
      "drop Memory::Available Bytes",
      "list \\Memory\\Pages/sec",
      "list \\Memory\\Pages/sec \\System\\Threads",
      "click beta", "sel beta", "sel transporter1",
      "rclick alpha", "and gate", "popup 32815",
      "exit 7", "exit 1", "exit 2",
      "pane o", "pane ok",
  };
  EXPECT_EQ(sample.log, expected);
  ASSERT_EQ(testing::popup_log().size(), 2u);  // the system menu and the tree's
  EXPECT_EQ(testing::popup_log()[0].command, 16);
  const auto& modals = testing::modal_log();
  ASSERT_EQ(modals.size(), 5u);
  EXPECT_EQ(modals[0].text, "Pressed.\nSure?");
  EXPECT_EQ(modals[0].result, kIdCancel);
  EXPECT_EQ(modals[1].caption, "Warning system");
  EXPECT_EQ(modals[1].result, kIdNo);
}

INSTANTIATE_TEST_SUITE_P(UiBackends, UiSampleTest, ::testing::Values("headless", "fltk"),
                         [](const auto& info) { return std::string(info.param); });

class UiScreenshotTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::StartVirtualDisplay()) FAIL() << "Xvfb cannot be started (scripts/packages.txt installs it)";
    ASSERT_TRUE(testing::UseBackend("fltk"));
    testing::Reset();
    previous_ = SetCurrentResources(&AlerterResources());
  }
  // A dialog that has returned is gone from the screen at once, though this
  // process may never wait for events again.
  void TearDown() override {
    testing::Person person;
    EXPECT_EQ(person.Leftovers(), std::vector<std::string>{});
    EXPECT_EQ(TopLevelWindows().size(), 0u);
    SetCurrentResources(previous_);
  }
  const Resources* previous_ = nullptr;
};

bool Near(Color a, Color b) {
  return std::abs(a.r - b.r) < 24 && std::abs(a.g - b.g) < 24 && std::abs(a.b - b.b) < 24;
}

TEST_F(UiScreenshotTest, ControlsSitWhereTheirRectanglesSay) {
  Sample sample;
  Image shot, recoloured;
  testing::OnNextModal([&](Dialog& d) {
    ASSERT_TRUE(testing::Capture(d, &shot));
    d.Child(666005)->SetBackground(kRed);  // its text shows the pane's new colour
    ASSERT_TRUE(testing::Capture(d, &recoloured));
    d.EndDialog(kIdOk);
  });
  EXPECT_EQ(sample.DoModal(SampleTemplate()), kIdOk);
  // The window holds the menu bar and the client area below it.
  ASSERT_EQ(shot.width, 560);
  ASSERT_EQ(shot.height, 400);
  // Kept only where KST_UI_SCREENSHOT asks for it; else written and removed.
  const char* keep = std::getenv("KST_UI_SCREENSHOT");
  std::string path = keep != nullptr ? keep
                                     : (std::filesystem::temp_directory_path() /
                                        ("kst_ui_sample_" + std::to_string(getpid()) + ".png")).string();
  EXPECT_TRUE(testing::WritePng(shot, path));
  EXPECT_GT(std::filesystem::file_size(path), 0u);
  if (keep == nullptr) std::filesystem::remove(path);
  auto at = [&](int x, int y) { return shot.At(x, y + 20); };  // client pixels
  Color face = at(300, 350);  // the dialog's own background
  EXPECT_TRUE(Near(at(510, 20), kRed)) << "red patch";
  EXPECT_FALSE(Near(at(468, 20), kRed)) << "left of the patch";
  EXPECT_TRUE(Near(at(500, 200), kBlue)) << "pane";
  EXPECT_FALSE(Near(at(428, 200), kBlue)) << "left of the pane";
  EXPECT_TRUE(Near(at(480, 150), Color{255, 255, 255})) << "edit in the pane";
  EXPECT_TRUE(Near(at(480, 140), kBlue)) << "above the edit in the pane";
  EXPECT_TRUE(Near(at(540, 250), kBlue)) << "right of the text in the pane";
  EXPECT_TRUE(Near(recoloured.At(540, 250 + 20), kRed)) << "right of the text in the recoloured pane";
  EXPECT_TRUE(Near(at(150, 320), Color{255, 255, 255})) << "empty part of the tree";
  EXPECT_FALSE(Near(at(150, 334), Color{255, 255, 255})) << "below the tree";
  EXPECT_TRUE(Near(at(300, 190), Color{255, 255, 255})) << "list box";
  EXPECT_FALSE(Near(at(300, 208), Color{255, 255, 255})) << "below the list box";
  bool button_label = false;  // the label's dark pixels, whatever the font's size
  for (int x = 30; x < 70 && !button_label; ++x) {
    for (int y = 110; y < 122; ++y) button_label |= at(x, y).r < 100;
  }
  EXPECT_TRUE(button_label) << "push button";
  // Text of the right-aligned number box lies in its right half.
  int first_dark = -1;
  for (int x = 12; x < 50 && first_dark < 0; ++x) {
    for (int y = 74; y < 90; ++y) {
      if (at(x, y).r < 100) first_dark = x;
    }
  }
  EXPECT_GT(first_dark, 22) << "right-aligned text";  // left-aligned starts near 14
  EXPECT_TRUE(Near(at(95, 116), face)) << "between the button and the check box";
  EXPECT_EQ(at(146, 12), face) << "a static text's own background, right of its text";
}

// Every text of every dialog of both programs, and of message boxes, fits
// its control as drawn with the real font; a message box is as wide as its
// caption with the caption's icon and close box.
TEST_F(UiScreenshotTest, EveryTextFitsItsControl) {
  std::vector<std::string> cut;
  int worst = 1000;
  for (const Resources* resources : {&AlerterResources(), &ConsoleResources()}) {
    SetCurrentResources(resources);
    for (int id : resources->DialogIds()) {
      testing::OnNextModal([&](Dialog& d) {
        testing::CollectCutTexts(d, d.Text(), &cut, &worst);
        d.EndDialog(kIdCancel);
      });
      Dialog(id).DoModal();
    }
  }
  const std::pair<const char*, const char*> boxes[] = {
      {"Invalid filter type", "Warning system"},
      {"\"Maximaze message lenght\" mustn't exceed 1024\n for Program notification.", "Warning system"},
      {"You should add atlist one counter to counters list", "Error"},
      {"OK", "Select counters to monitor."},
  };
  for (const auto& [text, caption] : boxes) {
    testing::OnNextModal([&, caption = caption](Dialog& box) {
      testing::CollectCutTexts(box, caption, &cut, &worst);
      const Font frame_font{"", kCaptionHeight * 2 / 3, 700};
      int needs = CurrentBackend().TextWidth(&frame_font, caption) + 2 * kCaptionHeight;
      if (box.ClientRect().width() < needs) {
        cut.push_back(std::string("caption ") + caption + " (needs " + std::to_string(needs) + ", has " +
                      std::to_string(box.ClientRect().width()) + ")");
      }
      box.EndDialog(kIdOk);
    });
    MessageBox(nullptr, text, caption, MessageIcon::kError);
  }
  EXPECT_EQ(cut, std::vector<std::string>{});
  std::printf("least room to spare: %d px\n", worst);
}

// A disabled owner keeps its look under a message box: only the box shows
// that it has the input.
TEST_F(UiScreenshotTest, OwnerUnderAMessageBoxKeepsItsLook) {
  Sample sample;
  Image before, under;
  testing::OnNextModal([&](Dialog& d) {
    ASSERT_TRUE(testing::Capture(d, &before));
    testing::OnNextModal([&](Dialog& box) {
      EXPECT_TRUE(testing::Capture(sample, &under));
      box.EndDialog(kIdOk);
    });
    testing::driver().Click(*d.Child(300));
    d.EndDialog(kIdOk);
  });
  EXPECT_EQ(sample.DoModal(SampleTemplate()), kIdOk);
  ASSERT_EQ(under.width, before.width);
  int differing = 0;  // over the Press button and the edits above it, clear of the box
  for (int y = 40 + 20; y < 130 + 20; ++y) {
    for (int x = 10; x < 210; ++x) differing += !(before.At(x, y) == under.At(x, y));
  }
  EXPECT_EQ(differing, 0);
}

// A person at the screen: the program sits in its own event loop and gets
// nothing but what the X server sends.
TEST_F(UiScreenshotTest, MessageBoxAfterADropDownTakesTheInputAndItsOwnerNone) {
  constexpr const char* kSample = "Sample of every control";
  Sample sample;
  int result = 0;
  testing::PlayAgainst([&] { result = sample.DoModal(SampleTemplate()); }, [&](testing::Person& person) {
    ASSERT_TRUE(person.Click(kSample, {400})) << "the drop-down list is not on the screen";
    person.Key("Down");
    person.Key("Return");
    for (const char* answer : {"click Cancel", "Escape", "Return"}) {
      ASSERT_TRUE(person.Click(kSample, {300})) << "the Press button is not on the screen";
      ASSERT_TRUE(person.WaitForWindow("Sample")) << "no message box came after Press";
      // Meanwhile the owner takes neither clicks nor keys.
      person.Click(kSample, {301});
      person.Click(kSample, {200});
      person.Type("x");
      if (std::string(answer) == "click Cancel") {
        ASSERT_TRUE(person.Click("Sample", {kIdCancel})) << "the box's Cancel is not on the screen";
      } else {
        person.Key(answer);
      }
      ASSERT_TRUE(person.WaitUntilGone("Sample")) << "the box stayed after " << answer;
    }
    ASSERT_TRUE(person.Click(kSample, {200}));  // the dialog takes clicks and keys again
    person.Type("ok");
    ASSERT_TRUE(person.Click(kSample, {kIdOk})) << "OK is not on the screen";
  });
  EXPECT_EQ(result, kIdOk);
  EXPECT_EQ(sample.log, (std::vector<std::string>{"combo Analyzer title", "press", "box 2", "press", "box 2", "press",
                                                  "box 1", "change 200 o", "change 200 ok"}));
}

TEST(UiBackendChoiceTest, RealWindowsWhenADisplayIsThere) {
  if (!testing::StartVirtualDisplay()) FAIL() << "Xvfb cannot be started (scripts/packages.txt installs it)";
  std::string display = std::getenv("DISPLAY");
  const char* forced = std::getenv("KST_UI");
  const std::string kept = forced != nullptr ? forced : "";
  unsetenv("KST_UI");
  EXPECT_STREQ(MakeBackendForEnvironment()->name(), "fltk");
  setenv("KST_UI", "headless", 1);
  EXPECT_STREQ(MakeBackendForEnvironment()->name(), "headless");
  unsetenv("KST_UI");
  unsetenv("DISPLAY");
  EXPECT_STREQ(MakeBackendForEnvironment()->name(), "headless");
  setenv("DISPLAY", display.c_str(), 1);
  if (forced != nullptr) setenv("KST_UI", kept.c_str(), 1);
}

// The server and the toolkit leave nothing in the shared /tmp or the
// person's home: no socket file, settings in a home of the test's own.
TEST(UiBackendChoiceTest, VirtualDisplayKeepsToItself) {
  if (!testing::StartVirtualDisplay()) FAIL() << "Xvfb cannot be started (scripts/packages.txt installs it)";
  ASSERT_TRUE(testing::UseBackend("fltk"));
  std::string display = std::getenv("DISPLAY");
  EXPECT_FALSE(std::filesystem::exists("/tmp/.X11-unix/X" + display.substr(1))) << display;
  std::filesystem::path own = std::getenv("HOME");
  EXPECT_EQ(own.parent_path(), std::filesystem::temp_directory_path());
  EXPECT_EQ(own.filename().string().rfind("kst_ui_home.", 0), 0u) << own;
}

}  // namespace
}  // namespace kst::ui
