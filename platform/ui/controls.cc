#include "platform/ui/controls.h"

namespace kst::ui {
namespace {

template <class T, class... Args>
std::unique_ptr<Window> Made(Args&&... args) {
  auto control = std::make_unique<T>();
  if (!control->Create(std::forward<Args>(args)...)) return nullptr;
  return control;
}

}  // namespace

std::unique_ptr<Window> CreateControl(Kind kind, Window* parent, int id, const Rect& rect, uint32_t style,
                                      std::string_view text) {
  switch (kind) {
    case Kind::kStatic:
      return Made<Static>(parent, id, rect, style, text);
    case Kind::kEdit: {
      auto edit = std::make_unique<Edit>();
      if (!edit->Create(parent, id, rect, style)) return nullptr;
      if (!text.empty()) edit->SetText(text);
      return edit;
    }
    case Kind::kButton:
      return Made<Button>(parent, id, rect, style, text);
    case Kind::kCheckBox:
      return Made<CheckBox>(parent, id, rect, style, text);
    case Kind::kUpDown:
      return Made<UpDown>(parent, id, rect, style);
    case Kind::kComboBox:
      return Made<ComboBox>(parent, id, rect, style);
    case Kind::kListBox:
      return Made<ListBox>(parent, id, rect, style);
    case Kind::kTree:
      return Made<TreeCtrl>(parent, id, rect, style);
    case Kind::kWindow:
      return Made<Window>(parent, id, rect, style, text);
    case Kind::kDialog:
      return nullptr;
  }
  return nullptr;
}

}  // namespace kst::ui
