// The question "Save changes?" asked when the configuration dialog is
// closed: OK (1) saves, No (7) closes without saving, Cancel (2; also
// Escape and the close box) keeps the dialog open.
#ifndef KESTRANE_ALERTER_DIALOGS_EXIT_DIALOG_H_
#define KESTRANE_ALERTER_DIALOGS_EXIT_DIALOG_H_

#include "platform/ui/dialog.h"

namespace kst {

// Built from the alerter's dialog template 6; run with DoModal while the
// alerter's resources are the current ones.
class CExitDialog final : public ui::Dialog {
 public:
  explicit CExitDialog(ui::Window* parent = nullptr);
};

}  // namespace kst

#endif  // KESTRANE_ALERTER_DIALOGS_EXIT_DIALOG_H_
