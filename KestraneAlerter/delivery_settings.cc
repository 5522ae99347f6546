#include "KestraneAlerter/delivery_settings.h"

#include "KestraneAlerter/text_file.h"

namespace kst {

// Record lines are read into a buffer of this size: lines of up to 998
// characters before the line end read back whole.
static constexpr size_t kLineBuffer = 1000;

int DeliverySettings::loadCommon(TextReader& in) {
  if (!in.ReadLineDroppingEnd(kLineBuffer, &name)) return -1;

  if (!in.ScanInt(&maxMessageLength)) return -1;
  in.SkipSpace();
  if (in.ScanInt(&minimalWait)) in.SkipSpace();

  // A flags line with fewer than four numbers keeps the missing flags as
  // they were.
  bool* flags[] = {&includeComments, &includeAnalyzerTitles, &includeDescription,
                   &includeCounterNames};
  for (size_t i = 0; i < 4; ++i) {
    int32_t flag;
    if (!in.ScanInt(&flag)) {
      if (i == 0) return -1;
      break;
    }
    in.SkipSpace();
    *flags[i] = flag != 0;
  }
  return 0;
}

int DeliverySettings::saveCommon(std::FILE* out) const {
  if (!WriteText(out, "%s", typeName())) return -1;
  if (!WriteText(out, "%s\n", name.c_str())) return -1;
  if (!WriteText(out, "%d %d\n", maxMessageLength, minimalWait)) return -1;
  if (!WriteText(out, "%d %d %d %d\n", includeComments ? 1 : 0, includeAnalyzerTitles ? 1 : 0,
                 includeDescription ? 1 : 0, includeCounterNames ? 1 : 0)) {
    return -1;
  }
  return 0;
}

int DeliverySettings::loadString(TextReader& in, std::string* value) {
  std::string line;
  if (!in.ReadLineDroppingEnd(kLineBuffer, &line)) return -1;
  *value = line == "-" ? std::string() : line;
  return 0;
}

int DeliverySettings::saveString(std::FILE* out, const std::string& value) {
  return WriteText(out, "%s\n", value.empty() ? "-" : value.c_str()) ? 0 : -1;
}

int MailDeliverySettings::load(TextReader& in) {
  if (loadCommon(in) < 0) return -1;
  if (loadString(in, &recipient) < 0) return -1;
  if (loadString(in, &sender) < 0) return -1;
  return loadString(in, &mailServer);
}

int MailDeliverySettings::save(std::FILE* out) const {
  if (saveCommon(out) < 0) return -1;
  if (saveString(out, recipient) < 0) return -1;
  if (saveString(out, sender) < 0) return -1;
  return saveString(out, mailServer);
}

int SingleStringSettings::load(TextReader& in) {
  if (loadCommon(in) < 0) return -1;
  return loadString(in, &value());
}

int SingleStringSettings::save(std::FILE* out) const {
  if (saveCommon(out) < 0) return -1;
  return saveString(out, value());
}

}  // namespace kst
