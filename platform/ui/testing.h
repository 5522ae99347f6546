// Test knobs of the windowing layer: choosing the back end, the scripted
// user (modal runs, message box answers, popup choices), and what was shown.
#ifndef KST_PLATFORM_UI_TESTING_H_
#define KST_PLATFORM_UI_TESTING_H_

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/backend.h"
#include "platform/ui/driver.h"
#include "platform/ui/menu.h"
#include "platform/ui/types.h"

namespace kst::ui::testing {

struct ModalRecord {
  bool message_box = false;
  int template_id = 0;
  std::string caption;
  std::string text;  // message boxes
  MessageIcon icon = MessageIcon::kNone;
  MessageButtons buttons = MessageButtons::kOk;
  int result = 0;
};

struct PopupRecord {
  Menu menu;    // as it was when shown
  int command;  // what was chosen, 0 for none
};

// Replaces the back end: "headless" or "fltk". Only while no window
// exists. False when that back end cannot start (no display).
bool UseBackend(std::string_view name);
Driver& driver();

// Scripts for the coming modal runs (message boxes included), in order.
// Without a script the headless back end answers a message box with 1 and
// ends any other dialog with 2.
void OnNextModal(ModalScript script);
// Clicks the button (1 or 2) of the next modal run.
void AnswerNextMessageBox(int button);
// The choice of the next popup menu (0 dismisses it).
void QueuePopupChoice(int command);

const std::vector<ModalRecord>& modal_log();
const std::vector<PopupRecord>& popup_log();
// Drops queued scripts and both logs.
void Reset();

// The pixels of a shown top-level window (real back ends only).
bool Capture(Window& top, Image* out);

// From a thread other than the UI thread: runs fn on the UI thread while it
// waits for events (real back ends only) and waits for it at most
// timeout_ms. False when it did not run in time; it never runs later.
bool OnUiThread(const std::function<void()>& fn, int timeout_ms);
// UI thread: where a shown window or control lies on the screen.
bool ScreenRect(Window& control, Rect* out);
// UI thread: the control that has the keyboard focus, or null.
Window* FocusedControl();
// UI thread: what a shown control's text needs and has (real back ends).
bool MeasureText(Window& control, TextRoom* out);

}  // namespace kst::ui::testing

#endif  // KST_PLATFORM_UI_TESTING_H_
