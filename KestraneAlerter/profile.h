// A notification profile: which alerts matter (its filter tree), how many
// within how long make a notification, the least time between two
// notifications, and its transporters. Kept in the text file
// rootDirectory + "\Profiles\" + name + ".cfg".
#ifndef KESTRANE_ALERTER_PROFILE_H_
#define KESTRANE_ALERTER_PROFILE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "KestraneAlerter/delivery_settings.h"
#include "KestraneAlerter/delivery_system.h"
#include "KestraneAlerter/filter_tree.h"

namespace kst {

class TextReader;

using DeliverySystemList = std::vector<std::unique_ptr<DeliverySystem>>;

class Profile {
 public:
  explicit Profile(std::string name);
  ~Profile();
  Profile(const Profile&) = delete;
  Profile& operator=(const Profile&) = delete;

  // Drops the transporters, zeroes the numbers and clears the tree; the
  // name stays.
  void clear();
  // Writes the profile file whole; 0 or -1. A save that fails leaves the
  // old file as it was.
  int save() const;
  // Reads the profile file of `newName` into this profile; 0 or -1. When
  // `systems` is given it receives one delivery system per record read, in
  // the same order. A failure keeps what was read before it.
  int load(const std::string& newName, DeliverySystemList* systems);
  // The same from a reader positioned at the file's start.
  int loadFrom(TextReader& in, DeliverySystemList* systems);

  std::string name;
  int32_t alertThreshold = 0;
  int32_t timeSpan = 0;
  int32_t minimalWait = 0;
  Gate rootGate{Gate::kAnd};
  std::vector<std::unique_ptr<DeliverySettings>> deliverySettings;
};

}  // namespace kst

#endif  // KESTRANE_ALERTER_PROFILE_H_
