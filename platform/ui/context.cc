// The process-wide state of the windowing layer: the back end, the cursor,
// the scripted user's queues and the record of what was shown.
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "platform/ui/dialog.h"
#include "platform/ui/script.h"
#include "platform/ui/testing.h"
#include "platform/ui/ui.h"

namespace kst::ui {
namespace {

struct State {
  std::unique_ptr<Backend> backend;
  Point cursor;
  std::deque<ModalScript> modal_scripts;
  std::deque<int> popup_choices;
  std::vector<testing::ModalRecord> modal_log;
  std::vector<testing::PopupRecord> popup_log;
};

State& state() {
  static State* s = new State;  // lives as long as the process: windows may outlive main's locals
  return *s;
}

}  // namespace

std::unique_ptr<Backend> MakeBackendForEnvironment() {
  const char* forced = std::getenv("KST_UI");
  if (forced != nullptr && std::string(forced) == "headless") return MakeHeadlessBackend();
  const char* display = std::getenv("DISPLAY");
  if (display != nullptr && *display != '\0') {
    if (auto fltk = MakeFltkBackend()) return fltk;
  }
  return MakeHeadlessBackend();
}

Backend& CurrentBackend() {
  State& s = state();
  if (s.backend == nullptr) s.backend = MakeBackendForEnvironment();
  return *s.backend;
}

Point CursorPos() { return state().cursor; }
void SetCursorPos(Point screen) { state().cursor = screen; }
const char* BackendName() { return CurrentBackend().name(); }

bool CanShowWindows() {
  return std::string_view(CurrentBackend().name()) != "headless" || !state().modal_scripts.empty();
}

bool TakeModalScript(ModalScript* out) {
  State& s = state();
  if (s.modal_scripts.empty()) return false;
  *out = std::move(s.modal_scripts.front());
  s.modal_scripts.pop_front();
  return true;
}

bool TakePopupChoice(int* command) {
  State& s = state();
  if (s.popup_choices.empty()) return false;
  *command = s.popup_choices.front();
  s.popup_choices.pop_front();
  return true;
}

void QueuePopupChoiceFirst(int command) { state().popup_choices.push_front(command); }

void RecordModal(const Dialog& dialog) {
  testing::ModalRecord record;
  record.message_box = dialog.is_message_box();
  record.template_id = dialog.template_id();
  record.caption = dialog.Text();
  record.text = dialog.message_text();
  record.icon = dialog.message_icon();
  record.buttons = dialog.message_buttons();
  record.result = dialog.result();
  state().modal_log.push_back(std::move(record));
}

void RecordPopup(const Menu& menu, int command) { state().popup_log.push_back({menu, command}); }

namespace testing {

bool UseBackend(std::string_view name) {
  std::unique_ptr<Backend> backend;
  if (name == "headless") backend = MakeHeadlessBackend();
  if (name == "fltk") backend = MakeFltkBackend();
  if (backend == nullptr) return false;
  state().backend = std::move(backend);
  return true;
}

Driver& driver() { return CurrentBackend().driver(); }

void OnNextModal(ModalScript script) { state().modal_scripts.push_back(std::move(script)); }

void AnswerNextMessageBox(int button) {
  OnNextModal([button](Dialog& box) {
    if (Window* b = box.Child(button)) driver().Click(*b);
  });
}

void QueuePopupChoice(int command) { state().popup_choices.push_back(command); }

const std::vector<ModalRecord>& modal_log() { return state().modal_log; }
const std::vector<PopupRecord>& popup_log() { return state().popup_log; }

void Reset() {
  State& s = state();
  s.modal_scripts.clear();
  s.popup_choices.clear();
  s.modal_log.clear();
  s.popup_log.clear();
}

bool Capture(Window& top, Image* out) { return CurrentBackend().Capture(top, out); }

bool OnUiThread(const std::function<void()>& fn, int timeout_ms) {
  // Shared with the posted task, which may outlive a wait that gave up.
  struct Call {
    std::mutex mutex;
    std::condition_variable done_cv;
    bool done = false;
    bool abandoned = false;
    std::function<void()> fn;
  };
  auto call = std::make_shared<Call>();
  call->fn = fn;
  bool posted = CurrentBackend().Post([call] {
    std::lock_guard<std::mutex> lock(call->mutex);
    if (call->abandoned) return;
    call->fn();
    call->done = true;
    call->done_cv.notify_all();
  });
  if (!posted) return false;
  std::unique_lock<std::mutex> lock(call->mutex);
  if (!call->done_cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return call->done; })) {
    call->abandoned = true;
    return false;
  }
  return true;
}

bool ScreenRect(Window& control, Rect* out) { return CurrentBackend().ScreenRect(control, out); }

Window* FocusedControl() { return CurrentBackend().Focus(); }

bool MeasureText(Window& control, TextRoom* out) { return CurrentBackend().MeasureText(control, out); }

}  // namespace testing
}  // namespace kst::ui
