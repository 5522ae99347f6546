#include "platform/ui/text_controls.h"

#include <algorithm>

namespace kst::ui {

bool Static::Create(Window* parent, int id, const Rect& rect, uint32_t style, std::string_view text) {
  return CreateAs(Kind::kStatic, parent, id, rect, style, text);
}

void Static::SetIcon(const Icon* icon) {
  icon_ = icon;
  Touch(kAspectIcon);
}

bool Edit::Create(Window* parent, int id, const Rect& rect, uint32_t style) {
  return CreateAs(Kind::kEdit, parent, id, rect, style, {});
}

void Edit::Changed() {
  Touch(kAspectText | kAspectSelection);
  if (parent() != nullptr) parent()->Notify(*this, Event::kChange);
}

void Edit::SetText(std::string_view text) {
  text_ = std::string(text);
  sel_start_ = sel_end_ = 0;
  Changed();
}

void Edit::SetSel(int start, int end) {
  int size = static_cast<int>(text_.size());
  if (end < 0 || end > size) end = size;
  start = std::clamp(start, 0, size);
  sel_start_ = std::min(start, end);
  sel_end_ = std::max(start, end);
  Touch(kAspectSelection);
}

void Edit::ReplaceSel(std::string_view text) {
  text_.replace(sel_start_, sel_end_ - sel_start_, text);
  sel_start_ = sel_end_ = sel_start_ + static_cast<int>(text.size());
  Changed();
}

bool Edit::RefusesKey(std::string_view typed) const {
  if (!HasStyle(kDigitsOnly) || typed.empty()) return false;
  auto c = static_cast<unsigned char>(typed.front());
  bool prints = c >= 0x20 && c != 0x7f;  // lead bytes of other letters print too
  return prints && (c < '0' || c > '9');
}

bool Edit::UserType(std::string_view text) {
  if (!IsUsable()) return false;
  SetSel(0, -1);
  for (char c : text) {
    if (RefusesKey(std::string_view(&c, 1))) continue;
    ReplaceSel(std::string_view(&c, 1));
    if (!IsCreated()) break;  // a handler may have taken the box away
  }
  return true;
}

void Edit::UserEdited(std::string_view text, int sel_start, int sel_end) {
  text_ = std::string(text);
  int size = static_cast<int>(text_.size());
  sel_start_ = std::clamp(std::min(sel_start, sel_end), 0, size);
  sel_end_ = std::clamp(std::max(sel_start, sel_end), 0, size);
  Changed();
}

bool Button::Create(Window* parent, int id, const Rect& rect, uint32_t style, std::string_view text) {
  return CreateAs(Kind::kButton, parent, id, rect, style, text);
}

bool Button::UserClick() {
  if (!IsUsable()) return false;
  if (parent() != nullptr) parent()->SendCommand(id());
  return true;
}

bool CheckBox::Create(Window* parent, int id, const Rect& rect, uint32_t style, std::string_view text) {
  return CreateAs(Kind::kCheckBox, parent, id, rect, style, text);
}

void CheckBox::SetCheck(bool checked) {
  checked_ = checked;
  Touch(kAspectSelection);
}

bool CheckBox::UserClick() {
  if (!IsUsable()) return false;
  SetCheck(!checked_);
  if (parent() != nullptr) parent()->SendCommand(id());
  return true;
}

}  // namespace kst::ui
