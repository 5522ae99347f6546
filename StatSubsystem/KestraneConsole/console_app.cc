#include "StatSubsystem/KestraneConsole/console_app.h"

#include <cstdio>

#include "StatSubsystem/KestraneConsole/console_dialog.h"
#include "platform/ui/resources.h"
#include "platform/ui/ui.h"

namespace kst {

int ConsoleApp::InitInstance(const std::vector<std::string>& args) {
  // Exactly one word, compared with its case: anything else is interactive.
  const bool silent = args.size() == 1 && args[0] == "-install";
  if (!silent && !ui::CanShowWindows()) {
    std::fputs("KestraneConsole: the collector settings dialog needs a display (set DISPLAY to an X server);\n"
               "\"KestraneConsole -install\" configures and starts an installed collector without one.\n",
               stderr);
    return 1;
  }
  const ui::Resources* previous = ui::SetCurrentResources(&ui::ConsoleResources());
  ConsoleDialog dialog;
  int exit_code = 0;
  if (!silent) {
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
    // Every message of the silent set-up tells of a failed step; a set-up
    // program (or a person without a display) learns it from the exit code.
    if (dialog.start_failed() || dialog.messages_shown() > 0) exit_code = 1;
    dialog.DestroyWindow();
  }
  ui::SetCurrentResources(previous);
  return exit_code;
}

}  // namespace kst
