// The dialog's construction, its two trees and how a click selects an item
// and switches the pane. Its menus and commands are in
// notification_config_dlg_commands.cc.
#include "KestraneAlerter/dialogs/notification_config_dlg.h"

#include "KestraneAlerter/dialogs/config_dialog_panes.h"
#include "KestraneAlerter/profile_set.h"
#include "platform/ui/resources.h"
#include "platform/ui/ui.h"

namespace kst {
namespace {

constexpr char kRootText[] = "Profiles:";
constexpr int kIconResource = 155;
constexpr int kMenuResource = 152;
constexpr int kAboutString = 101;
constexpr int kProfilePopup = 1;  // "Profile" on the menu bar

constexpr int kProfileIcons[] = {129, 130, 131, 132, 136, 157};
constexpr int kFilterIcons[] = {142, 143, 144, 145, 147, 148, 149, 146};

constexpr ui::Color kWhite{255, 255, 255};
constexpr ui::Color kGrey{212, 208, 200};

void SetImage(ui::TreeCtrl& tree, ui::TreeItem item, int image) { tree.SetItemImage(item, image, image); }

const ui::Icon* LoadIcon(int id) {
  const ui::Resources* resources = ui::CurrentResources();
  return resources != nullptr ? resources->LoadIcon(id) : nullptr;
}

}  // namespace

NotificationConfigDlg::NotificationConfigDlg(ProfileSet* profiles, ui::Window* parent)
    : ui::Dialog(kConfigDialogTemplate, parent), profileSet_(profiles), icon_(LoadIcon(kIconResource)) {
  registerHandlers();
}

NotificationConfigDlg::~NotificationConfigDlg() {
  SetMenuBar(nullptr);
  menu_.reset();
  filterTree_.reset();
  profileTree_.reset();
  profileImages_.reset();
  filterImages_.reset();
  dropPane();
}

bool NotificationConfigDlg::OnInitDialog() {
  ui::Dialog::OnInitDialog();
  SetIcon(icon_, false);
  const ui::Resources* resources = ui::CurrentResources();
  std::string about = resources != nullptr ? resources->LoadString(kAboutString) : std::string();
  if (ui::Menu* system = SystemMenu(); system != nullptr && !about.empty()) {
    system->AppendSeparator();
    system->Append(about, kCmdSystemAbout);
  }
  Move({200, 130, 200 + 620, 130 + 430});
  menu_ = resources != nullptr ? resources->LoadMenu(kMenuResource) : nullptr;
  SetMenuBar(menu_.get());
  if (ui::Window* ok = Child(ui::kIdOk)) ok->Move({440, 350, 440 + 75, 350 + 25});
  if (ui::Window* cancel = Child(ui::kIdCancel)) cancel->Move({530, 350, 530 + 75, 350 + 25});
  SetIcon(icon_, true);
  SetIcon(icon_, false);

  contextItem_ = ui::kNoItem;
  // Nothing of an earlier run may outlive the profiles that load replaces.
  dropPane();
  filterProfile_ = nullptr;
  profileSet_->load();
  paneRect_ = {180, 200, 600, 500};

  profileTree_ = std::make_unique<ConfigTreeCtrl>();
  profileTree_->Create(this, kProfileTreeId, {5, 10, 180, 365});
  profileImages_ = std::make_unique<ui::ImageList>(16, 16, 4);
  for (int id : kProfileIcons) profileImages_->Add(LoadIcon(id));
  profileTree_->SetImageList(profileImages_.get());

  filterTree_ = std::make_unique<ConfigTreeCtrl>();
  filterTree_->Create(this, kFilterTreeId, {185, 10, 600, 200});
  filterImages_ = std::make_unique<ui::ImageList>(24, 16, 4);
  filterImages_->SetBkColor(kWhite);
  fillFilterImages();
  filterTree_->SetImageList(filterImages_.get());

  buildProfileTree(nullptr);
  profileTree_->Expand(profileTree_->Root(), ui::ExpandCode::kExpand);
  greyProfileMenu(true);

  if (Profile* active = profileSet_->defaultProfile()) {
    const std::string name = active->name;
    for (ui::TreeItem item = profileTree_->FirstChild(profileTree_->Root()); item != ui::kNoItem;
         item = profileTree_->NextSibling(item)) {
      if (profileTree_->ItemText(item) != name) continue;
      profileTree_->SelectItem(item);
      contextItem_ = item;
      selectProfile();
    }
  }
  return true;
}

void NotificationConfigDlg::OnSysCommand(int command) {
  if (command == kCmdSystemAbout) {
    onAbout();
    return;
  }
  ui::Dialog::OnSysCommand(command);
}

void NotificationConfigDlg::registerHandlers() {
  OnNotify(kProfileTreeId, ui::Event::kClick, [this](const ui::NotifyInfo&) { return onProfileTreeClick(); });
  OnNotify(kFilterTreeId, ui::Event::kClick, [this](const ui::NotifyInfo&) { return onFilterTreeClick(); });
  OnNotify(kProfileTreeId, ui::Event::kRightClick,
           [this](const ui::NotifyInfo&) { return onProfileTreeRightClick(); });
  OnNotify(kFilterTreeId, ui::Event::kRightClick, [this](const ui::NotifyInfo&) { return onFilterTreeRightClick(); });
  OnNotify(kProfileTreeId, ui::Event::kSelChanged,
           [this](const ui::NotifyInfo& info) { return onSelectionChanged(profileTree_.get(), info.new_item); });
  OnNotify(kFilterTreeId, ui::Event::kSelChanged,
           [this](const ui::NotifyInfo& info) { return onSelectionChanged(filterTree_.get(), info.new_item); });

  OnCommand(kCmdSelectProfile, [this] { selectProfile(); });
  OnCommand(kCmdActivate, [this] { onActivate(); });
  OnCommand(kCmdDeleteProfile, [this] { onDeleteProfile(); });
  for (int command : {kCmdAddMail, kCmdAddShell, kCmdAddNetSend}) {
    OnCommand(command, [this, command] { onAddTransporter(command); });
  }
  OnCommand(kCmdSelectTransporter, [this] { selectTransporter(); });
  OnCommand(kCmdDeleteTransporter, [this] { onDeleteTransporter(); });
  OnCommand(kCmdNewProfile, [this] { onNewProfile(); });
  OnCommand(kCmdSaveAll, [this] { onSaveAll(); });
  OnCommand(kCmdClose, [this] { onClose(); });
  OnCommand(kCmdSwitchOnAll, [this] { onSwitchAllFilters(true); });
  OnCommand(kCmdSwitchOffAll, [this] { onSwitchAllFilters(false); });
  OnCommand(kCmdHowToUse, [] {});
  OnCommand(kCmdAbout, [this] { onAbout(); });
  OnCommand(kCmdSwitchOn, [this] { onSwitchNode(true); });
  OnCommand(kCmdSwitchOff, [this] { onSwitchNode(false); });
  OnCommand(kCmdFilterSettings, [this] { showFilterSettings(); });
  OnCommand(kCmdAddAnd, [this] { onAddGate(Gate::kAnd); });
  OnCommand(kCmdAddOr, [this] { onAddGate(Gate::kOr); });
  OnCommand(kCmdAddNot, [this] { onAddGate(Gate::kNot); });
  OnCommand(kCmdAddFilter, [this] { onAddFilter(); });
  OnCommand(kCmdDeleteNode, [this] { onDeleteNode(); });
}

// --- trees ---

void NotificationConfigDlg::buildProfileTree(const ExpansionState* keep) {
  ui::TreeCtrl& tree = *profileTree_;
  tree.DeleteAllItems();
  const std::vector<std::string> names = profileSet_->profileNames();
  ui::TreeItem root = tree.InsertItem(kRootText, kImageRoot, kImageRoot);
  const Profile* active = profileSet_->defaultProfile();
  for (size_t i = 0; i < names.size(); ++i) {
    int image = active != nullptr && active->name == names[i] ? kImageActiveProfile : kImageProfile;
    ui::TreeItem item = tree.InsertItem(names[i], image, image, root);
    if (Profile* profile = profileSet_->findProfile(names[i])) {
      for (const auto& settings : profile->deliverySettings) {
        PaneKind kind;
        if (!TransporterPaneKind(*settings, &kind)) continue;
        int transporterImage = kind == PaneKind::kMail ? kImageMail : kind == PaneKind::kShell ? kImageShell
                                                                                                : kImageNetSend;
        tree.InsertItem(settings->name, transporterImage, transporterImage, item);
      }
    }
    const ExpansionState* state = keep != nullptr ? keep->child(i) : nullptr;
    if (state != nullptr && state->expanded) tree.Expand(item, ui::ExpandCode::kExpand);
  }
  if (keep != nullptr && keep->expanded) tree.Expand(root, ui::ExpandCode::kExpand);
}

std::unique_ptr<ExpansionState> NotificationConfigDlg::captureExpansion() const {
  return ExpansionState::Capture(*profileTree_);
}

void NotificationConfigDlg::rebuildProfileTree() {
  ui::TreeCtrl& tree = *profileTree_;
  // Renames keep every profile at its place, so the old positions find the
  // same items in the new tree.
  std::vector<int> panePath = ItemPath(tree, paneItem_);
  std::vector<int> contextPath = ItemPath(tree, contextItem_);
  std::vector<int> selectedPath = ItemPath(tree, tree.selected());
  std::unique_ptr<ExpansionState> keep = captureExpansion();
  buildProfileTree(keep.get());
  if (!panePath.empty()) paneItem_ = ItemAtPath(tree, panePath);
  if (!contextPath.empty()) contextItem_ = ItemAtPath(tree, contextPath);
  if (!selectedPath.empty()) tree.SelectItem(ItemAtPath(tree, selectedPath));
}

int NotificationConfigDlg::gateImage(const Gate& gate) const {
  // A damaged file may hold another type: it shows as AND.
  int image = gate.gateType() == Gate::kOr ? 1 : gate.gateType() == Gate::kNot ? 2 : 0;
  return gate.isOn() ? image : image + kFilterImageOff;
}

int NotificationConfigDlg::nodeImage(const FilterNode& node) const {
  if (node.kind() == FilterNode::kGateKind) return gateImage(static_cast<const Gate&>(node));
  return node.isOn() ? kImageFilterOn : kImageFilterOff;
}

void NotificationConfigDlg::buildFilterTree(Gate* gate, ui::TreeItem parentItem) {
  ui::TreeCtrl& tree = *filterTree_;
  ui::TreeItem item = tree.InsertItem("Gate", gateImage(*gate), gateImage(*gate), parentItem);
  for (int i = 0; i < gate->childCount(); ++i) {
    FilterNode* child = gate->childAt(i);
    if (child->kind() == FilterNode::kGateKind) {
      buildFilterTree(static_cast<Gate*>(child), item);
    } else {
      tree.InsertItem("Filter", nodeImage(*child), nodeImage(*child), item);
    }
  }
  tree.Expand(item, ui::ExpandCode::kExpand);
}

void NotificationConfigDlg::showFilterTree(Profile* profile) {
  filterTree_->DeleteAllItems();
  filterProfile_ = profile;
  if (profile != nullptr) buildFilterTree(&profile->rootGate, ui::kNoItem);
}

FilterNode* NotificationConfigDlg::nodeForItem(ui::TreeItem item, Profile* profile) const {
  if (profile == nullptr || filterTree_ == nullptr) return nullptr;
  std::vector<int> path = ItemPath(*filterTree_, item);
  if (path.empty()) return nullptr;
  FilterNode* node = &profile->rootGate;
  for (size_t level = 1; level < path.size(); ++level) {
    if (node->kind() != FilterNode::kGateKind) return nullptr;
    node = static_cast<Gate*>(node)->childAt(path[level]);
    if (node == nullptr) return nullptr;
  }
  return node;
}

// --- item to model ---

bool NotificationConfigDlg::isProfileItem(ui::TreeItem item) const {
  return profileTree_ != nullptr && profileTree_->Depth(item) == 1;
}

Profile* NotificationConfigDlg::profileOfItem(ui::TreeItem item) const {
  if (!isProfileItem(item)) return nullptr;
  return profileSet_->findProfile(profileTree_->ItemText(item));
}

DeliverySettings* NotificationConfigDlg::transporterOfItem(ui::TreeItem item, Profile** profile) const {
  if (profileTree_ == nullptr || profileTree_->Depth(item) != 2) return nullptr;
  Profile* owner = profileOfItem(profileTree_->Parent(item));
  if (owner == nullptr) return nullptr;
  const std::string name = profileTree_->ItemText(item);
  DeliverySettings* found = nullptr;
  for (const auto& settings : owner->deliverySettings) {
    if (settings->name == name) found = settings.get();
  }
  if (found != nullptr && profile != nullptr) *profile = owner;
  return found;
}

// --- panes ---

bool NotificationConfigDlg::commitPane() {
  if (pane_ == nullptr) return true;
  int result = pane_->apply(*profileSet_);
  if (result < 0) return false;
  if (result == kApplyRenamed) rebuildProfileTree();
  return true;
}

void NotificationConfigDlg::dropPane() {
  paneItem_ = ui::kNoItem;
  if (pane_ == nullptr) return;
  pane_->DestroyWindow();
  pane_.reset();
}

void NotificationConfigDlg::greyProfileMenu(bool grey) {
  if (menu_ == nullptr) return;
  menu_->EnableItem(kProfilePopup, ui::By::kPosition, grey ? ui::kMenuGrayed : ui::kMenuEnabled);
  DrawMenuBar();
}

void NotificationConfigDlg::fillFilterImages() {
  filterImages_->RemoveAll();
  for (int id : kFilterIcons) filterImages_->Add(LoadIcon(id));
}

void NotificationConfigDlg::setFilterTreeLook(bool enabled) {
  filterTree_->Enable(enabled);
  ui::Color colour = enabled ? kWhite : kGrey;
  filterTree_->SetBkColor(colour);
  filterImages_->SetBkColor(colour);
  fillFilterImages();
  filterTree_->SetImageList(filterImages_.get());
}

void NotificationConfigDlg::selectProfile() {
  Profile* profile = profileOfItem(contextItem_);
  if (profile == nullptr) return;
  if (pane_ != nullptr) {
    if (!commitPane()) return;
    dropPane();
  }
  pane_ = MakeSettingsPane(PaneKind::kProfile);
  pane_->createControls(profile, std::string(), paneRect_, this);
  paneItem_ = contextItem_;
  profileTree_->SelectItem(paneItem_);
  setFilterTreeLook(true);
  showFilterTree(profile);
  greyProfileMenu(false);
}

void NotificationConfigDlg::selectTransporter() {
  Profile* profile = nullptr;
  DeliverySettings* settings = transporterOfItem(contextItem_, &profile);
  if (settings == nullptr) return;
  if (pane_ != nullptr) {
    if (!commitPane()) return;
    dropPane();
  }
  if (filterProfile_ != profile) showFilterTree(profile);
  paneItem_ = contextItem_;
  profileTree_->SelectItem(paneItem_);
  setFilterTreeLook(false);
  PaneKind kind;
  if (TransporterPaneKind(*settings, &kind)) {
    pane_ = MakeSettingsPane(kind);
    pane_->createControls(settings, profile->name, paneRect_, this);
  }
  greyProfileMenu(true);
}

void NotificationConfigDlg::createFilterPane(ui::TreeItem item) {
  FilterNode* node = nodeForItem(item, filterProfile_);
  if (node == nullptr || node->kind() != FilterNode::kFilterKind) return;
  pane_ = MakeSettingsPane(PaneKind::kFilter);
  pane_->createControls(node, filterProfile_->name, paneRect_, this);
  paneItem_ = item;
  filterTree_->SelectItem(paneItem_);
}

void NotificationConfigDlg::showFilterSettings() {
  FilterNode* node = nodeForItem(contextItem_, filterProfile_);
  if (node == nullptr || node->kind() != FilterNode::kFilterKind) return;
  if (pane_ != nullptr) {
    if (!commitPane()) return;
    dropPane();
  }
  createFilterPane(contextItem_);
}

// --- clicks and the selection ---

int NotificationConfigDlg::onProfileTreeClick() {
  ui::TreeItem item = ItemAtCursor(*profileTree_);
  int depth = profileTree_->Depth(item);
  if (depth < 1) return 0;
  contextItem_ = item;
  if (depth == 1) {
    selectProfile();
  } else {
    selectTransporter();
  }
  // A rename rebuilt the tree: the clicked item is gone, its successor is
  // selected in its place.
  if (!profileTree_->Exists(item) && profileTree_->Exists(contextItem_)) profileTree_->SelectItem(contextItem_);
  return 0;
}

int NotificationConfigDlg::onFilterTreeClick() {
  ui::TreeItem item = ItemAtCursor(*filterTree_);
  int image = 0;
  if (!filterTree_->ItemImage(item, &image, nullptr)) return 0;
  if (image != kImageFilterOn && image != kImageFilterOff) return 0;
  contextItem_ = item;
  showFilterSettings();
  return 0;
}

int NotificationConfigDlg::onSelectionChanged(ConfigTreeCtrl* tree, ui::TreeItem newItem) {
  if (tree != nullptr && newItem != paneItem_ && tree->Exists(paneItem_)) tree->SelectItem(paneItem_);
  return 0;
}

// --- switching ---

void NotificationConfigDlg::refreshSwitchedOn(ui::TreeItem item, FilterNode* node, bool switchFirst) {
  if (switchFirst && !node->switchOn()) return;
  ui::TreeCtrl& tree = *filterTree_;
  SetImage(tree, item, nodeImage(*node) % kFilterImageOff);
  if (node->kind() != FilterNode::kGateKind) return;
  Gate* gate = static_cast<Gate*>(node);
  ui::TreeItem childItem = tree.FirstChild(item);
  for (int i = 0; i < gate->childCount() && childItem != ui::kNoItem; ++i, childItem = tree.NextSibling(childItem)) {
    FilterNode* child = gate->childAt(i);
    if (child->isOn() && ShowsOff(tree, childItem)) refreshSwitchedOn(childItem, child, false);
  }
}

void NotificationConfigDlg::refreshSwitchedOff(ui::TreeItem item, FilterNode* node, bool switchFirst) {
  if (switchFirst) node->switchOff();
  ui::TreeCtrl& tree = *filterTree_;
  SetImage(tree, item, nodeImage(*node) % kFilterImageOff + kFilterImageOff);
  if (node->kind() == FilterNode::kGateKind) {
    Gate* gate = static_cast<Gate*>(node);
    ui::TreeItem childItem = tree.FirstChild(item);
    for (int i = 0; i < gate->childCount() && childItem != ui::kNoItem;
         ++i, childItem = tree.NextSibling(childItem)) {
      FilterNode* child = gate->childAt(i);
      if (!child->isOn() && ShowsOn(tree, childItem)) refreshSwitchedOff(childItem, child, false);
    }
  }
  ui::TreeItem parentItem = tree.Parent(item);
  Gate* parent = node->parent();
  if (parentItem != ui::kNoItem && parent != nullptr && !parent->isOn() && ShowsOn(tree, parentItem)) {
    refreshSwitchedOff(parentItem, parent, false);
  }
}

}  // namespace kst
