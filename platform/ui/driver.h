// The user's hands, for tests: drives a back end's controls the way a user
// would, so that one script plays the same against every back end. Each
// call returns false when the user could not have done it (the control is
// disabled or hidden, of another kind, or the menu item is grey).
#ifndef KST_PLATFORM_UI_DRIVER_H_
#define KST_PLATFORM_UI_DRIVER_H_

#include <string_view>

#include "platform/ui/types.h"

namespace kst::ui {

class Window;
class Dialog;
class TreeCtrl;

class Driver {
 public:
  virtual ~Driver() = default;
  // Into an edit or an editable combo box: selects all, then types.
  virtual bool Type(Window& control, std::string_view text) = 0;
  // A push button or a check box.
  virtual bool Click(Window& control) = 0;
  // An item of a combo box or a list box; add toggles it in a list box's
  // extended selection.
  virtual bool Select(Window& control, int index, bool add = false) = 0;
  // An up-down arrow: +1 the upper, -1 the lower.
  virtual bool Step(Window& updown, int delta) = 0;
  // A click on an item's label.
  virtual bool ClickItem(TreeCtrl& tree, TreeItem item, bool right = false) = 0;
  // The down (+1) or up (-1) arrow key in a tree.
  virtual bool Arrow(TreeCtrl& tree, int delta) = 0;
  virtual bool ChooseMenu(Dialog& dialog, int command) = 0;
  virtual bool ChooseSystemMenu(Dialog& dialog, int command) = 0;
  virtual bool PressEscape(Dialog& dialog) = 0;
  virtual bool PressEnter(Dialog& dialog) = 0;
  virtual bool CloseBox(Dialog& dialog) = 0;
};

}  // namespace kst::ui

#endif  // KST_PLATFORM_UI_DRIVER_H_
