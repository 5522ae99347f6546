// The scripted user's queues and the record of what was shown, as the
// layer itself uses them. Internal to platform/ui; tests use testing.h.
#ifndef KST_PLATFORM_UI_SCRIPT_H_
#define KST_PLATFORM_UI_SCRIPT_H_

#include "platform/ui/backend.h"

namespace kst::ui {

class Dialog;
class Menu;

bool TakeModalScript(ModalScript* out);
bool TakePopupChoice(int* command);
void RecordModal(const Dialog& dialog);
void RecordPopup(const Menu& menu, int command);

}  // namespace kst::ui

#endif  // KST_PLATFORM_UI_SCRIPT_H_
