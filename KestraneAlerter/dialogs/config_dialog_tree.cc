#include "KestraneAlerter/dialogs/config_dialog_tree.h"

#include <algorithm>

#include "platform/ui/ui.h"

namespace kst {
namespace {

void CaptureChildren(const ui::TreeCtrl& tree, ui::TreeItem item, ExpansionState* record) {
  for (ui::TreeItem child = tree.FirstChild(item); child != ui::kNoItem; child = tree.NextSibling(child)) {
    auto state = std::make_unique<ExpansionState>();
    state->expanded = tree.IsExpanded(child);
    CaptureChildren(tree, child, state.get());
    record->children.push_back(std::move(state));
  }
}

}  // namespace

bool ConfigTreeCtrl::Create(ui::Window* parent, int id, const ui::Rect& rect) {
  creationRect_ = rect;
  return TreeCtrl::Create(parent, id, rect,
                          ui::kVisible | ui::kClientEdge | ui::kHasButtons | ui::kHasLines | ui::kLinesAtRoot);
}

void ConfigTreeCtrl::OnMoved() {
  if (restoring_ || rect().width() + 24 != creationRect_.width()) return;
  restoring_ = true;
  Move(creationRect_);
  Redraw();
  restoring_ = false;
}

std::unique_ptr<ExpansionState> ExpansionState::Capture(const ui::TreeCtrl& tree) {
  auto record = std::make_unique<ExpansionState>();
  ui::TreeItem root = tree.Root();
  record->expanded = tree.IsExpanded(root);
  if (root != ui::kNoItem) CaptureChildren(tree, root, record.get());
  return record;
}

std::vector<int> ItemPath(const ui::TreeCtrl& tree, ui::TreeItem item) {
  std::vector<int> path;
  if (!tree.Exists(item)) return path;
  for (ui::TreeItem step = item; step != ui::kNoItem; step = tree.Parent(step)) {
    ui::TreeItem parent = tree.Parent(step);
    ui::TreeItem sibling = parent == ui::kNoItem ? tree.Root() : tree.FirstChild(parent);
    int index = 0;
    while (sibling != ui::kNoItem && sibling != step) {
      sibling = tree.NextSibling(sibling);
      ++index;
    }
    if (sibling == ui::kNoItem) return {};
    path.push_back(index);
  }
  std::reverse(path.begin(), path.end());
  return path;
}

ui::TreeItem ItemAtPath(const ui::TreeCtrl& tree, const std::vector<int>& path) {
  ui::TreeItem item = ui::kNoItem;
  for (size_t level = 0; level < path.size(); ++level) {
    item = level == 0 ? tree.Root() : tree.FirstChild(item);
    for (int i = 0; i < path[level] && item != ui::kNoItem; ++i) item = tree.NextSibling(item);
    if (item == ui::kNoItem) return ui::kNoItem;
  }
  return item;
}

ui::TreeItem ItemAtCursor(const ui::TreeCtrl& tree) {
  ui::TreeHit hit = tree.HitTest(tree.ScreenToClient(ui::CursorPos()));
  return (hit.flags & (ui::kHitOnIcon | ui::kHitOnLabel | ui::kHitOnStateIcon)) != 0 ? hit.item : ui::kNoItem;
}

bool ShowsOn(const ui::TreeCtrl& tree, ui::TreeItem item) {
  int image = 0, selected = 0;
  return tree.ItemImage(item, &image, &selected) && image < kFilterImageOff && selected < kFilterImageOff;
}

bool ShowsOff(const ui::TreeCtrl& tree, ui::TreeItem item) {
  int image = 0, selected = 0;
  return tree.ItemImage(item, &image, &selected) && image >= kFilterImageOff && selected >= kFilterImageOff;
}

}  // namespace kst
