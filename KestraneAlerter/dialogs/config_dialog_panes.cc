#include "KestraneAlerter/dialogs/config_dialog_panes.h"

#include <cstring>

#include "KestraneAlerter/delivery_settings.h"
#include "KestraneAlerter/filter_tree.h"
#include "platform/ui/dialog.h"

namespace kst {
namespace {

constexpr int kExitTemplate = 6;

// Stands in for a pane not built yet: an empty window that keeps every
// value as it was.
class PlaceholderPane final : public SettingsPane {
 public:
  bool createControls(PaneObject, const std::string&, const ui::Rect& rect, ui::Window* parent) override {
    return Create(parent, kPaneId, rect);
  }
  bool validate(ProfileSet&) override { return true; }
  int apply(ProfileSet&) override { return kApplyUnchanged; }
  bool DestroyWindow() override { return ui::Window::DestroyWindow(); }
};

}  // namespace

std::unique_ptr<SettingsPane> MakeSettingsPane(PaneKind) { return std::make_unique<PlaceholderPane>(); }

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
  ui::Dialog exit(kExitTemplate);
  exit.OnCommand(ui::kIdNo, [&exit] { exit.EndDialog(ui::kIdNo); });
  return exit.DoModal();
}

bool AskNewFilter(Filter*) { return false; }

}  // namespace kst
