// The console through the headless windowing back end, against a private
// registry and the real collector program.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "StatSubsystem/KestraneConsole/console_app.h"
#include "StatSubsystem/KestraneConsole/console_dialog.h"
#include "StatSubsystem/KestraneConsole/console_testing.h"
#include "StatSubsystem/KestraneConsole/system_counters.h"
#include "StatSubsystem/common/collector_options.h"
#include "StatSubsystem/common/product_key.h"
#include "StatSubsystem/common/service_control.h"
#include "StatSubsystem/common/service_keys.h"
#include "platform/perfcounters.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/registry_testing.h"
#include "platform/ui/testing.h"
#include "platform/ui/ui.h"

namespace kst {
namespace {

TEST_F(ConsoleTest, NotInstalledLeavesInstallAndClose) {
  for (bool with_root : {false, true}) {
    if (with_root) SetRoot();
    Run([&](ConsoleDialog& d) {
      EXPECT_EQ(Usable(d), (std::vector<int>{1024, 8}));
      const std::string folder = with_root ? std::string(kRoot) + "\\" : d.program_folder();
      EXPECT_EQ(d.Child(kIntervalEditId)->Text(), "1");
      EXPECT_EQ(d.Child(kBufferEditId)->Text(), folder + "cbuffer");
      EXPECT_EQ(d.Child(kCsvEditId)->Text(), folder + "CSVoutp");
      EXPECT_EQ(d.program_folder(), std::filesystem::path(CurrentProgramPath()).parent_path().string() + "/");
      EXPECT_EQ(d.background(), (ui::Color{255, 255, 255}));
      EXPECT_NE(d.icon(true), nullptr);
      EXPECT_TRUE(driver().Click(*d.Child(kCloseId)));
    });
  }
  EXPECT_TRUE(Messages().empty());
}

TEST_F(ConsoleTest, InstallApplyStartStopRemove) {
  SetRoot();
  std::string program_folder;
  Run([&](ConsoleDialog& d) {
    program_folder = d.program_folder();
    ASSERT_TRUE(driver().Click(*d.Child(kInstallId)));
    EXPECT_EQ(Usable(d), (std::vector<int>{1023, 1000, 1009, 1001, 1013, 1002, 1025, 1003, 1004, 1005, 1006, 8}));
    EXPECT_TRUE(d.ChildAs<ui::CheckBox>(kCreateNewBufferId)->IsChecked());

    // Nothing to write without counters.
    ASSERT_TRUE(driver().Click(*d.Child(kApplyId)));
    EXPECT_EQ(Messages().back(), "Error: You should add atlist one counter to counters list");
    int flag = -1;
    EXPECT_NE(ReadServiceDword("kstCollector", "notFirstStartFlag", &flag), 0);

    ASSERT_TRUE(driver().Click(*d.Child(kAddAllId)));
    struct Case {
      const char* interval;
      const char* buffer;
      int written_interval;
      std::string written_buffer;
    } cases[] = {
        {"12345", "D:\\ring", 1234, "D:\\ring"},
        {"", "", 10, program_folder + "cbuffer"},
        {"7", "x", 7, "x"},
    };
    for (const Case& c : cases) {
      // Set by code: the user's typing cannot leave a box empty.
      d.Child(kIntervalEditId)->SetText(c.interval);
      d.Child(kBufferEditId)->SetText(c.buffer);
      ASSERT_TRUE(WriteServiceDword("kstCollector", "notFirstStartFlag", 1) == 0);
      ASSERT_TRUE(driver().Click(*d.Child(kApplyId)));
      int interval = -1;
      std::string buffer, csv;
      std::vector<std::string> counters;
      EXPECT_EQ(ReadServiceDword("kstCollector", "notFirstStartFlag", &flag), 0);
      EXPECT_EQ(flag, 0);
      EXPECT_EQ(ReadServiceDword("kstCollector", "optTimeInt", &interval), 0);
      EXPECT_EQ(interval, c.written_interval) << c.interval;
      EXPECT_EQ(ReadServiceString("kstCollector", "optBufferName", &buffer), 0);
      EXPECT_EQ(buffer, c.written_buffer);
      EXPECT_EQ(ReadServiceString("kstCollector", "csvFileName", &csv), 0);
      EXPECT_EQ(csv, std::string(kRoot) + "\\CSVoutp");
      EXPECT_EQ(ReadServiceMultiString("kstCollector", "optCounters", &counters), 0);
      EXPECT_EQ(counters, d.counters());
    }

    ASSERT_TRUE(driver().Click(*d.Child(kStartServiceId)));
    int state = -1;
    EXPECT_EQ(QueryServiceState("kstCollector", &state), 0);
    EXPECT_EQ(state, kServiceStateRunning);
    EXPECT_EQ(Usable(d), (std::vector<int>{1014, 1024 - 1024 + 8}));
    EXPECT_FALSE(d.ChildAs<ui::CheckBox>(kCreateNewBufferId)->IsChecked());

    ASSERT_TRUE(driver().Click(*d.Child(kStopServiceId)));
    EXPECT_EQ(QueryServiceState("kstCollector", &state), 0);
    EXPECT_EQ(state, kServiceStateStopped);
    EXPECT_EQ(Usable(d), (std::vector<int>{1013, 1012, 1025, 8}));

    ASSERT_TRUE(driver().Click(*d.Child(kRemoveServiceId)));
    EXPECT_EQ(QueryServiceState("kstCollector", &state), 0);
    EXPECT_EQ(state, kServiceStateNotInstalled);
    EXPECT_EQ(Usable(d), (std::vector<int>{1024, 8}));
    EXPECT_TRUE(driver().Click(*d.Child(kCloseId)));
  });
  EXPECT_EQ(Messages().size(), 1u);
}

TEST_F(ConsoleTest, StartAndInstallFailuresAreShown) {
  // A collector already running: the start says so and the controls follow.
  InstallCollector();
  CollectorFields fields = DefaultCollectorFields(kRoot, "");
  fields.counters = {"\\Memory\\Available Bytes"};
  ASSERT_TRUE(WriteCollectorOptions(fields, ""));
  ASSERT_EQ(StartServiceByName("kstCollector"), 0);
  int flag = 0;  // the collector's first tick makes the buffer
  for (int i = 0; i < 200 && flag != 1; ++i) {
    if (ReadServiceDword("kstCollector", "notFirstStartFlag", &flag) != 0 || flag != 1) ::usleep(50000);
  }
  ASSERT_EQ(flag, 1);
  Run([&](ConsoleDialog& d) {
    // Opened on a running collector: only Stop and Close.
    EXPECT_EQ(Usable(d), (std::vector<int>{1014, 8}));
    EXPECT_FALSE(d.ChildAs<ui::CheckBox>(kCreateNewBufferId)->IsChecked());
    d.OnStartService();
    EXPECT_EQ(Usable(d), (std::vector<int>{1014, 8}));
    ASSERT_EQ(StopServiceByName("kstCollector"), 0);
    int state = -1;
    for (int i = 0; i < 100 && state != kServiceStateStopped; ++i) {
      ASSERT_EQ(QueryServiceState("kstCollector", &state), 0);
      if (state != kServiceStateStopped) ::usleep(50000);
    }
    ASSERT_TRUE(driver().Click(*d.Child(kStopServiceId)));
    EXPECT_EQ(Usable(d), (std::vector<int>{1013, 1012, 1025, 8}));
    d.EndDialog(ui::kIdCancel);
  });
  // The stop of a stopped service fails with "has not been started", or,
  // while its process still winds down, "cannot accept control".
  ASSERT_EQ(Messages().size(), 2u);
  EXPECT_EQ(Messages()[0], "Error: Error: service is already running");
  EXPECT_EQ(Messages()[1].rfind("Error: Error: service ", 0), 0u) << Messages()[1];

  // No collector program under the root folder.
  std::filesystem::remove(home_.path() + "/KestraneCollector");
  RunProgramAndWait(BinDir() + "/KestraneCollector -remove", {}, nullptr);
  ui::testing::Reset();
  Run([&](ConsoleDialog& d) {
    ASSERT_TRUE(driver().Click(*d.Child(kInstallId)));
    d.EndDialog(ui::kIdCancel);
  });
  EXPECT_EQ(Messages(), (std::vector<std::string>{"Error: Couldn't install (file ringfill.exe isn't found)"}));
}

TEST_F(ConsoleTest, ExistingBufferLocksTheConfiguration) {
  InstallCollector();
  ASSERT_EQ(WriteServiceDword("kstCollector", "notFirstStartFlag", 1), 0);
  ASSERT_EQ(WriteServiceDword("kstCollector", "optTimeInt", 5), 0);
  ASSERT_EQ(WriteServiceString("kstCollector", "optBufferName", "D:\\b"), 0);
  ASSERT_EQ(WriteServiceMultiString("kstCollector", "optCounters", {"\\b\\x", "\\A\\y"}), 0);
  Run([&](ConsoleDialog& d) {
    EXPECT_EQ(ListItems(d), (std::vector<std::string>{"\\A\\y", "\\b\\x"}));
    EXPECT_EQ(d.counters(), (std::vector<std::string>{"\\b\\x", "\\A\\y"}));
    EXPECT_EQ(d.Child(kIntervalEditId)->Text(), "5");
    EXPECT_EQ(d.Child(kBufferEditId)->Text(), "D:\\b");
    EXPECT_EQ(d.Child(kCsvEditId)->Text(), std::string(kRoot) + "\\CSVoutp");
    const std::vector<int> locked = {1013, 1012, 1025, 8};
    EXPECT_EQ(Usable(d), locked);
    ASSERT_TRUE(driver().Click(*d.Child(kCreateNewBufferId)));
    EXPECT_EQ(Usable(d), (std::vector<int>{1023, 1000, 1009, 1001, 1013, 1002, 1012, 1025, 1003, 1004, 1005, 1006, 8}));
    ASSERT_TRUE(driver().Click(*d.Child(kCreateNewBufferId)));
    EXPECT_EQ(Usable(d), locked);
    // OK applies what was loaded, asking for a new buffer.
    ASSERT_TRUE(driver().Click(*d.Child(kCreateNewBufferId)));
    ASSERT_TRUE(driver().Click(*d.Child(kOkId)));
  });
  int flag = -1, interval = -1;
  EXPECT_EQ(ReadServiceDword("kstCollector", "notFirstStartFlag", &flag), 0);
  EXPECT_EQ(flag, 0);
  EXPECT_EQ(ReadServiceDword("kstCollector", "optTimeInt", &interval), 0);
  EXPECT_EQ(interval, 5);

  // Options that cannot be read leave the list empty.
  ASSERT_EQ(WriteServiceDword("kstCollector", "optCounters", 3), 0);
  Run([&](ConsoleDialog& d) {
    EXPECT_TRUE(ListItems(d).empty());
    EXPECT_TRUE(d.counters().empty());
    EXPECT_EQ(d.Child(kIntervalEditId)->Text(), "1");
    d.EndDialog(ui::kIdCancel);
  });
  EXPECT_EQ(Messages(), (std::vector<std::string>{"Error: Couldn't load options from registry"}));
}

TEST_F(ConsoleTest, BrowsingAddsUpToTheFirstDuplicate) {
  ConsoleDialog d;
  ASSERT_TRUE(d.CreateModeless());
  auto browse = [&](const std::string& object, std::vector<int> instances, bool all_instances) {
    ui::testing::OnNextModal([&](ui::Dialog& b) {
      auto* combo = b.ChildAs<ui::ComboBox>(ui::kBrowseObjectId);
      for (int i = 0; i < combo->count(); ++i) {
        if (combo->ItemText(i) == object) driver().Select(*combo, i);
      }
      auto* list = b.ChildAs<ui::ListBox>(ui::kBrowseInstancesId);
      if (all_instances) {
        for (int i = 0; i < list->count(); ++i) list->SetSel(i, true);
      }
      for (int i : instances) driver().Select(*list, i, true);
      EXPECT_TRUE(driver().Click(*b.Child(ui::kBrowseAddId)));
      driver().Click(*b.Child(ui::kIdCancel));
    });
    d.OnAdd();
  };
  browse("Processor", {0, 1, 2}, false);  // "*" off, "0" and "_Total" on
  ASSERT_EQ(d.counters(), (std::vector<std::string>{host_ + "\\Processor(0)\\% Processor Time",
                                                    host_ + "\\Processor(_Total)\\% Processor Time"}));
  browse("Processor", {1}, false);  // "*" and "0": "0" is there already
  EXPECT_EQ(d.counters().size(), 3u);
  EXPECT_EQ(d.counters()[2], host_ + "\\Processor(*)\\% Processor Time");
  EXPECT_EQ(ListItems(d).size(), 3u);
  ASSERT_EQ(ui::testing::modal_log().size(), 3u);
  EXPECT_EQ(ui::testing::modal_log()[1].caption, "Ringdesk");
  EXPECT_EQ(ui::testing::modal_log()[1].text, "Some of selected counters has been added earlier");
  EXPECT_EQ(ui::testing::modal_log()[1].icon, ui::MessageIcon::kInformation);

  // Forty long paths at once: more than the first buffer holds.
  browse("Disk", {}, true);
  EXPECT_EQ(d.counters().size(), 3u + 41u);
  EXPECT_EQ(d.counters().back(), host_ + "\\Disk(a-rather-long-instance-name-39)\\Reads");
  d.DestroyWindow();
}

TEST_F(ConsoleTest, AddAllFiltersAndRemoveFollowsTheListBox) {
  ConsoleDialog d;
  ASSERT_TRUE(d.CreateModeless());
  d.OnAddAllSystemCounters();
  std::vector<std::string> expected = {host_ + "\\Memory\\Available Bytes",
                                       host_ + "\\Processor(0)\\% Processor Time",
                                       host_ + "\\Processor(_Total)\\% Processor Time",
                                       host_ + "\\Thread(_Total/_Total)\\% Processor Time"};
  std::vector<std::string> kept;
  for (const std::string& path : d.counters()) {
    if (path.find("\\Disk(") == std::string::npos) kept.push_back(path);
  }
  EXPECT_EQ(kept, expected);
  EXPECT_EQ(d.counters().size(), 44u);

  d.OnAddAllSystemCounters();
  EXPECT_EQ(d.counters().size(), 44u);
  EXPECT_EQ(Messages(), (std::vector<std::string>{"Error: Delete all counters first."}));
  EXPECT_EQ(ui::testing::modal_log().back().icon, ui::MessageIcon::kNone);

  // Sorted, the list box shows Disk first; the counter list has Memory first.
  auto* list = d.ChildAs<ui::ListBox>(kCounterListId);
  const std::string first = list->ItemText(0);
  const std::string third = list->ItemText(2);
  list->SetSel(0, true);
  list->SetSel(2, true);
  d.OnRemove();
  EXPECT_EQ(d.counters().size(), 42u);
  EXPECT_EQ(list->count(), 42);
  for (const std::string& gone : {first, third}) {
    EXPECT_EQ(std::find(d.counters().begin(), d.counters().end(), gone), d.counters().end()) << gone;
  }
  EXPECT_EQ(d.counters()[0], expected[0]);
  d.OnRemoveAll();
  EXPECT_TRUE(d.counters().empty());
  EXPECT_EQ(list->count(), 0);
  d.DestroyWindow();
}

TEST_F(ConsoleTest, SystemCounterFilter) {
  struct Case {
    const char* path;
    bool kept;
  } cases[] = {
      {"\\\\h\\Thread(app/3)\\% Processor Time", false},
      {"\\\\h\\Thread(_Total/_Total)\\% Processor Time", true},
      {"\\\\h\\Thread(TOTALS/1)\\x", true},
      {"\\\\h\\Thread((sd-pam)/5)\\x", false},
      {"\\\\h\\Processor(0)\\Interrupts/sec", true},
      {"\\\\h\\Memory\\Pages/sec", true},
      {"\\\\h\\Odd(a\\b/c", true},
  };
  for (const Case& c : cases) EXPECT_EQ(IsSystemCounter(c.path), c.kept) << c.path;
}

TEST_F(ConsoleTest, SilentSetUpWithoutTheService) {
  SetRoot();
  RegistryKey key;  // the key is there, the service is not
  ASSERT_EQ(RegistryKey::Create(ServiceKeyPath("kstCollector"), &key), kErrorSuccess);
  key.Close();
  EXPECT_EQ(ConsoleApp().InitInstance({"-install"}), 1) << "a failed set-up reported as success";
  EXPECT_EQ(Messages(), (std::vector<std::string>{"Error: Error: OpenService() failed (possibly service is not installed)"}));
  for (const auto& record : ui::testing::modal_log()) EXPECT_TRUE(record.message_box);
  int interval = -1;
  std::string buffer;
  std::vector<std::string> counters;
  EXPECT_EQ(ReadServiceDword("kstCollector", "optTimeInt", &interval), 0);
  EXPECT_EQ(interval, 1);
  EXPECT_EQ(ReadServiceString("kstCollector", "optBufferName", &buffer), 0);
  EXPECT_EQ(buffer, std::string(kRoot) + "\\cbuffer");
  EXPECT_EQ(ReadServiceMultiString("kstCollector", "optCounters", &counters), 0);
  EXPECT_EQ(counters.size(), 44u);

  // OK of the silent set-up does not apply: no complaint about an empty list.
  ui::testing::Reset();
  ConsoleDialog silent;
  silent.set_install_mode(true);
  ASSERT_TRUE(silent.CreateModeless());
  silent.OnOk();
  silent.DestroyWindow();
  EXPECT_TRUE(ui::testing::modal_log().empty());

  // Any other command line shows the dialog, when someone is there to see
  // it; else it says what it needs.
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {}, {"-INSTALL"}, {"-install", "x"}}) {
    ui::testing::Reset();
    ui::testing::OnNextModal([](ui::Dialog& d) { driver().Click(*d.Child(kCloseId)); });
    EXPECT_EQ(ConsoleApp().InitInstance(args), 0);
    ASSERT_EQ(ui::testing::modal_log().size(), 1u);
    EXPECT_EQ(ui::testing::modal_log()[0].template_id, 102);

    ui::testing::Reset();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(ConsoleApp().InitInstance(args), 1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "KestraneConsole: the collector settings dialog needs a display (set DISPLAY to an X server);\n"
              "\"KestraneConsole -install\" configures and starts an installed collector without one.\n");
    EXPECT_TRUE(ui::testing::modal_log().empty());
  }
}

