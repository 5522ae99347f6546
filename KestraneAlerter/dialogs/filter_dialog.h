// The modal dialog of the "Add filter" command: a filter pane for a new
// filter between OK and Cancel. On OK (result 1) resultFilter() holds what
// the user chose; Cancel (2) leaves it as it was made.
#ifndef KESTRANE_ALERTER_DIALOGS_FILTER_DIALOG_H_
#define KESTRANE_ALERTER_DIALOGS_FILTER_DIALOG_H_

#include "KestraneAlerter/dialogs/filter_settings_pane.h"
#include "KestraneAlerter/filter_tree.h"
#include "platform/ui/dialog.h"

namespace kst {

// Built from the alerter's dialog template 102; run with DoModal while the
// alerter's resources are the current ones.
class CFilterSettingsDlg final : public ui::Dialog {
 public:
  explicit CFilterSettingsDlg(ui::Window* parent = nullptr);
  ~CFilterSettingsDlg() override;

  bool OnInitDialog() override;
  // Keeps the dialog open (after the pane's message) while the entry is
  // not valid.
  void OnOK() override;

  const Filter& resultFilter() const { return resultFilter_; }
  FilterSettingsPane& pane() { return pane_; }

 private:
  Filter resultFilter_;
  const ui::Icon* icon_;
  FilterSettingsPane pane_;
};

}  // namespace kst

#endif  // KESTRANE_ALERTER_DIALOGS_FILTER_DIALOG_H_
