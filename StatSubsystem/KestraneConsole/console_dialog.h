// The collector console's one window: it edits the collector's options in
// the collector's service key, installs and removes the collector service by
// running the collector program, starts and stops it, and keeps the counter
// list the collector samples. While a ring buffer exists (notFirstStartFlag
// 1) the configuration stays locked until the user asks for a new buffer.
//
// UI thread only. The dialog owns the counter list and the browser's
// settings and buffer.
#ifndef KESTRANE_STATSUBSYSTEM_KESTRANECONSOLE_CONSOLE_DIALOG_H_
#define KESTRANE_STATSUBSYSTEM_KESTRANECONSOLE_CONSOLE_DIALOG_H_

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/perfcounters.h"
#include "platform/ui/counter_browser.h"
#include "platform/ui/dialog.h"

namespace kst {

// Control ids of template 102.
enum ConsoleControl : int {
  kCounterListId = 1008,
  kIntervalEditId = 1023,
  kAddId = 1000,
  kRemoveId = 1009,
  kBufferEditId = 1001,
  kStartServiceId = 1013,
  kStopServiceId = 1014,
  kApplyId = 1002,
  kCreateNewBufferId = 1012,
  kRemoveServiceId = 1025,
  kInstallId = 1024,
  kCsvEditId = 1003,
  kOkId = 1004,
  kAddAllId = 1005,
  kRemoveAllId = 1006,
  kCloseId = 8,
};

class ConsoleDialog : public ui::Dialog {
 public:
  ConsoleDialog();

  // Set before the dialog is built: the silent set-up, where start-up locks
  // every control and OK does not apply again.
  void set_install_mode(bool on) { installMode = on; }
  // Start-up could not query the service: the program is to end.
  bool start_failed() const { return start_failed_; }
  // Message boxes shown so far.
  int messages_shown() const { return messages_shown_; }
  const std::vector<std::string>& counters() const { return counters_; }
  const std::string& program_folder() const { return programFolder; }
  const std::string& root_folder() const { return rootFolder; }

  bool OnInitDialog() override;
  void OnApply();
  void OnInstall();
  void OnRemoveService();
  void OnStartService();
  void OnStopService();
  void OnCreateNewBuffer();
  void OnOk();
  void OnClose();

  // The counter list (counter_selection.cc).
  void OnAdd();
  void OnAddAllSystemCounters();
  void OnRemove();
  void OnRemoveAll();
  // The browser's callback, for each add the user makes.
  PdhStatus BrowseCountersCallback(uintptr_t argument);

 private:
  void EnableControls(std::initializer_list<int> ids, bool enable);
  void SetCheck(int id, bool checked);
  bool IsChecked(int id) const;
  void LoadOptions();
  // The controls of a collector that runs (or a start that did).
  void LockForRunningService();
  // Runs the collector program with one word; false when it cannot be run.
  bool RunCollectorProgram(const char* word);
  // Every message box of the dialog goes through here.
  void Tell(const std::string& text, const char* caption, ui::MessageIcon icon = ui::MessageIcon::kNone);
  void ShowError(const std::string& text);
  void ShowServiceError(int code, const std::string& detail = {});
  void FillListBox();
  void SetUpBrowse();

  bool installMode = false;
  bool start_failed_ = false;
  int messages_shown_ = 0;
  std::string programFolder;
  std::string rootFolder;
  std::vector<std::string> counters_;
  ui::CounterBrowseSettings browse_;
  std::vector<char> browse_buffer_;
};

}  // namespace kst

#endif  // KESTRANE_STATSUBSYSTEM_KESTRANECONSOLE_CONSOLE_DIALOG_H_
