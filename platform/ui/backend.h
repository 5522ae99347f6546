// The seam between the windowing layer's own model and a toolkit. The model
// (windows, controls, menus, dialogs) holds every state and runs every
// rule; a back end only mirrors it on the screen and turns the user's
// input into the model's User* calls. Internal to platform/ui.
#ifndef KST_PLATFORM_UI_BACKEND_H_
#define KST_PLATFORM_UI_BACKEND_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "platform/ui/types.h"

namespace kst::ui {

class Window;
class Dialog;
class Menu;
class Driver;

// A back end's mirror of one window.
class Peer {
 public:
  virtual ~Peer() = default;
  // The model changed (Aspect bits); the mirror follows before it is seen.
  virtual void Touch(unsigned aspects) = 0;
};

// Pixels read back from the screen, 3 bytes (r, g, b) per pixel, rows top
// down.
struct Image {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;
  Color At(int x, int y) const {
    size_t i = (static_cast<size_t>(y) * width + x) * 3;
    return {rgb[i], rgb[i + 1], rgb[i + 2]};
  }
};

using ModalScript = std::function<void(Dialog&)>;

// The room a control's text needs as drawn (static text wrapped at blanks),
// and the room the control gives it, in pixels.
struct TextRoom {
  Point need;
  Point room;
  bool fits() const { return need.x <= room.x && need.y <= room.y; }
};

class Backend {
 public:
  virtual ~Backend() = default;
  virtual const char* name() const = 0;
  // Null when the back end shows nothing.
  virtual std::unique_ptr<Peer> MakePeer(Window& window) = 0;
  // Shows the created dialog and runs until it has ended. With a script the
  // script plays the user once the dialog is on the screen; a dialog the
  // script left running is ended with Cancel.
  virtual void RunModal(Dialog& dialog, const ModalScript* script) = 0;
  // Lets the user pick from a popup menu at a screen point; the command or 0.
  virtual int TrackPopup(const Menu& menu, Point screen, Window& owner) = 0;
  // The screen's size, where new dialogs are centred.
  virtual Rect Screen() = 0;
  // Width of a text in the font (null: the dialog font).
  virtual int TextWidth(const Font* font, std::string_view text) = 0;
  // The hands that drive this back end's controls in tests.
  virtual Driver& driver() = 0;
  // Reads a shown top-level window's pixels; false when nothing is shown.
  virtual bool Capture(Window& top, Image* out) = 0;
  // From any thread: runs the task on the UI thread at its next wait for
  // events. False when this back end has no event loop.
  virtual bool Post(std::function<void()> task) = 0;
  // Where a shown window or control lies on the screen; false when it is
  // not on the screen.
  virtual bool ScreenRect(Window& control, Rect* out) = 0;
  // The control that has the keyboard focus, or null.
  virtual Window* Focus() = 0;
  // What a shown static text, button or check box needs and has; false
  // where this back end does not draw it.
  virtual bool MeasureText(Window& control, TextRoom* out) = 0;
};

// The back end of this process: chosen on first use (real windows when a
// display is there, headless when KST_UI=headless or no DISPLAY is set).
Backend& CurrentBackend();

// What CurrentBackend chooses from the environment.
std::unique_ptr<Backend> MakeBackendForEnvironment();
std::unique_ptr<Backend> MakeHeadlessBackend();
// Null when no display can be opened.
std::unique_ptr<Backend> MakeFltkBackend();

}  // namespace kst::ui

#endif  // KST_PLATFORM_UI_BACKEND_H_
