// kstctl notifications: opens the alerter's dialog "User notification",
// where every notification profile is edited, through the library's
// LaunchUpdaterDialog, as a management host does.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/module.h"
#include "tools/kstctl/command.h"
#include "tools/kstctl/config_support.h"
#include "tools/kstctl/host_support.h"

namespace kst {

namespace {

constexpr const char* kCommand = "notifications";

// Runs the dialog modally; returns when it is closed.
using LaunchUpdaterDialogFn = void();

// An X display that answers, decided as the windowing layer decides it
// (KST_UI=headless forces none), and kept open by the loaded libX11 until
// *kept goes. Without one the library's dialog would only say so, and its
// export tells its caller nothing.
bool ReachDisplay(std::unique_ptr<Module>* kept) {
  const char* forced = std::getenv("KST_UI");
  if (forced != nullptr && std::string(forced) == "headless") return false;
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') return false;
  std::unique_ptr<Module> x11 = LoadModule("libX11.so.6");
  if (x11 == nullptr) return false;
  auto* open = x11->Bind<void*(const char*)>("XOpenDisplay");
  auto* close = x11->Bind<int(void*)>("XCloseDisplay");
  if (open == nullptr || close == nullptr) return false;
  void* connection = open(nullptr);
  if (connection == nullptr) return false;
  close(connection);
  *kept = std::move(x11);
  return true;
}

int Open() {
  std::unique_ptr<Module> x11;
  if (!ReachDisplay(&x11)) {
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
  launch();
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
        "rootDirectory, no alerter library), 2 wrong usage.\n");
    return 0;
  }
  if (!args.empty()) {
    std::fprintf(stderr, "usage: kstctl notifications\n");
    return 2;
  }
  return Open();
}

}  // namespace kst
