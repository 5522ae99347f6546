// The FLTK widgets that the toolkit lacks or that must report to the model:
// the top-level window, the menu bar, the aligned digit-aware edit, the
// up-down arrows and the tree.
#include <FL/Fl_Input.H>
#include <FL/Fl_Scrollbar.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <cstdint>

#include "platform/ui/fltk_internal.h"
#include "platform/ui/tree.h"
#include "platform/ui/updown.h"
#include "platform/ui/text_controls.h"

namespace kst::ui::fltk {
namespace {

class TopWindow final : public Fl_Double_Window {
 public:
  TopWindow(kst::ui::Window& model) : Fl_Double_Window(10, 10), model_(model) {
    callback([](Fl_Widget*, void* data) {
      if (auto* dialog = dynamic_cast<Dialog*>(static_cast<kst::ui::Window*>(data))) dialog->UserCloseBox();
    }, &model_);
  }
  int handle(int event) override {
    if (event == FL_KEYBOARD || event == FL_SHORTCUT) {
      auto* dialog = dynamic_cast<Dialog*>(&model_);
      int key = Fl::event_key();
      if (dialog != nullptr && key == FL_Escape) {
        dialog->UserEscape();
        return 1;
      }
      // Alt+Space whatever has the focus, as no control claims it.
      if (dialog != nullptr && key == ' ' && Fl::event_state(FL_ALT)) return dialog->UserOpenSystemMenu() ? 1 : 0;
      if (event == FL_KEYBOARD && Fl_Double_Window::handle(event)) return 1;
      if (dialog != nullptr && (key == FL_Enter || key == FL_KP_Enter)) {
        dialog->UserEnter(TheBackend().Focus());
        return 1;
      }
      if (event == FL_KEYBOARD) return 0;
    }
    return Fl_Double_Window::handle(event);
  }

 private:
  kst::ui::Window& model_;
};

class MenuBar final : public Fl_Menu_Bar {
 public:
  MenuBar(kst::ui::Window& model) : Fl_Menu_Bar(0, 0, 10, kMenuBarHeight), model_(model) {
    callback([](Fl_Widget* w, void* data) {
      auto* bar = static_cast<Fl_Menu_Bar*>(w);
      const Fl_Menu_Item* item = bar->mvalue();
      auto* dialog = dynamic_cast<Dialog*>(static_cast<kst::ui::Window*>(data));
      if (item != nullptr && dialog != nullptr) {
        dialog->UserChooseMenu(static_cast<int>(reinterpret_cast<intptr_t>(item->user_data())));
      }
    }, &model_);
  }
  int handle(int event) override {
    if (event == FL_PUSH) Prepare();
    return Fl_Menu_Bar::handle(event);
  }

  // The key of this event opens a menu, as on the platform the dialogs come
  // from: Alt with a title's "&" letter opens that title's menu, F10 the
  // first; in the bar the arrows move, Return chooses, Escape leaves. False
  // (nothing done) for any other key.
  bool OpenByKey() {
    auto* dialog = dynamic_cast<Dialog*>(&model_);
    const int mods = Fl::event_state() & (FL_SHIFT | FL_CTRL | FL_ALT | FL_META);
    const bool f10 = Fl::event_key() == FL_F + 10 && mods == 0;
    const bool alt = mods == FL_ALT || mods == (FL_ALT | FL_SHIFT);
    if (dialog == nullptr || !visible_r() || menu() == nullptr || (!f10 && !alt)) return false;
    if (!f10 && menu()->find_shortcut(nullptr, true) == nullptr) return false;
    Prepare();
    const Fl_Menu_Item* title = f10 ? menu() : menu()->find_shortcut(nullptr, true);
    if (title == nullptr || title->label() == nullptr) return false;
    picked(menu()->pulldown(x(), y(), w(), h(), title, this, nullptr, 1));
    return true;
  }

 private:
  // The dialog may grey items as the menu opens.
  void Prepare() {
    if (auto* dialog = dynamic_cast<Dialog*>(&model_)) dialog->OnMenuSelect();
    if (Peer* peer = PeerOf(model_)) peer->RebuildMenuBar();
  }

  kst::ui::Window& model_;
};

class EditInput final : public Fl_Input {
 public:
  EditInput(Edit& model) : Fl_Input(0, 0, 10, 10), model_(model) {
    when(FL_WHEN_CHANGED);
    callback([](Fl_Widget* w, void* data) {
      auto* input = static_cast<EditInput*>(w);
      static_cast<Edit*>(data)->UserEdited(input->value(), input->position(), input->mark());
    }, &model_);
  }
  void alignment(int a) { alignment_ = a; redraw(); }

  int handle(int event) override {
    if (event == FL_KEYBOARD && !Fl::event_state(FL_CTRL | FL_ALT | FL_META) && Fl::event_length() > 0 &&
        model_.RefusesKey(std::string_view(Fl::event_text(), Fl::event_length()))) {
      return 1;
    }
    if (event == FL_PUSH || event == FL_DRAG || event == FL_RELEASE) {
      int saved = Fl::e_x;
      Fl::e_x -= shift_;
      int used = Fl_Input::handle(event);
      Fl::e_x = saved;
      return used;
    }
    return Fl_Input::handle(event);
  }

