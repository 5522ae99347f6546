#include "platform/ui/dialog.h"

#include <algorithm>

#include "platform/ui/backend.h"
#include "platform/ui/controls.h"
#include "platform/ui/icon_art.h"
#include "platform/ui/menu.h"
#include "platform/ui/resources.h"
#include "platform/ui/script.h"

namespace kst::ui {
namespace {

// While a modal dialog runs, no other top-level window takes input: those
// that were enabled are disabled, and enabled again when the run ends
// (nested runs undo their own in order).
std::vector<Window*> DisableOthers(const Window& modal) {
  std::vector<Window*> disabled;
  for (Window* top : TopLevelWindows()) {
    if (top == &modal || !top->IsEnabled()) continue;
    top->Enable(false);
    disabled.push_back(top);
  }
  return disabled;
}

void EnableAgain(const std::vector<Window*>& disabled) {
  const std::vector<Window*>& alive = TopLevelWindows();
  for (Window* top : disabled) {
    if (std::find(alive.begin(), alive.end(), top) != alive.end()) top->Enable(true);
  }
}

}  // namespace

Dialog::Dialog(int template_id, Window* owner) : template_id_(template_id), owner_(owner) {}

Dialog::~Dialog() {
  if (IsCreated()) Window::DestroyWindow();
  controls_.clear();
}

bool Dialog::Build(const DialogTemplate& tmpl, bool modal) {
  if (IsCreated()) return false;
  controls_.clear();
  Rect client = TemplateRect(tmpl, 0, 0, tmpl.cx, tmpl.cy);
  int width = client.width() + 2 * kFrameBorder;
  int height = client.height() + 2 * kFrameBorder + ((tmpl.style & kCaption) ? kCaptionHeight : 0);
  Rect screen = CurrentBackend().Screen();
  int left = std::max(screen.left, screen.left + (screen.width() - width) / 2);
  int top = std::max(screen.top, screen.top + (screen.height() - height) / 2);
  uint32_t style = tmpl.style & ~kVisible;
  if (!CreateAs(Kind::kDialog, nullptr, template_id_, {left, top, left + width, top + height}, style,
                tmpl.caption)) {
    return false;
  }
  modal_ = modal;
  running_ = true;
  result_ = 0;
  if (tmpl.style & kSystemMenu) {
    system_menu_ = std::make_unique<Menu>();
    system_menu_->Append("Move", 0xF010);
    system_menu_->AppendSeparator();
    system_menu_->Append("Close", kScClose);
  }
  font_ = std::make_unique<Font>(TemplateFont(tmpl));
  SetFont(font_.get());
  const Resources* resources = CurrentResources();
  for (const ControlTemplate& c : tmpl.controls) {
    Rect rect = TemplateRect(tmpl, c.x, c.y, c.cx, c.cy);
    std::unique_ptr<Window> control = CreateControl(c.kind, this, c.id, rect, c.style, c.text);
    if (control == nullptr) continue;
    control->SetFont(font_.get());
    if (c.icon != 0 && resources != nullptr) {
      if (auto* icon_static = dynamic_cast<Static*>(control.get())) icon_static->SetIcon(resources->LoadIcon(c.icon));
    }
    controls_.push_back(std::move(control));
  }
  return true;
}

int Dialog::Run(const DialogTemplate& tmpl) {
  if (!Build(tmpl, true)) return -1;
  if (message_box_) DressMessageBox();
  OnInitDialog();
  if (running_) {
    std::vector<Window*> disabled = DisableOthers(*this);
    Show(true);
    ModalScript script;
    bool scripted = TakeModalScript(&script);
    CurrentBackend().RunModal(*this, scripted ? &script : nullptr);
    EnableAgain(disabled);
  }
  RecordModal(*this);
  Window::DestroyWindow();
  return result_;
}

int Dialog::DoModal() {
  const Resources* resources = CurrentResources();
  const DialogTemplate* tmpl = resources != nullptr ? resources->FindDialog(template_id_) : nullptr;
  if (tmpl == nullptr) return -1;
  DialogTemplate copy = *tmpl;  // handlers may switch the resources meanwhile
  return Run(copy);
}

int Dialog::DoModal(const DialogTemplate& tmpl) { return Run(tmpl); }

bool Dialog::CreateModeless() {
  const Resources* resources = CurrentResources();
  const DialogTemplate* tmpl = resources != nullptr ? resources->FindDialog(template_id_) : nullptr;
  if (tmpl == nullptr || !Build(*tmpl, false)) return false;
  bool visible = (tmpl->style & kVisible) != 0;
  OnInitDialog();
  if (visible && running_) Show(true);
  return true;
}

void Dialog::DressMessageBox() {
  if (auto* icon = ChildAs<Static>(20)) icon->SetIcon(SystemIcon(message_icon_));
  if (owner_ != nullptr && owner_->TopLevel()->has_background()) SetBackground(owner_->TopLevel()->background());
}

void Dialog::EndDialog(int result) {
  result_ = result;
  running_ = false;
  if (!modal_) Show(false);
}

void Dialog::OnDestroyed() {
  running_ = false;
  system_menu_.reset();
}

bool Dialog::OnCommandId(int id) {
  if (id == kIdOk) {
    OnOK();
    return true;
  }
  if (id == kIdCancel) {
    OnCancel();
    return true;
  }
  return false;
}

void Dialog::OnSysCommand(int command) {
  if (command == kScClose) SendCommand(kIdCancel);
}

void Dialog::SetIcon(const Icon* icon, bool big) {
  (big ? big_icon_ : small_icon_) = icon;
  Touch(kAspectIcon);
}

void Dialog::SetMenuBar(Menu* menu) {
  menu_bar_ = menu;
  Touch(kAspectMenu | kAspectGeometry);
}

void Dialog::DrawMenuBar() { Touch(kAspectMenu); }

Point Dialog::ClientOffset() const {
  Point offset = Window::ClientOffset();
  if (menu_bar_ != nullptr) offset.y += kMenuBarHeight;
  return offset;
}

bool Dialog::UserChooseMenu(int command) {
  if (!IsUsable() || menu_bar_ == nullptr) return false;
  OnMenuSelect();
  if (menu_bar_ == nullptr || !menu_bar_->CanChoose(command)) return false;
  SendCommand(command);
  return true;
}

bool Dialog::UserChooseSystemMenu(int command) {
  if (!IsUsable() || system_menu_ == nullptr || !system_menu_->CanChoose(command)) return false;
  OnSysCommand(command);
  return true;
}

bool Dialog::UserOpenSystemMenu() {
  if (!IsUsable() || system_menu_ == nullptr) return false;
  OnMenuSelect();
  int command = ChoosePopup(*system_menu_, ClientToScreen({0, 0}), *this);
  if (command != 0) UserChooseSystemMenu(command);
  return true;
}

void Dialog::UserEscape() {
  if (IsUsable()) SendCommand(kIdCancel);
}

void Dialog::UserCloseBox() {
  if (IsUsable()) OnSysCommand(kScClose);
}

void Dialog::UserEnter(Window* focus) {
  if (!IsUsable()) return;
  if (auto* button = dynamic_cast<Button*>(focus); button != nullptr && button->TopLevel() == this) {
    button->UserClick();
    return;
  }
  int id = kIdOk;
  for (Window* child : children()) {
    if (child->kind() == Kind::kButton && child->HasStyle(kDefaultButton)) {
      id = child->id();
      break;
    }
  }
  Window* button = Child(id);
  if (button != nullptr && !button->IsUsable()) return;
  SendCommand(id);
}

}  // namespace kst::ui
