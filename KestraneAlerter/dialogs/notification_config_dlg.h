// The modal dialog "User notification" in which a user edits every
// notification profile: on the left a tree of the profiles and their
// transporters, at the top right the filter tree of one profile, below it
// the settings pane of the selected profile, transporter or filter.
//
// Tree items carry no data: each command finds its model object afresh,
// by the item's text or by the path of child positions. contextItem is
// the item last clicked or right-clicked in either tree, paneItem the item
// whose pane is shown. Nothing reaches the disk but through the save
// commands and OK, which save every profile and ask the checking service
// to reload; a save that fails says so and keeps the dialog open.
//
// UI thread only. The profile set is the caller's and must outlive the
// dialog.
#ifndef KESTRANE_ALERTER_DIALOGS_NOTIFICATION_CONFIG_DLG_H_
#define KESTRANE_ALERTER_DIALOGS_NOTIFICATION_CONFIG_DLG_H_

#include <memory>
#include <string>

#include "KestraneAlerter/dialogs/config_dialog_tree.h"
#include "platform/ui/dialog.h"
#include "platform/ui/image.h"
#include "platform/ui/menu.h"

namespace kst {

class DeliverySettings;
class FilterNode;
class Gate;
class Profile;
class ProfileSet;
class SettingsPane;

// Resource and control ids of the dialog.
inline constexpr int kConfigDialogTemplate = 102;
inline constexpr int kProfileTreeId = 6001;
inline constexpr int kFilterTreeId = 6002;

// Command ids of its menus.
enum ConfigCommand {
  kCmdSelectProfile = 32776,
  kCmdActivate = 32796,
  kCmdDeleteProfile = 32779,
  kCmdAddMail = 32803,
  kCmdAddShell = 32802,
  kCmdAddNetSend = 32849,
  kCmdSelectTransporter = 32783,
  kCmdDeleteTransporter = 32782,
  kCmdNewProfile = 32791,
  kCmdSaveAll = 32790,
  kCmdClose = 32793,
  kCmdSwitchOnAll = 32843,
  kCmdSwitchOffAll = 32845,
  kCmdHowToUse = 32840,
  kCmdAbout = 32847,
  kCmdSwitchOn = 32811,
  kCmdSwitchOff = 32812,
  kCmdFilterSettings = 32824,
  kCmdAddAnd = 32815,
  kCmdAddOr = 32816,
  kCmdAddNot = 32817,
  kCmdAddFilter = 32814,
  kCmdDeleteNode = 32813,
  kCmdSystemAbout = 16,
};

// Images of the profile tree.
enum ProfileImage { kImageProfile = 0, kImageActiveProfile = 1, kImageMail = 2, kImageShell = 3, kImageRoot = 4,
                    kImageNetSend = 5 };

// Images of the filter tree: AND, OR, NOT, Filter; the same again off.
inline constexpr int kImageFilterOn = 3;
inline constexpr int kImageFilterOff = 7;

class NotificationConfigDlg : public ui::Dialog {
 public:
  NotificationConfigDlg(ProfileSet* profiles, ui::Window* parent);
  ~NotificationConfigDlg() override;

  bool OnInitDialog() override;
  void OnOK() override { onOK(); }
  void OnSysCommand(int command) override;
  void OnMenuSelect() override { onMenuSelect(); }

  // Rebuilds profileTree from the profile set; keep may be null.
  void buildProfileTree(const ExpansionState* keep);
  std::unique_ptr<ExpansionState> captureExpansion() const;
  // Inserts the items of a gate's subtree under parentItem.
  void buildFilterTree(Gate* gate, ui::TreeItem parentItem);
  // The node of a filter-tree item within the profile's tree, or null.
  FilterNode* nodeForItem(ui::TreeItem item, Profile* profile) const;
  // False when the shown pane refused its values.
  bool commitPane();
  // Show the pane for contextItem.
  void selectProfile();
  void selectTransporter();
  void showFilterSettings();
  void refreshSwitchedOn(ui::TreeItem item, FilterNode* node, bool switchFirst);
  void refreshSwitchedOff(ui::TreeItem item, FilterNode* node, bool switchFirst);

