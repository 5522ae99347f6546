#include "platform/ui/menu.h"

#include "platform/ui/backend.h"
#include "platform/ui/dialog.h"
#include "platform/ui/script.h"
#include "platform/ui/window.h"

namespace kst::ui {

Menu::Menu(const Menu& other) { *this = other; }

Menu& Menu::operator=(const Menu& other) {
  if (this == &other) return *this;
  items_.clear();
  for (const Item& item : other.items_) {
    Item copy;
    copy.text = item.text;
    copy.command = item.command;
    copy.state = item.state;
    if (item.popup != nullptr) copy.popup = std::make_unique<Menu>(*item.popup);
    items_.push_back(std::move(copy));
  }
  return *this;
}

Menu::~Menu() = default;

void Menu::Append(std::string_view text, int command) {
  items_.push_back(Item{std::string(text), command, 0, nullptr});
}

void Menu::AppendSeparator() { items_.push_back(Item{{}, 0, kMenuSeparator, nullptr}); }

void Menu::AppendPopup(std::string_view text, Menu popup) {
  items_.push_back(Item{std::string(text), -1, kMenuPopup, std::make_unique<Menu>(std::move(popup))});
}

int Menu::ItemCommand(int pos) const {
  if (pos < 0 || pos >= count()) return -1;
  return items_[pos].command;
}

std::string Menu::ItemText(int pos) const {
  if (pos < 0 || pos >= count()) return {};
  return items_[pos].text;
}

Menu* Menu::SubMenu(int pos) {
  if (pos < 0 || pos >= count()) return nullptr;
  return items_[pos].popup.get();
}

const Menu* Menu::SubMenu(int pos) const {
  if (pos < 0 || pos >= count()) return nullptr;
  return items_[pos].popup.get();
}

bool Menu::Locate(int command, const Menu** menu, int* pos) const {
  for (int i = 0; i < count(); ++i) {
    const Item& item = items_[i];
    if (item.popup != nullptr) {
      if (item.popup->Locate(command, menu, pos)) return true;
    } else if (!(item.state & kMenuSeparator) && item.command == command) {
      *menu = this;
      *pos = i;
      return true;
    }
  }
  return false;
}

int Menu::ItemState(int id_or_pos, By by) const {
  const Menu* menu = this;
  int pos = id_or_pos;
  if (by == By::kCommand && !Locate(id_or_pos, &menu, &pos)) return -1;
  if (pos < 0 || pos >= menu->count()) return -1;
  return static_cast<int>(menu->items_[pos].state);
}

int Menu::EnableItem(int id_or_pos, By by, unsigned state) {
  const Menu* found = this;
  int pos = id_or_pos;
  if (by == By::kCommand && !Locate(id_or_pos, &found, &pos)) return -1;
  Menu* menu = const_cast<Menu*>(found);
  if (pos < 0 || pos >= menu->count()) return -1;
  Item& item = menu->items_[pos];
  unsigned before = item.state & (kMenuGrayed | kMenuDisabled);
  item.state = (item.state & ~(kMenuGrayed | kMenuDisabled)) | (state & (kMenuGrayed | kMenuDisabled));
  return static_cast<int>(before);
}

bool Menu::RemoveItem(int id_or_pos, By by) {
  const Menu* found = this;
  int pos = id_or_pos;
  if (by == By::kCommand && !Locate(id_or_pos, &found, &pos)) return false;
  Menu* menu = const_cast<Menu*>(found);
  if (pos < 0 || pos >= menu->count()) return false;
  menu->items_.erase(menu->items_.begin() + pos);
  return true;
}

bool Menu::CanChoose(int command) const {
  for (const Item& item : items_) {
    if (item.state & (kMenuGrayed | kMenuDisabled | kMenuSeparator)) continue;
    if (item.popup != nullptr) {
      if (item.popup->CanChoose(command)) return true;
    } else if (item.command == command) {
      return true;
    }
  }
  return false;
}

int TrackPopupMenu(const Menu& menu, Point screen, Window& owner) {
  // The owner hears of the menu as it opens, as with its menu bar.
  if (auto* dialog = dynamic_cast<Dialog*>(&owner)) dialog->OnMenuSelect();
  int command = ChoosePopup(menu, screen, owner);
  if (command != 0) owner.SendCommand(command);
  return command;
}

int ChoosePopup(const Menu& menu, Point screen, Window& owner) {
  int command = 0;
  if (int scripted; TakePopupChoice(&scripted)) {
    command = menu.CanChoose(scripted) ? scripted : 0;
  } else {
    command = CurrentBackend().TrackPopup(menu, screen, owner);
  }
  RecordPopup(menu, command);
  return command;
}

}  // namespace kst::ui
