// kstctl store: sets the configuration tree up from the ring buffer's
// columns, lists those columns, and prepares an instance's training table.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "StatSubsystem/common/buffer_header_reader.h"
#include "StatSubsystem/common/config_tree.h"
#include "StatSubsystem/common/counter_store.h"
#include "StatSubsystem/common/exporter_command.h"
#include "StatSubsystem/common/service_keys.h"
#include "StatSubsystem/common/service_names.h"
#include "StatSubsystem/common/training_table.h"
#include "platform/paths.h"
#include "tools/kstctl/action_table.h"
#include "tools/kstctl/command.h"
#include "tools/kstctl/config_support.h"
#include "tools/kstctl/host_support.h"

namespace kst {
namespace {

constexpr const char* kCommand = "store";

// Why the exporter could not read the collector's ring buffer, or empty when
// the buffer looks readable (or the collector names none).
std::string RingBufferProblem() {
  std::string name;
  if (ReadServiceString(ServiceNameTable[kCollectorId], "optBufferName", &name) != 0 ||
      name.empty()) {
    return "";
  }
  const BufferFileStatus status = CheckRingBufferFile(NativePath(name));
  if (status == BufferFileStatus::kOk) return "";
  return "the ring buffer " + NativePath(name) + " " + BufferFileProblem(status);
}

// Reports a failed exporter run, naming the ring buffer's fault when it has one.
int ExporterFail(const char* what, int result, const char* meaning) {
  const std::string problem = RingBufferProblem();
  if (!problem.empty()) return ConfigFail(kCommand, std::string(what) + " failed: " + problem);
  return ConfigFail(kCommand, what, result, meaning);
}

int Setup(const ActionArgs&) {
  if (!LoadRootDirectory(kCommand)) return 1;
  int result = 0;
  InitializeCounterStore(&result);
  if (result < 0) {
    return ExporterFail("setting up the counter store", result,
                        (std::string(kExporterFailed) + ", or a registry failure").c_str());
  }
  std::printf("counter store set up; logs:\n");
  for (const std::string& log : ReadLogsTitles(&result)) std::printf("  %s\n", log.c_str());
  // A running checker would go on naming the old counter ids in its alerts.
  ReloadAfterChange(kCommand);
  return 0;
}

int Counters(const ActionArgs&) {
  if (!LoadRootDirectory(kCommand)) return 1;
  MakeWorkFolders();
  int result = 0;
  const std::vector<std::string>& titles = ExportLastDay(&result);
  // The library leaves the exporter's output for its next run; nothing of
  // this command's stays behind.
  std::error_code ignored;
  std::filesystem::remove(NativePath(TemporaryExportPath()), ignored);
  if (result < 0) return ExporterFail("listing the buffer's counters", result, kExporterFailed);
  for (const std::string& title : titles) std::printf("%s\n", title.c_str());
  return 0;
}

// The collector's slot width in seconds, the natural spacing of a table.
bool CollectorIntervalSeconds(uint32_t* seconds) {
  int minutes = 0;
  if (ReadServiceDword(ServiceNameTable[kCollectorId], "optTimeInt", &minutes) != 0 ||
      minutes <= 0) {
    return false;
  }
  *seconds = static_cast<uint32_t>(minutes) * 60;
  return true;
}

int Training(const ActionArgs& args) {
  const std::string& log = args[0];
  const std::string& title = args[1];
  const std::string& output = args[2];
  uint32_t interval = 0;
  if (args.size() == 4) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(args[3].c_str(), &end, 10);
    if (args[3].empty() || *end != '\0' || value == 0 || value > UINT32_MAX) {
      std::fprintf(stderr, "kstctl %s: bad interval '%s'\n", kCommand, args[3].c_str());
      return 2;
    }
    interval = static_cast<uint32_t>(value);
  } else if (!CollectorIntervalSeconds(&interval)) {
    return ConfigFail(kCommand, "the collector has no optTimeInt; give the interval in seconds");
  }
  if (!LoadRootDirectory(kCommand)) return 1;
  MakeWorkFolders();
  // The exporter refuses such a buffer after it has made its output, which
  // would pass for an empty table.
  const std::string problem = RingBufferProblem();
  if (!problem.empty()) return ConfigFail(kCommand, "exporting the training period failed: " + problem);

  AnalyzerInstance instance;
  if (!FindInstance(kCommand, log, title, &instance)) return 1;
  const int result = WriteTrainingTable(kCommand, log, instance, interval,
                                        RootDirectory() + "\\Temporary\\training", output);
  if (result < 0) return 1;
  std::printf("%d lines written to %s\n", result, output.c_str());
  return 0;
}

const Action kActions[] = {
    {"setup", "setup",
     "register the ring buffer's counters and make one log per object (drops those logs' "
     "instances)",
     0, 0, Setup},
    {"counters", "counters", "print the ring buffer's counter titles in column order", 0, 0,
     Counters},
    {"training", "training LOG INSTANCE OUTPUT [SECONDS]",
     "write the instance's training table (its period, the log's columns) to OUTPUT", 3, 4,
     Training},
};

}  // namespace

int StoreCommand(const std::vector<std::string>& args) {
  return DispatchAction(kCommand, kActions,
                        "Works from the collector's ring buffer by running the exporter found\n"
                        "under the product key's rootDirectory.\n",
                        "\nAfter a set-up a running checking service is asked to reload, so that\n"
                        "its alerts name the counters' new ids. SECONDS is the spacing of the\n"
                        "table's rows (default: the collector's interval).\n"
                        "\nExit status: 0 done, 1 failed, 2 wrong usage.\n",
                        args);
}

}  // namespace kst
