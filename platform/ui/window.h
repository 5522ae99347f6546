// A window: the common ground of dialogs, panes and controls. It has a
// control id, a rectangle in its parent's client pixels, text, a font,
// colours, an enabled and a visible state, and a table of handlers for the
// commands and notifications its child controls send it.
//
// The C++ object belongs to whoever made it (or to the dialog that built it
// from a template); Create makes the on-screen window, DestroyWindow takes
// it (and every child's) away again. Destroying a parent leaves the child
// objects alive but no longer created. All calls on the UI thread only.
#ifndef KST_PLATFORM_UI_WINDOW_H_
#define KST_PLATFORM_UI_WINDOW_H_

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/ui/types.h"

namespace kst::ui {

class Peer;
class Icon;

// The frame of a top-level window, as the dialogs' outer pixel sizes
// assume it: a border all round, a caption on top, then the menu bar.
inline constexpr int kFrameBorder = 3;
inline constexpr int kCaptionHeight = 22;
inline constexpr int kMenuBarHeight = 20;

enum class Kind { kWindow, kDialog, kStatic, kEdit, kButton, kCheckBox, kUpDown, kComboBox, kListBox, kTree };

// What changed in a window, for the back end that mirrors it.
enum Aspect : unsigned {
  kAspectText = 1u << 0,
  kAspectState = 1u << 1,
  kAspectGeometry = 1u << 2,
  kAspectItems = 1u << 3,
  kAspectFont = 1u << 4,
  kAspectColour = 1u << 5,
  kAspectSelection = 1u << 6,
  kAspectMenu = 1u << 7,
  kAspectIcon = 1u << 8,
  kAspectRedraw = 1u << 9,
  kAspectAll = 0x3ffu,
};

class Window {
 public:
  Window();
  virtual ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  // Makes a plain child window (a pane) in parent at rect. False when
  // already created or when parent is not created.
  bool Create(Window* parent, int id, const Rect& rect, uint32_t style = kVisible,
              std::string_view text = {});
  // Takes the window and all its children off the screen. True when the
  // window was created.
  virtual bool DestroyWindow();
  bool IsCreated() const { return created_; }

  Kind kind() const { return kind_; }
  int id() const { return id_; }
  uint32_t style() const { return style_; }
  bool HasStyle(uint32_t bits) const { return (style_ & bits) == bits; }
  Window* parent() const { return parent_; }
  const std::vector<Window*>& children() const { return children_; }
  // First child with the id, or null.
  Window* Child(int id) const;
  // Typed look-up of a child; null when missing or of another class.
  template <class T>
  T* ChildAs(int id) const { return dynamic_cast<T*>(Child(id)); }

  virtual void SetText(std::string_view text);
  virtual std::string Text() const { return text_; }

  // Enabling clears the disabled style; a control can be used only when it
  // and all its ancestors are enabled and shown.
  void Enable(bool enable);
  bool IsEnabled() const { return !(style_ & kDisabled); }
  void Show(bool show);
  bool IsVisible() const { return (style_ & kVisible) != 0; }
  bool IsUsable() const;

  // Position in the parent's client pixels (top-level: the outer frame in
  // screen pixels).
  const Rect& rect() const { return rect_; }
  void Move(const Rect& rect);
  // The client area in own client pixels (origin 0, 0).
  Rect ClientRect() const;
  Point ClientToScreen(Point p) const;
  Point ScreenToClient(Point p) const;

  // The font is not owned; null means the toolkit's dialog font.
  void SetFont(const Font* font);
  const Font* font() const { return font_; }
  void SetBackground(Color c);
  bool has_background() const { return has_background_; }
  Color background() const { return background_; }

  // Asks for a repaint of the window and its children.
  void Redraw();
  int redraw_count() const { return redraw_count_; }
  // Runs the window's own OnPaint. No back end calls it: the toolkit draws
  // a window's children with it, and the window manager draws a minimised
  // window's icon (the dialog's icon), so OnPaint need not do either.
  void Paint() { OnPaint(); }

  // Handlers, as a message map: commands (button clicks, menu commands)
  // and notifications from the child with the given id. A handler
  // registered again replaces the old one.
  void OnCommand(int id, std::function<void()> handler);
  void OnNotify(int id, Event event, std::function<int(const NotifyInfo&)> handler);

  // Runs the command as if chosen: the registered handler, else OnCommandId.
  void SendCommand(int id);
  // A child reports an event; returns the handler's result (0 unhandled).
  int Notify(Window& from, Event event, const NotifyInfo& info = {});

  // The mirror a back end keeps of this window, or null (headless).
  Peer* peer() const { return peer_.get(); }
  // Tells the back end what changed.
  void Touch(unsigned aspects);
  // Window that heads this one's top-level tree.
  Window* TopLevel();
  // Pixels between the outer edge and the client area (left, top).
  virtual Point ClientOffset() const;

 protected:
  // Builds the window: shared by Create and every control's Create.
  bool CreateAs(Kind kind, Window* parent, int id, const Rect& rect, uint32_t style,
                std::string_view text);
  virtual void OnPaint() {}
  // After Move has put the window at its new rectangle.
  virtual void OnMoved() {}
  // Commands without a registered handler; false when not handled.
  virtual bool OnCommandId(int /*id*/) { return false; }
  // Notifications without a registered handler.
  virtual int OnNotifyEvent(Window& /*from*/, Event /*event*/, const NotifyInfo& /*info*/) { return 0; }
  // Lets a derived control drop its state when the window goes.
  virtual void OnDestroyed() {}
  void SetStyleBits(uint32_t bits, bool on);

  std::string text_;

 private:
  void DetachChild(Window* child);
  void DestroyTree();
  void Register(bool top_level);

  Kind kind_ = Kind::kWindow;
  int id_ = 0;
  uint32_t style_ = 0;
  bool created_ = false;
  bool top_level_ = false;  // listed in TopLevelWindows()
  Window* parent_ = nullptr;
  std::vector<Window*> children_;
  Rect rect_;
  const Font* font_ = nullptr;
  bool has_background_ = false;
  Color background_;
  int redraw_count_ = 0;
  std::map<int, std::function<void()>> commands_;
  std::map<std::pair<int, Event>, std::function<int(const NotifyInfo&)>> notifications_;
  std::unique_ptr<Peer> peer_;
};

// Every created window without a parent (dialogs, top-level windows), in
// the order they were created.
const std::vector<Window*>& TopLevelWindows();

}  // namespace kst::ui

#endif  // KST_PLATFORM_UI_WINDOW_H_
