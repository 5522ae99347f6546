// The senders of notifications: one object per transporter of the active
// profile, always handed the settings record at its own index. Each kind
// remembers when it last sent and holds back until its minimal wait has
// passed.
//
// Called on the dispatcher's thread only. `deliver` borrows the messages
// for the call; a kind that works on after returning copies what it needs.
#ifndef KESTRANE_ALERTER_DELIVERY_SYSTEM_H_
#define KESTRANE_ALERTER_DELIVERY_SYSTEM_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "KestraneAlerter/delivery_settings.h"
#include "KestraneAlerter/mail_delivery.h"
#include "StatSubsystem/common/alert_message.h"

namespace kst {

using AlertList = std::vector<const AlertMessage*>;

class DeliverySystem {
 public:
  virtual ~DeliverySystem() = default;

  // 0 when the call ended normally or the minimal wait held it back; -1 on
  // the failures each kind names. `settings` must be of the kind's own
  // settings class.
  virtual int32_t deliver(const AlertList& messages, const DeliverySettings& settings) = 0;
  virtual std::string description() const = 0;

  int32_t lastSent() const { return lastSent_; }

 protected:
  // The gate every sending passes first: false while `minimalWait` seconds
  // have not passed since the last sending; else the sending counts from
  // `now` on, whether it then succeeds or not.
  bool passMinimalWait(int32_t now, int32_t minimalWait);

 private:
  int32_t lastSent_ = 0;
};

// Mails the report text through an SMTP server; the conversation runs on a
// sender thread, never on the caller's. Mail that finds the transporter's
// senders all busy waits in its queue, in order; mail a server refuses for
// now, or that finds no server to answer, waits there to be tried again.
class MailDeliverySystem final : public DeliverySystem {
 public:
  MailDeliverySystem() = default;
  // Writes the counts of mails not sent that its log still holds back.
  ~MailDeliverySystem() override;
  // 0 when the mail went to a sender or to the queue, or the wait held it
  // back; -1 for an empty list, a full queue or a thread that could not
  // start.
  int32_t deliver(const AlertList& messages, const DeliverySettings& settings) override;
  std::string description() const override { return "Send e-mail notification by SMTP"; }

 private:
  // Shared with the sender threads, which may outlive this object and send
  // what still waits in it.
  std::shared_ptr<MailQueue> queue_ = NewMailQueue();
};

// Hands the report text to the `net send` command and waits for it.
class NetSendDeliverySystem final : public DeliverySystem {
 public:
  // Always 0.
  int32_t deliver(const AlertList& messages, const DeliverySettings& settings) override;
  std::string description() const override { return "Send notification by net send command"; }
};

// Starts the configured program with the report text as its arguments and
// does not wait for it.
class ShellDeliverySystem final : public DeliverySystem {
 public:
  // 0 when the program started or the wait held it back; -1 for an empty
  // list or a program that could not start.
  int32_t deliver(const AlertList& messages, const DeliverySettings& settings) override;
  std::string description() const override {
    return "Send notification by executing the command in the specified file";
  }
};

// The settings record and delivery system of the kind whose type key line
// (line end included) is `typeLine`; both null when it names no kind.
// The settings are named "no name".
struct Transporter {
  std::unique_ptr<DeliverySettings> settings;
  std::unique_ptr<DeliverySystem> system;
};
Transporter MakeTransporter(const std::string& typeLine);

}  // namespace kst

#endif  // KESTRANE_ALERTER_DELIVERY_SYSTEM_H_
