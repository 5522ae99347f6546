// Opening the notification configuration dialog from outside: what the
// library's LaunchUpdaterDialog export runs.
#ifndef KESTRANE_ALERTER_DIALOGS_CONFIG_DIALOG_LAUNCH_H_
#define KESTRANE_ALERTER_DIALOGS_CONFIG_DIALOG_LAUNCH_H_

namespace kst {

// Runs the dialog modally over a profile set of its own, with the
// alerter's resources as the resource source for the run; the caller's
// source is put back afterwards. Without a display it only says so on
// standard error. -1 when the dialog ended after a save that failed (what
// it showed is not on the disk), else 0. UI thread only.
int LaunchUpdaterDialog();

}  // namespace kst

#endif  // KESTRANE_ALERTER_DIALOGS_CONFIG_DIALOG_LAUNCH_H_
