#include "KestraneAlerter/delivery_system.h"

#include "KestraneAlerter/alerter_time.h"

namespace kst {

bool DeliverySystem::passMinimalWait(int32_t now, int32_t minimalWait) {
  if (StillWaiting(lastSent_, minimalWait, now)) return false;
  lastSent_ = now;
  return true;
}

// The loader compares the whole line in this order.
Transporter MakeTransporter(const std::string& typeLine) {
  Transporter t;
  if (typeLine == kMailTypeName) {
    t.settings = std::make_unique<MailDeliverySettings>("no name");
    t.system = std::make_unique<MailDeliverySystem>();
  } else if (typeLine == kShellTypeName) {
    t.settings = std::make_unique<ShellDeliverySettings>("no name");
    t.system = std::make_unique<ShellDeliverySystem>();
  } else if (typeLine == kNetSendTypeName) {
    t.settings = std::make_unique<NetSendDeliverySettings>("no name");
    t.system = std::make_unique<NetSendDeliverySystem>();
  }
  return t;
}

}  // namespace kst
