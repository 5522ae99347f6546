// The configuration dialog's menus and commands: the menu bar, the context
// menus of both trees, and what each command does to the profiles, the
// trees and the shown pane.
#include <cstdio>
#include <string>

#include "KestraneAlerter/dialogs/config_dialog_panes.h"
#include "KestraneAlerter/dialogs/control_helpers.h"
#include "KestraneAlerter/dialogs/notification_config_dlg.h"
#include "KestraneAlerter/profile_set.h"
#include "platform/ui/resources.h"
#include "platform/ui/ui.h"

namespace kst {
namespace {

constexpr int kRootMenu = 135;
constexpr int kProfileMenu = 133;
constexpr int kTransporterMenu = 134;
constexpr int kFilterMenu = 1241;
constexpr int kConfirmTemplate = 140;
constexpr int kAboutTemplate = 100;
constexpr int kProfilePopup = 1;
constexpr int kSwitchOnAllPos = 1;
constexpr int kSwitchOffAllPos = 2;
constexpr int kLastNameNumber = 9999;

constexpr char kSaveFailedMessage[] = "Saving operation not completed!";

// The first of prefix1, prefix2, ... up to 9999 that `taken` refuses; empty
// when every one is taken.
template <typename Taken>
std::string FreeName(const char* prefix, Taken taken) {
  for (int number = 1; number <= kLastNameNumber; ++number) {
    char name[32];
    std::snprintf(name, sizeof name, "%s%d", prefix, number);
    if (!taken(name)) return name;
  }
  return {};
}

// The position of the popup that holds the command, or -1.
int PopupPosition(const ui::Menu& menu, int command) {
  for (int pos = 0; pos < menu.count(); ++pos) {
    const ui::Menu* popup = menu.SubMenu(pos);
    if (popup != nullptr && popup->ItemState(command, ui::By::kCommand) >= 0) return pos;
  }
  return -1;
}

}  // namespace

// --- context menus ---

namespace {

// Loads the menu resource and tracks its first popup at the cursor, after
// `prepare` has adjusted it.
template <typename Prepare>
void TrackContextMenu(ui::Dialog& owner, int resource, Prepare prepare) {
  const ui::Resources* resources = ui::CurrentResources();
  std::unique_ptr<ui::Menu> menu = resources != nullptr ? resources->LoadMenu(resource) : nullptr;
  ui::Menu* popup = menu != nullptr ? menu->SubMenu(0) : nullptr;
  if (popup == nullptr) return;
  prepare(*popup);
  ui::TrackPopupMenu(*popup, ui::CursorPos(), owner);
}

void AsIs(ui::Menu&) {}

}  // namespace

int NotificationConfigDlg::onProfileTreeRightClick() {
  ui::TreeItem item = ItemAtCursor(*profileTree_);
  switch (profileTree_->Depth(item)) {
    case 0:
      if (profileTree_->ItemText(item) != "Profiles:") break;
      contextItem_ = item;
      TrackContextMenu(*this, kRootMenu, AsIs);
      break;
    case 1:
      contextItem_ = item;
      TrackContextMenu(*this, kProfileMenu, AsIs);
      break;
    case 2:
      contextItem_ = item;
      if (transporterOfItem(item, nullptr) != nullptr) TrackContextMenu(*this, kTransporterMenu, AsIs);
      break;
    default:
      break;
  }
  return 0;
}

int NotificationConfigDlg::onFilterTreeRightClick() {
  ui::TreeItem item = ItemAtCursor(*filterTree_);
  int image = 0;
  if (!filterTree_->ItemImage(item, &image, nullptr)) return 0;
  contextItem_ = item;
  FilterNode* node = nodeForItem(item, filterProfile_);
  bool hasParent = filterTree_->Parent(item) != ui::kNoItem;
  bool hasChild = filterTree_->HasChildren(item);
  TrackContextMenu(*this, kFilterMenu, [&](ui::Menu& menu) {
    int kind = image % kFilterImageOff;
    if (kind == 3) {
      menu.RemoveItem(kCmdAddFilter, ui::By::kCommand);
      menu.RemoveItem(PopupPosition(menu, kCmdAddAnd), ui::By::kPosition);
    } else {
      menu.RemoveItem(kCmdFilterSettings, ui::By::kCommand);
      if (kind == 2 && hasChild) {
        menu.EnableItem(PopupPosition(menu, kCmdAddAnd), ui::By::kPosition, ui::kMenuGrayed);
        menu.EnableItem(kCmdAddFilter, ui::By::kCommand, ui::kMenuGrayed);
      }
      if (kind != 2 && !hasParent) menu.RemoveItem(kCmdDeleteNode, ui::By::kCommand);
    }
    if (image < kFilterImageOff) {
      menu.EnableItem(kCmdSwitchOn, ui::By::kCommand, ui::kMenuGrayed);
    } else {
      menu.EnableItem(kCmdSwitchOff, ui::By::kCommand, ui::kMenuGrayed);
      if (node != nullptr && !node->canSwitchOn()) menu.EnableItem(kCmdSwitchOn, ui::By::kCommand, ui::kMenuGrayed);
    }
  });
  return 0;
}

void NotificationConfigDlg::onMenuSelect() {
  if (menu_ == nullptr || profileTree_ == nullptr || filterTree_ == nullptr || !profileTree_->IsCreated() ||
      !filterTree_->IsCreated()) {
    return;
  }
  Profile* profile = nullptr;
  if (selectedProfileItem(&profile) == ui::kNoItem) return;
  ui::Menu* popup = menu_->SubMenu(kProfilePopup);
  if (popup == nullptr) return;
  const Gate& root = profile->rootGate;
  if (root.isOn()) {
    popup->EnableItem(kSwitchOnAllPos, ui::By::kPosition, ui::kMenuEnabled);
    popup->EnableItem(kSwitchOffAllPos, ui::By::kPosition, ui::kMenuEnabled);
  } else {
    popup->EnableItem(kSwitchOnAllPos, ui::By::kPosition, root.canSwitchOn() ? ui::kMenuEnabled : ui::kMenuGrayed);
    popup->EnableItem(kSwitchOffAllPos, ui::By::kPosition, ui::kMenuGrayed);
  }
}

ui::TreeItem NotificationConfigDlg::selectedProfileItem(Profile** profile) const {
  ui::TreeItem item = profileTree_->selected();
  Profile* found = profileOfItem(item);
  if (found == nullptr) return ui::kNoItem;
  *profile = found;
  return item;
}

ui::TreeItem NotificationConfigDlg::profileCommandItem() const {
  if (isProfileItem(contextItem_)) return contextItem_;
  // After a right click in the filter tree the "Profile" commands act on
  // the profile whose filter tree is shown.
  if (filterProfile_ == nullptr || filterTree_ == nullptr || !filterTree_->Exists(contextItem_)) return ui::kNoItem;
  for (ui::TreeItem item = profileTree_->FirstChild(profileTree_->Root()); item != ui::kNoItem;
       item = profileTree_->NextSibling(item)) {
    if (profileTree_->ItemText(item) == filterProfile_->name) return item;
  }
  return ui::kNoItem;
}

// --- profile commands ---

void NotificationConfigDlg::refreshActiveImages() {
  const Profile* active = profileSet_->defaultProfile();
  for (ui::TreeItem item = profileTree_->FirstChild(profileTree_->Root()); item != ui::kNoItem;
       item = profileTree_->NextSibling(item)) {
    bool isActive = active != nullptr && profileTree_->ItemText(item) == active->name;
    int image = isActive ? kImageActiveProfile : kImageProfile;
    profileTree_->SetItemImage(item, image, image);
  }
}

void NotificationConfigDlg::onActivate() {
  ui::TreeItem item = profileCommandItem();
  if (item == ui::kNoItem || profileSet_->setDefaultProfile(profileTree_->ItemText(item)) != 0) return;
  for (ui::TreeItem other = profileTree_->FirstChild(profileTree_->Root()); other != ui::kNoItem;
       other = profileTree_->NextSibling(other)) {
    int image = 0;
    if (profileTree_->ItemImage(other, &image, nullptr) && image == kImageActiveProfile) {
      profileTree_->SetItemImage(other, kImageProfile, kImageProfile);
    }
  }
  profileTree_->SetItemImage(item, kImageActiveProfile, kImageActiveProfile);
}

void NotificationConfigDlg::onDeleteProfile() {
  ui::TreeItem item = profileCommandItem();
  if (item == ui::kNoItem) return;
  const std::string name = profileTree_->ItemText(item);
  // Decided before the removal destroys the profile.
  const bool shown = item == paneItem_ || profileSet_->findProfile(name) == filterProfile_;
  if (profileSet_->removeProfile(name) != 0) return;
  if (shown) {
    dropPane();
    showFilterTree(nullptr);
  }
  profileTree_->DeleteItem(item);
  contextItem_ = ui::kNoItem;
  if (shown) greyProfileMenu(true);
  // The set chose a new default profile: the images follow it.
  refreshActiveImages();
}

void NotificationConfigDlg::onAddTransporter(int command) {
  ui::TreeItem item = profileCommandItem();
  Profile* profile = profileOfItem(item);
  if (profile == nullptr) return;
  std::string name = FreeName("transporter", [profile](const std::string& candidate) {
    for (const auto& settings : profile->deliverySettings) {
      if (settings->name == candidate) return true;
    }
    return false;
  });
  if (name.empty()) return;
  int image = kImageMail;
  if (command == kCmdAddMail) {
    profile->deliverySettings.push_back(std::make_unique<MailDeliverySettings>(name));
  } else if (command == kCmdAddShell) {
    profile->deliverySettings.push_back(std::make_unique<ShellDeliverySettings>(name));
    image = kImageShell;
  } else {
    profile->deliverySettings.push_back(std::make_unique<NetSendDeliverySettings>(name));
    image = kImageNetSend;
  }
  profileTree_->InsertItem(name, image, image, item);
  profileTree_->Expand(item, ui::ExpandCode::kExpand);
}

void NotificationConfigDlg::onDeleteTransporter() {
  ui::TreeItem item = contextItem_;
  Profile* profile = nullptr;
  DeliverySettings* settings = transporterOfItem(item, &profile);
  if (settings == nullptr) return;
  auto& list = profile->deliverySettings;
  for (auto it = list.begin(); it != list.end(); ++it) {
    if (it->get() == settings) {
      list.erase(it);
      break;
    }
  }
  if (paneItem_ == item) {
    dropPane();
    showFilterTree(nullptr);
  }
  profileTree_->DeleteItem(item);
  contextItem_ = ui::kNoItem;
}

void NotificationConfigDlg::onNewProfile() {
  std::string name =
      FreeName("profile", [this](const std::string& candidate) { return profileSet_->findProfile(candidate); });
  if (name.empty() || profileSet_->addProfile(name) != 0) return;
  profileTree_->InsertItem(name, kImageProfile, kImageProfile, profileTree_->Root());
}

// --- saving and closing ---

bool NotificationConfigDlg::confirmSave() {
  ui::Dialog confirm(kConfirmTemplate, this);
  return confirm.DoModal() == ui::kIdOk;
}

bool NotificationConfigDlg::saveAll() {
  saveFailed_ = profileSet_->saveAllProfiles() != 0;
  if (saveFailed_) ShowPaneMessage(this, kSaveFailedMessage);
  return !saveFailed_;
}

void NotificationConfigDlg::onSaveAll() {
  if (!confirmSave() || !commitPane()) return;
  saveAll();
}

void NotificationConfigDlg::onClose() {
  int answer = AskExitQuestion();
  if (answer == ui::kIdNo) {
    EndDialog(ui::kIdNo);
    return;
  }
  if (answer != ui::kIdOk) return;
  ui::Dialog confirm(kConfirmTemplate, this);
  int confirmed = confirm.DoModal();
  if (confirmed == ui::kIdCancel) return;
  // A save that failed keeps the dialog, and what it holds, open.
  if (confirmed == ui::kIdOk && (!commitPane() || !saveAll())) return;
  EndDialog(ui::kIdNo);
}

void NotificationConfigDlg::onOK() {
  if (pane_ != nullptr && pane_->apply(*profileSet_) < 0) return;
  if (!saveAll()) return;
  EndDialog(ui::kIdOk);
}

void NotificationConfigDlg::onAbout() {
  ui::Dialog about(kAboutTemplate, this);
  about.DoModal();
}

// --- filter tree commands ---

void NotificationConfigDlg::onSwitchAllFilters(bool on) {
  Profile* profile = nullptr;
  if (filterTree_ == nullptr || selectedProfileItem(&profile) == ui::kNoItem) return;
  Gate& root = profile->rootGate;
  if (profile != filterProfile_) {
    // Its tree is not shown: only the model changes.
    root.switchOff();
    if (on) root.switchOn();
    return;
  }
  ui::TreeItem top = filterTree_->Root();
  refreshSwitchedOff(top, &root, true);
  if (on) refreshSwitchedOn(top, &root, true);
}

void NotificationConfigDlg::onSwitchNode(bool on) {
  FilterNode* node = nodeForItem(contextItem_, filterProfile_);
  if (node == nullptr) return;
  if (on) {
    refreshSwitchedOn(contextItem_, node, true);
  } else {
    refreshSwitchedOff(contextItem_, node, true);
  }
}

void NotificationConfigDlg::onAddGate(int gateType) {
  FilterNode* node = nodeForItem(contextItem_, filterProfile_);
  if (node == nullptr || node->kind() != FilterNode::kGateKind) return;
  auto gate = std::make_unique<Gate>(gateType);
  Gate* added = gate.get();
  if (static_cast<Gate*>(node)->addChild(added) != 0) return;
  gate.release();
  filterTree_->InsertItem("Gate", gateImage(*added), gateImage(*added), contextItem_);
  filterTree_->Expand(contextItem_, ui::ExpandCode::kExpand);
}

void NotificationConfigDlg::onAddFilter() {
  FilterNode* node = nodeForItem(contextItem_, filterProfile_);
  if (node == nullptr || node->kind() != FilterNode::kGateKind) return;
  auto filter = std::make_unique<Filter>(Filter::kLogTitle, Filter::kContains, std::string());
  if (!AskNewFilter(filter.get())) return;
  Filter* added = filter.get();
  if (static_cast<Gate*>(node)->addChild(added) != 0) return;
  filter.release();
  int image = nodeImage(*added);
  filterTree_->InsertItem("Filter", image, image, contextItem_);
  filterTree_->Expand(contextItem_, ui::ExpandCode::kExpand);
}

void NotificationConfigDlg::onDeleteNode() {
  ui::TreeItem item = contextItem_;
  FilterNode* node = nodeForItem(item, filterProfile_);
  if (node == nullptr || node->parent() == nullptr) return;
  bool paneInside = false;
  for (ui::TreeItem up = paneItem_; up != ui::kNoItem && filterTree_->Exists(up); up = filterTree_->Parent(up)) {
    if (up == item) paneInside = true;
  }
  // A filter pane elsewhere in the tree finds its filter by position, which
  // the deletion may shift: it gives its values now and is built again
  // for its filter's new place afterwards.
  bool rebuildPane = !paneInside && filterTree_->Exists(paneItem_);
  if (rebuildPane && !commitPane()) return;
  if (paneInside) dropPane();

  refreshSwitchedOff(item, node, true);
  Gate* parent = node->parent();
  ui::TreeItem parentItem = filterTree_->Parent(item);
  parent->removeChild(node);
  filterTree_->DeleteItem(item);
  contextItem_ = ui::kNoItem;
  if (!parent->isOn() && ShowsOn(*filterTree_, parentItem)) refreshSwitchedOff(parentItem, parent, false);
  if (rebuildPane) {
    ui::TreeItem shown = paneItem_;
    dropPane();
    createFilterPane(shown);
  }
}

}  // namespace kst
