// Resources of one module (the alerter library, the console program):
// dialog templates, menus, icons and strings by id, and the module whose
// resources dialogs are built from now.
#ifndef KST_PLATFORM_UI_RESOURCES_H_
#define KST_PLATFORM_UI_RESOURCES_H_

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/image.h"
#include "platform/ui/menu.h"
#include "platform/ui/window.h"

namespace kst::ui {

// A control of a template, in dialog units of the template's font
// (or pixels where the template says so).
struct ControlTemplate {
  Kind kind = Kind::kStatic;
  int id = kNoId;
  std::string text;
  int x = 0, y = 0, cx = 0, cy = 0;
  uint32_t style = kVisible;
  int icon = 0;  // icon resource of an icon static
};

struct DialogTemplate {
  int id = 0;
  std::string caption;
  int cx = 0, cy = 0;  // client size
  uint32_t style = kCaption | kSystemMenu;
  std::string font_face = "MS Shell Dlg";
  int font_points = 8;
  bool pixels = false;  // sizes in pixels rather than dialog units
  std::vector<ControlTemplate> controls;
};

// Dialog units to pixels for the template's font.
Rect TemplateRect(const DialogTemplate& tmpl, int x, int y, int cx, int cy);
// The pixel font of a template's font.
Font TemplateFont(const DialogTemplate& tmpl);

class Resources {
 public:
  explicit Resources(std::string name) : name_(std::move(name)) {}
  const std::string& name() const { return name_; }

  void AddDialog(DialogTemplate tmpl);
  const DialogTemplate* FindDialog(int id) const;
  std::vector<int> DialogIds() const;
  void AddMenu(int id, Menu menu);
  // A fresh copy the caller owns; null when missing.
  std::unique_ptr<Menu> LoadMenu(int id) const;
  void AddIcon(int id, Icon icon);
  // Owned by the resources; null when missing.
  const Icon* LoadIcon(int id) const;
  void AddString(int id, std::string text);
  // Empty when missing.
  std::string LoadString(int id) const;

 private:
  std::string name_;
  std::map<int, DialogTemplate> dialogs_;
  std::map<int, Menu> menus_;
  std::map<int, std::unique_ptr<Icon>> icons_;
  std::map<int, std::string> strings_;
};

// The resources of the alerter library and of the console program.
const Resources& AlerterResources();
const Resources& ConsoleResources();

// Where dialogs, menus and icons are looked up now (null: nowhere).
const Resources* CurrentResources();
// Returns the previous source, for the caller to put back.
const Resources* SetCurrentResources(const Resources* resources);

}  // namespace kst::ui

#endif  // KST_PLATFORM_UI_RESOURCES_H_
