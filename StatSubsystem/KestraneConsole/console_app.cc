#include "StatSubsystem/KestraneConsole/console_app.h"

#include "StatSubsystem/KestraneConsole/console_dialog.h"
#include "platform/ui/resources.h"

namespace kst {

int ConsoleApp::InitInstance(const std::vector<std::string>& args) {
  const ui::Resources* previous = ui::SetCurrentResources(&ui::ConsoleResources());
  ConsoleDialog dialog;
  // Exactly one word, compared with its case: anything else is interactive.
  if (args.size() != 1 || args[0] != "-install") {
    dialog.DoModal();
  } else {
    dialog.set_install_mode(true);
    // The template is not visible, so the dialog stays hidden.
    if (dialog.CreateModeless() && !dialog.start_failed()) {
      // Each step shows its own failure; the next one runs all the same.
      dialog.OnRemoveAll();
      dialog.OnAddAllSystemCounters();
      dialog.OnApply();
      dialog.OnStartService();
      dialog.OnOk();
    }
    dialog.DestroyWindow();
  }
  ui::SetCurrentResources(previous);
  return 0;
}

}  // namespace kst
