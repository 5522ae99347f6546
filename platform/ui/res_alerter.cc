// The alerter library's resources: its dialogs (the configuration dialog,
// the exit question, the save confirmation, the about box), its menu bar
// and context menus, its strings and its icons.
#include "platform/ui/icon_art.h"
#include "platform/ui/resources.h"

namespace kst::ui {
namespace {

constexpr uint32_t kButton = kVisible | kTabStop;

Menu AddNotificationPopup() {
  Menu add;
  add.Append("Add new mail notification", 32803);
  add.Append("Add new program execution", 32802);
  add.Append("Add new net send notification", 32849);
  return add;
}

// A menu resource whose first popup is the context menu.
Menu Context(Menu popup) {
  Menu menu;
  menu.AppendPopup("", std::move(popup));
  return menu;
}

Menu MenuBar() {
  Menu file;
  file.Append("New profile", 32791);
  file.Append("Save all", 32790);
  file.AppendSeparator();
  file.Append("Close", 32793);
  Menu profile;
  profile.Append("Activate", 32796);
  profile.Append("Switch on all filters", 32843);
  profile.Append("Switch off all filters", 32845);
  profile.AppendSeparator();
  profile.AppendPopup("Add notification", AddNotificationPopup());
  profile.Append("Delete", 32779);
  Menu help;
  help.Append("How to use", 32840);
  help.AppendSeparator();
  help.Append("About notification system...", 32847);
  Menu bar;
  bar.AppendPopup("&File", std::move(file));
  bar.AppendPopup("&Profile", std::move(profile));
  bar.AppendPopup("&Help", std::move(help));
  return bar;
}

Menu ProfileContext() {
  Menu m;
  m.Append("Select", 32776);
  m.Append("Activate", 32796);
  m.Append("Delete", 32779);
  m.AppendSeparator();
  m.AppendPopup("Add notification", AddNotificationPopup());
  return Context(std::move(m));
}

Menu TransporterContext() {
  Menu m;
  m.Append("Select", 32783);
  m.Append("Delete", 32782);
  return Context(std::move(m));
}

Menu RootContext() {
  Menu m;
  m.Append("New profile", 32791);
  m.Append("Save All", 32790);
  return Context(std::move(m));
}

Menu FilterContext() {
  Menu gates;
  gates.Append("AND", 32815);
  gates.Append("OR", 32816);
  gates.Append("NOT", 32817);
  Menu m;
  m.Append("Switch on", 32811);
  m.Append("Switch off", 32812);
  m.AppendSeparator();
  m.Append("Filter settings", 32824);
  m.AppendPopup("Add logic gate", std::move(gates));
  m.Append("Add filter", 32814);
  m.Append("Delete", 32813);
  return Context(std::move(m));
}

void AddDialogs(Resources& r) {
  // The configuration dialog places its own controls at start-up.
  DialogTemplate main;
  main.id = 102;
  main.caption = "User notification";
  main.cx = 409;
  main.cy = 236;
  main.controls = {
      {Kind::kButton, kIdOk, "OK", 293, 215, 50, 15, kButton | kDefaultButton, 0},
      {Kind::kButton, kIdCancel, "Cancel", 353, 215, 50, 15, kButton, 0},
  };
  r.AddDialog(main);

  DialogTemplate exit;
  exit.id = 6;
  exit.caption = "Warning system";
  exit.cx = 197;
  exit.cy = 55;
  exit.controls = {
      {Kind::kStatic, kNoId, "Save changes?", 73, 14, 73, 12, kVisible | kGroup, 0},
      {Kind::kButton, kIdOk, "OK", 15, 33, 50, 15, kButton | kDefaultButton, 0},
      {Kind::kButton, kIdNo, "No", 71, 34, 50, 14, kButton, 0},
      {Kind::kButton, kIdCancel, "Cancel", 127, 33, 50, 15, kButton, 0},
  };
  r.AddDialog(exit);

  DialogTemplate confirm;
  confirm.id = 140;
  confirm.caption = "Warning system";
  confirm.cx = 197;
  confirm.cy = 55;
  confirm.controls = {
      {Kind::kStatic, kNoId, "Do you realy want to save?", 20, 14, 157, 12, kVisible | kAlignCentre, 0},
      {Kind::kButton, kIdOk, "OK", 40, 33, 50, 15, kButton | kDefaultButton, 0},
      {Kind::kButton, kIdCancel, "Cancel", 107, 33, 50, 15, kButton, 0},
  };
  r.AddDialog(confirm);

  DialogTemplate about;
  about.id = 100;
  about.caption = "About KestraneAlerter";
  about.cx = 235;
  about.cy = 55;
  about.controls = {
      {Kind::kStatic, kNoId, {}, 11, 17, 20, 20, kVisible | kIconStatic, 128},
      {Kind::kStatic, kNoId, "Warning System for Kestrane", 40, 20, 119, 8, kVisible, 0},
      {Kind::kButton, kIdOk, "OK", 178, 7, 50, 16, kButton | kDefaultButton | kGroup, 0},
  };
  r.AddDialog(about);
}

void AddIcons(Resources& r) {
  r.AddIcon(128, PaintIcon(Art::kWarning, 32, 32));
  r.AddIcon(129, PaintIcon(Art::kPerson, 16, 16));
  r.AddIcon(130, PaintIcon(Art::kActivePerson, 16, 16));
  r.AddIcon(131, PaintIcon(Art::kEnvelope, 16, 16));
  r.AddIcon(132, PaintIcon(Art::kTerminal, 16, 16));
  r.AddIcon(136, PaintIcon(Art::kFolder, 16, 16));
  r.AddIcon(157, PaintIcon(Art::kMonitor, 16, 16));
  r.AddIcon(142, PaintIcon(Art::kAndGate, 24, 16));
  r.AddIcon(143, PaintIcon(Art::kOrGate, 24, 16));
  r.AddIcon(144, PaintIcon(Art::kNotGate, 24, 16));
  r.AddIcon(145, PaintIcon(Art::kFunnel, 24, 16));
  r.AddIcon(147, PaintIcon(Art::kAndGate, 24, 16, true));
  r.AddIcon(148, PaintIcon(Art::kOrGate, 24, 16, true));
  r.AddIcon(149, PaintIcon(Art::kNotGate, 24, 16, true));
  r.AddIcon(146, PaintIcon(Art::kFunnel, 24, 16, true));
  r.AddIcon(153, PaintIcon(Art::kNewFunnel, 32, 32));
  r.AddIcon(155, PaintIcon(Art::kWarning, 32, 32));
}

}  // namespace

const Resources& AlerterResources() {
  static const Resources* resources = [] {
    auto* r = new Resources("KestraneAlerter");
    AddDialogs(*r);
    r->AddMenu(152, MenuBar());
    r->AddMenu(133, ProfileContext());
    r->AddMenu(134, TransporterContext());
    r->AddMenu(135, RootContext());
    r->AddMenu(1241, FilterContext());
    r->AddString(101, "&About KestraneAlerter...");
    AddIcons(*r);
    return r;
  }();
  return *resources;
}

}  // namespace kst::ui