 protected:
  void draw() override {
    Fl_Boxtype b = box();
    if (damage() & FL_DAMAGE_ALL) draw_box(b, color());
    int X = x() + Fl::box_dx(b), Y = y() + Fl::box_dy(b), W = w() - Fl::box_dw(b), H = h() - Fl::box_dh(b);
    shift_ = 0;
    if (alignment_ != 0) {
      fl_font(textfont(), textsize());
      int text = static_cast<int>(fl_width(value())) + 6;
      if (text < W) shift_ = alignment_ == 2 ? W - text : (W - text) / 2;
    }
    if (shift_ > 0) {
      fl_color(color());
      fl_rectf(X, Y, shift_, H);
    }
    drawtext(X + shift_, Y, W - shift_, H);
  }

 private:
  Edit& model_;
  int alignment_ = 0;
  int shift_ = 0;
};

class UpDownArrows final : public Fl_Widget {
 public:
  UpDownArrows(UpDown& model) : Fl_Widget(0, 0, 10, 10), model_(model) {}
  int handle(int event) override {
    if (event == FL_PUSH) {
      bool upper = Fl::event_y() < y() + h() / 2;
      pressed_ = upper ? 1 : -1;
      redraw();
      model_.UserStep(upper ? 1 : -1);
      return 1;
    }
    if (event == FL_RELEASE) {
      pressed_ = 0;
      redraw();
      return 1;
    }
    return 0;
  }

 protected:
  void draw() override {
    int half = h() / 2;
    draw_half(y(), half, true);
    draw_half(y() + half, h() - half, false);
  }

 private:
  void draw_half(int top, int height, bool up) {
    fl_draw_box(pressed_ == (up ? 1 : -1) ? FL_DOWN_BOX : FL_UP_BOX, x(), top, w(), height, FL_BACKGROUND_COLOR);
    fl_color(active_r() ? FL_FOREGROUND_COLOR : fl_inactive(FL_FOREGROUND_COLOR));
    int cx = x() + w() / 2, cy = top + height / 2;
    int s = std::max(2, std::min(w(), height) / 4);
    if (up) {
      fl_polygon(cx - s, cy + s / 2, cx + s, cy + s / 2, cx, cy - s / 2);
    } else {
      fl_polygon(cx - s, cy - s / 2, cx + s, cy - s / 2, cx, cy + s / 2);
    }
  }
  UpDown& model_;
  int pressed_ = 0;
};

class TreeView final : public Fl_Group {
 public:
  TreeView(TreeCtrl& model) : Fl_Group(0, 0, 10, 10), model_(model) {
    bar_ = new Fl_Scrollbar(0, 0, 16, 10);
    bar_->type(FL_VERTICAL);
    bar_->hide();
    bar_->callback([](Fl_Widget* w, void* data) {
      static_cast<TreeCtrl*>(data)->SetScroll(static_cast<Fl_Scrollbar*>(w)->value());
    }, &model_);
    end();
    resizable(nullptr);
  }

  // Shows the scroll bar while the shown rows do not fit.
  void Refresh() {
    Point off = model_.ClientOffset();
    Rect client = model_.ClientRect();
    bar_->resize(x() + off.x + client.width() - 16, y() + off.y, 16, std::max(1, client.height()));
    int rows = static_cast<int>(model_.VisibleItems().size());
    int fits = std::max(1, client.height() / model_.row_height());
    if (rows > fits) {
      bar_->value(model_.scroll(), fits, 0, rows);
      bar_->show();
    } else {
      bar_->hide();
    }
  }

  int handle(int event) override {
    if (bar_->visible() && (event == FL_PUSH || event == FL_DRAG || event == FL_RELEASE) &&
        (Fl::pushed() == bar_ || Fl::event_inside(bar_))) {
      return bar_->handle(event);
    }
    Point origin = {x() + model_.ClientOffset().x, y() + model_.ClientOffset().y};
    if (event == FL_PUSH) {
      Fl::focus(this);
      model_.UserClick({Fl::event_x() - origin.x, Fl::event_y() - origin.y}, Fl::event_button() == FL_RIGHT_MOUSE);
      return 1;
    }
    if (event == FL_MOUSEWHEEL) {
      model_.SetScroll(model_.scroll() + Fl::event_dy());
      return 1;
    }
    if (event == FL_FOCUS || event == FL_UNFOCUS) return 1;
    if (event == FL_KEYBOARD && (Fl::event_key() == FL_Up || Fl::event_key() == FL_Down)) {
      model_.UserArrow(Fl::event_key() == FL_Down ? 1 : -1);
      return 1;
    }
    return 0;
  }

