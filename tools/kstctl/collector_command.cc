// kstctl collector: the collector's options in its service key, written the
// way the collector console's Apply writes them, so that collection can be
// set up without a window.
#include <cstdio>
#include <string>
#include <vector>

#include "StatSubsystem/common/service_control.h"
#include "StatSubsystem/common/service_keys.h"
#include "StatSubsystem/common/service_names.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "tools/kstctl/action_table.h"
#include "tools/kstctl/command.h"
#include "tools/kstctl/config_support.h"

namespace kst {

// The interval as Apply reads it from its edit field: "%d" over the first 4
// characters; 10 when no number is there. No range is checked.
int CollectorIntervalFromText(const std::string& text) {
  int interval = 0;
  if (std::sscanf(text.substr(0, 4).c_str(), "%d", &interval) != 1) return 10;
  return interval;
}

namespace {

constexpr const char* kCommand = "collector";
const char* const kCollector = ServiceNameTable[kCollectorId];

// The console's folder with its trailing separator: where Apply puts the
// buffer and CSV files whose names were left empty.
std::string ProgramFolder() {
  std::string path = CurrentProgramPath();
  return path.substr(0, path.rfind('/') + 1);
}

int Set(const ActionArgs& args) {
  // The fields as the console fills them when it opens.
  const std::string root = ProductRootOrEmpty();
  std::string interval_text = "1";
  std::string buffer_name = root.empty() ? ProgramFolder() + "cbuffer" : root + "\\cbuffer";
  std::string csv_name = root.empty() ? ProgramFolder() + "CSVoutp" : root + "\\CSVoutp";
  std::vector<std::string> counters;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (word == "--interval" || word == "--buffer" || word == "--csv") {
      if (i + 1 >= args.size()) {
        std::fprintf(stderr, "kstctl %s: option %s needs a value\n", kCommand, word.c_str());
        return 2;
      }
      std::string& field = word == "--interval" ? interval_text
                           : word == "--buffer" ? buffer_name
                                                : csv_name;
      field = args[++i];
    } else {
      counters.push_back(word);
    }
  }
  if (counters.empty()) {
    return ConfigFail(kCommand, "You should add atlist one counter to counters list");
  }
  RegistryKey key;
  if (RegistryKey::Open(ServiceKeyPath(kCollector), RegAccess::kReadWrite, &key) !=
      kErrorSuccess) {
    return ConfigFail(kCommand,
                      "the collector service is not installed (run KestraneCollector -install)");
  }
  key.Close();
  // As in the console, a running collector's options stay as they are.
  int state = kServiceStateStopped;
  if (QueryServiceState(kCollector, &state) == 0 &&
      (state == kServiceStateRunning || state == kServiceStatePaused)) {
    return ConfigFail(kCommand, "the collector is running; stop it first (kstctl svc stop kstCollector)");
  }

  if (buffer_name.size() > 1023) buffer_name.resize(1023);
  if (buffer_name.empty()) buffer_name = ProgramFolder() + "cbuffer";
  if (csv_name.empty()) csv_name = ProgramFolder() + "CSVoutp";
  const int interval = CollectorIntervalFromText(interval_text);
  // Apply's order; a failed write is reported here, where the console kept quiet.
  const bool ok = WriteServiceDword(kCollector, "notFirstStartFlag", 0) == 0 &&
                  WriteServiceString(kCollector, "optBufferName", buffer_name) == 0 &&
                  WriteServiceString(kCollector, "csvFileName", csv_name) == 0 &&
                  WriteServiceDword(kCollector, "optTimeInt", interval) == 0 &&
                  WriteServiceMultiString(kCollector, "optCounters", counters) == 0;
  if (!ok) return ConfigFail(kCommand, "writing the collector's options failed");
  std::printf("%zu counters every %d minutes into %s; the collector starts a new buffer\n",
              counters.size(), interval, buffer_name.c_str());
  return 0;
}

int Show(const ActionArgs&) {
  RegistryKey key;
  if (RegistryKey::Open(ServiceKeyPath(kCollector), RegAccess::kRead, &key) != kErrorSuccess) {
    return ConfigFail(kCommand, "the collector service is not installed");
  }
  key.Close();
  for (const char* name : {"notFirstStartFlag", "optTimeInt", "optCollsCount",
                           "optHeadGrpOffset", "lastErrorNo"}) {
    int value = 0;
    if (ReadServiceDword(kCollector, name, &value) == 0) {
      std::printf("%-18s %d\n", name, value);
    } else {
      std::printf("%-18s (not set)\n", name);
    }
  }
  for (const char* name : {"optBufferName", "csvFileName", "lastErrorMessage"}) {
    std::string text;
    if (ReadServiceString(kCollector, name, &text) == 0) {
      std::printf("%-18s %s\n", name, text.c_str());
    } else {
      std::printf("%-18s (not set)\n", name);
    }
  }
  std::vector<std::string> counters;
  if (ReadServiceMultiString(kCollector, "optCounters", &counters) == 0) {
    std::printf("%-18s %zu\n", "optCounters", counters.size());
    for (const std::string& c : counters) std::printf("  %s\n", c.c_str());
  } else {
    std::printf("%-18s (not set)\n", "optCounters");
  }
  return 0;
}

const Action kActions[] = {
    {"set", "set [--interval MIN] [--buffer FILE] [--csv FILE] PATH...",
     "write the options and ask for a new ring buffer", 1, SIZE_MAX, Set},
    {"show", "show", "print the options and what the collector stored", 0, 0, Show},
};

}  // namespace

int CollectorCommand(const std::vector<std::string>& args) {
  return DispatchAction(
      kCommand, kActions,
      "Sets up collection in the collector's service key, as the console's Apply\n"
      "does: notFirstStartFlag 0, optBufferName, csvFileName, optTimeInt and\n"
      "optCounters (the counter paths, such as \\\\host\\Memory\\Available Bytes).\n"
      "The collector starts a new ring buffer on its next tick; a changed counter\n"
      "list takes effect when the service is restarted ('kstctl svc').\n",
      "\nDefaults, as the console proposes them: interval 1 minute, the buffer\n"
      "rootDirectory\\cbuffer and the CSV name rootDirectory\\CSVoutp. The interval\n"
      "is read from its first 4 characters (10 when they hold no number); an empty\n"
      "name stands for cbuffer or CSVoutp beside kstctl.\n"
      "\nExit status: 0 done, 1 failed (collector not installed), 2 wrong usage.\n",
      args);
}

}  // namespace kst
