// The panes the configuration dialog shows, made by the kind of the
// selected item, and the two modal questions it asks.
#ifndef KESTRANE_ALERTER_DIALOGS_CONFIG_DIALOG_PANES_H_
#define KESTRANE_ALERTER_DIALOGS_CONFIG_DIALOG_PANES_H_

#include <memory>

#include "KestraneAlerter/dialogs/settings_pane.h"

namespace kst {

class Filter;

enum class PaneKind { kProfile, kMail, kShell, kNetSend, kFilter };

// A new, not yet created pane of the kind.
std::unique_ptr<SettingsPane> MakeSettingsPane(PaneKind kind);

// The pane kind of a transporter's settings by its type name; false for a
// type name of no known kind.
bool TransporterPaneKind(const DeliverySettings& settings, PaneKind* kind);

// "Save changes?": 1 save, 7 do not save, anything else do not close.
int AskExitQuestion();

// Runs the filter dialog; true with the chosen test copied into `filter`
// when the user pressed OK.
bool AskNewFilter(Filter* filter);

}  // namespace kst

#endif  // KESTRANE_ALERTER_DIALOGS_CONFIG_DIALOG_PANES_H_
