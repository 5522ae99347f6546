#include "KestraneAlerter/dialogs/config_dialog_launch.h"

#include <cstdio>
#include <memory>

#include "KestraneAlerter/dialogs/notification_config_dlg.h"
#include "KestraneAlerter/profile_set.h"
#include "platform/ui/resources.h"
#include "platform/ui/ui.h"

namespace kst {

int LaunchUpdaterDialog() {
  if (!ui::CanShowWindows()) {
    std::fputs("LaunchUpdaterDialog: the notification settings dialog needs a display (set DISPLAY to an X server)\n",
               stderr);
    return 0;
  }
  // Templates, menus and icons come from this library, not from the host.
  const ui::Resources* hostResources = ui::SetCurrentResources(&ui::AlerterResources());
  auto profiles = std::make_unique<ProfileSet>();
  auto dialog = std::make_unique<NotificationConfigDlg>(profiles.get(), nullptr);
  dialog->DoModal();
  ui::SetCurrentResources(hostResources);
  const int result = dialog->lastSaveFailed() ? -1 : 0;
  dialog.reset();
  profiles.reset();
  return result;
}

}  // namespace kst
