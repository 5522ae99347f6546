// A person at the private virtual display, for tests of real windows: moves
// the pointer and presses buttons and keys through the X test extension, on
// a connection of its own, from a thread of its own, while the program sits
// in its real event loop on the UI thread. Nothing reaches the program but
// what the X server sends it, as for a person at the screen.
#ifndef KST_PLATFORM_UI_XTEST_TESTUTIL_H_
#define KST_PLATFORM_UI_XTEST_TESTUTIL_H_

#include <atomic>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/types.h"

namespace kst::ui {
class Dialog;
class Window;
}

namespace kst::ui::testing {

// How long the person waits for anything the program should show or do.
inline constexpr int kPersonWaitMs = 5000;

class Person {
 public:
  // Connects to $DISPLAY; ui_done, when given, tells that the program has
  // left its event loop.
  explicit Person(const std::atomic<bool>* ui_done = nullptr);
  ~Person();
  Person(const Person&) = delete;
  Person& operator=(const Person&) = delete;
  bool connected() const { return display_ != nullptr; }

  // Waits until a window with that title is mapped on the screen (or, for
  // Gone, no longer is); false after kPersonWaitMs.
  bool WaitForWindow(std::string_view title);
  bool WaitUntilGone(std::string_view title);
  // Where a control lies on the screen: path names child ids from the
  // newest shown top-level window with that title (empty: the window).
  bool Where(std::string_view title, const std::vector<int>& path, Rect* out);
  // Clicks item index of the count items of a shown popup menu (level 0
  // the menu, 1 its open submenu), taking the items as rows of one height;
  // false when no such menu showed.
  bool ClickMenuItem(int level, int index, int count);
  // Presses Tab until the control (found as by Where) has the keyboard
  // focus; false when a round of the window's controls did not reach it.
  bool TabTo(std::string_view title, const std::vector<int>& path);
  // Waits for the window, then clicks the middle of the control.
  bool Click(std::string_view title, const std::vector<int>& path, int button = 1);
  void ClickAt(Point screen, int button = 1);
  // A key by its X name ("Return", "Escape", "Down", "a"), with Shift.
  void Key(std::string_view name, bool shift = false);
  // A key pressed while a modifier key ("Alt_L") is held down.
  void KeyWith(std::string_view modifier, std::string_view name);
  // Letters, digits and blanks, key by key.
  void Type(std::string_view text);
  // Returns once the program has handled everything sent so far.
  void Settle();
  // What a program that is done with its windows left on the screen, now:
  // each window still shown, by its title, and a grab of the pointer or of
  // the keyboard that keeps them from other programs.
  std::vector<std::string> Leftovers();
  // Runs fn on the UI thread; false when it did not run in time.
  bool Ask(const std::function<void()>& fn);

 private:
  void* display_ = nullptr;  // Display*, kept out of this header
  const std::atomic<bool>* ui_done_;
};

// Runs ui on this thread, the UI thread, where it shows windows and sits in
// their real event loops, while script plays the person on another thread.
// Whatever the script leaves running is ended (newest dialog first, with
// Cancel) and reported as a failure, so that ui always returns.
void PlayAgainst(const std::function<void()>& ui, const std::function<void(Person&)>& script);

// UI thread: the newest running dialog with that caption, or null.
Dialog* RunningDialog(std::string_view caption);

// UI thread: adds each shown text of window (and its children) that its
// control cannot hold as "where: text (needs WxH, has WxH)"; lowers worst
// to the least room to spare seen.
void CollectCutTexts(Window& window, const std::string& where, std::vector<std::string>* cut, int* worst);

}  // namespace kst::ui::testing

#endif  // KST_PLATFORM_UI_XTEST_TESTUTIL_H_
