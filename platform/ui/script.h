// The scripted user's queues and the record of what was shown, as the
// layer itself uses them. Internal to platform/ui; tests use testing.h.
#ifndef KST_PLATFORM_UI_SCRIPT_H_
#define KST_PLATFORM_UI_SCRIPT_H_

#include "platform/ui/backend.h"

namespace kst::ui {

class Dialog;
class Menu;
class Window;

bool TakeModalScript(ModalScript* out);
bool TakePopupChoice(int* command);
// A driver's own choice for the popup it is about to open, ahead of any
// the test has queued for later popups.
void QueuePopupChoiceFirst(int command);
// The user's pick from a popup menu at a screen point: the queued choice
// when there is one (0 when it cannot be chosen), else the back end's.
// Recorded; nothing is sent.
int ChoosePopup(const Menu& menu, Point screen, Window& owner);
void RecordModal(const Dialog& dialog);
void RecordPopup(const Menu& menu, int command);

}  // namespace kst::ui

#endif  // KST_PLATFORM_UI_SCRIPT_H_
