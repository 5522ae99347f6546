// The user's hands on FLTK widgets: mouse presses and keystrokes are fed
// to the widgets' own event handling, so the toolkit's side is what the
// script exercises.
#include <FL/Fl_Browser.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Input_Choice.H>

#include <algorithm>

#include "platform/ui/controls.h"
#include "platform/ui/driver.h"
#include "platform/ui/fltk_internal.h"
#include "platform/ui/script.h"
#include "platform/ui/testing.h"

namespace kst::ui::fltk {
namespace {

class FltkDriver final : public Driver {
 public:
  explicit FltkDriver(Backend& backend) : backend_(backend) {}

  bool Type(kst::ui::Window& control, std::string_view text) override {
    Fl_Widget* widget = Usable(control);
    if (widget == nullptr) return false;
    if (control.kind() == Kind::kComboBox) {
      if (!control.HasStyle(kDropDown)) return false;
      Fl_Input* input = static_cast<Fl_Input_Choice*>(widget)->input();
      input->value(std::string(text).c_str());
      input->do_callback();
      backend_.Flush();
      return true;
    }
    if (control.kind() != Kind::kEdit) return false;
    auto* input = static_cast<Fl_Input*>(widget);
    Fl::focus(input);
    input->position(input->size(), 0);
    char* saved_text = Fl::e_text;
    for (char c : text) {
      char buffer[2] = {c, 0};
      Fl::e_text = buffer;
      Fl::e_length = 1;
      Fl::e_keysym = static_cast<unsigned char>(c);
      Fl::e_state = 0;
      // Through FLTK's dispatch: the key goes to the focused box first.
      if (input->window() != nullptr) Fl::handle(FL_KEYBOARD, input->window());
      backend_.Flush();
      if (!control.IsCreated()) break;
    }
    Fl::e_text = saved_text;
    Fl::e_length = 0;
    return true;
  }

  bool Click(kst::ui::Window& control) override {
    if (control.kind() != Kind::kButton && control.kind() != Kind::kCheckBox) return false;
    Fl_Widget* widget = Usable(control);
    if (widget == nullptr) return false;
    Press(widget, widget->x() + widget->w() / 2, widget->y() + widget->h() / 2, FL_LEFT_MOUSE);
    return true;
  }

  bool Select(kst::ui::Window& control, int index, bool add) override {
    Fl_Widget* widget = Usable(control);
    if (widget == nullptr) return false;
    if (control.kind() == Kind::kComboBox) {
      if (index < 0 || index >= static_cast<ComboBox&>(control).count()) return false;
      if (control.HasStyle(kDropDown)) {
        Fl_Menu_Button* menu = static_cast<Fl_Input_Choice*>(widget)->menubutton();
        menu->value(index);
        menu->do_callback();
      } else {
        auto* choice = static_cast<Fl_Choice*>(widget);
        choice->value(index);
        choice->do_callback();
      }
    } else if (control.kind() == Kind::kListBox) {
      auto* browser = static_cast<Fl_Browser*>(widget);
      if (index < 0 || index >= browser->size()) return false;
      if (add && control.HasStyle(kExtendedSel)) {
        browser->select(index + 1, browser->selected(index + 1) ? 0 : 1);
      } else {
        for (int line = 1; line <= browser->size(); ++line) browser->select(line, line == index + 1 ? 1 : 0);
      }
      browser->do_callback();
    } else {
      return false;
    }
    backend_.Flush();
    return true;
  }

  bool Step(kst::ui::Window& control, int delta) override {
    if (control.kind() != Kind::kUpDown) return false;
    Fl_Widget* widget = Usable(control);
    if (widget == nullptr) return false;
    int y = delta > 0 ? widget->y() + widget->h() / 4 : widget->y() + widget->h() * 3 / 4;
    Press(widget, widget->x() + widget->w() / 2, y, FL_LEFT_MOUSE);
    return true;
  }

  bool ClickItem(TreeCtrl& tree, TreeItem item, bool right) override {
    Fl_Widget* widget = Usable(tree);
    Rect icon, label;
    if (widget == nullptr || !tree.ItemGeometry(item, &icon, &label)) return false;
    Point off = tree.ClientOffset();
    Press(widget, widget->x() + off.x + (label.left + label.right) / 2,
          widget->y() + off.y + (label.top + label.bottom) / 2, right ? FL_RIGHT_MOUSE : FL_LEFT_MOUSE);
    return true;
  }

