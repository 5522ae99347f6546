#include "KestraneAlerter/net_send_delivery.h"

#include "KestraneAlerter/alerter_time.h"
#include "KestraneAlerter/delivery_system.h"
#include "KestraneAlerter/report_text.h"
#include "platform/process.h"

namespace kst {

static bool Passes(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '\\' ||
         c == '/' || c == ':' || c == '_' || c == '-' || c == '*';
}

std::string NetSendCommand(const std::string& destination, const std::string& text) {
  std::string command = "net send " + destination + " " + text;
  for (char& c : command) {
    if (!Passes(static_cast<unsigned char>(c))) c = ' ';
  }
  return command;
}

int32_t NetSendDeliverySystem::deliver(const AlertList& messages, const DeliverySettings& settings) {
  int32_t now = AlerterTime();
  if (messages.empty()) return 0;
  const auto& netSend = static_cast<const NetSendDeliverySettings&>(settings);
  if (netSend.destination.empty()) return 0;
  if (!passMinimalWait(now, settings.minimalWait)) return 0;
  std::string command = NetSendCommand(netSend.destination, buildReportText(messages, settings));
  // The filtered words hold no quote, so the command-line rules give them
  // back as they are; `net` is found as any program is (beside the running
  // program, then along PATH) and, run as root, started only when no other
  // user could have put it there. No shell sees the text.
  RunProgramAndWait(command, ProcessOptions(), nullptr);
  return 0;
}

}  // namespace kst
