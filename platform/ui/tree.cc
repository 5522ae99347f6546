#include "platform/ui/tree.h"

#include <algorithm>

#include "platform/ui/backend.h"
#include "platform/ui/image.h"
#include "platform/ui/ui.h"

namespace kst::ui {
namespace {

// One count for every tree (UI thread only).
TreeItem NextHandle() {
  static TreeItem next = 1;
  return next++;
}

}  // namespace

bool TreeCtrl::Create(Window* parent, int id, const Rect& rect, uint32_t style) {
  return CreateAs(Kind::kTree, parent, id, rect, style, {});
}

void TreeCtrl::OnDestroyed() {
  nodes_.clear();
  roots_.clear();
  selected_ = kNoItem;
}

const TreeCtrl::Node* TreeCtrl::Find(TreeItem item) const {
  auto it = nodes_.find(item);
  return it == nodes_.end() ? nullptr : &it->second;
}

TreeCtrl::Node* TreeCtrl::Find(TreeItem item) {
  auto it = nodes_.find(item);
  return it == nodes_.end() ? nullptr : &it->second;
}

std::vector<TreeItem>& TreeCtrl::SiblingsOf(TreeItem parent) {
  return parent == kNoItem ? roots_ : nodes_.at(parent).children;
}

const std::vector<TreeItem>& TreeCtrl::SiblingsOf(TreeItem parent) const {
  return parent == kNoItem ? roots_ : nodes_.at(parent).children;
}

TreeItem TreeCtrl::InsertItem(std::string_view text, int image, int selected_image, TreeItem parent) {
  if (!IsCreated() || (parent != kNoItem && Find(parent) == nullptr)) return kNoItem;
  TreeItem handle = NextHandle();
  Node node;
  node.text = std::string(text);
  node.image = image;
  node.selected_image = selected_image;
  node.parent = parent;
  nodes_.emplace(handle, std::move(node));
  SiblingsOf(parent).push_back(handle);
  Touch(kAspectItems);
  return handle;
}

void TreeCtrl::EraseSubtree(TreeItem item) {
  Node* node = Find(item);
  if (node == nullptr) return;
  std::vector<TreeItem> children = std::move(node->children);
  for (TreeItem child : children) EraseSubtree(child);
  if (selected_ == item) selected_ = kNoItem;
  nodes_.erase(item);
}

bool TreeCtrl::DeleteItem(TreeItem item) {
  Node* node = Find(item);
  if (node == nullptr) return false;
  auto& siblings = SiblingsOf(node->parent);
  siblings.erase(std::remove(siblings.begin(), siblings.end(), item), siblings.end());
  EraseSubtree(item);
  Touch(kAspectItems | kAspectSelection);
  return true;
}

void TreeCtrl::DeleteAllItems() {
  nodes_.clear();
  roots_.clear();
  selected_ = kNoItem;
  scroll_ = 0;
  Touch(kAspectItems | kAspectSelection);
}

bool TreeCtrl::Expand(TreeItem item, ExpandCode code) {
  Node* node = Find(item);
  if (node == nullptr) return false;
  node->expanded = code == ExpandCode::kToggle ? !node->expanded : code == ExpandCode::kExpand;
  Touch(kAspectItems);
  return true;
}

bool TreeCtrl::IsExpanded(TreeItem item) const {
  const Node* node = Find(item);
  return node != nullptr && node->expanded;
}

bool TreeCtrl::SelectItem(TreeItem item) {
  if (item != kNoItem && Find(item) == nullptr) return false;
  for (TreeItem up = Parent(item); up != kNoItem; up = Parent(up)) Find(up)->expanded = true;
  if (item != kNoItem) EnsureVisible(item);
  if (item == selected_) return true;
  NotifyInfo info;
  info.old_item = selected_;
  info.new_item = item;
  selected_ = item;
  Touch(kAspectSelection | kAspectItems);
  if (parent() != nullptr) parent()->Notify(*this, Event::kSelChanged, info);
  return true;
}

TreeItem TreeCtrl::Parent(TreeItem item) const {
  const Node* node = Find(item);
  return node == nullptr ? kNoItem : node->parent;
}

TreeItem TreeCtrl::FirstChild(TreeItem item) const {
  const Node* node = Find(item);
  return node == nullptr || node->children.empty() ? kNoItem : node->children.front();
}

TreeItem TreeCtrl::NextSibling(TreeItem item) const {
  const Node* node = Find(item);
  if (node == nullptr) return kNoItem;
  const auto& siblings = SiblingsOf(node->parent);
  auto it = std::find(siblings.begin(), siblings.end(), item);
  return (it == siblings.end() || it + 1 == siblings.end()) ? kNoItem : *(it + 1);
}

int TreeCtrl::Depth(TreeItem item) const {
  if (Find(item) == nullptr) return -1;
  int depth = 0;
  for (TreeItem up = Parent(item); up != kNoItem; up = Parent(up)) ++depth;
  return depth;
}

std::string TreeCtrl::ItemText(TreeItem item) const {
  const Node* node = Find(item);
  return node == nullptr ? std::string() : node->text;
}

bool TreeCtrl::SetItemText(TreeItem item, std::string_view text) {
  Node* node = Find(item);
  if (node == nullptr) return false;
  node->text = std::string(text);
  Touch(kAspectItems);
  return true;
}

bool TreeCtrl::ItemImage(TreeItem item, int* image, int* selected_image) const {
  const Node* node = Find(item);
  if (node == nullptr) return false;
  if (image != nullptr) *image = node->image;
  if (selected_image != nullptr) *selected_image = node->selected_image;
  return true;
}

bool TreeCtrl::SetItemImage(TreeItem item, int image, int selected_image) {
  Node* node = Find(item);
  if (node == nullptr) return false;
  node->image = image;
  node->selected_image = selected_image;
  Touch(kAspectItems);
  return true;
}

void TreeCtrl::SetImageList(const ImageList* images) {
  images_ = images;
  Touch(kAspectItems);
}

int TreeCtrl::row_height() const {
  int image = images_ != nullptr ? images_->cy() : 0;
  int text = font() != nullptr && font()->height > 0 ? font()->height : 14;
  return std::max(image, text) + 2;
}

std::vector<TreeItem> TreeCtrl::VisibleItems() const {
  std::vector<TreeItem> rows;
  std::vector<TreeItem> stack(roots_.rbegin(), roots_.rend());
  while (!stack.empty()) {
    TreeItem item = stack.back();
    stack.pop_back();
    rows.push_back(item);
    const Node& node = nodes_.at(item);
    if (node.expanded) stack.insert(stack.end(), node.children.rbegin(), node.children.rend());
  }
  return rows;
}

void TreeCtrl::SetScroll(int first_row) {
  int rows = static_cast<int>(VisibleItems().size());
  scroll_ = std::clamp(first_row, 0, std::max(0, rows - 1));
  Touch(kAspectItems);
}

bool TreeCtrl::ItemGeometry(TreeItem item, Rect* icon, Rect* label) const {
  std::vector<TreeItem> rows = VisibleItems();
  auto it = std::find(rows.begin(), rows.end(), item);
  if (it == rows.end()) return false;
  int row = static_cast<int>(it - rows.begin()) - scroll_;
  int top = row * row_height();
  int level = Depth(item) + (HasStyle(kLinesAtRoot) ? 1 : 0);
  int x = level * indent();
  int icon_width = images_ != nullptr ? images_->cx() : 0;
  *icon = {x, top, x + icon_width, top + row_height()};
  int label_left = x + icon_width + (icon_width > 0 ? 2 : 0);
  int text = CurrentBackend().TextWidth(font(), nodes_.at(item).text);
  *label = {label_left, top, label_left + text + 4, top + row_height()};
  return true;
}

void TreeCtrl::EnsureVisible(TreeItem item) {
  std::vector<TreeItem> rows = VisibleItems();
  auto it = std::find(rows.begin(), rows.end(), item);
  if (it == rows.end()) return;
  int row = static_cast<int>(it - rows.begin());
  int fits = std::max(1, ClientRect().height() / row_height());
  if (row < scroll_) scroll_ = row;
  if (row >= scroll_ + fits) scroll_ = row - fits + 1;
}

TreeHit TreeCtrl::HitTest(Point client) const {
  TreeHit hit;
  if (!ClientRect().Contains(client)) return hit;
  std::vector<TreeItem> rows = VisibleItems();
  int row = client.y / row_height() + scroll_;
  if (row < 0 || row >= static_cast<int>(rows.size())) return hit;
  hit.item = rows[row];
  Rect icon, label;
  ItemGeometry(hit.item, &icon, &label);
  if (client.x >= label.right) {
    hit.flags = kHitOnRight;
  } else if (client.x >= label.left) {
    hit.flags = kHitOnLabel;
  } else if (client.x >= icon.left && icon.width() > 0) {
    hit.flags = kHitOnIcon;
  } else if (client.x >= icon.left - indent() && HasStyle(kHasButtons) && HasChildren(hit.item) &&
             (Depth(hit.item) > 0 || HasStyle(kLinesAtRoot))) {
    hit.flags = kHitOnButton;
  } else {
    hit.flags = kHitOnIndent;
  }
  return hit;
}

bool TreeCtrl::UserClick(Point client, bool right) {
  if (!IsUsable()) return false;
  SetCursorPos(ClientToScreen(client));
  TreeHit hit = HitTest(client);
  Window* owner = parent();
  if (right) {
    if (owner != nullptr) owner->Notify(*this, Event::kRightClick);
    return true;
  }
  int result = owner != nullptr ? owner->Notify(*this, Event::kClick) : 0;
  if (result != 0 || !IsCreated()) return true;
  if (hit.flags & kHitOnButton) {
    Expand(hit.item, ExpandCode::kToggle);
  } else if (hit.flags & (kHitOnIcon | kHitOnLabel)) {
    SelectItem(hit.item);  // a handler may have deleted it: then nothing
  }
  return true;
}

bool TreeCtrl::UserArrow(int delta) {
  if (!IsUsable()) return false;
  std::vector<TreeItem> rows = VisibleItems();
  if (rows.empty()) return true;
  auto it = std::find(rows.begin(), rows.end(), selected_);
  int row = it == rows.end() ? 0 : static_cast<int>(it - rows.begin()) + delta;
  SelectItem(rows[std::clamp(row, 0, static_cast<int>(rows.size()) - 1)]);
  return true;
}

}  // namespace kst::ui
