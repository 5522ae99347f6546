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

#include "platform/ui/controls.h"
#include "platform/ui/types.h"

namespace kst {

// Arial, height 14, normal weight: every pane makes its own and deletes it
// when its controls are gone.
std::unique_ptr<ui::Font> MakePaneFont();

// A plain message box with an OK button, owned by `owner`.
void ShowPaneMessage(ui::Window* owner, std::string_view text);

// Reads a decimal number at the start of `text`: leading blanks, an
// optional sign, digits; what follows is ignored. False when no digit
// comes. Values beyond the 32-bit range are held at its ends, so a long
// row of digits never wraps into range.
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
