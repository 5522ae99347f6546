#include "platform/ui/resources.h"

namespace kst::ui {
namespace {

// Average character width and height of the template fonts, the units a
// dialog unit is a quarter and an eighth of.
struct BaseUnits {
  int x;
  int y;
};

BaseUnits UnitsOf(const DialogTemplate& tmpl) {
  int points = tmpl.font_points > 0 ? tmpl.font_points : 8;
  return {(6 * points + 4) / 8, (13 * points + 4) / 8};
}

int MulDiv(int value, int mul, int div) {
  long long product = static_cast<long long>(value) * mul;
  return static_cast<int>((product >= 0 ? product + div / 2 : product - div / 2) / div);
}

const Resources* g_current = nullptr;

}  // namespace

Rect TemplateRect(const DialogTemplate& tmpl, int x, int y, int cx, int cy) {
  if (tmpl.pixels) return {x, y, x + cx, y + cy};
  BaseUnits units = UnitsOf(tmpl);
  int left = MulDiv(x, units.x, 4);
  int top = MulDiv(y, units.y, 8);
  return {left, top, left + MulDiv(cx, units.x, 4), top + MulDiv(cy, units.y, 8)};
}

Font TemplateFont(const DialogTemplate& tmpl) {
  Font font;
  font.face = tmpl.font_face;
  // Points at 96 pixels per inch.
  font.height = MulDiv(tmpl.font_points > 0 ? tmpl.font_points : 8, 96, 72);
  return font;
}

void Resources::AddDialog(DialogTemplate tmpl) {
  int id = tmpl.id;
  dialogs_[id] = std::move(tmpl);
}

const DialogTemplate* Resources::FindDialog(int id) const {
  auto it = dialogs_.find(id);
  return it == dialogs_.end() ? nullptr : &it->second;
}

std::vector<int> Resources::DialogIds() const {
  std::vector<int> ids;
  for (const auto& [id, tmpl] : dialogs_) ids.push_back(id);
  return ids;
}

void Resources::AddMenu(int id, Menu menu) { menus_[id] = std::move(menu); }

std::unique_ptr<Menu> Resources::LoadMenu(int id) const {
  auto it = menus_.find(id);
  return it == menus_.end() ? nullptr : std::make_unique<Menu>(it->second);
}

void Resources::AddIcon(int id, Icon icon) { icons_[id] = std::make_unique<Icon>(std::move(icon)); }

const Icon* Resources::LoadIcon(int id) const {
  auto it = icons_.find(id);
  return it == icons_.end() ? nullptr : it->second.get();
}

void Resources::AddString(int id, std::string text) { strings_[id] = std::move(text); }

std::string Resources::LoadString(int id) const {
  auto it = strings_.find(id);
  return it == strings_.end() ? std::string() : it->second;
}

const Resources* CurrentResources() { return g_current; }

const Resources* SetCurrentResources(const Resources* resources) {
  const Resources* previous = g_current;
  g_current = resources;
  return previous;
}

}  // namespace kst::ui
