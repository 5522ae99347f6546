#include "KestraneAlerter/dialogs/config_dialog_launch.h"

#include <memory>

#include "KestraneAlerter/dialogs/notification_config_dlg.h"
#include "KestraneAlerter/profile_set.h"
#include "platform/ui/resources.h"

namespace kst {

void LaunchUpdaterDialog() {
  // Templates, menus and icons come from this library, not from the host.
  const ui::Resources* hostResources = ui::SetCurrentResources(&ui::AlerterResources());
  auto profiles = std::make_unique<ProfileSet>();
  auto dialog = std::make_unique<NotificationConfigDlg>(profiles.get(), nullptr);
  dialog->DoModal();
  ui::SetCurrentResources(hostResources);
  dialog.reset();
  profiles.reset();
}

}  // namespace kst
