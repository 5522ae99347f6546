#include "KestraneAlerter/alert_dispatcher.h"

#include "KestraneAlerter/alerter_log.h"
#include "KestraneAlerter/alerter_time.h"
#include "KestraneAlerter/configuration.h"
#include "KestraneAlerter/profile_list.h"
#include "KestraneAlerter/text_file.h"
#include "platform/paths.h"

namespace kst {

static int32_t last_notification_time = 0;

int32_t AlertDispatcher::lastNotificationTime() { return last_notification_time; }

AlertDispatcher::AlertDispatcher() {
  enabled_ = NotificationsEnabled();
  last_notification_time = 0;
  loadDefaultProfile();
}

AlertDispatcher::~AlertDispatcher() { clear(); }

void AlertDispatcher::clear() {
  profile_.reset();
  last_notification_time = 0;
  while (!deliverySystems_.empty()) deliverySystems_.pop_back();
  while (!pendingMessages_.empty()) pendingMessages_.pop_back();
}

// Said once per load, since without a usable profile every notification
// is dropped until the next one.
static void LogNoProfile(const std::string& why) {
  AlerterLog("no notification profile: " + why + "; no notification will be sent");
}

int AlertDispatcher::loadDefaultProfile() {
  clear();
  TextReader in("");
  if (!TextReader::Open(ProfileListFileName(), &in)) {
    LogNoProfile("the profile list " + NativePath(ProfileListFileName()) + " cannot be read");
    return -1;
  }
  ProfileList list;
  ReadProfileList(in, &list);
  if (!list.hasDefaultLine) {
    LogNoProfile("the profile list " + NativePath(ProfileListFileName()) + " names no default profile");
    return -1;
  }
  profile_ = std::make_unique<Profile>(list.defaultName);
  if (profile_->load(list.defaultName, &deliverySystems_) < 0) {
    AlerterLog("notification profile \"" + list.defaultName + "\": " + NativePath(ProfileFileName(list.defaultName)) +
               " is missing or damaged; only what was read before the fault is used");
  }
  return 0;
}

int32_t AlertDispatcher::process(const AlertMessage& message) {
  if (!enabled_) return 0;
  if (profile_ == nullptr) return -1;
  if (!profile_->rootGate.evaluate(message)) return 0;

  pendingMessages_.push_back(std::make_unique<AlertMessage>(message));
  // Only the leading run of copies older than the span goes; the times are
  // the messages' own.
  while (!pendingMessages_.empty()) {
    int64_t age = static_cast<int64_t>(message.time) - pendingMessages_.front()->time;
    if (age <= profile_->timeSpan) break;
    pendingMessages_.pop_front();
  }

  int32_t now = AlerterTime();
  if (StillWaiting(last_notification_time, profile_->minimalWait, now)) return 0;
  if (static_cast<uint32_t>(pendingMessages_.size()) < static_cast<uint32_t>(profile_->alertThreshold)) return 0;

  AlertList messages;
  for (const auto& copy : pendingMessages_) messages.push_back(copy.get());
  for (size_t i = 0; i < deliverySystems_.size(); ++i) {
    deliverySystems_[i]->deliver(messages, *profile_->deliverySettings[i]);
  }
  while (!pendingMessages_.empty()) pendingMessages_.pop_back();
  last_notification_time = now;
  return 0;
}

}  // namespace kst
