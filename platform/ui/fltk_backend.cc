// The real back end: model windows mirrored as FLTK widgets on X11.
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <algorithm>
#include <cstdint>

#include "platform/ui/fltk_internal.h"

namespace kst::ui::fltk {
namespace {

Backend* g_backend = nullptr;

}  // namespace

Backend::Backend() : driver_(MakeDriver(*this)), previous_(g_backend) {
  g_backend = this;
  // Lets another thread hand work to this loop (Post); this thread keeps
  // the toolkit's lock except while it waits for events.
  static const bool locked = (Fl::lock(), RouteMenuKeys(), true);
  (void)locked;
  Fl::visual(FL_RGB);
  Fl::scheme("gtk+");
}

Backend::~Backend() {
  if (g_backend == this) g_backend = previous_;
}

Backend& TheBackend() { return *g_backend; }

Peer* PeerOf(kst::ui::Window& window) { return static_cast<Peer*>(window.peer()); }

std::unique_ptr<kst::ui::Peer> Backend::MakePeer(kst::ui::Window& window) {
  return std::make_unique<Peer>(*this, window);
}

void Backend::Flush() {
  // Syncing may touch other peers (children follow their parent).
  for (int round = 0; round < 8 && !dirty_.empty(); ++round) {
    std::set<Peer*> dirty;
    dirty.swap(dirty_);
    // Parents first, so children are placed against settled parents.
    std::vector<Peer*> order(dirty.begin(), dirty.end());
    auto depth = [](Peer* p) {
      int d = 0;
      for (kst::ui::Window* w = &p->model(); w->parent() != nullptr; w = w->parent()) ++d;
      return d;
    };
    std::stable_sort(order.begin(), order.end(), [&](Peer* a, Peer* b) { return depth(a) < depth(b); });
    for (Peer* peer : order) peer->Sync();
  }
  Fl::flush();
}

void Backend::Settle(Fl_Window* window) {
  Flush();
  for (int i = 0; i < 100 && !window->visible(); ++i) Fl::wait(0.01);
  for (int i = 0; i < 5; ++i) {
    Flush();
    Fl::wait(0.01);
  }
  XSync(fl_display, False);
  Fl::check();
  Flush();
}

void Backend::RunModal(Dialog& dialog, const ModalScript* script) {
  Peer* peer = PeerOf(dialog);
  Fl_Double_Window* window = peer->window();
  // The toolkit takes a window as modal only when it maps it: marked
  // afterwards, the box would share its input with every other window, and
  // once a popup menu (itself modal) had closed, the toolkit would hand the
  // input back to an older modal window instead of this one.
  if (window->shown()) window->hide();
  window->set_modal();
  Flush();
  window->show();
  Settle(window);
  if (script != nullptr) {
    (*script)(dialog);
    if (dialog.running()) dialog.EndDialog(kIdCancel);
    return;
  }
  while (dialog.running()) {
    Flush();
    Fl::wait(0.5);
  }
}

int Backend::TrackPopup(const Menu& menu, Point screen, kst::ui::Window& owner) {
  MenuItems items;
  items.Build(menu);
  if (items.items() == nullptr) return 0;
  Flush();
  // FLTK places popups against the window of the current event.
  Peer* top = PeerOf(*owner.TopLevel());
  Point origin = top != nullptr ? top->ClientOrigin() : Point{};
  Point top_client = owner.TopLevel()->ClientToScreen({0, 0});
  int x = screen.x - top_client.x + origin.x;
  int y = screen.y - top_client.y + origin.y;
  const Fl_Menu_Item* picked = items.items()->popup(x, y);
  // A click on a submenu's title (the toolkit closes the menu on it) opens
  // the submenu: the menu comes back with that title under the pointer.
  for (int reopened = 0; reopened < 64 && picked != nullptr && (picked->flags & FL_SUBMENU) && items.Active(picked);
       ++reopened) {
    picked = items.items()->popup(Fl::event_x(), Fl::event_y(), nullptr, picked);
  }
  if (picked == nullptr || (picked->flags & FL_SUBMENU) || !items.Active(picked)) return 0;
  return static_cast<int>(reinterpret_cast<intptr_t>(picked->user_data()));
}

int Backend::TextWidth(const Font* font, std::string_view text) {
  fl_font(FontFace(font), FontSize(font));
  return static_cast<int>(fl_width(text.data(), static_cast<int>(text.size())) + 0.5);
}

Driver& Backend::driver() { return *driver_; }

bool Backend::Post(std::function<void()> task) {
  auto* held = new std::function<void()>(std::move(task));
  int posted = Fl::awake([](void* data) {
    std::unique_ptr<std::function<void()>> task(static_cast<std::function<void()>*>(data));
    (*task)();
  }, held);
  if (posted != 0) delete held;
  return posted == 0;
}

bool Backend::ScreenRect(kst::ui::Window& control, Rect* out) {
  Peer* peer = PeerOf(control);
  if (peer == nullptr || !peer->widget()->visible_r()) return false;
  Fl_Widget* widget = peer->widget();
  Fl_Window* window = peer->window() != nullptr ? peer->window() : widget->window();
  if (window == nullptr || !window->shown()) return false;
  int left = window->x_root() + (widget == window ? 0 : widget->x());
  int top = window->y_root() + (widget == window ? 0 : widget->y());
  *out = {left, top, left + widget->w(), top + widget->h()};
  return true;
}

namespace {

kst::ui::Window* Mirroring(kst::ui::Window& window, const Fl_Widget* widget) {
  Peer* peer = PeerOf(window);
  if (peer != nullptr && peer->widget() == widget && peer->window() == nullptr) return &window;
  for (kst::ui::Window* child : window.children()) {
    if (kst::ui::Window* found = Mirroring(*child, widget)) return found;
  }
  return nullptr;
}

}  // namespace

kst::ui::Window* Backend::Focus() {
  // The focus may sit in a part of a control (a combo box's input).
  for (Fl_Widget* widget = Fl::focus(); widget != nullptr; widget = widget->parent()) {
    for (kst::ui::Window* top : TopLevelWindows()) {
      if (kst::ui::Window* found = Mirroring(*top, widget)) return found;
    }
  }
  return nullptr;
}

bool Backend::MeasureText(kst::ui::Window& control, TextRoom* out) {
  Kind kind = control.kind();
  if (kind != Kind::kStatic && kind != Kind::kButton && kind != Kind::kCheckBox) return false;
  Flush();
  Peer* peer = PeerOf(control);
  if (peer == nullptr || peer->widget()->label() == nullptr) return false;
  Fl_Widget* widget = peer->widget();
  int box_dx = Fl::box_dx(widget->box());
  int left = box_dx, right = box_dx;
  if (kind == Kind::kCheckBox) left += 2 + widget->labelsize() + 2;  // the check square
  int room_w = widget->w() - left - right;
  // As the toolkit draws labels: a side-aligned one keeps 3 pixels off
  // each edge.
  if (room_w > 11 && (widget->align() & (FL_ALIGN_LEFT | FL_ALIGN_RIGHT))) room_w -= 6;
  fl_font(widget->labelfont(), widget->labelsize());
  int w = (widget->align() & FL_ALIGN_WRAP) ? room_w : 0, h = 0;
  fl_measure(widget->label(), w, h, 0);
  out->need = {w, h};
  out->room = {room_w, widget->h() - Fl::box_dh(widget->box())};
  return true;
}

bool Backend::Capture(kst::ui::Window& top, Image* out) {
  Peer* peer = PeerOf(top);
  if (peer == nullptr || peer->window() == nullptr || !peer->window()->shown()) return false;
  Fl_Double_Window* window = peer->window();
  Settle(window);
  window->make_current();
  int w = window->w(), h = window->h();
  unsigned char* pixels = fl_read_image(nullptr, 0, 0, w, h);
  if (pixels == nullptr) return false;
  out->width = w;
  out->height = h;
  out->rgb.assign(pixels, pixels + static_cast<size_t>(w) * h * 3);
  delete[] pixels;
  return true;
}

Fl_RGB_Image* Backend::ImageOf(const Icon* icon) {
  if (icon == nullptr) return nullptr;
  auto it = images_.find(icon);
  if (it != images_.end()) return it->second.second.get();
  std::vector<unsigned char> rgba;
  rgba.reserve(icon->argb().size() * 4);
  for (uint32_t p : icon->argb()) {
    rgba.push_back((p >> 16) & 0xff);
    rgba.push_back((p >> 8) & 0xff);
    rgba.push_back(p & 0xff);
    rgba.push_back((p >> 24) & 0xff);
  }
  auto& slot = images_[icon];
  slot.first = std::move(rgba);
  slot.second = std::make_unique<Fl_RGB_Image>(slot.first.data(), icon->width(), icon->height(), 4);
  return slot.second.get();
}

// The layouts were drawn for Arial's character widths; Liberation Sans has
// the same metrics, so labels fit the rectangles they were given. Where it
// is not installed, fontconfig falls back to another sans-serif face.
void UseArialMetrics() {
  static bool done = false;
  if (done) return;
  done = true;
  Fl::set_font(FL_HELVETICA, " Liberation Sans");
  Fl::set_font(FL_HELVETICA_BOLD, "BLiberation Sans");
  Fl::set_font(FL_HELVETICA_ITALIC, "ILiberation Sans");
  Fl::set_font(FL_HELVETICA_BOLD_ITALIC, "PLiberation Sans");
}

int FontFace(const Font* font) {
  int face = FL_HELVETICA;
  if (font != nullptr) {
    const std::string& name = font->face;
    if (name.find("Courier") != std::string::npos) face = FL_COURIER;
    if (name.find("Times") != std::string::npos) face = FL_TIMES;
    if (font->weight >= 700) face |= FL_BOLD;
    if (font->italic) face |= FL_ITALIC;
  }
  return face;
}

// A dialog's font height is the height of its character cell (ascent plus
// descent), as the layouts were drawn for; the toolkit sizes fonts by their
// em square, which for the Arial metrics is the cell height / 1.117.
int FontSize(const Font* font) {
  if (font == nullptr || font->height <= 0) return 12;
  return (font->height * 1000 + 558) / 1117;
}

std::string PlainLabel(std::string_view text, bool shortcuts) {
  std::string out;
  for (char c : text) {
    if (c == '@' || (c == '&' && shortcuts)) out += c;
    out += c;
  }
  return out;
}

}  // namespace kst::ui::fltk

namespace kst::ui {

std::unique_ptr<Backend> MakeFltkBackend() {
  if (fl_display == nullptr) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return nullptr;
    fl_open_display(display);
  }
  fltk::UseArialMetrics();
  return std::make_unique<fltk::Backend>();
}

}  // namespace kst::ui
