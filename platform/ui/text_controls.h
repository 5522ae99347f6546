// Static text, edit box, push button and automatic check box.
#ifndef KST_PLATFORM_UI_TEXT_CONTROLS_H_
#define KST_PLATFORM_UI_TEXT_CONTROLS_H_

#include <string_view>
#include <utility>

#include "platform/ui/window.h"

namespace kst::ui {

class Icon;

// Text (left, centred with kAlignCentre, right with kAlignRight) or, with
// kIconStatic, an icon.
class Static : public Window {
 public:
  bool Create(Window* parent, int id, const Rect& rect, uint32_t style, std::string_view text);
  void SetIcon(const Icon* icon);
  const Icon* icon() const { return icon_; }

 private:
  const Icon* icon_ = nullptr;
};

// A one-line edit box. Every change of its text, by code or by the user,
// notifies the parent with Event::kChange; a user's typing notifies once
// per character. Text set by code leaves the caret at the start. The text
// is never cut to the box's width, with or without kAutoHScroll: number
// boxes narrower than their longest value must still take what is typed.
class Edit : public Window {
 public:
  bool Create(Window* parent, int id, const Rect& rect, uint32_t style);
  void SetText(std::string_view text) override;
  // end -1 selects to the end of the text; positions are clamped.
  void SetSel(int start, int end);
  std::pair<int, int> selection() const { return {sel_start_, sel_end_}; }
  // Replaces the selection and leaves the caret after the new text.
  void ReplaceSel(std::string_view text);
  // Scrolling the caret into view is the toolkit's business.
  void ScrollCaret() {}

  // Whether the box refuses a key that types `typed` (the toolkit's text
  // for it): a digits-only box refuses every printable character but 0-9;
  // keys that print nothing (Backspace, Delete, arrows) always pass.
  bool RefusesKey(std::string_view typed) const;

  // The user's side. UserType selects everything first, as tabbing into
  // the box does, then types each character (refusing non-digits in a
  // digits-only box); false when the box cannot be used.
  bool UserType(std::string_view text);
  // A toolkit reports the text the user left in the box.
  void UserEdited(std::string_view text, int sel_start, int sel_end);

 private:
  void Changed();
  int sel_start_ = 0;
  int sel_end_ = 0;
};

// A push button; a click sends its id to the parent as a command.
class Button : public Window {
 public:
  bool Create(Window* parent, int id, const Rect& rect, uint32_t style, std::string_view text);
  bool UserClick();
};

// An automatic check box: a click toggles the check, then sends the id to
// the parent as a command.
class CheckBox : public Window {
 public:
  bool Create(Window* parent, int id, const Rect& rect, uint32_t style, std::string_view text);
  void SetCheck(bool checked);
  bool IsChecked() const { return checked_; }
  bool UserClick();

 private:
  bool checked_ = false;
};

}  // namespace kst::ui

#endif  // KST_PLATFORM_UI_TEXT_CONTROLS_H_
