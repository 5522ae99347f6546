// What the console's tests share: a private installation with a scripted
// set of performance counters, the console's resources on a chosen back end,
// the collector program beside the root directory, and look-ups of what the
// dialog shows.
#ifndef KESTRANE_STATSUBSYSTEM_KESTRANECONSOLE_CONSOLE_TESTING_H_
#define KESTRANE_STATSUBSYSTEM_KESTRANECONSOLE_CONSOLE_TESTING_H_

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "StatSubsystem/KestraneConsole/console_dialog.h"
#include "StatSubsystem/common/product_key.h"
#include "StatSubsystem/common/service_control.h"
#include "platform/perfcounters.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/registry_testing.h"
#include "platform/ui/testing.h"
#include "platform/ui/ui.h"

namespace kst {

using ui::testing::driver;

inline constexpr const char* kRoot = "C:\\Program Files\\Kestrane";

// The programs of this build: where ctest says, else beside the tests
// (tests/ and bin/ share the build folder).
inline std::string BinDir() {
  const char* bin = std::getenv("KST_BIN_DIR");
  if (bin != nullptr) return bin;
  return (std::filesystem::path(CurrentProgramPath()).parent_path().parent_path() / "bin").string();
}

class ConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ui::testing::UseBackend(backend_));
    ui::testing::Reset();
    previous_ = ui::SetCurrentResources(&ui::ConsoleResources());
    const std::string script = home_.path() + "/script";
    std::ofstream out(script);
    out << "\\Memory\\Available Bytes = 1\n"
           "\\Processor(0)\\% Processor Time = 3\n"
           "\\Processor(_Total)\\% Processor Time = 4\n"
           "\\Thread(app/3)\\% Processor Time = 1\n"
           "\\Thread(_Total/_Total)\\% Processor Time = 1\n";
    for (int i = 0; i < 40; ++i) out << "\\Disk(a-rather-long-instance-name-" << i << ")\\Reads = 1\n";
    out.close();
    ::setenv("KESTRANE_PERF_SCRIPT", script.c_str(), 1);
    ASSERT_TRUE(LocalHostName(&host_));
    host_ = "\\\\" + host_;
  }
  void TearDown() override {
    int state = 0;
    if (QueryServiceState("kstCollector", &state) == 0 && state == kServiceStateRunning) {
      StopServiceByName("kstCollector");
    }
    ::unsetenv("KESTRANE_PERF_SCRIPT");
    ui::SetCurrentResources(previous_);
  }

  void SetRoot() {
    int result = 0;
    WriteProductValue("", "rootDirectory", kRegSz, kRoot, sizeof "C:\\Program Files\\Kestrane", &result);
    ASSERT_EQ(result, 0);
    std::error_code ignored;  // a second call finds the link there
    std::filesystem::create_symlink(BinDir() + "/KestraneCollector", home_.path() + "/KestraneCollector", ignored);
  }
  void InstallCollector() {
    SetRoot();
    ASSERT_EQ(RunProgramAndWait("\"" + home_.path() + "/KestraneCollector\" -install", {}, nullptr),
              kErrorSuccess);
  }

  // Runs the console dialog modally with the user's actions.
  void Run(std::function<void(ConsoleDialog&)> user) {
    ConsoleDialog dialog;
    ui::testing::OnNextModal([&](ui::Dialog& d) { user(dialog); (void)d; });
    dialog.DoModal();
  }

  // Usable controls among the dialog's buttons, edits and check box.
  static std::vector<int> Usable(ConsoleDialog& d) {
    std::vector<int> ids;
    for (int id : {1008, 1023, 1000, 1009, 1001, 1013, 1014, 1002, 1012, 1025, 1024, 1003, 1004, 1005, 1006, 8}) {
      if (id != 1008 && d.Child(id)->IsUsable()) ids.push_back(id);
    }
    return ids;
  }

  std::vector<std::string> Messages() const {
    std::vector<std::string> texts;
    for (const auto& record : ui::testing::modal_log()) {
      if (record.message_box) texts.push_back(record.caption + ": " + record.text);
    }
    return texts;
  }

  static std::vector<std::string> ListItems(ConsoleDialog& d) {
    auto* list = d.ChildAs<ui::ListBox>(kCounterListId);
    std::vector<std::string> items;
    for (int i = 0; i < list->count(); ++i) items.push_back(list->ItemText(i));
    return items;
  }

  const char* backend_ = "headless";  // set by a derived fixture's constructor
  TempKestraneHome home_;
  std::string host_;
  const ui::Resources* previous_ = nullptr;
};

}  // namespace kst

#endif  // KESTRANE_STATSUBSYSTEM_KESTRANECONSOLE_CONSOLE_TESTING_H_
