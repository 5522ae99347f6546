// Mirrors of model windows as FLTK widgets, kept in step lazily: a change
// marks the peer dirty, and the back end syncs dirty peers before FLTK
// draws or handles the next event.
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Hold_Browser.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Input_Choice.H>
#include <FL/Fl_Multi_Browser.H>
#include <FL/x.H>

#include <algorithm>
#include <cstdint>

#include "platform/ui/controls.h"
#include "platform/ui/fltk_internal.h"

namespace kst::ui::fltk {
namespace {

Fl_Color ToFl(Color c) { return fl_rgb_color(c.r, c.g, c.b); }

int ClosedComboHeight(const kst::ui::Window& model) {
  return std::min(model.rect().height(), FontSize(model.font()) + 10);
}

Fl_Boxtype EdgeBox(const kst::ui::Window& model, Fl_Boxtype fallback) {
  if (model.HasStyle(kClientEdge)) return FL_DOWN_BOX;
  if (model.HasStyle(kBorder)) return FL_BORDER_BOX;
  return fallback;
}

// The colour behind a control: its own, else that of the nearest window
// around it that has one, else the toolkit's.
Fl_Color BackgroundOf(const kst::ui::Window& model) {
  for (const kst::ui::Window* w = &model; w != nullptr; w = w->parent()) {
    if (w->has_background()) return ToFl(w->background());
  }
  return FL_BACKGROUND_COLOR;
}

}  // namespace

void MenuItems::Build(const Menu& menu) {
  labels_.clear();
  items_.clear();
  items_.reserve(256);
  Add(menu);
  items_.push_back(Fl_Menu_Item{});
}

void MenuItems::Add(const Menu& menu) {
  for (int pos = 0; pos < menu.count(); ++pos) {
    int state = menu.ItemState(pos, By::kPosition);
    if (state & kMenuSeparator) {
      if (!items_.empty()) items_.back().flags |= FL_MENU_DIVIDER;
      continue;
    }
    labels_.push_back(std::make_unique<std::string>(menu.ItemText(pos)));
    Fl_Menu_Item item{};
    item.text = labels_.back()->c_str();
    bool usable = !(state & (kMenuGrayed | kMenuDisabled));
    if (!usable) item.flags |= FL_MENU_INACTIVE;
    if (const Menu* popup = menu.SubMenu(pos)) {
      item.flags |= FL_SUBMENU;
      items_.push_back(item);
      Add(*popup);
      items_.push_back(Fl_Menu_Item{});
    } else {
      item.user_data_ = reinterpret_cast<void*>(static_cast<intptr_t>(menu.ItemCommand(pos)));
      items_.push_back(item);
    }
  }
}

const Fl_Menu_Item* MenuItems::Find(int command) const {
  for (const Fl_Menu_Item& item : items_) {
    if (item.text != nullptr && !(item.flags & FL_SUBMENU) &&
        reinterpret_cast<intptr_t>(item.user_data_) == command) {
      return &item;
    }
  }
  return nullptr;
}

bool MenuItems::Active(const Fl_Menu_Item* target) const {
  // Walk the flat array keeping the chain of open submenus.
  std::vector<const Fl_Menu_Item*> chain;
  for (const Fl_Menu_Item& item : items_) {
    if (item.text == nullptr) {
      if (!chain.empty()) chain.pop_back();
      continue;
    }
    if (&item == target) {
      if (item.flags & FL_MENU_INACTIVE) return false;
      return std::none_of(chain.begin(), chain.end(), [](const Fl_Menu_Item* m) { return m->flags & FL_MENU_INACTIVE; });
    }
    if (item.flags & FL_SUBMENU) chain.push_back(&item);
  }
  return false;
}

Peer::Peer(Backend& backend, kst::ui::Window& model) : backend_(backend), model_(model) {
  Make();
  backend_.MarkDirty(this);
}

Peer::~Peer() {
  backend_.Forget(this);
  if (widget_ == nullptr) return;
  widget_->callback(static_cast<Fl_Callback*>(nullptr), nullptr);
  widget_->hide();
  // Gone from the screen now, not when this process next waits for events
  // (it may never again).
  if (window_ != nullptr && fl_display != nullptr) XSync(fl_display, False);
  if (Fl_Group* parent = widget_->parent()) parent->remove(widget_);
  Fl::delete_widget(widget_);
}

void Peer::Touch(unsigned aspects) {
  dirty_ |= aspects;
  backend_.MarkDirty(this);
  // Children sit at window coordinates: they move with their parent; and
  // those without a background of their own show their parent's.
  const unsigned inherited = aspects & (kAspectGeometry | kAspectColour);
  if (inherited != 0) {
    for (kst::ui::Window* child : model_.children()) {
      if (child->peer() != nullptr) child->peer()->Touch(inherited);
    }
  }
}

void Peer::Make() {
  Fl_Group::current(nullptr);
  kst::ui::Window& m = model_;
  switch (m.kind()) {
    case Kind::kDialog:
      widget_ = MakeTopWindow(m, &window_, &menu_bar_);
      break;
    case Kind::kWindow:
      if (m.parent() == nullptr) {
        widget_ = MakeTopWindow(m, &window_, &menu_bar_);
      } else {
        auto* group = new Fl_Group(0, 0, 10, 10);
        group->end();
        group->resizable(nullptr);
        group->box(EdgeBox(m, FL_NO_BOX));
        widget_ = group;
      }
      break;
    case Kind::kStatic: {
      auto* box = new Fl_Box(0, 0, 10, 10);
      box->box(EdgeBox(m, FL_FLAT_BOX));
      // Static text stays inside its rectangle: wrapped lines that do not fit
      // are cut off rather than drawn over the controls below.
      Fl_Align align = FL_ALIGN_INSIDE | FL_ALIGN_WRAP | FL_ALIGN_TOP | FL_ALIGN_CLIP;
      if (!m.HasStyle(kAlignCentre)) align |= m.HasStyle(kAlignRight) ? FL_ALIGN_RIGHT : FL_ALIGN_LEFT;
      box->align(align);
      widget_ = box;
      break;
    }
    case Kind::kEdit:
      widget_ = MakeEdit(m);
      widget_->box(EdgeBox(m, FL_BORDER_BOX));
      SetEditAlignment(widget_, m.HasStyle(kAlignCentre) ? 1 : m.HasStyle(kAlignRight) ? 2 : 0);
      break;
    case Kind::kButton: {
      auto* button = new Fl_Button(0, 0, 10, 10);
      button->callback([](Fl_Widget*, void* data) { static_cast<Button*>(data)->UserClick(); }, &m);
      widget_ = button;
      break;
    }
    case Kind::kCheckBox: {
      auto* check = new Fl_Check_Button(0, 0, 10, 10);
      check->callback([](Fl_Widget*, void* data) { static_cast<CheckBox*>(data)->UserClick(); }, &m);
      widget_ = check;
      break;
    }
    case Kind::kUpDown:
      widget_ = MakeUpDown(m);
      break;
    case Kind::kComboBox:
      if (m.HasStyle(kDropDown)) {
        auto* combo = new Fl_Input_Choice(0, 0, 10, 10);
        combo->input()->when(FL_WHEN_CHANGED);
        combo->input()->callback([](Fl_Widget* w, void* data) {
          static_cast<ComboBox*>(data)->UserType(static_cast<Fl_Input*>(w)->value());
        }, &m);
        combo->menubutton()->when(FL_WHEN_RELEASE_ALWAYS);  // choosing the same item again still tells
        combo->menubutton()->callback([](Fl_Widget* w, void* data) {
          static_cast<ComboBox*>(data)->UserSelect(static_cast<Fl_Menu_Button*>(w)->value());
        }, &m);
        widget_ = combo;
      } else {
        auto* choice = new Fl_Choice(0, 0, 10, 10);
        choice->when(FL_WHEN_RELEASE_ALWAYS);
        choice->callback([](Fl_Widget* w, void* data) {
          static_cast<ComboBox*>(data)->UserSelect(static_cast<Fl_Choice*>(w)->value());
        }, &m);
        widget_ = choice;
      }
      break;
    case Kind::kListBox: {
      Fl_Browser* browser = m.HasStyle(kExtendedSel) ? static_cast<Fl_Browser*>(new Fl_Multi_Browser(0, 0, 10, 10))
                                                     : new Fl_Hold_Browser(0, 0, 10, 10);
      browser->format_char('\x01');
      browser->column_char('\x02');
      browser->box(EdgeBox(m, FL_DOWN_BOX));
      browser->when(FL_WHEN_CHANGED);
      browser->callback([](Fl_Widget* w, void* data) {
        auto* b = static_cast<Fl_Browser*>(w);
        std::vector<int> selected;
        for (int line = 1; line <= b->size(); ++line) {
          if (b->selected(line)) selected.push_back(line - 1);
        }
        static_cast<ListBox*>(data)->UserSetSelection(selected);
      }, &m);
      widget_ = browser;
      break;
    }
    case Kind::kTree:
      widget_ = MakeTree(m);
      break;
  }
  if (window_ == nullptr && m.parent() != nullptr) {
    if (Peer* parent = PeerOf(*m.parent())) {
      if (auto* group = parent->widget_->as_group()) group->add(widget_);
    }
  }
}

Point Peer::ClientOrigin() const {
  // Window coordinates of the client origin: the top-level's client origin
  // on the screen is below the menu bar inside the FLTK window.
  kst::ui::Window* top = model_.TopLevel();
  Point screen = model_.ClientToScreen({0, 0});
  Point top_origin = top->ClientToScreen({0, 0});
  int menu = 0;
  if (auto* dialog = dynamic_cast<Dialog*>(top); dialog != nullptr && dialog->menu_bar() != nullptr) {
    menu = kMenuBarHeight;
  }
  return {screen.x - top_origin.x, screen.y - top_origin.y + menu};
}

void Peer::Sync() {
  unsigned dirty = dirty_;
  dirty_ = 0;
  if (dirty & (kAspectGeometry | kAspectMenu)) SyncGeometry();
  if (dirty & kAspectMenu) RebuildMenuBar();
  if (dirty & kAspectFont) SyncFont();
  if (dirty & kAspectItems) SyncItems();
  if (dirty & (kAspectText | kAspectItems)) SyncText();
  if (dirty & (kAspectSelection | kAspectItems | kAspectText)) SyncSelection();
  if (dirty & kAspectColour) SyncColour();
  if (dirty & kAspectIcon) SyncIcon();
  if (dirty & kAspectState) SyncState();
  if (model_.kind() == Kind::kTree) RefreshTree(widget_);
  widget_->redraw();
  if (window_ == nullptr && widget_->parent() != nullptr) widget_->parent()->redraw();
}

void Peer::SyncGeometry() {
  kst::ui::Window& m = model_;
  if (window_ != nullptr) {
    Rect client = m.ClientRect();
    Point origin = m.ClientToScreen({0, 0});
    bool has_menu = menu_bar_ != nullptr && dynamic_cast<Dialog*>(&m) != nullptr &&
                    static_cast<Dialog&>(m).menu_bar() != nullptr;
    int menu = has_menu ? kMenuBarHeight : 0;
    window_->resize(origin.x, origin.y - menu, std::max(1, client.width()), std::max(1, client.height() + menu));
    menu_bar_->resize(0, 0, std::max(1, client.width()), kMenuBarHeight);
    if (has_menu) {
      menu_bar_->show();
    } else {
      menu_bar_->hide();
    }
    return;
  }
  Point origin = PeerOf(*m.parent())->ClientOrigin();
  Rect r = m.rect();
  int height = m.kind() == Kind::kComboBox ? ClosedComboHeight(m) : r.height();
  widget_->resize(origin.x + r.left, origin.y + r.top, std::max(1, r.width()), std::max(1, height));
}

void Peer::RebuildMenuBar() {
  auto* dialog = dynamic_cast<Dialog*>(&model_);
  if (menu_bar_ == nullptr || dialog == nullptr || dialog->menu_bar() == nullptr) return;
  menu_items_.Build(*dialog->menu_bar());
  menu_bar_->menu(menu_items_.items());
  menu_bar_->redraw();
}

void Peer::SyncText() {
  kst::ui::Window& m = model_;
  switch (m.kind()) {
    case Kind::kEdit: {
      auto* input = static_cast<Fl_Input*>(widget_);
      if (m.Text() != input->value()) input->value(m.Text().c_str());
      break;
    }
    case Kind::kComboBox:
      if (m.HasStyle(kDropDown)) {
        auto* combo = static_cast<Fl_Input_Choice*>(widget_);
        if (m.Text() != combo->value()) combo->value(m.Text().c_str());
      }
      break;
    case Kind::kListBox:
    case Kind::kUpDown:
    case Kind::kTree:
      break;
    case Kind::kDialog:
    case Kind::kWindow:
      if (window_ != nullptr) window_->copy_label(m.Text().c_str());
      break;
    default:
      widget_->copy_label(PlainLabel(m.Text(), m.kind() == Kind::kButton || m.kind() == Kind::kCheckBox).c_str());
      break;
  }
}

void Peer::SyncItems() {
  kst::ui::Window& m = model_;
  if (m.kind() == Kind::kListBox) {
    auto& list = static_cast<ListBox&>(m);
    auto* browser = static_cast<Fl_Browser*>(widget_);
    browser->clear();
    for (int i = 0; i < list.count(); ++i) browser->add(list.ItemText(i).c_str());
  } else if (m.kind() == Kind::kComboBox) {
    auto& combo = static_cast<ComboBox&>(m);
    item_labels_.clear();
    choice_items_.clear();
    for (int i = 0; i < combo.count(); ++i) {
      item_labels_.push_back(std::make_unique<std::string>(PlainLabel(combo.ItemText(i), true)));
      Fl_Menu_Item item{};
      item.text = item_labels_.back()->c_str();
      choice_items_.push_back(item);
    }
    choice_items_.push_back(Fl_Menu_Item{});
    Fl_Menu_* menu = m.HasStyle(kDropDown) ? static_cast<Fl_Menu_*>(static_cast<Fl_Input_Choice*>(widget_)->menubutton())
                                           : static_cast<Fl_Menu_*>(widget_);
    menu->menu(choice_items_.data());
  }
}

void Peer::SyncSelection() {
  kst::ui::Window& m = model_;
  switch (m.kind()) {
    case Kind::kEdit: {
      auto [start, end] = static_cast<Edit&>(m).selection();
      static_cast<Fl_Input*>(widget_)->position(end, start);
      break;
    }
    case Kind::kCheckBox:
      static_cast<Fl_Check_Button*>(widget_)->value(static_cast<CheckBox&>(m).IsChecked() ? 1 : 0);
      break;
    case Kind::kComboBox: {
      auto& combo = static_cast<ComboBox&>(m);
      if (m.HasStyle(kDropDown)) {
        static_cast<Fl_Input_Choice*>(widget_)->menubutton()->value(combo.CurSel());
      } else {
        static_cast<Fl_Choice*>(widget_)->value(combo.CurSel());
      }
      break;
    }
    case Kind::kListBox: {
      auto& list = static_cast<ListBox&>(m);
      auto* browser = static_cast<Fl_Browser*>(widget_);
      for (int i = 0; i < list.count(); ++i) browser->select(i + 1, list.IsSelected(i) ? 1 : 0);
      break;
    }
    default:
      break;
  }
}

void Peer::SyncFont() {
  Fl_Font face = FontFace(model_.font());
  Fl_Fontsize size = FontSize(model_.font());
  widget_->labelfont(face);
  widget_->labelsize(size);
  switch (model_.kind()) {
    case Kind::kEdit:
      static_cast<Fl_Input*>(widget_)->textfont(face);
      static_cast<Fl_Input*>(widget_)->textsize(size);
      break;
    case Kind::kComboBox:
      if (model_.HasStyle(kDropDown)) {
        static_cast<Fl_Input_Choice*>(widget_)->textfont(face);
        static_cast<Fl_Input_Choice*>(widget_)->textsize(size);
      } else {
        static_cast<Fl_Choice*>(widget_)->textfont(face);
        static_cast<Fl_Choice*>(widget_)->textsize(size);
      }
      SyncGeometry();
      break;
    case Kind::kListBox:
      static_cast<Fl_Browser*>(widget_)->textfont(face);
      static_cast<Fl_Browser*>(widget_)->textsize(size);
      break;
    default:
      break;
  }
}

void Peer::SyncColour() {
  // A static text draws its background before its text: drawn again alone
  // (after a key in an edit box), its text would land on its old self and
  // look bold and smeared.
  if (model_.kind() == Kind::kStatic) {
    widget_->color(BackgroundOf(model_));
    return;
  }
  if (!model_.has_background()) return;
  widget_->color(ToFl(model_.background()));
  if (model_.kind() == Kind::kWindow && window_ == nullptr && widget_->box() == FL_NO_BOX) widget_->box(FL_FLAT_BOX);
}

void Peer::SyncIcon() {
  if (model_.kind() == Kind::kStatic) {
    const Icon* icon = static_cast<Static&>(model_).icon();
    if (icon == nullptr) return;
    widget_->image(backend_.ImageOf(icon));
    widget_->align(FL_ALIGN_INSIDE | FL_ALIGN_CENTER);
  } else if (window_ != nullptr) {
    if (auto* dialog = dynamic_cast<Dialog*>(&model_)) {
      const Icon* icon = dialog->icon(true) != nullptr ? dialog->icon(true) : dialog->icon(false);
      if (Fl_RGB_Image* image = backend_.ImageOf(icon)) window_->icon(image);
    }
  }
}

void Peer::SyncState() {
  // A disabled top-level window (the owner of a modal run) keeps its look;
  // the modal window takes its input meanwhile.
  if (model_.IsEnabled() || window_ != nullptr) {
    widget_->activate();
  } else {
    widget_->deactivate();
  }
  if (model_.IsVisible()) {
    if (window_ == nullptr || !window_->shown()) widget_->show();
  } else {
    widget_->hide();
  }
}

}  // namespace kst::ui::fltk
