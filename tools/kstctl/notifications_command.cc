// kstctl notifications: opens the alerter's dialog "User notification",
// where every notification profile is edited, through the library's
// LaunchUpdaterDialog, as a management host does.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/module.h"
#include "tools/kstctl/command.h"
#include "tools/kstctl/config_support.h"
#include "tools/kstctl/host_support.h"

namespace kst {

namespace {

constexpr const char* kCommand = "notifications";

// Runs the dialog modally; returns when it is closed: -1 when it ended
// after a save that failed, else 0.
using LaunchUpdaterDialogFn = int32_t();

// A connection to an X display that answers, decided as the windowing
// layer decides it (KST_UI=headless forces none). Held until the dialog has
// closed: a server that resets when its last client leaves would otherwise
// be gone just as the library connects. Without a display the library's
// dialog would only say so, and its export tells its caller nothing.
class DisplayProbe {
 public:
  DisplayProbe() {
    const char* forced = std::getenv("KST_UI");
    if (forced != nullptr && std::string(forced) == "headless") return;
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') return;
    x11_ = LoadModule("libX11.so.6");
    if (x11_ == nullptr) return;
    auto* open = x11_->Bind<void*(const char*)>("XOpenDisplay");
    close_ = x11_->Bind<int(void*)>("XCloseDisplay");
    if (open != nullptr && close_ != nullptr) connection_ = open(nullptr);
  }
  ~DisplayProbe() {
    if (connection_ != nullptr) close_(connection_);
  }
  DisplayProbe(const DisplayProbe&) = delete;
  DisplayProbe& operator=(const DisplayProbe&) = delete;

  bool reached() const { return connection_ != nullptr; }

 private:
  std::unique_ptr<Module> x11_;
  int (*close_)(void*) = nullptr;
  void* connection_ = nullptr;
};

int Open() {
  DisplayProbe display;
  if (!display.reached()) {
    return ConfigFail(kCommand,
                      "the notification settings dialog needs a display (set DISPLAY to an X server)");
  }
  if (!LoadRootDirectory(kCommand)) return 1;
  std::unique_ptr<Module> alerter = LoadAlerter(kCommand);
  if (alerter == nullptr) return 1;
  auto* launch = alerter->Bind<LaunchUpdaterDialogFn>("LaunchUpdaterDialog");
  if (launch == nullptr) {
    return ConfigFail(kCommand, "the alerter library has no LaunchUpdaterDialog");
  }
  if (launch() != 0) {
    return ConfigFail(kCommand, "the profiles were not saved: the last save in the dialog failed");
  }
  return 0;
}

}  // namespace

int NotificationsCommand(const std::vector<std::string>& args) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::printf(
        "usage: kstctl notifications\n\n"
        "Opens the alerter's dialog \"User notification\" (through the\n"
        "LaunchUpdaterDialog of the root directory's KestraneAlerter.dll, the\n"
        "library the checking service loads, else the one beside kstctl), where\n"
        "the notification profiles, their filter trees and their transporters\n"
        "are edited and the default profile is chosen. OK and File > Save all\n"
        "write every profile under the root directory's Profiles folder and send\n"
        "the checking service control 129, so that a running checker reloads\n"
        "them before its next check (a stopped one reads them when it starts);\n"
        "Cancel, Escape and the close box keep nothing. Needs a display: DISPLAY\n"
        "must name an X server.\n"
        "\nExit status: 0 the dialog was closed, 1 failed (no display, no\n"
        "rootDirectory, no alerter library, or the dialog was closed after a\n"
        "save that failed), 2 wrong usage.\n");
    return 0;
  }
  if (!args.empty()) {
    std::fprintf(stderr, "usage: kstctl notifications\n");
    return 2;
  }
  return Open();
}

}  // namespace kst
