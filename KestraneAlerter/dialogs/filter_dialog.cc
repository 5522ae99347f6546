#include "KestraneAlerter/dialogs/filter_dialog.h"

#include <string>

#include "platform/ui/resources.h"

namespace kst {

namespace {
constexpr int kTemplateId = 102;
constexpr int kIconId = 153;
}  // namespace

CFilterSettingsDlg::CFilterSettingsDlg(ui::Window* parent)
    : ui::Dialog(kTemplateId, parent),
      resultFilter_(Filter::kLogTitle, Filter::kContains, std::string()),
      icon_(ui::CurrentResources() != nullptr ? ui::CurrentResources()->LoadIcon(kIconId) : nullptr) {}

CFilterSettingsDlg::~CFilterSettingsDlg() { pane_.DestroyWindow(); }

bool CFilterSettingsDlg::OnInitDialog() {
  ui::Dialog::OnInitDialog();
  SetIcon(icon_, true);
  SetIcon(icon_, false);
  Move({300, 200, 600, 470});
  if (ui::Window* ok = Child(ui::kIdOk)) ok->Move({60, 210, 135, 235});
  if (ui::Window* cancel = Child(ui::kIdCancel)) cancel->Move({165, 210, 240, 235});
  pane_.createForNewFilter({0, 0, 300, 270}, this);
  return true;
}

void CFilterSettingsDlg::OnOK() {
  Filter chosen(Filter::kLogTitle, Filter::kContains, std::string());
  if (pane_.writeFilter(chosen) != 1) return;
  resultFilter_.assignFrom(chosen);
  EndDialog(ui::kIdOk);
}

}  // namespace kst
