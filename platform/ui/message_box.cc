#include <algorithm>
#include <string>
#include <vector>

#include "platform/ui/backend.h"
#include "platform/ui/dialog.h"
#include "platform/ui/icon_art.h"
#include "platform/ui/resources.h"
#include "platform/ui/text_controls.h"

namespace kst::ui {
namespace {

constexpr int kIconId = 20;
constexpr int kTextId = 0xFFFF;

std::vector<std::string> Lines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (true) {
    size_t end = text.find('\n', start);
    lines.emplace_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return lines;
}

}  // namespace

int MessageBox(Window* owner, std::string_view text, std::string_view caption, MessageIcon icon,
               MessageButtons buttons) {
  DialogTemplate tmpl;
  tmpl.caption = std::string(caption);
  tmpl.pixels = true;
  Font font = TemplateFont(tmpl);
  std::vector<std::string> lines = Lines(text);
  int text_width = 0;
  for (const std::string& line : lines) {
    text_width = std::max(text_width, CurrentBackend().TextWidth(&font, line));
  }
  int line_height = font.height + 4;
  int text_left = icon == MessageIcon::kNone ? 16 : 60;
  int text_height = std::max(static_cast<int>(lines.size()) * line_height, icon == MessageIcon::kNone ? 0 : 32);
  int button_count = buttons == MessageButtons::kOk ? 1 : 2;
  int buttons_width = button_count * 75 + (button_count - 1) * 10;
  // A window frame draws the caption bold and larger than the text, between
  // its icon and its close box.
  const Font caption_font{"", kCaptionHeight * 2 / 3, 700};
  int caption_width = CurrentBackend().TextWidth(&caption_font, caption) + 2 * kCaptionHeight + 16;
  tmpl.cx = std::max({text_left + text_width + 24, buttons_width + 32, caption_width});
  tmpl.cy = 16 + text_height + 16 + 23 + 12;
  if (icon != MessageIcon::kNone) {
    tmpl.controls.push_back({Kind::kStatic, kIconId, {}, 16, 16, 32, 32, kVisible | kIconStatic, 0});
  }
  int text_top = 16 + std::max(0, (text_height - static_cast<int>(lines.size()) * line_height) / 2);
  tmpl.controls.push_back(
      {Kind::kStatic, kTextId, std::string(text), text_left, text_top, text_width + 12, text_height, kVisible, 0});
  int x = (tmpl.cx - buttons_width) / 2;
  int y = tmpl.cy - 12 - 23;
  tmpl.controls.push_back({Kind::kButton, kIdOk, "OK", x, y, 75, 23, kVisible | kDefaultButton | kTabStop, 0});
  if (button_count == 2) {
    tmpl.controls.push_back({Kind::kButton, kIdCancel, "Cancel", x + 85, y, 75, 23, kVisible | kTabStop, 0});
  }

  Dialog box(0, owner);
  box.message_box_ = true;
  box.message_text_ = std::string(text);
  box.message_icon_ = icon;
  box.message_buttons_ = buttons;
  return box.DoModal(tmpl);
}

}  // namespace kst::ui
