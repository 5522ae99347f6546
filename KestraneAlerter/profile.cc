#include "KestraneAlerter/profile.h"

#include "KestraneAlerter/configuration.h"
#include "KestraneAlerter/text_file.h"

namespace kst {

static constexpr char kHeader[] = "Warning system config\n";
static constexpr size_t kLineBuffer = 1000;

Profile::Profile(std::string name) : name(std::move(name)) {}

Profile::~Profile() { clear(); }

void Profile::clear() {
  while (!deliverySettings.empty()) deliverySettings.pop_back();
  alertThreshold = timeSpan = minimalWait = 0;
  rootGate.clear();
}

int Profile::save() const {
  WholeTextFile whole(ProfileFileName(name));
  std::FILE* out = whole.file();
  if (out == nullptr) return -1;
  bool ok = WriteText(out, "%s", kHeader) &&
            WriteText(out, "%d %d %d\n", alertThreshold, timeSpan, minimalWait) &&
            rootGate.saveBody(out) == 0 &&
            WriteText(out, "%d\n", static_cast<int>(deliverySettings.size()));
  for (size_t i = 0; ok && i < deliverySettings.size(); ++i) ok = deliverySettings[i]->save(out) == 0;
  return ok && whole.Commit() ? 0 : -1;
}

int Profile::load(const std::string& newName, DeliverySystemList* systems) {
  clear();
  name = newName;
  TextReader in("");
  if (!TextReader::Open(ProfileFileName(name), &in)) return -1;
  return loadFrom(in, systems);
}

int Profile::loadFrom(TextReader& in, DeliverySystemList* systems) {
  std::string line;
  if (!in.ReadLine(kLineBuffer, &line) || line != kHeader) return -1;

  // Only a line that converts no number fails; missing ones stay 0.
  int32_t* numbers[] = {&alertThreshold, &timeSpan, &minimalWait};
  for (int32_t* number : numbers) {
    if (!in.ScanInt(number)) {
      if (number == numbers[0]) return -1;
      break;
    }
    in.SkipSpace();
  }
  if (rootGate.load(in) < 0) return -1;

  int32_t count;
  if (!in.ScanInt(&count)) return -1;
  in.SkipSpace();
  for (int32_t i = 0; i < count; ++i) {
    if (!in.ReadLine(kLineBuffer, &line)) return -1;
    Transporter t = MakeTransporter(line);
    if (t.settings == nullptr) continue;  // an unknown kind still counts
    if (t.settings->load(in) < 0) return -1;
    deliverySettings.push_back(std::move(t.settings));
    if (systems != nullptr) systems->push_back(std::move(t.system));
  }
  return 0;
}

}  // namespace kst
