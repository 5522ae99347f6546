// The windowing layer as one include: windows, controls, dialogs, menus,
// pictures, resources, and the few process-wide services (cursor, back
// end). Which back end runs is chosen without the caller: real windows when
// a display is there, headless when KST_UI=headless or DISPLAY is unset.
#ifndef KST_PLATFORM_UI_UI_H_
#define KST_PLATFORM_UI_UI_H_

#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"
#include "platform/ui/image.h"
#include "platform/ui/menu.h"
#include "platform/ui/resources.h"
#include "platform/ui/types.h"
#include "platform/ui/window.h"

namespace kst::ui {

// The cursor in screen pixels: where the last mouse event of the user was.
Point CursorPos();
void SetCursorPos(Point screen);

// "headless" or "fltk".
const char* BackendName();
// False when a dialog would reach nobody: no display, and no test is there
// to play the user of the next modal run. (Message boxes still say their
// text on standard error then.)
bool CanShowWindows();

}  // namespace kst::ui

#endif  // KST_PLATFORM_UI_UI_H_
