#include "KestraneAlerter/dialogs/settings_pane.h"

namespace kst {

// Repainting the pane paints over its children; show them again at once
// so that none stays hidden behind it.
void SettingsPane::OnPaint() {
  for (ui::Window* child : children()) child->Redraw();
}

}  // namespace kst