 protected:
  void draw() override {
    Color bg = model_.has_background() ? model_.background() : Color{255, 255, 255};
    draw_box(model_.HasStyle(kClientEdge) ? FL_DOWN_BOX : FL_BORDER_BOX, fl_rgb_color(bg.r, bg.g, bg.b));
    Point off = model_.ClientOffset();
    int ox = x() + off.x, oy = y() + off.y;
    Rect client = model_.ClientRect();
    fl_push_clip(ox, oy, client.width() - (bar_->visible() ? 16 : 0), client.height());
    fl_font(FontFace(model_.font()), FontSize(model_.font()));
    const ImageList* images = model_.image_list();
    int row = model_.row_height();
    for (TreeItem item : model_.VisibleItems()) {
      Rect icon, label;
      if (!model_.ItemGeometry(item, &icon, &label) || label.bottom < 0) continue;
      if (label.top > client.height()) break;
      DrawLines(item, icon, ox, oy, row);
      if (images != nullptr) {
        int image = 0, selected = 0;
        model_.ItemImage(item, &image, &selected);
        const Icon* picture = images->At(item == model_.selected() ? selected : image);
        if (Fl_RGB_Image* rgb = TheBackend().ImageOf(picture)) {
          rgb->draw(ox + icon.left + (images->cx() - picture->width()) / 2,
                    oy + icon.top + (row - picture->height()) / 2);
        }
      }
      bool chosen = item == model_.selected();
      if (chosen) {
        fl_color(active_r() ? FL_SELECTION_COLOR : fl_rgb_color(200, 200, 200));
        fl_rectf(ox + label.left, oy + label.top + 1, label.width(), row - 2);
      }
      fl_color(!active_r() ? fl_inactive(FL_FOREGROUND_COLOR) : chosen ? FL_WHITE : FL_FOREGROUND_COLOR);
      std::string text = model_.ItemText(item);
      fl_draw(text.c_str(), static_cast<int>(text.size()), ox + label.left + 2,
              oy + label.top + row / 2 + fl_height() / 2 - fl_descent());
    }
    fl_pop_clip();
    if (bar_->visible()) draw_child(*bar_);
  }

 private:
  void DrawLines(TreeItem item, const Rect& icon, int ox, int oy, int row) {
    if (!model_.HasStyle(kHasLines) && !model_.HasStyle(kHasButtons)) return;
    int ind = model_.indent();
    int mid_y = oy + icon.top + row / 2;
    int stem_x = ox + icon.left - ind / 2;
    bool has_stem = model_.Depth(item) > 0 || model_.HasStyle(kLinesAtRoot);
    if (!has_stem) return;
    fl_color(fl_rgb_color(160, 160, 160));
    if (model_.HasStyle(kHasLines)) {
      fl_line(stem_x, mid_y, ox + icon.left - 1, mid_y);
      fl_line(stem_x, oy + icon.top, stem_x, model_.NextSibling(item) != kNoItem ? oy + icon.top + row : mid_y);
    }
    if (model_.HasStyle(kHasButtons) && model_.HasChildren(item)) {
      fl_color(FL_WHITE);
      fl_rectf(stem_x - 4, mid_y - 4, 9, 9);
      fl_color(fl_rgb_color(120, 120, 120));
      fl_rect(stem_x - 4, mid_y - 4, 9, 9);
      fl_color(FL_BLACK);
      fl_line(stem_x - 2, mid_y, stem_x + 2, mid_y);
      if (!model_.IsExpanded(item)) fl_line(stem_x, mid_y - 2, stem_x, mid_y + 2);
    }
  }
  TreeCtrl& model_;
  Fl_Scrollbar* bar_;
};

// Every event passes here first: a key that opens the menu bar reaches it
// before the control with the focus (an edit box would take Alt+F as "f").
int Dispatch(int event, Fl_Window* window) {
  if (event == FL_KEYBOARD && Fl::grab() == nullptr && window != nullptr) {
    for (kst::ui::Window* top : TopLevelWindows()) {
      Peer* peer = PeerOf(*top);
      if (peer == nullptr || peer->window() != window || peer->menu_bar() == nullptr) continue;
      if (static_cast<MenuBar*>(peer->menu_bar())->OpenByKey()) return 1;
      break;
    }
  }
  return Fl::handle_(event, window);
}

}  // namespace

void RouteMenuKeys() { Fl::event_dispatch(Dispatch); }

Fl_Widget* MakeTopWindow(kst::ui::Window& model, Fl_Double_Window** window, Fl_Menu_Bar** bar) {
  auto* top = new TopWindow(model);
  top->end();
  auto* menu = new MenuBar(model);
  top->add(menu);
  menu->hide();
  *window = top;
  *bar = menu;
  return top;
}

Fl_Widget* MakeEdit(kst::ui::Window& model) { return new EditInput(static_cast<Edit&>(model)); }
Fl_Widget* MakeUpDown(kst::ui::Window& model) { return new UpDownArrows(static_cast<UpDown&>(model)); }
Fl_Widget* MakeTree(kst::ui::Window& model) { return new TreeView(static_cast<TreeCtrl&>(model)); }

void RefreshTree(Fl_Widget* tree) { static_cast<TreeView*>(tree)->Refresh(); }

void SetEditAlignment(Fl_Widget* edit, int alignment) { static_cast<EditInput*>(edit)->alignment(alignment); }

}  // namespace kst::ui::fltk
