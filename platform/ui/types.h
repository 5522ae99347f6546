// Plain values the windowing layer speaks in: pixel rectangles, colours,
// fonts, style bits, result codes and control notifications.
#ifndef KST_PLATFORM_UI_TYPES_H_
#define KST_PLATFORM_UI_TYPES_H_

#include <cstdint>
#include <string>

namespace kst::ui {

struct Point {
  int x = 0;
  int y = 0;
  bool operator==(const Point&) const = default;
};

// Edges in pixels; right and bottom lie just outside the rectangle.
struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int width() const { return right - left; }
  int height() const { return bottom - top; }
  bool Contains(Point p) const { return p.x >= left && p.x < right && p.y >= top && p.y < bottom; }
  bool operator==(const Rect&) const = default;
};

struct Color {
  uint8_t r = 0, g = 0, b = 0;
  bool operator==(const Color&) const = default;
};

// A logical font as the dialogs ask for it. A height of 0 means the
// toolkit's ordinary dialog font; faces map to the toolkit's families
// (Arial and the swiss family are sans-serif), height is in pixels.
struct Font {
  std::string face;
  int height = 0;
  int weight = 400;  // 700 and above is bold
  bool italic = false;
};

// Dialog results.
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdNo = 7;

// The id of controls that carry none.
inline constexpr int kNoId = 65535;

// Style bits. Window bits apply to every window; the others only to the
// control kinds named beside them.
enum Style : uint32_t {
  kVisible = 1u << 0,
  kDisabled = 1u << 1,
  kBorder = 1u << 2,
  kClientEdge = 1u << 3,
  kCaption = 1u << 4,        // top-level windows
  kSystemMenu = 1u << 5,     // top-level windows
  kAlignCentre = 1u << 6,    // static, edit
  kAlignRight = 1u << 7,     // static, edit
  kDigitsOnly = 1u << 8,     // edit: typed characters other than 0-9 are refused
  kAutoHScroll = 1u << 9,    // edit
  kDefaultButton = 1u << 10, // button: Enter presses it
  kSorted = 1u << 11,        // list box
  kExtendedSel = 1u << 12,   // list box
  kDropDownList = 1u << 13,  // combo box: choose only
  kDropDown = 1u << 14,      // combo box: choose or type
  kVScroll = 1u << 15,
  kHasButtons = 1u << 16,    // tree
  kHasLines = 1u << 17,      // tree
  kLinesAtRoot = 1u << 18,   // tree
  kIconStatic = 1u << 19,    // static showing an icon
  kTabStop = 1u << 20,
  kGroup = 1u << 21,
};

// Notifications a control sends to its parent window. Button and check
// box clicks arrive as commands with the control's id instead.
enum class Event {
  kChange,       // edit text changed, by the user or by code
  kSelChange,    // combo box or list box selection changed by the user
  kDeltaPos,     // up-down: position about to change; a non-zero result vetoes
  kClick,        // tree: left click; result 0 lets the tree select the item
  kRightClick,   // tree: right click
  kSelChanged,   // tree: selection changed, by the user or by code
};

using TreeItem = uint32_t;  // 0 is no item
inline constexpr TreeItem kNoItem = 0;

struct NotifyInfo {
  int pos = 0;    // kDeltaPos: position before the step
  int delta = 0;  // kDeltaPos: the step
  TreeItem old_item = kNoItem;  // kSelChanged
  TreeItem new_item = kNoItem;  // kSelChanged
};

enum class MessageIcon { kNone, kError, kInformation };
enum class MessageButtons { kOk, kOkCancel };

}  // namespace kst::ui

#endif  // KST_PLATFORM_UI_TYPES_H_
