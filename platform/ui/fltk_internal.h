// The FLTK back end's own classes and helpers, shared by its files only
// (they alone see the toolkit's headers).
#ifndef KST_PLATFORM_UI_FLTK_INTERNAL_H_
#define KST_PLATFORM_UI_FLTK_INTERNAL_H_

#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Menu_Bar.H>
#include <FL/Fl_Menu_Item.H>
#include <FL/Fl_RGB_Image.H>
#include <FL/Fl_Widget.H>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/ui/backend.h"
#include "platform/ui/dialog.h"
#include "platform/ui/driver.h"
#include "platform/ui/image.h"
#include "platform/ui/menu.h"
#include "platform/ui/window.h"

namespace kst::ui::fltk {

class Backend;

// Items of a model menu as an FLTK menu array (labels owned here).
class MenuItems {
 public:
  void Build(const Menu& menu);
  Fl_Menu_Item* items() { return items_.empty() ? nullptr : items_.data(); }
  // The item of the command, or null.
  const Fl_Menu_Item* Find(int command) const;
  // True when the item and the submenus above it are active.
  bool Active(const Fl_Menu_Item* item) const;

 private:
  void Add(const Menu& menu);
  std::vector<std::unique_ptr<std::string>> labels_;
  std::vector<Fl_Menu_Item> items_;
};

// The mirror of one model window: its widget, and for a top-level window
// its FLTK window and menu bar.
class Peer final : public kst::ui::Peer {
 public:
  Peer(Backend& backend, kst::ui::Window& model);
  ~Peer() override;
  void Touch(unsigned aspects) override;
  // Brings the widget in line with the model.
  void Sync();

  kst::ui::Window& model() { return model_; }
  Fl_Widget* widget() { return widget_; }
  Fl_Double_Window* window() { return window_; }
  Fl_Menu_Bar* menu_bar() { return menu_bar_; }
  MenuItems& menu_items() { return menu_items_; }
  // Window coordinates of the model's client origin.
  Point ClientOrigin() const;
  void RebuildMenuBar();

 private:
  void Make();
  void SyncGeometry();
  void SyncText();
  void SyncItems();
  void SyncSelection();
  void SyncFont();
  void SyncColour();
  void SyncState();
  void SyncIcon();

  Backend& backend_;
  kst::ui::Window& model_;
  Fl_Widget* widget_ = nullptr;
  Fl_Double_Window* window_ = nullptr;
  Fl_Menu_Bar* menu_bar_ = nullptr;
  MenuItems menu_items_;
  std::vector<std::unique_ptr<std::string>> item_labels_;
  std::vector<Fl_Menu_Item> choice_items_;
  unsigned dirty_ = kAspectAll;
};

class Backend final : public kst::ui::Backend {
 public:
  Backend();
  ~Backend() override;
  const char* name() const override { return "fltk"; }
  std::unique_ptr<kst::ui::Peer> MakePeer(kst::ui::Window& window) override;
  void RunModal(Dialog& dialog, const ModalScript* script) override;
  int TrackPopup(const Menu& menu, Point screen, kst::ui::Window& owner) override;
  Rect Screen() override { return {Fl::x(), Fl::y(), Fl::x() + Fl::w(), Fl::y() + Fl::h()}; }
  int TextWidth(const Font* font, std::string_view text) override;
  Driver& driver() override;
  bool Capture(kst::ui::Window& top, Image* out) override;
  bool Post(std::function<void()> task) override;
  bool ScreenRect(kst::ui::Window& control, Rect* out) override;
  kst::ui::Window* Focus() override;
  bool MeasureText(kst::ui::Window& control, TextRoom* out) override;

  void MarkDirty(Peer* peer) { dirty_.insert(peer); }
  void Forget(Peer* peer) { dirty_.erase(peer); }
  // Syncs every dirty peer and lets FLTK draw.
  void Flush();
  // Waits until a shown window is on the screen and drawn.
  void Settle(Fl_Window* window);
  Fl_RGB_Image* ImageOf(const Icon* icon);

 private:
  std::set<Peer*> dirty_;
  std::map<const Icon*, std::pair<std::vector<unsigned char>, std::unique_ptr<Fl_RGB_Image>>> images_;
  std::unique_ptr<Driver> driver_;
  Backend* previous_;  // the one that was current before, back when this one goes
};

Peer* PeerOf(kst::ui::Window& window);
Backend& TheBackend();
// The toolkit font and size of a model font.
int FontFace(const Font* font);
int FontSize(const Font* font);
// A label FLTK draws as the plain text.
std::string PlainLabel(std::string_view text, bool shortcuts);
std::unique_ptr<Driver> MakeDriver(Backend& backend);

// Custom widgets.
// Has the keys that open a menu bar reach it first (once per process).
void RouteMenuKeys();
Fl_Widget* MakeTopWindow(kst::ui::Window& model, Fl_Double_Window** window, Fl_Menu_Bar** bar);
Fl_Widget* MakeEdit(kst::ui::Window& model);
Fl_Widget* MakeUpDown(kst::ui::Window& model);
Fl_Widget* MakeTree(kst::ui::Window& model);
// Brings a tree's scroll bar in line with its model.
void RefreshTree(Fl_Widget* tree);
// Alignment of an edit's text (0 left, 1 centre, 2 right).
void SetEditAlignment(Fl_Widget* edit, int alignment);

}  // namespace kst::ui::fltk

#endif  // KST_PLATFORM_UI_FLTK_INTERNAL_H_
