// kstctl collector: the collector's options in its service key, written the
// way the collector console's Apply writes them, so that collection can be
// set up without a window.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "StatSubsystem/common/collector_options.h"
#include "StatSubsystem/common/service_control.h"
#include "StatSubsystem/common/service_keys.h"
#include "StatSubsystem/common/service_names.h"
#include "platform/perfcounters.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "tools/kstctl/action_table.h"
#include "tools/kstctl/command.h"
#include "tools/kstctl/config_support.h"

namespace kst {

namespace {

constexpr const char* kCommand = "collector";
const char* const kCollector = ServiceNameTable[kCollectorId];

// Why a counter path cannot go into the ring buffer's header lines, whose
// fields end at ";" and whose lines end at a line break; null when it can.
const char* CounterPathFault(const std::string& path) {
  if (path.find(';') != std::string::npos) {
    return "holds ';', which separates the fields of the ring buffer's header lines";
  }
  if (path.find_first_of("\r\n") != std::string::npos) return "holds a line break";
  if (path.find('\\') == std::string::npos) {
    return "has no backslash (a counter path is \\\\host\\object(instance)\\counter)";
  }
  return nullptr;
}

// Why the collector could not sample the counter of `path` on this machine;
// null when it can. A path it cannot add records 0 in every slot.
const char* CounterAbsence(PerfQuery& query, const std::string& path) {
  PerfCounterHandle counter = 0;
  switch (query.AddCounter(path, &counter)) {
    case kPdhSuccess:
      query.RemoveCounter(counter);
      return nullptr;
    case kPdhBadPath:
      return "is not a counter path (\\\\host\\object(instance)\\counter)";
    case kPdhNoMachine:
      return "names another machine; the collector samples this machine's counters only";
    case kPdhNoObject:
      return "names no object of this machine's counters";
    case kPdhNoInstance:
      return "names no instance of its object on this machine";
    case kPdhNoCounter:
      return "names no counter of its object";
    default:
      return "cannot be sampled on this machine";
  }
}

int Set(const ActionArgs& args) {
  // The fields as the console fills them when it opens.
  CollectorFields fields = DefaultCollectorFields(ProductRootOrEmpty(), ProgramFolder());
  std::string& interval_text = fields.interval_text;
  std::string& buffer_name = fields.buffer_name;
  std::string& csv_name = fields.csv_name;
  std::vector<std::string>& counters = fields.counters;
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
  std::unique_ptr<PerfQuery> query;
  if (OpenQuery(&query) != kPdhSuccess) {
    return ConfigFail(kCommand, "this machine's counters cannot be read, so the paths cannot be checked");
  }
  for (const std::string& path : counters) {
    const char* fault = CounterPathFault(path);
    if (fault == nullptr) fault = CounterAbsence(*query, path);
    if (fault != nullptr) {
      std::fprintf(stderr, "kstctl %s: counter path '%s' %s\n", kCommand, path.c_str(), fault);
      return 2;
    }
  }
  RegistryKey key;
  const WinError opened = RegistryKey::Open(ServiceKeyPath(kCollector), RegAccess::kReadWrite, &key);
  if (opened == kErrorAccessDenied) {
    return ConfigFail(kCommand,
                      "access denied: you may not change the collector's options "
                      "(run as the installation's owner or root)");
  }
  if (opened != kErrorSuccess) {
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

  const int interval = CollectorIntervalFromText(interval_text);
  // A failed write is reported here, where the console keeps quiet.
  if (!WriteCollectorOptions(fields, ProgramFolder(), &buffer_name)) {
    return ConfigFail(kCommand, "writing the collector's options failed");
  }
  std::printf("%zu counters every %d minute%s into %s; the collector starts a new ring buffer\n"
              "when it next starts ('kstctl svc start kstCollector')\n",
              counters.size(), interval, interval == 1 ? "" : "s", buffer_name.c_str());
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
    {"set", "set [OPTION...] PATH...", "write the options and ask for a new ring buffer", 1,
     SIZE_MAX, Set},
    {"show", "show", "print the options and what the collector stored", 0, 0, Show},
};

}  // namespace

int CollectorCommand(const std::vector<std::string>& args) {
  return DispatchAction(
      kCommand, kActions,
      "Sets up collection in the collector's service key, as the console's Apply\n"
      "does: notFirstStartFlag 0, optBufferName, csvFileName, optTimeInt and\n"
      "optCounters (the counter paths, such as \\\\host\\Memory\\Available Bytes).\n"
      "A running collector keeps its options: stop it first. When it next starts\n"
      "it makes a new ring buffer with them.\n",
      "\nOptions of set, with the defaults the console proposes:\n"
      "  --interval MIN   minutes between two samples (default 1); read from its\n"
      "                   first 4 characters, 10 when they hold no number\n"
      "  --buffer FILE    the ring buffer (default rootDirectory\\cbuffer)\n"
      "  --csv FILE       the CSV file name (default rootDirectory\\CSVoutp)\n"
      "Without rootDirectory, and for an empty FILE, the file is cbuffer or\n"
      "CSVoutp beside kstctl.\n"
      "A counter path must hold a backslash and no ';' or line break, and name\n"
      "a counter of this machine.\n"
      "\nExit status: 0 done, 1 failed (the collector not installed, or running,\n"
      "or access denied), 2 wrong usage or an unusable counter path.\n",
      args);
}

}  // namespace kst
