// The checking service's alerter: it holds the default profile with one
// delivery system per transporter, passes each alert through the profile's
// filter tree, keeps copies of recent alerts in a time window, and when the
// window holds enough of them and the profile's minimal wait has passed,
// hands them all to every transporter.
//
// One thread at a time, no locks. The time of the last notification is one
// value for the whole process, shared by every dispatcher.
#ifndef KESTRANE_ALERTER_ALERT_DISPATCHER_H_
#define KESTRANE_ALERTER_ALERT_DISPATCHER_H_

#include <cstdint>
#include <list>
#include <memory>

#include "KestraneAlerter/profile.h"
#include "StatSubsystem/common/alert_message.h"

namespace kst {

class AlertDispatcher {
 public:
  // Reads `userNotificationStatus` and loads the default profile.
  AlertDispatcher();
  ~AlertDispatcher();
  AlertDispatcher(const AlertDispatcher&) = delete;
  AlertDispatcher& operator=(const AlertDispatcher&) = delete;

  // Drops the profile, the delivery systems and the kept copies, and
  // resets the time of the last notification.
  void clear();
  // Loads the profile named as default in the profile list, with its
  // delivery systems; 0, or -1 when the list names none (the dispatcher
  // then has no profile). A default profile whose own file is missing or
  // broken is kept, empty or partly filled.
  int loadDefaultProfile();
  // -1 when enabled and without a profile, else 0. `message` is only read
  // during the call; what is kept is copied.
  int32_t process(const AlertMessage& message);

  const Profile* profile() const { return profile_.get(); }
  bool enabled() const { return enabled_; }
  size_t pendingCount() const { return pendingMessages_.size(); }
  const std::list<std::unique_ptr<AlertMessage>>& pendingMessages() const { return pendingMessages_; }
  const DeliverySystemList& deliverySystems() const { return deliverySystems_; }

  // The process-wide time of the last notification.
  static int32_t lastNotificationTime();

 private:
  std::unique_ptr<Profile> profile_;
  DeliverySystemList deliverySystems_;  // entry i goes with settings record i
  bool enabled_ = true;
  std::list<std::unique_ptr<AlertMessage>> pendingMessages_;  // oldest first
};

}  // namespace kst

#endif  // KESTRANE_ALERTER_ALERT_DISPATCHER_H_
