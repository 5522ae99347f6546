// What the settings panes share in building and reading their controls:
// the one font each pane owns, the message box of a fault, the number
// boxes (reading, checking, stepping by their up-down control) and the
// name rule.
#ifndef KESTRANE_ALERTER_DIALOGS_CONTROL_HELPERS_H_
#define KESTRANE_ALERTER_DIALOGS_CONTROL_HELPERS_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/controls.h"
#include "platform/ui/types.h"

namespace kst {

// Arial, height 14, normal weight: every pane makes its own and deletes it
// when its controls are gone.
std::unique_ptr<ui::Font> MakePaneFont();

// One control of a pane, in creation order: rectangle in pane client
// pixels; `font` gives it the pane's font.
struct ControlPlan {
  ui::Kind kind;
  int id;
  std::string_view text;  // statics and check boxes only
  ui::Rect rect;
  uint32_t style;
  bool font;
};

// A pane's controls, owned and kept in creation order.
class PaneControls {
 public:
  // Creates each control of `plans` as a child of `pane`, in order; false
  // at the first one that cannot be made (those made so far stay).
  bool Build(ui::Window& pane, const ui::Font* font, const std::vector<ControlPlan>& plans);
  // Destroys every control's window (the objects stay); true when each was
  // created until then.
  bool DestroyAll();
  size_t size() const { return controls_.size(); }
  // The control made from plans[index]; it must have been made.
  template <class T>
  T& get(size_t index) const {
    return dynamic_cast<T&>(*controls_.at(index));
  }
  ui::Window& at(size_t index) const { return *controls_.at(index); }

 private:
  std::vector<std::unique_ptr<ui::Window>> controls_;
};

// A plain message box with an OK button, owned by `owner`.
void ShowPaneMessage(ui::Window* owner, std::string_view text);

// Reads a decimal number at the start of `text`: leading blanks, an
// optional sign, digits; what follows is ignored. False when no digit
// comes. A magnitude past the 32-bit range is held at 2^32, so a long row
// of digits never wraps back into range (a level of "4294967296" is not 0).
bool ParseLeadingNumber(std::string_view text, int64_t* value);

// The first `max_chars` characters of the box's text.
std::string ReadBox(const ui::Window& box, size_t max_chars);

// The number a number box shows for stepping: its first four characters
// as a decimal number, 0 when there is none.
int NumberBoxValue(const ui::Window& box);

// A number box's step: adds `delta` to the box's value, holds the sum at 0
// below the spin's lower bound and at the upper bound above it, and makes
// that the whole text of the box (select all, scroll, replace). The
// spin's own position may move as well (the notification's result is 0).
int StepNumberBox(ui::Edit& box, const ui::UpDown& spin, int delta);

// Faults of a number box's text, in the order they are checked.
enum class NumberBoxFault { kNone, kTooLong, kBadCharacter };

// More than five characters, then any character other than 0-9. An empty
// box passes.
NumberBoxFault CheckNumberBox(std::string_view text);

inline constexpr char kBadCharacterMessage[] = "One of the fields contains unacceptable character.";
inline constexpr char kBadNameMessage[] = "Name must contain only Latin characters and numbers.";
inline constexpr char kProfileDeletedMessage[] = "This profile already deleted!";
inline constexpr char kSameNameMessage[] = "Profile with the same name already exists!";

// A name of Latin letters, digits and blanks (empty passes).
bool IsLatinName(std::string_view name);

// Names are read from the box up to this many characters.
inline constexpr size_t kNameChars = 127;

}  // namespace kst

#endif  // KESTRANE_ALERTER_DIALOGS_CONTROL_HELPERS_H_
