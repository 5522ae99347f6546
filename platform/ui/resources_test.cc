// The texts, ids and orders of the two programs' resources, item by item:
// what a user reads in every menu and dialog, and the commands and results
// its items send.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ui/ui.h"

namespace kst::ui {
namespace {

// "text=command" per item in order, "-" for a separator, a popup as
// "text>" followed by its items and "<".
void Flatten(const Menu& menu, std::vector<std::string>* out) {
  for (int pos = 0; pos < menu.count(); ++pos) {
    if (menu.ItemState(pos, By::kPosition) & kMenuSeparator) {
      out->push_back("-");
    } else if (const Menu* popup = menu.SubMenu(pos)) {
      out->push_back(menu.ItemText(pos) + ">");
      Flatten(*popup, out);
      out->push_back("<");
    } else {
      out->push_back(menu.ItemText(pos) + "=" + std::to_string(menu.ItemCommand(pos)));
    }
  }
}

// A menu bar whole; a context menu by its first popup, which is what shows.
std::vector<std::string> MenuItems(int id, bool context = true) {
  std::vector<std::string> items;
  std::unique_ptr<Menu> menu = AlerterResources().LoadMenu(id);
  const Menu* shown = menu == nullptr ? nullptr : context ? menu->SubMenu(0) : menu.get();
  if (shown != nullptr) Flatten(*shown, &items);
  return items;
}

// The caption, then "id:text" of every control in order.
std::vector<std::string> DialogTexts(const Resources& resources, int id) {
  const DialogTemplate* t = resources.FindDialog(id);
  if (t == nullptr) return {};
  std::vector<std::string> texts = {t->caption};
  for (const ControlTemplate& c : t->controls) texts.push_back(std::to_string(c.id) + ":" + c.text);
  return texts;
}

TEST(UiResourcesTest, AlerterMenus) {
  using Items = std::vector<std::string>;
  const Items add = {"Add notification>", "Add new mail notification=32803", "Add new program execution=32802",
                     "Add new net send notification=32849", "<"};
  Items bar = {"&File>", "New profile=32791", "Save all=32790", "-", "Close=32793", "<",
               "&Profile>", "Activate=32796", "Switch on all filters=32843", "Switch off all filters=32845", "-"};
  bar.insert(bar.end(), add.begin(), add.end());
  bar.insert(bar.end(), {"Delete=32779", "<", "&Help>", "How to use=32840", "-", "About notification system...=32847",
                         "<"});
  EXPECT_EQ(MenuItems(152, false), bar);
  EXPECT_EQ(MenuItems(135), (Items{"New profile=32791", "Save All=32790"}));
  Items profile = {"Select=32776", "Activate=32796", "Delete=32779", "-"};
  profile.insert(profile.end(), add.begin(), add.end());
  EXPECT_EQ(MenuItems(133), profile);
  EXPECT_EQ(MenuItems(134), (Items{"Select=32783", "Delete=32782"}));
  EXPECT_EQ(MenuItems(1241), (Items{"Switch on=32811", "Switch off=32812", "-", "Filter settings=32824",
                                    "Add logic gate>", "AND=32815", "OR=32816", "NOT=32817", "<", "Add filter=32814",
                                    "Delete=32813"}));
  EXPECT_EQ(AlerterResources().LoadString(101), "&About KestraneAlerter...");
}

TEST(UiResourcesTest, DialogTexts) {
  struct Case {
    const Resources& resources;
    int id;
    std::vector<std::string> texts;
  };
  const Case cases[] = {
      {AlerterResources(), 6, {"Warning system", "65535:Save changes?", "1:OK", "7:No", "2:Cancel"}},
      {AlerterResources(), 140, {"Warning system", "65535:Do you realy want to save?", "1:OK", "2:Cancel"}},
      {AlerterResources(), 100, {"About KestraneAlerter", "65535:", "65535:Warning System for Kestrane", "1:OK"}},
      {ConsoleResources(),
       102,
       {"System statistics collecting", "65535:Performance counters:", "1008:", "1000:Add...", "1009:Remove",
        "1005:Add all sys. counters", "1006:Remove all", "1012:Create new buffer", "1002:Apply",
        "1013:Start service", "1014:Stop service", "65535:Time int. (min):", "1023:", "65535:Buffer name:", "1001:",
        "65535:CSV file name:", "1003:", "65535:Service should be installed before first startting", "1024:Install",
        "1025:Remove", "1004:OK", "8:Close"}},
  };
  for (const Case& c : cases) EXPECT_EQ(DialogTexts(c.resources, c.id), c.texts) << c.id;
  EXPECT_EQ(AlerterResources().FindDialog(102)->caption, "User notification");
}

}  // namespace
}  // namespace kst::ui
