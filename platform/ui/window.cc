#include "platform/ui/window.h"

#include <algorithm>

#include "platform/ui/backend.h"

namespace kst::ui {
namespace {

std::vector<Window*>& top_levels() {
  static auto* list = new std::vector<Window*>;  // windows may outlive main's locals
  return *list;
}

}  // namespace

const std::vector<Window*>& TopLevelWindows() { return top_levels(); }

Window::Window() = default;

Window::~Window() {
  // A derived class's DestroyWindow cannot run from here; take the window
  // down with the base behaviour only.
  if (created_) Window::DestroyWindow();
}

bool Window::Create(Window* parent, int id, const Rect& rect, uint32_t style, std::string_view text) {
  return CreateAs(Kind::kWindow, parent, id, rect, style, text);
}

bool Window::CreateAs(Kind kind, Window* parent, int id, const Rect& rect, uint32_t style,
                      std::string_view text) {
  if (created_) return false;
  if (parent != nullptr && !parent->created_) return false;
  kind_ = kind;
  id_ = id;
  style_ = style;
  rect_ = rect;
  text_ = std::string(text);
  parent_ = parent;
  created_ = true;
  if (parent_ != nullptr) parent_->children_.push_back(this);
  Register(parent_ == nullptr);
  peer_ = CurrentBackend().MakePeer(*this);
  return true;
}

bool Window::DestroyWindow() {
  if (!created_) return false;
  DestroyTree();
  if (parent_ != nullptr) {
    Window* parent = parent_;
    parent_ = nullptr;
    parent->DetachChild(this);
  }
  return true;
}

void Window::DestroyTree() {
  // Children first, so that no peer outlives its parent's peer.
  std::vector<Window*> children;
  children.swap(children_);
  for (Window* child : children) {
    child->parent_ = nullptr;
    child->DestroyTree();
  }
  created_ = false;
  Register(false);
  OnDestroyed();
  peer_.reset();
}

void Window::Register(bool top_level) {
  if (top_level == top_level_) return;
  top_level_ = top_level;
  auto& list = top_levels();
  if (top_level) {
    list.push_back(this);
  } else {
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
}

void Window::DetachChild(Window* child) {
  children_.erase(std::remove(children_.begin(), children_.end(), child), children_.end());
}

Window* Window::Child(int id) const {
  for (Window* child : children_) {
    if (child->id_ == id) return child;
  }
  return nullptr;
}

void Window::SetText(std::string_view text) {
  text_ = std::string(text);
  Touch(kAspectText);
}

void Window::SetStyleBits(uint32_t bits, bool on) {
  uint32_t before = style_;
  style_ = on ? (style_ | bits) : (style_ & ~bits);
  if (style_ != before) Touch(kAspectState);
}

void Window::Enable(bool enable) { SetStyleBits(kDisabled, !enable); }

void Window::Show(bool show) { SetStyleBits(kVisible, show); }

bool Window::IsUsable() const {
  for (const Window* w = this; w != nullptr; w = w->parent_) {
    if (!w->created_ || !w->IsEnabled() || !w->IsVisible()) return false;
  }
  return true;
}

void Window::Move(const Rect& rect) {
  rect_ = rect;
  Touch(kAspectGeometry);
  OnMoved();
}

Point Window::ClientOffset() const {
  if (parent_ == nullptr && kind_ == Kind::kDialog) {
    return {kFrameBorder, kFrameBorder + (HasStyle(kCaption) ? kCaptionHeight : 0)};
  }
  int inset = (HasStyle(kClientEdge) ? 2 : 0) + (HasStyle(kBorder) ? 1 : 0);
  return {inset, inset};
}

Rect Window::ClientRect() const {
  Point offset = ClientOffset();
  int inset_x = parent_ == nullptr && kind_ == Kind::kDialog ? kFrameBorder : offset.x;
  int inset_bottom = parent_ == nullptr && kind_ == Kind::kDialog ? kFrameBorder : offset.y;
  return {0, 0, std::max(0, rect_.width() - offset.x - inset_x),
          std::max(0, rect_.height() - offset.y - inset_bottom)};
}

Point Window::ClientToScreen(Point p) const {
  for (const Window* w = this; w != nullptr; w = w->parent_) {
    Point offset = w->ClientOffset();
    p.x += w->rect_.left + offset.x;
    p.y += w->rect_.top + offset.y;
  }
  return p;
}

Point Window::ScreenToClient(Point p) const {
  Point origin = ClientToScreen({0, 0});
  return {p.x - origin.x, p.y - origin.y};
}

void Window::SetFont(const Font* font) {
  font_ = font;
  Touch(kAspectFont);
}

void Window::SetBackground(Color c) {
  has_background_ = true;
  background_ = c;
  Touch(kAspectColour);
}

void Window::Redraw() {
  ++redraw_count_;
  Touch(kAspectRedraw);
}

void Window::OnCommand(int id, std::function<void()> handler) { commands_[id] = std::move(handler); }

void Window::OnNotify(int id, Event event, std::function<int(const NotifyInfo&)> handler) {
  notifications_[{id, event}] = std::move(handler);
}

void Window::SendCommand(int id) {
  auto it = commands_.find(id);
  if (it != commands_.end()) {
    auto handler = it->second;  // the handler may replace itself
    handler();
    return;
  }
  OnCommandId(id);
}

int Window::Notify(Window& from, Event event, const NotifyInfo& info) {
  auto it = notifications_.find({from.id(), event});
  if (it != notifications_.end()) {
    auto handler = it->second;
    return handler(info);
  }
  return OnNotifyEvent(from, event, info);
}

void Window::Touch(unsigned aspects) {
  if (peer_ != nullptr) peer_->Touch(aspects);
}

Window* Window::TopLevel() {
  Window* w = this;
  while (w->parent_ != nullptr) w = w->parent_;
  return w;
}

}  // namespace kst::ui
