// The console program's resources: its one dialog and its icon.
#include "platform/ui/icon_art.h"
#include "platform/ui/resources.h"

namespace kst::ui {
namespace {

constexpr uint32_t kButton = kVisible | kTabStop;
constexpr uint32_t kText = kVisible;

DialogTemplate ConsoleDialogTemplate() {
  DialogTemplate t;
  t.id = 102;
  t.caption = "System statistics collecting";
  t.cx = 330;
  t.cy = 222;
  // Not visible: the silent set-up builds it hidden; a modal run shows it.
  t.style = kCaption | kSystemMenu;
  t.controls = {
      {Kind::kStatic, kNoId, "Performance counters:", 7, 7, 120, 8, kText, 0},
      {Kind::kListBox, 1008, {}, 7, 18, 218, 128, kVisible | kBorder | kSorted | kExtendedSel | kVScroll | kTabStop, 0},
      {Kind::kButton, 1000, "Add...", 233, 18, 90, 14, kButton, 0},
      {Kind::kButton, 1009, "Remove", 233, 35, 90, 14, kButton, 0},
      {Kind::kButton, 1005, "Add all sys. counters", 233, 52, 90, 14, kButton, 0},
      {Kind::kButton, 1006, "Remove all", 233, 69, 90, 14, kButton, 0},
      {Kind::kCheckBox, 1012, "Create new buffer", 233, 92, 90, 10, kButton, 0},
      {Kind::kButton, 1002, "Apply", 233, 106, 90, 14, kButton, 0},
      {Kind::kButton, 1013, "Start service", 233, 130, 90, 14, kButton, 0},
      {Kind::kButton, 1014, "Stop service", 233, 147, 90, 14, kButton, 0},
      {Kind::kStatic, kNoId, "Time int. (min):", 7, 153, 64, 8, kText, 0},
      {Kind::kEdit, 1023, {}, 73, 151, 40, 12, kVisible | kBorder | kDigitsOnly | kAutoHScroll | kTabStop, 0},
      {Kind::kStatic, kNoId, "Buffer name:", 7, 169, 64, 8, kText, 0},
      {Kind::kEdit, 1001, {}, 73, 167, 152, 12, kVisible | kBorder | kAutoHScroll | kTabStop, 0},
      {Kind::kStatic, kNoId, "CSV file name:", 7, 185, 64, 8, kText, 0},
      {Kind::kEdit, 1003, {}, 73, 183, 152, 12, kVisible | kBorder | kAutoHScroll | kTabStop, 0},
      {Kind::kStatic, kNoId, "Service should be installed before first startting", 7, 205, 218, 8, kText, 0},
      {Kind::kButton, 1024, "Install", 233, 168, 42, 14, kButton, 0},
      {Kind::kButton, 1025, "Remove", 281, 168, 42, 14, kButton, 0},
      {Kind::kButton, 1004, "OK", 233, 201, 42, 14, kButton | kDefaultButton, 0},
      {Kind::kButton, 8, "Close", 281, 201, 42, 14, kButton, 0},
  };
  return t;
}

}  // namespace

const Resources& ConsoleResources() {
  static const Resources* resources = [] {
    auto* r = new Resources("KestraneConsole");
    r->AddDialog(ConsoleDialogTemplate());
    r->AddIcon(129, PaintIcon(Art::kChart, 32, 32));
    return r;
  }();
  return *resources;
}

}  // namespace kst::ui
