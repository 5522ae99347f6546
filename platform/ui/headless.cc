// The headless back end: nothing is drawn; the model is the whole window
// system, and the driver calls its User* operations directly.
#include <cstdio>

#include "platform/ui/backend.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"
#include "platform/ui/driver.h"
#include "platform/ui/menu.h"
#include "platform/ui/script.h"

namespace kst::ui {
namespace {

class HeadlessDriver final : public Driver {
 public:
  bool Type(Window& control, std::string_view text) override {
    if (auto* edit = dynamic_cast<Edit*>(&control)) return edit->UserType(text);
    if (auto* combo = dynamic_cast<ComboBox*>(&control)) return combo->UserType(text);
    return false;
  }
  bool Click(Window& control) override {
    if (auto* button = dynamic_cast<Button*>(&control)) return button->UserClick();
    if (auto* check = dynamic_cast<CheckBox*>(&control)) return check->UserClick();
    return false;
  }
  bool Select(Window& control, int index, bool add) override {
    if (auto* combo = dynamic_cast<ComboBox*>(&control)) return combo->UserSelect(index);
    if (auto* list = dynamic_cast<ListBox*>(&control)) return list->UserSelect(index, add);
    return false;
  }
  bool Step(Window& control, int delta) override {
    auto* updown = dynamic_cast<UpDown*>(&control);
    return updown != nullptr && updown->UserStep(delta);
  }
  bool ClickItem(TreeCtrl& tree, TreeItem item, bool right) override {
    Rect icon, label;
    if (!tree.ItemGeometry(item, &icon, &label)) return false;
    return tree.UserClick({(label.left + label.right) / 2, (label.top + label.bottom) / 2}, right);
  }
  bool Arrow(TreeCtrl& tree, int delta) override { return tree.UserArrow(delta); }
  bool ChooseMenu(Dialog& dialog, int command) override { return dialog.UserChooseMenu(command); }
  bool ChooseSystemMenu(Dialog& dialog, int command) override {
    // Opened as on screen, so both back ends show and record the same menu.
    if (dialog.SystemMenu() == nullptr || !dialog.SystemMenu()->CanChoose(command)) return false;
    QueuePopupChoiceFirst(command);
    return dialog.UserOpenSystemMenu();
  }
  bool PressEscape(Dialog& dialog) override { return Key(dialog, &Dialog::UserEscape); }
  bool PressEnter(Dialog& dialog) override {
    if (!dialog.IsUsable()) return false;
    dialog.UserEnter();
    return true;
  }
  bool CloseBox(Dialog& dialog) override { return Key(dialog, &Dialog::UserCloseBox); }

 private:
  static bool Key(Dialog& dialog, void (Dialog::*what)()) {
    if (!dialog.IsUsable()) return false;
    (dialog.*what)();
    return true;
  }
};

class HeadlessBackend final : public Backend {
 public:
  const char* name() const override { return "headless"; }
  std::unique_ptr<Peer> MakePeer(Window&) override { return nullptr; }
  void RunModal(Dialog& dialog, const ModalScript* script) override {
    if (script != nullptr) (*script)(dialog);
    if (!dialog.running()) return;
    // Nobody is there to answer. A message box still says what it says, on
    // standard error, and takes its default button; any other dialog is
    // closed.
    if (script == nullptr && dialog.is_message_box()) {
      std::fprintf(stderr, "[%s] %s\n", dialog.Text().c_str(), dialog.message_text().c_str());
      dialog.EndDialog(kIdOk);
      return;
    }
    dialog.EndDialog(kIdCancel);
  }
  int TrackPopup(const Menu&, Point, Window&) override { return 0; }
  Rect Screen() override { return {0, 0, 1024, 768}; }
  int TextWidth(const Font* font, std::string_view text) override {
    int height = font != nullptr && font->height > 0 ? font->height : 11;
    return static_cast<int>(text.size()) * ((height + 1) / 2);
  }
  Driver& driver() override { return driver_; }
  bool Capture(Window&, Image*) override { return false; }
  bool Post(std::function<void()>) override { return false; }
  bool ScreenRect(Window&, Rect*) override { return false; }
  Window* Focus() override { return nullptr; }
  bool MeasureText(Window&, TextRoom*) override { return false; }

 private:
  HeadlessDriver driver_;
};

}  // namespace

std::unique_ptr<Backend> MakeHeadlessBackend() { return std::make_unique<HeadlessBackend>(); }

}  // namespace kst::ui
