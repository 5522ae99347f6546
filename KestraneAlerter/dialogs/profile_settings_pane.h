// The settings pane of a profile: its name, alert threshold, time span and
// minimal wait, each number with an up-down control. A time span of 0
// forces the threshold box to "0".
#ifndef KESTRANE_ALERTER_DIALOGS_PROFILE_SETTINGS_PANE_H_
#define KESTRANE_ALERTER_DIALOGS_PROFILE_SETTINGS_PANE_H_

#include <memory>
#include <string>

#include "KestraneAlerter/dialogs/control_helpers.h"
#include "KestraneAlerter/dialogs/settings_pane.h"

namespace kst {

class ProfileSettingsPane final : public SettingsPane {
 public:
  ProfileSettingsPane() = default;
  ~ProfileSettingsPane() override = default;

  // Takes a Profile; `profileName` is not read.
  bool createControls(PaneObject object, const std::string& profileName, const ui::Rect& rect,
                      ui::Window* parent) override;
  bool validate(ProfileSet& profiles) override;
  // The profile is found by the name the pane last gave it, so a pane that
  // renamed its profile goes on finding it.
  int apply(ProfileSet& profiles) override;
  // Destroys the eleven controls, deletes the font, then destroys the pane
  // window; true only when every step succeeded.
  bool DestroyWindow() override;

  const std::string& profileName() const { return profileName_; }

 private:
  void CoupleThreshold(bool thresholdChanged);

  std::unique_ptr<ui::Font> font_;
  std::string profileName_;
  PaneControls controls_;
};

}  // namespace kst

#endif  // KESTRANE_ALERTER_DIALOGS_PROFILE_SETTINGS_PANE_H_
