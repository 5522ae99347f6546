#include "platform/ui/lists.h"

#include <algorithm>

#include "platform/ascii.h"

namespace kst::ui {

bool ComboBox::Create(Window* parent, int id, const Rect& rect, uint32_t style) {
  if (!(style & (kDropDown | kDropDownList))) style |= kDropDownList;
  return CreateAs(Kind::kComboBox, parent, id, rect, style, {});
}

int ComboBox::AddString(std::string_view item) {
  items_.emplace_back(item);
  Touch(kAspectItems);
  return count() - 1;
}

void ComboBox::ResetContent() {
  items_.clear();
  cur_sel_ = -1;
  text_.clear();
  Touch(kAspectItems | kAspectText | kAspectSelection);
}

std::string ComboBox::ItemText(int index) const {
  if (index < 0 || index >= count()) return {};
  return items_[index];
}

bool ComboBox::SetCurSel(int index) {
  if (index >= count() || index < -1) return false;
  cur_sel_ = index;
  text_ = index >= 0 ? items_[index] : std::string();
  Touch(kAspectSelection | kAspectText);
  return true;
}

int ComboBox::FindStringExact(int start, std::string_view text) const {
  int n = count();
  for (int step = 1; step <= n; ++step) {
    int i = ((start < 0 ? -1 : start) + step) % n;
    if (EqualNoCase(items_[i], text)) return i;
  }
  return -1;
}

int ComboBox::SelectString(int start, std::string_view text) {
  int n = count();
  for (int step = 1; step <= n; ++step) {
    int i = ((start < 0 ? -1 : start) + step) % n;
    if (items_[i].size() >= text.size() && EqualNoCase(std::string_view(items_[i]).substr(0, text.size()), text)) {
      SetCurSel(i);
      return i;
    }
  }
  return -1;
}

void ComboBox::SetText(std::string_view text) {
  // A drop-down list shows only its items.
  if (HasStyle(kDropDownList)) return;
  Window::SetText(text);
}

bool ComboBox::UserSelect(int index) {
  if (!IsUsable() || index < 0 || index >= count()) return false;
  SetCurSel(index);
  if (parent() != nullptr) parent()->Notify(*this, Event::kSelChange);
  return true;
}

bool ComboBox::UserType(std::string_view text) {
  if (!IsUsable() || !HasStyle(kDropDown)) return false;
  cur_sel_ = -1;
  Window::SetText(text);
  Touch(kAspectSelection);
  return true;
}

bool ListBox::Create(Window* parent, int id, const Rect& rect, uint32_t style) {
  return CreateAs(Kind::kListBox, parent, id, rect, style, {});
}

int ListBox::AddString(std::string_view item) {
  auto at = items_.end();
  if (HasStyle(kSorted)) {
    at = std::upper_bound(items_.begin(), items_.end(), item,
                          [](std::string_view a, const Item& b) { return LessNoCase(a, b.text); });
  }
  at = items_.insert(at, Item{std::string(item), false});
  Touch(kAspectItems);
  return static_cast<int>(at - items_.begin());
}

bool ListBox::DeleteString(int index) {
  if (index < 0 || index >= count()) return false;
  items_.erase(items_.begin() + index);
  Touch(kAspectItems);
  return true;
}

void ListBox::ResetContent() {
  items_.clear();
  Touch(kAspectItems);
}

std::string ListBox::ItemText(int index) const {
  if (index < 0 || index >= count()) return {};
  return items_[index].text;
}

bool ListBox::SetSel(int index, bool select) {
  if (index == -1 && HasStyle(kExtendedSel)) {
    for (Item& item : items_) item.selected = select;
  } else if (index >= 0 && index < count()) {
    if (!HasStyle(kExtendedSel) && select) {
      for (Item& item : items_) item.selected = false;
    }
    items_[index].selected = select;
  } else {
    return false;
  }
  Touch(kAspectSelection);
  return true;
}

bool ListBox::IsSelected(int index) const { return index >= 0 && index < count() && items_[index].selected; }

int ListBox::SelCount() const {
  return static_cast<int>(std::count_if(items_.begin(), items_.end(), [](const Item& i) { return i.selected; }));
}

std::vector<int> ListBox::SelItems() const {
  std::vector<int> out;
  for (int i = 0; i < count(); ++i) {
    if (items_[i].selected) out.push_back(i);
  }
  return out;
}

bool ListBox::UserSelect(int index, bool add) {
  if (!IsUsable() || index < 0 || index >= count()) return false;
  std::vector<int> selected;
  if (add && HasStyle(kExtendedSel)) {
    selected = SelItems();
    auto at = std::find(selected.begin(), selected.end(), index);
    if (at != selected.end()) {
      selected.erase(at);
    } else {
      selected.push_back(index);
    }
  } else {
    selected.push_back(index);
  }
  return UserSetSelection(selected);
}

bool ListBox::UserSetSelection(const std::vector<int>& selected) {
  if (!IsUsable()) return false;
  for (Item& item : items_) item.selected = false;
  for (int index : selected) {
    if (index >= 0 && index < count()) items_[index].selected = true;
    if (!HasStyle(kExtendedSel)) break;
  }
  Touch(kAspectSelection);
  if (parent() != nullptr) parent()->Notify(*this, Event::kSelChange);
  return true;
}

}  // namespace kst::ui
