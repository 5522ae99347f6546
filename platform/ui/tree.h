// The tree control: items with text and images, expand state, selection,
// hit-testing, an image list, and click, right-click and selection-changed
// notifications to the parent.
//
// Items are named by handles that are never reused and that no two trees
// share, so a handle of a deleted item, or of another tree's item, is
// simply not found (every call then does nothing).
#ifndef KST_PLATFORM_UI_TREE_H_
#define KST_PLATFORM_UI_TREE_H_

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/ui/window.h"

namespace kst::ui {

class ImageList;

enum HitFlags : unsigned {
  kHitNowhere = 1u << 0,
  kHitOnIcon = 1u << 1,
  kHitOnLabel = 1u << 2,
  kHitOnIndent = 1u << 3,
  kHitOnButton = 1u << 4,
  kHitOnRight = 1u << 5,
  kHitOnStateIcon = 1u << 6,  // no state images here; kept for callers' masks
};

struct TreeHit {
  TreeItem item = kNoItem;
  unsigned flags = kHitNowhere;
};

enum class ExpandCode { kCollapse, kExpand, kToggle };

class TreeCtrl : public Window {
 public:
  bool Create(Window* parent, int id, const Rect& rect, uint32_t style);

  // Inserts as the last child of parent (kNoItem: a top-level item).
  TreeItem InsertItem(std::string_view text, int image, int selected_image, TreeItem parent = kNoItem);
  // Deletes the item with its subtree. A selection inside it is cleared
  // without a notification.
  bool DeleteItem(TreeItem item);
  void DeleteAllItems();
  bool Exists(TreeItem item) const { return nodes_.count(item) != 0; }

  bool Expand(TreeItem item, ExpandCode code);
  bool IsExpanded(TreeItem item) const;
  // Selects the item (kNoItem clears), expanding its ancestors; sends
  // Event::kSelChanged when the selection changed.
  bool SelectItem(TreeItem item);
  TreeItem selected() const { return selected_; }

  TreeItem Root() const { return roots_.empty() ? kNoItem : roots_.front(); }
  TreeItem Parent(TreeItem item) const;
  TreeItem FirstChild(TreeItem item) const;
  TreeItem NextSibling(TreeItem item) const;
  bool HasChildren(TreeItem item) const { return FirstChild(item) != kNoItem; }
  // Distance from the top level (top-level items are 0); -1 when missing.
  int Depth(TreeItem item) const;

  std::string ItemText(TreeItem item) const;
  bool SetItemText(TreeItem item, std::string_view text);
  bool ItemImage(TreeItem item, int* image, int* selected_image) const;
  bool SetItemImage(TreeItem item, int image, int selected_image);

  // Not owned; must outlive the tree or be replaced first.
  void SetImageList(const ImageList* images);
  const ImageList* image_list() const { return images_; }
  void SetBkColor(Color c) { SetBackground(c); }

  // Layout, in client pixels: rows of row_height() from the top (after
  // scrolled rows), indent() per level.
  int row_height() const;
  int indent() const { return 19; }
  std::vector<TreeItem> VisibleItems() const;
  int scroll() const { return scroll_; }
  void SetScroll(int first_row);
  // Where an item's icon (x of it) and label lie; false when not shown.
  bool ItemGeometry(TreeItem item, Rect* icon, Rect* label) const;
  TreeHit HitTest(Point client) const;

  // The user clicks at a client point. The cursor moves there first, so
  // the parent's handler can hit-test it.
  bool UserClick(Point client, bool right);
  // The user presses the down (+1) or up (-1) arrow: the selection moves
  // to the next or previous shown item.
  bool UserArrow(int delta);

 private:
  struct Node {
    std::string text;
    int image = 0;
    int selected_image = 0;
    TreeItem parent = kNoItem;
    std::vector<TreeItem> children;
    bool expanded = false;
  };
  const Node* Find(TreeItem item) const;
  Node* Find(TreeItem item);
  std::vector<TreeItem>& SiblingsOf(TreeItem parent);
  const std::vector<TreeItem>& SiblingsOf(TreeItem parent) const;
  void EraseSubtree(TreeItem item);
  void OnDestroyed() override;
  // Scrolls so that the item's row is inside the client area.
  void EnsureVisible(TreeItem item);

  std::unordered_map<TreeItem, Node> nodes_;
  std::vector<TreeItem> roots_;
  TreeItem selected_ = kNoItem;
  const ImageList* images_ = nullptr;
  int scroll_ = 0;
};

}  // namespace kst::ui

#endif  // KST_PLATFORM_UI_TREE_H_
