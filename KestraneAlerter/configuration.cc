#include "KestraneAlerter/configuration.h"

#include "StatSubsystem/common/product_key.h"
#include "platform/registry.h"

namespace kst {

std::string AlerterRootDirectory() {
  int result;
  return ReadProductRootDirectory(260, &result);
}

std::string CounterTitle(uint64_t id) {
  int result;
  return ReadCounterTitleById(static_cast<int64_t>(id), &result);
}

bool NotificationsEnabled() {
  unsigned char bytes[4] = {1, 0, 0, 0};
  int result;
  ReadProductValue("", "userNotificationStatus", kRegDword, bytes, sizeof bytes, &result);
  return result < 0 || (bytes[0] | bytes[1] | bytes[2] | bytes[3]) != 0;
}

std::string ProfilesFolder() { return AlerterRootDirectory() + "\\Profiles"; }

std::string ProfileFileName(const std::string& profileName) {
  return ProfilesFolder() + "\\" + profileName + ".cfg";
}

std::string ProfileListFileName() { return ProfilesFolder() + "\\_default_.cfg"; }

}  // namespace kst
