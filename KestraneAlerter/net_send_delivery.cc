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

static std::string Quoted(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string NetSendShellLine(const std::string& filteredCommand) {
  std::string line;
  size_t pos = 0;
  bool first = true;
  while (pos < filteredCommand.size()) {
    size_t start = filteredCommand.find_first_not_of(' ', pos);
    if (start == std::string::npos) break;
    size_t end = filteredCommand.find(' ', start);
    if (end == std::string::npos) end = filteredCommand.size();
    std::string word = filteredCommand.substr(start, end - start);
    if (first) {
      std::string program = ResolveProgram(word, nullptr);
      if (!program.empty()) word = program;
      first = false;
    } else {
      line += ' ';
    }
    line += Quoted(word);
    pos = end;
  }
  return line;
}

int32_t NetSendDeliverySystem::deliver(const AlertList& messages, const DeliverySettings& settings) {
  int32_t now = AlerterTime();
  if (messages.empty()) return 0;
  const auto& netSend = static_cast<const NetSendDeliverySettings&>(settings);
  if (netSend.destination.empty()) return 0;
  if (!passMinimalWait(now, settings.minimalWait)) return 0;
  std::string command = NetSendCommand(netSend.destination, buildReportText(messages, settings));
  RunShellCommand(NetSendShellLine(command));
  return 0;
}

}  // namespace kst
