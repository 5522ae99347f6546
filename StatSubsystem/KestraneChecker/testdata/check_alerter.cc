// An alerter for the checker's tests: it logs every call of its exports, one
// line each, to "alerter.log" in KESTRANE_HOME.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "StatSubsystem/common/alert_message.h"

namespace kst {
class AlertDispatcher {
 public:
  int number = 0;
};
}  // namespace kst

namespace {

int dispatchers = 0;

void Log(const std::string& line) {
  const char* home = std::getenv("KESTRANE_HOME");
  if (home == nullptr) return;
  if (std::FILE* f = std::fopen((std::string(home) + "/alerter.log").c_str(), "a")) {
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
  }
}

}  // namespace

extern "C" kst::AlertDispatcher* GetNewDispather() {
  auto* dispatcher = new kst::AlertDispatcher;
  dispatcher->number = ++dispatchers;
  Log("new " + std::to_string(dispatcher->number));
  return dispatcher;
}

extern "C" int ProcessAlertMessage(kst::AlertDispatcher* dispatcher,
                                   const kst::AlertMessage* message) {
  Log("process " + std::to_string(dispatcher->number) + " " +
      std::to_string(message->warningLevel) + " " + message->logTitle + ":" +
      message->analyzerTitle + " " + message->description + " parts " +
      std::to_string(message->counterParts.size()) + " values " +
      std::to_string(message->counterValues.size()));
  return 0;
}

extern "C" void DestroyDispather(kst::AlertDispatcher* dispatcher) {
  if (dispatcher == nullptr) return;
  Log("destroy " + std::to_string(dispatcher->number));
  delete dispatcher;
}
