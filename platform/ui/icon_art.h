// Our own pictures: every icon the dialogs name is drawn here from simple
// shapes, at any size.
#ifndef KST_PLATFORM_UI_ICON_ART_H_
#define KST_PLATFORM_UI_ICON_ART_H_

#include "platform/ui/image.h"
#include "platform/ui/types.h"

namespace kst::ui {

enum class Art {
  kInfo,
  kError,
  kPerson,
  kActivePerson,
  kEnvelope,
  kTerminal,
  kFolder,
  kMonitor,
  kAndGate,
  kOrGate,
  kNotGate,
  kFunnel,
  kNewFunnel,
  kWarning,
  kChart,
};

// off draws the picture in greys (a switched-off node).
Icon PaintIcon(Art art, int width, int height, bool off = false);

// The message boxes' icons (32 by 32); null for MessageIcon::kNone.
const Icon* SystemIcon(MessageIcon icon);

}  // namespace kst::ui

#endif  // KST_PLATFORM_UI_ICON_ART_H_
