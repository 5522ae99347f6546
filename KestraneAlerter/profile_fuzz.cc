// Profile files as they may be found on disk: any bytes load without harm,
// and what loaded can be judged against a message.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "KestraneAlerter/profile.h"
#include "KestraneAlerter/text_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kst::TextReader in(std::string_view(reinterpret_cast<const char*>(data), size));
  kst::Profile profile("fuzz");
  kst::DeliverySystemList systems;
  profile.loadFrom(in, &systems);
  if (systems.size() != profile.deliverySettings.size()) __builtin_trap();
  kst::AlertMessage message;
  message.warningLevel = 50;
  message.logTitle = "log";
  message.counterParts.push_back({{1}, {2}});
  profile.rootGate.evaluate(message);
  return 0;
}