  // Notification handlers; each gives 0, so the tree's default follows.
  int onProfileTreeClick();
  int onFilterTreeClick();
  int onSelectionChanged(ConfigTreeCtrl* tree, ui::TreeItem newItem);
  int onProfileTreeRightClick();
  int onFilterTreeRightClick();
  void onMenuSelect();

  // Commands.
  void onActivate();
  void onDeleteProfile();
  void onAddTransporter(int command);
  void onDeleteTransporter();
  void onNewProfile();
  void onSaveAll();
  void onClose();
  void onOK();
  void onSwitchAllFilters(bool on);
  void onAbout();
  void onSwitchNode(bool on);
  void onAddGate(int gateType);
  void onAddFilter();
  void onDeleteNode();

  // True when the last save of this run failed (and no later one has
  // succeeded): what was shown is not on the disk.
  bool lastSaveFailed() const { return saveFailed_; }

  // What tests look at.
  ConfigTreeCtrl* profileTree() const { return profileTree_.get(); }
  ConfigTreeCtrl* filterTree() const { return filterTree_.get(); }
  SettingsPane* pane() const { return pane_.get(); }
  ui::TreeItem paneItem() const { return paneItem_; }
  ui::TreeItem contextItem() const { return contextItem_; }
  Profile* filterProfile() const { return filterProfile_; }
  const ui::Rect& paneRect() const { return paneRect_; }
  const ui::ImageList* profileImages() const { return profileImages_.get(); }
  const ui::ImageList* filterImages() const { return filterImages_.get(); }

 private:
  void registerHandlers();
  // Item to model.
  Profile* profileOfItem(ui::TreeItem item) const;
  DeliverySettings* transporterOfItem(ui::TreeItem item, Profile** profile) const;
  bool isProfileItem(ui::TreeItem item) const;
  // The profile item a "Profile" command acts on, or no item.
  ui::TreeItem profileCommandItem() const;
  // The profile item of the selection, with its profile; no item when the
  // selection is no profile.
  ui::TreeItem selectedProfileItem(Profile** profile) const;
  // Rebuilds profileTree with its expansion, finding paneItem, contextItem
  // and the selection again at their old positions.
  void rebuildProfileTree();
  // Rebuilds filterTree for the profile (null: empties it).
  void showFilterTree(Profile* profile);
  // Look of filterTree: enabled and white, or disabled and grey.
  void setFilterTreeLook(bool enabled);
  void fillFilterImages();
  void greyProfileMenu(bool grey);
  // Destroys the pane without asking it to commit.
  void dropPane();
  // Shows the filter pane of a filter-tree item (no commit).
  void createFilterPane(ui::TreeItem item);
  // Images the profile items by the set's default profile.
  void refreshActiveImages();
  // Runs the save confirmation; true on OK.
  bool confirmSave();
  // Saves every profile, reporting a failure; false when it failed.
  bool saveAll();
  int gateImage(const Gate& gate) const;
  int nodeImage(const FilterNode& node) const;

  ProfileSet* profileSet_;
  const ui::Icon* icon_ = nullptr;
  std::unique_ptr<ui::Menu> menu_;
  std::unique_ptr<ConfigTreeCtrl> profileTree_;
  std::unique_ptr<ConfigTreeCtrl> filterTree_;
  std::unique_ptr<ui::ImageList> profileImages_;
  std::unique_ptr<ui::ImageList> filterImages_;
  std::unique_ptr<SettingsPane> pane_;
  ui::Rect paneRect_;
  ui::TreeItem paneItem_ = ui::kNoItem;
  ui::TreeItem contextItem_ = ui::kNoItem;
  Profile* filterProfile_ = nullptr;
  bool saveFailed_ = false;
};

}  // namespace kst

#endif  // KESTRANE_ALERTER_DIALOGS_NOTIFICATION_CONFIG_DLG_H_
