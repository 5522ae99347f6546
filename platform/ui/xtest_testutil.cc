#include "platform/ui/xtest_testutil.h"

// Before the X headers, whose macros (None, Bool) it would not survive.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <string>
#include <thread>

#include "platform/ui/dialog.h"
#include "platform/ui/testing.h"
#include "platform/ui/window.h"

namespace kst::ui::testing {
namespace {

Display* D(void* display) { return static_cast<Display*>(display); }

// Titles of the mapped children of the root that have one.
std::vector<std::string> MappedTitles(Display* display) {
  std::vector<std::string> titles;
  ::Window root = DefaultRootWindow(display), parent = 0, *children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(display, root, &root, &parent, &children, &count)) return titles;
  for (unsigned i = 0; i < count; ++i) {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, children[i], &attributes) || attributes.map_state != IsViewable) continue;
    char* name = nullptr;
    if (XFetchName(display, children[i], &name) && name != nullptr) {
      titles.push_back(name);
      XFree(name);
    }
  }
  if (children != nullptr) XFree(children);
  return titles;
}

bool Mapped(Display* display, std::string_view title) {
  std::vector<std::string> titles = MappedTitles(display);
  return std::find(titles.begin(), titles.end(), title) != titles.end();
}

// Mapped children of the root laid over the others (popup menus), bottom
// to top.
std::vector<Rect> Popups(Display* display) {
  std::vector<Rect> popups;
  ::Window root = DefaultRootWindow(display), parent = 0, *children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(display, root, &root, &parent, &children, &count)) return popups;
  for (unsigned i = 0; i < count; ++i) {
    XWindowAttributes a;
    if (XGetWindowAttributes(display, children[i], &a) && a.map_state == IsViewable && a.override_redirect) {
      popups.push_back({a.x, a.y, a.x + a.width, a.y + a.height});
    }
  }
  if (children != nullptr) XFree(children);
  return popups;
}

template <class Condition>
bool WaitFor(Condition condition) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPersonWaitMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

}  // namespace

Dialog* RunningDialog(std::string_view caption) {
  const std::vector<Window*>& tops = TopLevelWindows();
  for (auto it = tops.rbegin(); it != tops.rend(); ++it) {
    auto* dialog = dynamic_cast<Dialog*>(*it);
    if (dialog != nullptr && dialog->running() && dialog->IsVisible() && dialog->Text() == caption) return dialog;
  }
  return nullptr;
}

namespace {

// UI thread: the control at the end of path in the newest such dialog.
Window* Control(std::string_view title, const std::vector<int>& path) {
  Window* w = RunningDialog(title);
  for (size_t i = 0; w != nullptr && i < path.size(); ++i) w = w->Child(path[i]);
  return w;
}

}  // namespace