// The program itself where no display is: the silent set-up's messages go
// to standard error, and its failure to the exit code.
TEST_F(ConsoleTest, WithoutADisplayTheProgramSaysWhatFailed) {
  SetRoot();
  struct Case {
    const char* args;
    uint32_t exit_code;
    std::string output;
  };
  const Case cases[] = {
      {" -install", 1, "[Error] Error: OpenService() failed (possibly service is not installed)\n"},
      {"", 1, "KestraneConsole: the collector settings dialog needs a display (set DISPLAY to an X server);\n"
              "\"KestraneConsole -install\" configures and starts an installed collector without one.\n"},
  };
  for (const Case& c : cases) {
    const std::string output = home_.path() + "/output";
    std::filesystem::remove(output);
    ProcessOptions options;
    options.hidden = true;
    options.output_file = output;
    options.extra_environment = {"KST_UI=headless"};
    uint32_t exit_code = 99;
    ASSERT_EQ(RunProgramAndWait("\"" + BinDir() + "/KestraneConsole\"" + c.args, options, &exit_code), kErrorSuccess);
    EXPECT_EQ(exit_code, c.exit_code) << c.args;
    std::ifstream in(output);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), c.output) << c.args;
  }
}

TEST_F(ConsoleTest, SilentSetUpStartsTheCollector) {
  InstallCollector();
  ASSERT_EQ(WriteServiceDword("kstCollector", "notFirstStartFlag", 1), 0);
  ASSERT_EQ(WriteServiceMultiString("kstCollector", "optCounters", {"\\Old\\x"}), 0);
  ProcessOptions options;
  options.extra_environment = {"KST_UI=headless"};
  uint32_t exit_code = 99;
  ASSERT_EQ(RunProgramAndWait("\"" + BinDir() + "/KestraneConsole\" -install", options, &exit_code), kErrorSuccess);
  EXPECT_EQ(exit_code, 0u);
  int state = -1, flag = -1;
  EXPECT_EQ(QueryServiceState("kstCollector", &state), 0);
  EXPECT_EQ(state, kServiceStateRunning);
  std::vector<std::string> counters;
  EXPECT_EQ(ReadServiceMultiString("kstCollector", "optCounters", &counters), 0);
  EXPECT_EQ(counters.size(), 44u);
  EXPECT_EQ(counters[0], host_ + "\\Memory\\Available Bytes");
  EXPECT_EQ(ReadServiceDword("kstCollector", "notFirstStartFlag", &flag), 0);
}

}  // namespace
}  // namespace kst
