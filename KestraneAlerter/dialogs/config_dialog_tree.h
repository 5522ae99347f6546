// The two trees of the notification configuration dialog: the tree control
// class both use, and the record of which profile-tree items are expanded,
// so that a rebuilt tree opens as the old one was.
#ifndef KESTRANE_ALERTER_DIALOGS_CONFIG_DIALOG_TREE_H_
#define KESTRANE_ALERTER_DIALOGS_CONFIG_DIALOG_TREE_H_

#include <memory>
#include <vector>

#include "platform/ui/tree.h"

namespace kst {

// A tree control that keeps the rectangle it was created over. A move that
// leaves it exactly 24 pixels narrower than that (a vertical scroll bar's
// room taken away) puts it back.
class ConfigTreeCtrl final : public ui::TreeCtrl {
 public:
  // Client edge, child, visible, buttons, lines, lines at root.
  bool Create(ui::Window* parent, int id, const ui::Rect& rect);
  const ui::Rect& creationRect() const { return creationRect_; }

 private:
  void OnMoved() override;

  ui::Rect creationRect_;
  bool restoring_ = false;  // a move made from inside OnMoved
};

// Expanded flags of a tree: one record per item, children in tree order.
struct ExpansionState {
  bool expanded = false;
  std::vector<std::unique_ptr<ExpansionState>> children;

  // The record of the first top-level item with all its descendants.
  static std::unique_ptr<ExpansionState> Capture(const ui::TreeCtrl& tree);
  // The child record at a position, or null.
  const ExpansionState* child(size_t index) const {
    return index < children.size() ? children[index].get() : nullptr;
  }
};

// The positions of an item among its siblings, from the top level down;
// empty when the item is not in the tree.
std::vector<int> ItemPath(const ui::TreeCtrl& tree, ui::TreeItem item);
// The item at such a path, or no item.
ui::TreeItem ItemAtPath(const ui::TreeCtrl& tree, const std::vector<int>& path);

// The item whose icon or label lies under the cursor, or no item.
ui::TreeItem ItemAtCursor(const ui::TreeCtrl& tree);

// Filter-tree images 0 to 3 show a node on, 4 to 7 the same node off.
inline constexpr int kFilterImageOff = 4;
// Whether both images of an existing item show on (or both off).
bool ShowsOn(const ui::TreeCtrl& tree, ui::TreeItem item);
bool ShowsOff(const ui::TreeCtrl& tree, ui::TreeItem item);

}  // namespace kst

#endif  // KESTRANE_ALERTER_DIALOGS_CONFIG_DIALOG_TREE_H_
