#include "KestraneAlerter/profile_list.h"

#include "KestraneAlerter/text_file.h"

namespace kst {

static constexpr size_t kLineBuffer = 1000;

void ReadProfileList(TextReader& in, ProfileList* list) {
  *list = ProfileList();
  std::string line;
  if (!in.ReadLine(kLineBuffer, &line)) return;
  list->startsWithAll = line == "all:\n";
  list->hasDefaultMarker = line == "default:\n";
  // The first line is never a name, whatever it holds.
  while (!list->hasDefaultMarker && in.ReadLine(kLineBuffer, &line)) {
    if (line == "default:\n") {
      list->hasDefaultMarker = true;
      break;
    }
    line.pop_back();
    if (!line.empty()) list->names.push_back(line);
  }
  if (list->hasDefaultMarker && in.ReadLineDroppingEnd(kLineBuffer, &line)) {
    list->hasDefaultLine = true;
    list->defaultName = line;
  }
}

}  // namespace kst
