// What the alerter reads from the product key and the configuration tree.
// Every call reads the registry afresh.
#ifndef KESTRANE_ALERTER_CONFIGURATION_H_
#define KESTRANE_ALERTER_CONFIGURATION_H_

#include <cstdint>
#include <string>

namespace kst {

// `rootDirectory` (at most 260 bytes); empty when it cannot be read.
std::string AlerterRootDirectory();

// The title of a counter identifier; empty when the tree has none.
std::string CounterTitle(uint64_t id);

// False only when `userNotificationStatus` reads as the number 0.
bool NotificationsEnabled();

// rootDirectory + "\Profiles" and files in it.
std::string ProfilesFolder();
std::string ProfileFileName(const std::string& profileName);
std::string ProfileListFileName();

}  // namespace kst

#endif  // KESTRANE_ALERTER_CONFIGURATION_H_
