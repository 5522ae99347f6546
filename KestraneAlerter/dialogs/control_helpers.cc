#include "KestraneAlerter/dialogs/control_helpers.h"

#include <algorithm>
#include <climits>
#include <string>

#include "platform/ui/dialog.h"

namespace kst {

namespace {
constexpr char kMessageCaption[] = "Warning system";
}  // namespace

std::unique_ptr<ui::Font> MakePaneFont() {
  auto font = std::make_unique<ui::Font>();
  font->face = "Arial";
  font->height = 14;
  font->weight = 400;
  font->italic = false;
  return font;
}

bool PaneControls::Build(ui::Window& pane, const ui::Font* font, const std::vector<ControlPlan>& plans) {
  for (const ControlPlan& plan : plans) {
    std::unique_ptr<ui::Window> control = ui::CreateControl(plan.kind, &pane, plan.id, plan.rect, plan.style, plan.text);
    if (control == nullptr) return false;
    if (plan.font) {
      control->SetFont(font);
      control->Redraw();
    }
    controls_.push_back(std::move(control));
  }
  return true;
}

bool PaneControls::DestroyAll() {
  bool all = true;
  for (auto& control : controls_) all = control->DestroyWindow() && all;
  return all;
}

void ShowPaneMessage(ui::Window* owner, std::string_view text) {
  ui::MessageBox(owner, text, kMessageCaption, ui::MessageIcon::kNone, ui::MessageButtons::kOk);
}

bool ParseLeadingNumber(std::string_view text, int64_t* value) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r' ||
                             text[i] == '\v' || text[i] == '\f')) {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i >= text.size() || text[i] < '0' || text[i] > '9') return false;
  int64_t magnitude = 0;
  constexpr int64_t kCap = static_cast<int64_t>(UINT32_MAX) + 1;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    magnitude = std::min(kCap, magnitude * 10 + (text[i] - '0'));
  }
  *value = negative ? -magnitude : magnitude;
  return true;
}

std::string ReadBox(const ui::Window& box, size_t max_chars) {
  std::string text = box.Text();
  if (text.size() > max_chars) text.resize(max_chars);
  return text;
}

int NumberBoxValue(const ui::Window& box) {
  int64_t value = 0;
  if (!ParseLeadingNumber(ReadBox(box, 4), &value)) return 0;
  return static_cast<int>(value);  // four characters always fit
}

int StepNumberBox(ui::Edit& box, const ui::UpDown& spin, int delta) {
  int64_t value = static_cast<int64_t>(NumberBoxValue(box)) + delta;
  int lower = std::min(spin.lower(), spin.upper());
  int upper = std::max(spin.lower(), spin.upper());
  if (value < lower) value = 0;
  if (value > upper) value = upper;
  box.SetSel(0, -1);
  box.ScrollCaret();
  box.ReplaceSel(std::to_string(value));
  return 0;
}

NumberBoxFault CheckNumberBox(std::string_view text) {
  if (text.size() > 5) return NumberBoxFault::kTooLong;
  for (char c : text) {
    if (c < '0' || c > '9') return NumberBoxFault::kBadCharacter;
  }
  return NumberBoxFault::kNone;
}

bool IsLatinName(std::string_view name) {
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ';
  });
}

}  // namespace kst
