#include "KestraneAlerter/dialogs/exit_dialog.h"

namespace kst {

namespace {
constexpr int kTemplateId = 6;
}  // namespace

CExitDialog::CExitDialog(ui::Window* parent) : ui::Dialog(kTemplateId, parent) {
  OnCommand(ui::kIdNo, [this] { EndDialog(ui::kIdNo); });
}

}  // namespace kst
