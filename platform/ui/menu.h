// Menus: a menu bar's popups by position, items by command id, greying,
// enabling and removing, and popup (context) menus tracked at a point.
#ifndef KST_PLATFORM_UI_MENU_H_
#define KST_PLATFORM_UI_MENU_H_

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/types.h"

namespace kst::ui {

class Window;

enum MenuState : unsigned {
  kMenuEnabled = 0,
  kMenuGrayed = 1u << 0,
  kMenuDisabled = 1u << 1,
  kMenuSeparator = 1u << 2,
  kMenuPopup = 1u << 3,
};

// How an item is named: by its command id (searched in popups too) or by
// its position in this menu.
enum class By { kCommand, kPosition };

class Menu {
 public:
  Menu() = default;
  Menu(const Menu& other);
  Menu& operator=(const Menu& other);
  Menu(Menu&&) = default;
  Menu& operator=(Menu&&) = default;
  ~Menu();

  void Append(std::string_view text, int command);
  void AppendSeparator();
  void AppendPopup(std::string_view text, Menu popup);

  int count() const { return static_cast<int>(items_.size()); }
  // 0 for a separator, -1 for a popup or a position out of range.
  int ItemCommand(int pos) const;
  std::string ItemText(int pos) const;
  Menu* SubMenu(int pos);
  const Menu* SubMenu(int pos) const;
  // MenuState bits of the item; -1 when there is no such item.
  int ItemState(int id_or_pos, By by) const;

  // Sets kMenuEnabled, kMenuGrayed or kMenuDisabled on the item; returns
  // its previous state bits, or -1 when there is no such item.
  int EnableItem(int id_or_pos, By by, unsigned state);
  // Takes the item out (a popup with all its items); false when missing.
  bool RemoveItem(int id_or_pos, By by);
  // True when the command is in the menu and it and every popup on the way
  // to it are neither grey nor disabled.
  bool CanChoose(int command) const;

 private:
  struct Item {
    std::string text;
    int command = 0;
    unsigned state = 0;
    std::unique_ptr<Menu> popup;
  };
  // The menu and position holding the command, searching popups depth first.
  bool Locate(int command, const Menu** menu, int* pos) const;

  std::vector<Item> items_;
};

// Shows a popup menu at a screen point with owner as the receiver; the
// chosen command is sent to owner as a command. Returns it, or 0 when the
// menu was dismissed.
int TrackPopupMenu(const Menu& menu, Point screen, Window& owner);

}  // namespace kst::ui

#endif  // KST_PLATFORM_UI_MENU_H_
