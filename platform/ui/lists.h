// Combo box (drop-down list or editable drop-down) and list box (sorted,
// extended selection).
#ifndef KST_PLATFORM_UI_LISTS_H_
#define KST_PLATFORM_UI_LISTS_H_

#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/window.h"

namespace kst::ui {

// Items stay in insertion order. Selecting by code sends nothing; the
// user's choice sends Event::kSelChange. With kDropDown the user may also
// type, and Text() is what the edit part holds.
class ComboBox : public Window {
 public:
  bool Create(Window* parent, int id, const Rect& rect, uint32_t style);
  int AddString(std::string_view item);
  // Drops every item and the text, typed text included.
  void ResetContent();
  int count() const { return static_cast<int>(items_.size()); }
  std::string ItemText(int index) const;
  int CurSel() const { return cur_sel_; }
  // -1 clears the selection and the text; false for an index out of range.
  bool SetCurSel(int index);
  // Index of the item equal to text, ignoring ASCII case, searching after
  // start (-1: from the top) and wrapping; -1 when none.
  int FindStringExact(int start, std::string_view text) const;
  // Selects the first item that begins with text (ASCII case ignored);
  // the index or -1.
  int SelectString(int start, std::string_view text);
  void SetText(std::string_view text) override;

  bool UserSelect(int index);
  // Editable drop-down only: what the user typed.
  bool UserType(std::string_view text);

 private:
  std::vector<std::string> items_;
  int cur_sel_ = -1;
};

// With kSorted, items are kept in order ignoring ASCII case (an equal item
// goes after those already there). With kExtendedSel several items can be
// selected.
class ListBox : public Window {
 public:
  bool Create(Window* parent, int id, const Rect& rect, uint32_t style);
  // The index where the item went.
  int AddString(std::string_view item);
  // False for an index out of range.
  bool DeleteString(int index);
  void ResetContent();
  int count() const { return static_cast<int>(items_.size()); }
  std::string ItemText(int index) const;
  // index -1 means every item (extended selection only).
  bool SetSel(int index, bool select);
  bool IsSelected(int index) const;
  int SelCount() const;
  // Selected indexes, ascending.
  std::vector<int> SelItems() const;

  // The user clicks an item: alone it selects only that item; with
  // add (the control key) it toggles the item in an extended selection.
  bool UserSelect(int index, bool add = false);
  // A toolkit reports the items the user left selected.
  bool UserSetSelection(const std::vector<int>& selected);

 private:
  struct Item {
    std::string text;
    bool selected = false;
  };
  std::vector<Item> items_;
};

}  // namespace kst::ui

#endif  // KST_PLATFORM_UI_LISTS_H_
