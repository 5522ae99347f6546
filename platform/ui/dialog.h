// Top-level dialogs built from templates of the current resources, run
// modally with a result code or created modeless; message boxes.
#ifndef KST_PLATFORM_UI_DIALOG_H_
#define KST_PLATFORM_UI_DIALOG_H_

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/types.h"
#include "platform/ui/window.h"

namespace kst::ui {

class Icon;
class Menu;
struct DialogTemplate;

// Commands of the system menu.
inline constexpr int kScClose = 0xF060;

// A dialog. Its controls come from the template and belong to the dialog;
// Child(id) finds them. The framework's handling: command 1 runs OnOK,
// command 2 (also Escape, the close box and the system menu's Close) runs
// OnCancel; OnOK and OnCancel end the dialog with 1 and 2. Enter presses
// the push button that has the focus; elsewhere it sends the default
// button's id (1 when there is none).
class Dialog : public Window {
 public:
  explicit Dialog(int template_id, Window* owner = nullptr);
  ~Dialog() override;

  int template_id() const { return template_id_; }
  Window* owner() const { return owner_; }

  // Builds the dialog from the current resources' template, runs
  // OnInitDialog, shows it and waits until EndDialog; returns the result,
  // -1 when the template cannot be found. The window is gone afterwards.
  int DoModal();
  // Runs a template given in place of the resources' one.
  int DoModal(const DialogTemplate& tmpl);
  // Builds the dialog without waiting, shown only when the template is
  // visible; false when the template cannot be found.
  bool CreateModeless();
  // Ends a modal run (or hides a modeless dialog) with the result.
  void EndDialog(int result);
  bool running() const { return running_; }
  int result() const { return result_; }

  virtual bool OnInitDialog() { return true; }
  virtual void OnOK() { EndDialog(kIdOk); }
  virtual void OnCancel() { EndDialog(kIdCancel); }
  // Commands of the system menu; kScClose sends command 2.
  virtual void OnSysCommand(int command);
  // An item of one of the dialog's menus is about to be highlighted.
  virtual void OnMenuSelect() {}

  // Window icons; not owned.
  void SetIcon(const Icon* icon, bool big);
  const Icon* icon(bool big) const { return big ? big_icon_ : small_icon_; }
  // The menu bar; not owned. Changes show after DrawMenuBar.
  void SetMenuBar(Menu* menu);
  Menu* menu_bar() const { return menu_bar_; }
  void DrawMenuBar();
  // The system menu of a dialog with kSystemMenu, else null.
  Menu* SystemMenu() { return system_menu_.get(); }
  bool is_message_box() const { return message_box_; }
  // A message box's text, icon and buttons.
  const std::string& message_text() const { return message_text_; }
  MessageIcon message_icon() const { return message_icon_; }
  MessageButtons message_buttons() const { return message_buttons_; }
  Point ClientOffset() const override;

  // The user's side; false when the user could not do it.
  bool UserChooseMenu(int command);
  bool UserChooseSystemMenu(int command);
  // Alt+Space: the system menu pops up at the client area's top left and
  // what the user picks goes to OnSysCommand. False without a system menu.
  bool UserOpenSystemMenu();
  void UserEscape();
  // focus: the control that has the keyboard focus, or null.
  void UserEnter(Window* focus = nullptr);
  void UserCloseBox();

 protected:
  bool OnCommandId(int id) override;

 private:
  friend int MessageBox(Window*, std::string_view, std::string_view, MessageIcon, MessageButtons);
  bool Build(const DialogTemplate& tmpl, bool modal);
  int Run(const DialogTemplate& tmpl);
  void DressMessageBox();
  void OnDestroyed() override;

  int template_id_;
  Window* owner_;
  bool running_ = false;
  bool modal_ = false;
  bool message_box_ = false;
  std::string message_text_;
  MessageIcon message_icon_ = MessageIcon::kNone;
  MessageButtons message_buttons_ = MessageButtons::kOk;
  int result_ = 0;
  const Icon* big_icon_ = nullptr;
  const Icon* small_icon_ = nullptr;
  Menu* menu_bar_ = nullptr;
  std::unique_ptr<Menu> system_menu_;
  std::unique_ptr<Font> font_;
  std::vector<std::unique_ptr<Window>> controls_;
};

// A modal message box: caption, text (lines split at "\n"), an icon and
// OK or OK and Cancel. Returns 1 or 2; Escape and the close box give 2.
int MessageBox(Window* owner, std::string_view text, std::string_view caption,
               MessageIcon icon = MessageIcon::kNone, MessageButtons buttons = MessageButtons::kOk);

}  // namespace kst::ui

#endif  // KST_PLATFORM_UI_DIALOG_H_