namespace {

// Screen pixels a shown static text covers, drawn from the top as the
// toolkit draws it: 3 pixels off the side it is aligned to.
Rect InkOf(Window& label, const TextRoom& t) {
  Rect r;
  if (!ScreenRect(label, &r)) return {};
  int left = r.left + 3;
  if (label.HasStyle(kAlignCentre)) left = r.left + (r.width() - t.need.x) / 2;
  if (label.HasStyle(kAlignRight)) left = r.right - 3 - t.need.x;
  return {left, r.top, left + t.need.x, r.top + t.need.y};
}

void CollectShown(Window& window, std::vector<Window*>* out) {
  if (!window.IsVisible()) return;
  out->push_back(&window);
  for (Window* child : window.children()) CollectShown(*child, out);
}

bool Overlap(const Rect& a, const Rect& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

}  // namespace

void CollectCutTexts(Window& window, const std::string& where, std::vector<std::string>* cut, int* worst) {
  if (!window.IsVisible()) return;
  TextRoom t;
  if (!window.Text().empty() && MeasureText(window, &t)) {
    *worst = std::min({*worst, t.room.x - t.need.x, t.room.y - t.need.y});
    if (!t.fits()) {
      cut->push_back(where + ": " + window.Text() + " (needs " + std::to_string(t.need.x) + "x" +
                     std::to_string(t.need.y) + ", has " + std::to_string(t.room.x) + "x" +
                     std::to_string(t.room.y) + ")");
    }
    // A static text lies inside its window beside the controls, never
    // under one.
    if (window.kind() == Kind::kStatic) {
      Rect ink = InkOf(window, t), frame;
      if (ScreenRect(*window.TopLevel(), &frame) && !(frame.left <= ink.left && ink.right <= frame.right &&
                                                      frame.top <= ink.top && ink.bottom <= frame.bottom)) {
        cut->push_back(where + ": " + window.Text() + " (outside the window)");
      }
      std::vector<Window*> others;
      CollectShown(*window.TopLevel(), &others);
      for (Window* other : others) {
        bool related = false;  // its own window or pane
        for (Window* w = &window; w != nullptr && !related; w = w->parent()) related = w == other;
        // Text beside text: only the inked parts must stay apart.
        Rect r;
        TextRoom o;
        bool shown = other->kind() != Kind::kStatic ? ScreenRect(*other, &r)
                                                     : !other->Text().empty() && MeasureText(*other, &o) &&
                                                           (r = InkOf(*other, o)).width() > 0;
        if (!related && shown && Overlap(ink, r)) {
          cut->push_back(where + ": " + window.Text() + " (under control " + std::to_string(other->id()) + ")");
        }
      }
    }
  }
  for (Window* child : window.children()) CollectCutTexts(*child, where, cut, worst);
}

Person::Person(const std::atomic<bool>* ui_done) : display_(XOpenDisplay(nullptr)), ui_done_(ui_done) {}

Person::~Person() {
  if (display_ != nullptr) XCloseDisplay(D(display_));
}

bool Person::WaitForWindow(std::string_view title) {
  return WaitFor([&] { return Mapped(D(display_), title); });
}

bool Person::WaitUntilGone(std::string_view title) {
  return WaitFor([&] { return !Mapped(D(display_), title); });
}

bool Person::Ask(const std::function<void()>& fn) {
  // In slices, so that a program that has left its loop is noticed at once.
  for (int waited = 0; waited < kPersonWaitMs; waited += 100) {
    if (OnUiThread(fn, 100)) return true;
    if (ui_done_ != nullptr && *ui_done_) return false;
  }
  return false;
}

bool Person::Where(std::string_view title, const std::vector<int>& path, Rect* out) {
  bool found = false;
  Ask([&] {
    Window* w = Control(title, path);
    found = w != nullptr && ScreenRect(*w, out);
  });
  return found;
}

bool Person::ClickMenuItem(int level, int index, int count) {
  std::vector<Rect> popups;
  if (!WaitFor([&] { return static_cast<int>((popups = Popups(D(display_))).size()) > level; })) return false;
  const Rect& menu = popups[level];
  ClickAt({(menu.left + menu.right) / 2, menu.top + (2 * index + 1) * menu.height() / (2 * count)});
  return true;
}

bool Person::TabTo(std::string_view title, const std::vector<int>& path) {
  if (!WaitForWindow(title)) return false;
  for (int tab = 0; tab < 64; ++tab) {
    bool there = false;
    Ask([&] {
      Window* w = Control(title, path);
      there = w != nullptr && FocusedControl() == w;
    });
    if (there) return true;
    Key("Tab");
  }
  return false;
}

bool Person::Click(std::string_view title, const std::vector<int>& path, int button) {
  Rect where;
  if (!WaitForWindow(title) || !Where(title, path, &where)) return false;
  ClickAt({(where.left + where.right) / 2, (where.top + where.bottom) / 2}, button);
  return true;
}

void Person::ClickAt(Point screen, int button) {
  Display* display = D(display_);
  XTestFakeMotionEvent(display, -1, screen.x, screen.y, CurrentTime);
  XSync(display, False);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  XTestFakeButtonEvent(display, button, True, CurrentTime);
  XSync(display, False);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  XTestFakeButtonEvent(display, button, False, CurrentTime);
  Settle();
}

void Person::Key(std::string_view name, bool shift) {
  if (shift) {
    KeyWith("Shift_L", name);
  } else {
    KeyWith("", name);
  }
}

void Person::KeyWith(std::string_view modifier, std::string_view name) {
  Display* display = D(display_);
  auto code_of = [display](std::string_view key) {
    return XKeysymToKeycode(display, XStringToKeysym(std::string(key).c_str()));
  };
  KeyCode code = code_of(name);
  KeyCode held = modifier.empty() ? 0 : code_of(modifier);
  if (code == 0 || (!modifier.empty() && held == 0)) {
    ADD_FAILURE() << "no key named " << (code == 0 ? name : modifier);
    return;
  }
  if (held != 0) XTestFakeKeyEvent(display, held, True, CurrentTime);
  XTestFakeKeyEvent(display, code, True, CurrentTime);
  XTestFakeKeyEvent(display, code, False, CurrentTime);
  if (held != 0) XTestFakeKeyEvent(display, held, False, CurrentTime);
  Settle();
}

void Person::Type(std::string_view text) {
  for (char c : text) {
    if (c == ' ') {
      Key("space");
    } else if (std::isalnum(static_cast<unsigned char>(c))) {
      Key(std::string(1, static_cast<char>(std::tolower(static_cast<unsigned char>(c)))),
          std::isupper(static_cast<unsigned char>(c)) != 0);
    } else {
      ADD_FAILURE() << "the person cannot type " << c;
    }
  }
}

void Person::Settle() {
  XSync(D(display_), False);
  // The events are at the program now; two trips through its loop see them
  // handled.
  std::this_thread::sleep_for(std::chrono::milliseconds(40));
  Ask([] {});
  Ask([] {});
}

std::vector<std::string> Person::Leftovers() {
  Display* display = D(display_);
  std::vector<std::string> left;
  for (const std::string& title : MappedTitles(display)) left.push_back("window \"" + title + "\" still shown");
  for (size_t i = Popups(display).size(); i > 0; --i) left.push_back("a popup still shown");
  // Only one client can hold a grab: taking it fails while another does.
  ::Window root = DefaultRootWindow(display);
  if (XGrabPointer(display, root, False, ButtonPressMask, GrabModeAsync, GrabModeAsync, 0, 0, CurrentTime) ==
      GrabSuccess) {
    XUngrabPointer(display, CurrentTime);
  } else {
    left.push_back("the pointer is grabbed");
  }
  if (XGrabKeyboard(display, root, False, GrabModeAsync, GrabModeAsync, CurrentTime) == GrabSuccess) {
    XUngrabKeyboard(display, CurrentTime);
  } else {
    left.push_back("the keyboard is grabbed");
  }
  XSync(display, False);
  return left;
}

void PlayAgainst(const std::function<void()>& ui, const std::function<void(Person&)>& script) {
  std::atomic<bool> ui_done{false};
  std::thread hand([&] {
    {
      Person person(&ui_done);
      if (person.connected()) {
        script(person);
      } else {
        ADD_FAILURE() << "the person cannot reach the display";
      }
    }
    bool reported = false;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPersonWaitMs);
    while (!ui_done) {
      if (std::chrono::steady_clock::now() > end) {
        if (!reported) ADD_FAILURE() << "a dialog still ran after the person was done; closed with Cancel";
        reported = true;
        OnUiThread([] {
          const std::vector<Window*>& tops = TopLevelWindows();
          for (auto it = tops.rbegin(); it != tops.rend(); ++it) {
            auto* dialog = dynamic_cast<Dialog*>(*it);
            if (dialog != nullptr && dialog->running()) {
              dialog->EndDialog(kIdCancel);
              return;
            }
          }
        }, kPersonWaitMs);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });
  ui();
  ui_done = true;
  hand.join();
}

}  // namespace kst::ui::testing
