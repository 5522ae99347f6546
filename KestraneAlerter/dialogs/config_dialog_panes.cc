#include "KestraneAlerter/dialogs/config_dialog_panes.h"

#include <cstring>

#include "KestraneAlerter/delivery_settings.h"
#include "KestraneAlerter/dialogs/exit_dialog.h"
#include "KestraneAlerter/dialogs/filter_dialog.h"
#include "KestraneAlerter/dialogs/filter_settings_pane.h"
#include "KestraneAlerter/dialogs/profile_settings_pane.h"
#include "KestraneAlerter/dialogs/transporter_settings_pane.h"
#include "KestraneAlerter/filter_tree.h"

namespace kst {

std::unique_ptr<SettingsPane> MakeSettingsPane(PaneKind kind) {
  switch (kind) {
    case PaneKind::kProfile:
      return std::make_unique<ProfileSettingsPane>();
    case PaneKind::kMail:
      return std::make_unique<MailSettingsPane>();
    case PaneKind::kShell:
      return std::make_unique<ShellSettingsPane>();
    case PaneKind::kNetSend:
      return std::make_unique<NetSendSettingsPane>();
    case PaneKind::kFilter:
      return std::make_unique<FilterSettingsPane>();
  }
  return nullptr;
}

bool TransporterPaneKind(const DeliverySettings& settings, PaneKind* kind) {
  const char* type = settings.typeName();
  if (std::strcmp(type, kMailTypeName) == 0) {
    *kind = PaneKind::kMail;
  } else if (std::strcmp(type, kShellTypeName) == 0) {
    *kind = PaneKind::kShell;
  } else if (std::strcmp(type, kNetSendTypeName) == 0) {
    *kind = PaneKind::kNetSend;
  } else {
    return false;
  }
  return true;
}

int AskExitQuestion() {
  CExitDialog exit(nullptr);
  return exit.DoModal();
}

bool AskNewFilter(Filter* filter) {
  CFilterSettingsDlg dialog(nullptr);
  if (dialog.DoModal() != ui::kIdOk) return false;
  filter->assignFrom(dialog.resultFilter());
  return true;
}

}  // namespace kst
