// kstdemo: the demonstration's own helper, apart from the system's programs.
// It writes the generated history and the scripted current values, sets up
// a default notification profile with a program transporter, and decodes
// the frames of the alertmessages file.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "KestraneAlerter/profile_set.h"
#include "StatSubsystem/common/alert_message.h"
#include "StatSubsystem/common/counter_values.h"
#include "StatSubsystem/common/product_key.h"
#include "StatSubsystem/common/service_keys.h"
#include "StatSubsystem/common/service_names.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "tools/e2e/demo_history.h"
#include "tools/e2e/demo_model.h"

namespace kst {
namespace {

int Fail(const std::string& what) {
  std::fprintf(stderr, "kstdemo: %s\n", what.c_str());
  return 1;
}

int History(int days) {
  std::string error;
  if (WriteDemoHistory(days, std::time(nullptr), &error) != 0) return Fail(error);
  std::printf("generated %d days of history into the collector's ring buffer\n", days);
  return 0;
}

// A counter script of the platform's scripted source: every counter of the
// collector's list at the load of now, or broken.
int Values(bool broken, const std::string& file) {
  std::vector<std::string> paths;
  if (ReadServiceMultiString(ServiceNameTable[kCollectorId], "optCounters", &paths) != 0) {
    return Fail("the collector's counters are not set");
  }
  const double load = DemoLoad(std::time(nullptr));
  std::ofstream out(file, std::ios::trunc);
  out << "# " << (broken ? "broken" : "normal") << " current values\n";
  for (size_t i = 0; i < paths.size(); ++i) {
    const std::string counter = CounterNamePart(paths[i]);
    const double value = DemoValue(counter, broken ? BrokenLoad(static_cast<int>(i)) : load);
    out << "\\" << CounterObjectPart(paths[i]) << "\\" << counter << " = " << value << "\n";
  }
  out.close();
  if (!out) return Fail("cannot write " + file);
  return 0;
}

// The profile "default", made the default: every alert, at once, to one
// program.
int Profile(const std::string& program) {
  ProfileSet set;
  set.load();
  if (set.findProfile("default") == nullptr) set.addProfile("default");
  kst::Profile* profile = set.findProfile("default");
  profile->alertThreshold = 1;
  profile->timeSpan = 60;
  profile->minimalWait = 0;
  profile->deliverySettings.clear();
  auto program_settings = std::make_unique<ShellDeliverySettings>("program");
  program_settings->executionFilePath = program;
  profile->deliverySettings.push_back(std::move(program_settings));
  set.setDefaultProfile("default");
  if (set.saveAllProfiles() != 0) return Fail("cannot write the profiles");
  std::printf("default profile: every alert to %s\n", program.c_str());
  return 0;
}

// Every whole frame of the alertmessages file: its record printed, then its
// counter values by title. A torn stretch is named by its byte offset and
// skipped to the next whole frame; it makes the exit status 1.
int Alerts() {
  int result = 0;
  const std::string folder = ReadProductRootDirectory(1024, &result);
  if (result <= 0) return Fail("rootDirectory is not set");
  const std::string file = NativePath(folder + "\\alertmessages");
  std::ifstream in(file, std::ios::binary);
  std::stringstream whole;
  whole << in.rdbuf();
  const std::string bytes = whole.str();
  int count = 0;
  bool torn = false;
  ScanAlertFrames(
      bytes,
      [&count](size_t, const AlertMessage& message) {
        message.print(std::cout);
        for (const auto& [id, value] : message.counterValues) {
          int found = 0;
          const std::string title = ReadCounterTitleById(static_cast<int64_t>(id), &found);
          std::cout << "    " << (found == 0 ? title : std::to_string(id)) << " = " << value
                    << "\n";
        }
        ++count;
      },
      [&](size_t at, size_t next) {
        torn = true;
        std::cout.flush();
        Fail("a torn frame at byte " + std::to_string(at) + " of " + file +
             (next < bytes.size() ? "; going on at byte " + std::to_string(next)
                                  : "; no whole frame follows"));
      });
  std::cout << count << " alert frames in " << file << std::endl;
  return torn ? 1 : 0;
}

int Usage() {
  std::fprintf(stderr,
               "usage: kstdemo history [DAYS]           generated history into the ring buffer\n"
               "       kstdemo values normal|broken FILE  a counter script of current values\n"
               "       kstdemo profile PROGRAM           default profile: alerts to PROGRAM\n"
               "       kstdemo alerts                    decode the alertmessages file\n");
  return 2;
}

int Main(const std::vector<std::string>& args) {
  if (args.empty()) return Usage();
  if (args[0] == "history" && args.size() <= 2) {
    const int days = args.size() == 2 ? std::atoi(args[1].c_str()) : 30;
    if (days <= 0 || days > 31) return Usage();
    return History(days);
  }
  if (args[0] == "values" && args.size() == 3 && (args[1] == "normal" || args[1] == "broken")) {
    return Values(args[1] == "broken", args[2]);
  }
  if (args[0] == "profile" && args.size() == 2) return Profile(args[1]);
  if (args[0] == "alerts" && args.size() == 1) return Alerts();
  return Usage();
}

}  // namespace
}  // namespace kst

int main(int argc, char** argv) {
  return kst::Main(std::vector<std::string>(argv + 1, argv + argc));
}