  bool Arrow(TreeCtrl& tree, int delta) override {
    Fl_Widget* widget = Usable(tree);
    if (widget == nullptr || widget->window() == nullptr) return false;
    Fl::focus(widget);
    char* saved_text = Fl::e_text;
    static char none[] = "";
    Fl::e_keysym = delta > 0 ? FL_Down : FL_Up;
    Fl::e_text = none;
    Fl::e_length = 0;
    Fl::e_state = 0;
    Fl::handle(FL_KEYBOARD, widget->window());
    Fl::e_text = saved_text;
    backend_.Flush();
    return true;
  }

  bool ChooseMenu(Dialog& dialog, int command) override {
    Peer* peer = PeerOf(dialog);
    if (peer == nullptr || dialog.menu_bar() == nullptr || !dialog.IsUsable()) return false;
    backend_.Flush();
    // As the user's press on the bar does: the dialog's turn, then the items.
    dialog.OnMenuSelect();
    peer->RebuildMenuBar();
    const Fl_Menu_Item* item = peer->menu_items().Find(command);
    if (item == nullptr || !peer->menu_items().Active(item)) return false;
    peer->menu_bar()->picked(item);
    backend_.Flush();
    return true;
  }

  bool ChooseSystemMenu(Dialog& dialog, int command) override {
    // The window manager keeps the frame's own menu; ours opens on Alt+Space.
    if (dialog.SystemMenu() == nullptr || !dialog.SystemMenu()->CanChoose(command)) return false;
    size_t shown = testing::popup_log().size();
    QueuePopupChoiceFirst(command);
    Key(dialog, ' ', " ", FL_ALT);
    if (testing::popup_log().size() != shown) return true;
    int unused;
    TakePopupChoice(&unused);  // the keys never opened it: drop the choice
    return false;
  }

  bool PressEscape(Dialog& dialog) override { return Key(dialog, FL_Escape, "\x1b", 0); }
  bool PressEnter(Dialog& dialog) override { return Key(dialog, FL_Enter, "\r", 0); }

  bool CloseBox(Dialog& dialog) override {
    Peer* peer = PeerOf(dialog);
    if (peer == nullptr || peer->window() == nullptr || !dialog.IsUsable()) return false;
    peer->window()->do_callback();
    backend_.Flush();
    return true;
  }

 private:
  Fl_Widget* Usable(kst::ui::Window& control) {
    backend_.Flush();
    Peer* peer = PeerOf(control);
    if (peer == nullptr) return nullptr;
    Fl_Widget* widget = peer->widget();
    return widget->active_r() && widget->visible_r() ? widget : nullptr;
  }

  // A press and release at window point x, y, dispatched by FLTK to
  // whatever widget lies there: a control out of place misses the click.
  void Press(Fl_Widget* widget, int x, int y, int button) {
    Fl_Window* window = widget->window();
    if (window == nullptr) return;
    Fl::e_x = x;
    Fl::e_y = y;
    Fl::e_x_root = x + window->x();
    Fl::e_y_root = y + window->y();
    Fl::e_keysym = FL_Button + button;
    Fl::e_state = button == FL_LEFT_MOUSE ? FL_BUTTON1 : button == FL_RIGHT_MOUSE ? FL_BUTTON3 : FL_BUTTON2;
    Fl::e_clicks = 0;
    Fl::e_is_click = 1;
    Fl_Widget_Tracker alive(window);
    Fl::handle(FL_PUSH, window);
    Fl::e_state = 0;
    if (alive.exists()) Fl::handle(FL_RELEASE, window);
    Fl::pushed(nullptr);
    backend_.Flush();
  }

  bool Key(Dialog& dialog, int key, const char* text, int state) {
    Peer* peer = PeerOf(dialog);
    if (peer == nullptr || peer->window() == nullptr || !dialog.IsUsable()) return false;
    char* saved_text = Fl::e_text;
    Fl::e_keysym = key;
    Fl::e_text = const_cast<char*>(text);
    Fl::e_length = 1;
    Fl::e_state = state;
    Fl::handle(FL_KEYBOARD, peer->window());
    Fl::e_state = 0;
    Fl::e_text = saved_text;
    Fl::e_length = 0;
    backend_.Flush();
    return true;
  }

  Backend& backend_;
};

}  // namespace

std::unique_ptr<Driver> MakeDriver(Backend& backend) { return std::make_unique<FltkDriver>(backend); }

}  // namespace kst::ui::fltk
