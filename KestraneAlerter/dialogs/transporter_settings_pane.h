// The settings panes of a profile's transporters share one shape: name,
// minimal wait and maximum message length (each number with an up-down
// control), the kind's text fields, and the four report flags. The kinds
// differ in their text fields and in the longest message they allow.
#ifndef KESTRANE_ALERTER_DIALOGS_TRANSPORTER_SETTINGS_PANE_H_
#define KESTRANE_ALERTER_DIALOGS_TRANSPORTER_SETTINGS_PANE_H_

#include <memory>
#include <string>
#include <vector>

#include "KestraneAlerter/dialogs/control_helpers.h"
#include "KestraneAlerter/dialogs/settings_pane.h"

namespace kst {

class TransporterSettingsPane : public SettingsPane {
 public:
  ~TransporterSettingsPane() override = default;

  // Takes the transporter's DeliverySettings (of the pane's kind) and the
  // name of the profile that holds it.
  bool createControls(PaneObject object, const std::string& profileName, const ui::Rect& rect,
                      ui::Window* parent) override;
  bool validate(ProfileSet& profiles) override;
  // The transporter is found by the name the pane last gave it, so a pane
  // that renamed its transporter goes on finding it.
  int apply(ProfileSet& profiles) override;
  // Deletes the font, destroys every control, then the pane window; true
  // when the pane window was there to destroy.
  bool DestroyWindow() override;

  const std::string& transporterName() const { return transporterName_; }
  const std::string& profileName() const { return profileName_; }

 protected:
  // `labels` of the kind's text fields, in order; `lengthUpper` bounds the
  // maximum message length, `lengthExceeds` is the message beyond it.
  TransporterSettingsPane(std::vector<const char*> labels, int lengthUpper, const char* lengthExceeds);
  // The settings' text fields, in label order; empty when the settings are
  // of another kind.
  virtual std::vector<std::string*> TextFields(DeliverySettings& settings) const = 0;
  // Why the text of field `index` cannot be taken, as the message box says
  // it; "" when it can.
  virtual std::string TextFieldFault(size_t /*index*/, const std::string& /*text*/) const { return ""; }

 private:
  DeliverySettings* FindSettings(ProfileSet& profiles) const;
  // The message for the first text field longer than a profile file's line
  // holds, naming its box; empty when every field fits.
  std::string TextFieldTooLong() const;

  const std::vector<const char*> labels_;
  const int lengthUpper_;
  const char* const lengthExceeds_;
  std::unique_ptr<ui::Font> font_;
  std::string transporterName_;
  std::string profileName_;
  PaneControls controls_;
};

class MailSettingsPane final : public TransporterSettingsPane {
 public:
  MailSettingsPane();

 private:
  std::vector<std::string*> TextFields(DeliverySettings& settings) const override;
  // The two addresses must each be one address.
  std::string TextFieldFault(size_t index, const std::string& text) const override;
};

class NetSendSettingsPane final : public TransporterSettingsPane {
 public:
  NetSendSettingsPane();

 private:
  std::vector<std::string*> TextFields(DeliverySettings& settings) const override;
};

class ShellSettingsPane final : public TransporterSettingsPane {
 public:
  ShellSettingsPane();

 private:
  std::vector<std::string*> TextFields(DeliverySettings& settings) const override;
};

}  // namespace kst

#endif  // KESTRANE_ALERTER_DIALOGS_TRANSPORTER_SETTINGS_PANE_H_
