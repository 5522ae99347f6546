#include "StatSubsystem/KestraneConsole/console_dialog.h"

#include "StatSubsystem/common/collector_options.h"
#include "StatSubsystem/common/product_key.h"
#include "StatSubsystem/common/service_control.h"
#include "StatSubsystem/common/service_keys.h"
#include "StatSubsystem/common/service_names.h"
#include "platform/process.h"
#include "platform/ui/controls.h"
#include "platform/ui/resources.h"

namespace kst {
namespace {

const char* const kCollector = ServiceNameTable[kCollectorId];
constexpr ui::Color kWhite{255, 255, 255};

// The configuration controls, which the rules below lock and unlock together.
constexpr std::initializer_list<int> kConfiguration = {
    kIntervalEditId, kAddId, kRemoveId, kAddAllId, kRemoveAllId, kBufferEditId, kCsvEditId, kApplyId, kOkId};

}  // namespace

ConsoleDialog::ConsoleDialog() : Dialog(102) {
  OnCommand(kApplyId, [this] { OnApply(); });
  OnCommand(kInstallId, [this] { OnInstall(); });
  OnCommand(kRemoveServiceId, [this] { OnRemoveService(); });
  OnCommand(kStartServiceId, [this] { OnStartService(); });
  OnCommand(kStopServiceId, [this] { OnStopService(); });
  OnCommand(kCreateNewBufferId, [this] { OnCreateNewBuffer(); });
  OnCommand(kOkId, [this] { OnOk(); });
  OnCommand(kCloseId, [this] { OnClose(); });
  OnCommand(kAddId, [this] { OnAdd(); });
  OnCommand(kAddAllId, [this] { OnAddAllSystemCounters(); });
  OnCommand(kRemoveId, [this] { OnRemove(); });
  OnCommand(kRemoveAllId, [this] { OnRemoveAll(); });
}

void ConsoleDialog::EnableControls(std::initializer_list<int> ids, bool enable) {
  for (int id : ids) {
    if (ui::Window* control = Child(id)) control->Enable(enable);
  }
}

void ConsoleDialog::SetCheck(int id, bool checked) {
  if (auto* check = ChildAs<ui::CheckBox>(id)) check->SetCheck(checked);
}

bool ConsoleDialog::IsChecked(int id) const {
  auto* check = ChildAs<ui::CheckBox>(id);
  return check != nullptr && check->IsChecked();
}

void ConsoleDialog::Tell(const std::string& text, const char* caption, ui::MessageIcon icon) {
  ++messages_shown_;
  ui::MessageBox(this, text, caption, icon);
}

void ConsoleDialog::ShowError(const std::string& text) { Tell(text, "Error", ui::MessageIcon::kError); }

void ConsoleDialog::ShowServiceError(int code, const std::string& detail) {
  std::string text;
  ServiceErrorText(code, &text);
  // A service that stopped at once says why in its key: more use than the
  // bare "last error message".
  ShowError("Error: " + (detail.empty() ? text : detail));
}

bool ConsoleDialog::OnInitDialog() {
  SetIcon(ui::ConsoleResources().LoadIcon(129), true);
  SetIcon(ui::ConsoleResources().LoadIcon(129), false);
  SetBackground(kWhite);
  for (ui::Window* child : children()) {
    if (child->kind() == ui::Kind::kStatic) child->SetBackground(kWhite);
  }
  SetUpBrowse();

  programFolder = ProgramFolder();
  int read = 0;
  rootFolder = ReadProductRootDirectory(1024, &read);
  const CollectorFields defaults = DefaultCollectorFields(rootFolder, programFolder);
  Child(kIntervalEditId)->SetText(defaults.interval_text);
  Child(kBufferEditId)->SetText(defaults.buffer_name);
  Child(kCsvEditId)->SetText(defaults.csv_name);

  int state = kServiceStateStopped;
  const int code = QueryServiceState(kCollector, &state);
  if (code != 0) {
    ShowServiceError(code);
    start_failed_ = true;
    EndDialog(ui::kIdCancel);
    return true;
  }
  if (state == kServiceStateNotInstalled || installMode) {
    EnableControls(kConfiguration, false);
    EnableControls({kStartServiceId, kStopServiceId, kCreateNewBufferId, kRemoveServiceId}, false);
    return true;
  }
  EnableControls({kInstallId}, false);
  int flag = 0;
  if (ReadServiceDword(kCollector, "notFirstStartFlag", &flag) != 0) {
    SetCheck(kCreateNewBufferId, true);
    EnableControls({kCreateNewBufferId}, false);
  } else if (flag != 1) {
    SetCheck(kCreateNewBufferId, true);
    EnableControls({kCreateNewBufferId}, false);
    LoadOptions();
  } else {
    EnableControls(kConfiguration, false);
    LoadOptions();
  }
  if (state == kServiceStateStopped || state == kServiceStateDisabled) {
    EnableControls({kStartServiceId}, true);
    EnableControls({kStopServiceId}, false);
  } else if (state == kServiceStateRunning || state == kServiceStatePaused) {
    EnableControls({kStartServiceId}, false);
    EnableControls({kStopServiceId}, true);
    EnableControls({kRemoveId, kAddAllId, kRemoveAllId, kIntervalEditId, kRemoveServiceId}, false);
    SetCheck(kCreateNewBufferId, false);
    EnableControls({kCreateNewBufferId}, false);
  }
  return true;
}

void ConsoleDialog::LoadOptions() {
  if (ReadServiceMultiString(kCollector, "optCounters", &counters_) != 0) {
    counters_.clear();
    ShowError("Couldn't load options from registry");
    return;
  }
  FillListBox();
  int interval = 0;
  if (ReadServiceDword(kCollector, "optTimeInt", &interval) == 0) {
    Child(kIntervalEditId)->SetText(std::to_string(interval));
  }
  std::string buffer_name;
  if (ReadServiceString(kCollector, "optBufferName", &buffer_name) == 0) {
    Child(kBufferEditId)->SetText(buffer_name);
  }
}

void ConsoleDialog::OnApply() {
  if (counters_.empty()) {
    ShowError("You should add atlist one counter to counters list");
    return;
  }
  CollectorFields fields;
  fields.interval_text = Child(kIntervalEditId)->Text();
  fields.buffer_name = Child(kBufferEditId)->Text();
  fields.csv_name = Child(kCsvEditId)->Text();
  fields.counters = counters_;
  WriteCollectorOptions(fields, programFolder);  // failures are not reported
  SetCheck(kCreateNewBufferId, true);
  EnableControls({kCreateNewBufferId}, false);
}

void ConsoleDialog::OnCreateNewBuffer() {
  if (IsChecked(kCreateNewBufferId)) {
    EnableControls(kConfiguration, true);
    EnableControls({kRemoveServiceId}, true);
    EnableControls({kInstallId}, false);
  } else {
    EnableControls(kConfiguration, false);
  }
}

bool ConsoleDialog::RunCollectorProgram(const char* word) {
  // Quoted: the root folder usually holds a blank.
  const std::string command_line =
      "\"" + rootFolder + "\\" + ServiceNameTable[kCollectorProgram] + "\"" + " " + word;
  ProcessOptions options;
  options.hidden = true;
  return RunProgramAndWait(command_line, options, nullptr) == kErrorSuccess;
}

void ConsoleDialog::OnInstall() {
  if (!RunCollectorProgram(ServiceNameTable[kCollectorInstallWord])) {
    ShowError("Couldn't install (file ringfill.exe isn't found)");
    return;
  }
  int state = kServiceStateNotInstalled;
  const int code = QueryServiceState(kCollector, &state);
  if (code != 0) {
    ShowServiceError(code);
  } else if (state == kServiceStateNotInstalled) {
    ShowError("Couldn't install service");
  } else {
    EnableControls({kInstallId}, false);
    EnableControls({kRemoveServiceId, kIntervalEditId, kAddId, kRemoveId, kAddAllId, kRemoveAllId,
                    kBufferEditId, kCsvEditId, kStartServiceId},
                   true);
    EnableControls({kStopServiceId}, false);
    EnableControls({kApplyId, kOkId}, true);
    SetCheck(kCreateNewBufferId, true);
    EnableControls({kCreateNewBufferId}, false);
  }
}

void ConsoleDialog::OnRemoveService() {
  if (!RunCollectorProgram(ServiceNameTable[kCollectorRemoveWord])) {
    ShowError("Couldn't remove");
    return;
  }
  int state = kServiceStateStopped;
  const int code = QueryServiceState(kCollector, &state);
  if (code != 0) {
    ShowServiceError(code);
  } else if (state == kServiceStateNotInstalled || state == kServiceStateDisabled) {
    EnableControls({kRemoveServiceId}, false);
    EnableControls({kInstallId}, true);
    EnableControls(kConfiguration, false);
    EnableControls({kStartServiceId, kStopServiceId, kCreateNewBufferId}, false);
  } else {
    ShowError("Couldn't remove service (possibly couldn't exec service executable)");
  }
}

void ConsoleDialog::LockForRunningService() {
  EnableControls(kConfiguration, false);
  EnableControls({kStartServiceId, kCreateNewBufferId, kRemoveServiceId}, false);
  EnableControls({kStopServiceId}, true);
  SetCheck(kCreateNewBufferId, false);
}

void ConsoleDialog::OnStartService() {
  if (IsChecked(kCreateNewBufferId)) {
    OnApply();
    if (counters_.empty()) return;
  }
  std::string detail;
  const int code = StartServiceByName(kCollector, &detail);
  if (code == 0) {
    LockForRunningService();
    return;
  }
  int state = kServiceStateStopped;
  if (QueryServiceState(kCollector, &state) == 0 &&
      (state == kServiceStateRunning || state == kServiceStatePaused)) {
    LockForRunningService();
  }
  ShowServiceError(code, detail);
}

void ConsoleDialog::OnStopService() {
  const int code = StopServiceByName(kCollector);
  int state = kServiceStateRunning;
  const bool stopped = code == 0 || (QueryServiceState(kCollector, &state) == 0 && state == kServiceStateStopped);
  if (stopped) {
    EnableControls({kStartServiceId}, true);
    EnableControls({kStopServiceId}, false);
    EnableControls({kRemoveServiceId, kCreateNewBufferId}, true);
  }
  if (code != 0) ShowServiceError(code);
}

void ConsoleDialog::OnOk() {
  if (!installMode) OnApply();
  browse_buffer_ = {};
  EndDialog(ui::kIdOk);
}

void ConsoleDialog::OnClose() {
  browse_buffer_ = {};
  EndDialog(kCloseId);
}

}  // namespace kst
