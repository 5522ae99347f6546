// Every control kind, and making one by kind (for dialog templates).
#ifndef KST_PLATFORM_UI_CONTROLS_H_
#define KST_PLATFORM_UI_CONTROLS_H_

#include <memory>
#include <string_view>

#include "platform/ui/lists.h"
#include "platform/ui/text_controls.h"
#include "platform/ui/tree.h"
#include "platform/ui/updown.h"
#include "platform/ui/window.h"

namespace kst::ui {

// A created control of the kind, or null (unknown kind, parent not
// created). Text is the caption of statics, buttons and check boxes.
std::unique_ptr<Window> CreateControl(Kind kind, Window* parent, int id, const Rect& rect, uint32_t style,
                                      std::string_view text);

}  // namespace kst::ui

#endif  // KST_PLATFORM_UI_CONTROLS_H_
