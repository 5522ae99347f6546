// The base of the configuration dialog's settings panes (profile, filter,
// mail, net send, program): a plain child window that builds its own
// controls at run time (no template), fills them from one model object,
// checks what the user typed and writes it back on request.
//
// A pane belongs to the dialog that hosts it. The host calls DestroyWindow
// before it deletes the pane or builds another one, and may call apply any
// number of times in between (the pane finds its object again by name or
// by tree position each time, so it survives renames it made itself).
// UI thread only.
#ifndef KESTRANE_ALERTER_DIALOGS_SETTINGS_PANE_H_
#define KESTRANE_ALERTER_DIALOGS_SETTINGS_PANE_H_

#include <string>
#include <variant>

#include "platform/ui/window.h"

namespace kst {

class DeliverySettings;
class FilterNode;
class Profile;
class ProfileSet;

// The model object a pane is built from. Each pane takes one kind (a
// profile, a transporter's settings of the pane's own kind, a filter) and
// refuses the others.
using PaneObject = std::variant<Profile*, DeliverySettings*, FilterNode*>;

// The control id of every pane window.
inline constexpr int kPaneId = 666005;

// Results of apply.
inline constexpr int kApplyInvalid = -1;
inline constexpr int kApplyUnchanged = 0;
inline constexpr int kApplyChanged = 1;
inline constexpr int kApplyRenamed = 3;

class SettingsPane : public ui::Window {
 public:
  ~SettingsPane() override = default;

  // Creates the pane as a visible child of `parent` (id kPaneId) over
  // `rect` (parent client pixels), with its own Arial 14 font, then builds
  // and fills the controls from `object`. `profileName` names the profile
  // that owns a transporter or a filter (the profile pane ignores it).
  // False as soon as a control cannot be made (those made so far stay) or
  // the object is of another kind or null.
  virtual bool createControls(PaneObject object, const std::string& profileName, const ui::Rect& rect,
                              ui::Window* parent) = 0;
  // Checks the typed values against `profiles`, the dialog's working copy.
  // True when all pass; else false after one message box naming the first
  // fault.
  virtual bool validate(ProfileSet& profiles) = 0;
  // Validates, then stores the typed values into the model object found in
  // `profiles`: kApplyInvalid (nothing stored, or a number box held no
  // number), kApplyUnchanged, kApplyChanged, or kApplyRenamed (the name
  // changed; wins over kApplyChanged).
  virtual int apply(ProfileSet& profiles) = 0;
  // Destroys the pane's controls and deletes its font; what else goes (the
  // pane window itself) and the result are told with each pane.
  bool DestroyWindow() override = 0;

 protected:
  SettingsPane() = default;
  // Default painting, then every child control redrawn at once.
  void OnPaint() override;
};

}  // namespace kst

#endif  // KESTRANE_ALERTER_DIALOGS_SETTINGS_PANE_H_
