// The settings pane of one Filter: which piece of an alert message it
// tests (a counter in the base or result part, the warning level, the log
// title, the analyzer title or the description), by which match, against
// which value. Counters are chosen by log, then by counter title, from the
// configuration tree. Used inside the configuration dialog for a filter of
// a profile's tree, and inside CFilterSettingsDlg for a new filter.
#ifndef KESTRANE_ALERTER_DIALOGS_FILTER_SETTINGS_PANE_H_
#define KESTRANE_ALERTER_DIALOGS_FILTER_SETTINGS_PANE_H_

#include <memory>
#include <string>
#include <vector>

#include "KestraneAlerter/dialogs/control_helpers.h"
#include "KestraneAlerter/dialogs/settings_pane.h"

namespace kst {

class Filter;

class FilterSettingsPane final : public SettingsPane {
 public:
  FilterSettingsPane() = default;
  ~FilterSettingsPane() override = default;

  // Takes the FilterNode being edited (null, or a node that is not a
  // Filter, builds the pane for a new filter) and the name of the profile
  // whose tree holds it; remembers the node's position in that tree.
  bool createControls(PaneObject object, const std::string& profileName, const ui::Rect& rect,
                      ui::Window* parent) override;
  // For a filter that is in no tree yet: "Log title", "Contain substring",
  // empty value.
  bool createForNewFilter(const ui::Rect& rect, ui::Window* parent);
  // `profiles` is not used.
  bool validate(ProfileSet& profiles) override;
  // Validates, then copies the pane's field type, match type and value
  // into `target` (which keeps its on state and its place); 1, or -1 when
  // not valid (target untouched).
  int writeFilter(Filter& target);
  // Finds the filter by profile name and tree position and writes into it:
  // 1, or -1 (not valid, or the filter is no longer there; no message for
  // the latter).
  int apply(ProfileSet& profiles) override;
  // Deletes the font and destroys the twelve controls; always true. The
  // pane window itself goes with the pane object.
  bool DestroyWindow() override;

  const std::string& profileName() const { return profileName_; }
  // The filter's index among its gate's children, then that gate's index
  // in its own gate, and so on up to the child of the root gate.
  const std::vector<int>& path() const { return path_; }

 private:
  bool Check();
  bool Build(const Filter* filter, const ui::Rect& rect, ui::Window* parent);
  void FillLogs();
  void OnLogChange();
  void OnFieldChange();
  void SetDescription();
  int SelectedField() const;
  int SelectedMatch() const;
  void ShowCounterChoice(bool show);

  std::string profileName_;
  std::vector<int> path_;
  std::unique_ptr<ui::Font> font_;
  PaneControls controls_;
};

}  // namespace kst

#endif  // KESTRANE_ALERTER_DIALOGS_FILTER_SETTINGS_PANE_H_
