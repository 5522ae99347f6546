// The profile list file: any bytes read without harm, and every name kept
// is a whole line's worth.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "KestraneAlerter/profile_list.h"
#include "KestraneAlerter/text_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kst::TextReader in(std::string_view(reinterpret_cast<const char*>(data), size));
  kst::ProfileList list;
  kst::ReadProfileList(in, &list);
  for (const auto& name : list.names) {
    if (name.empty() || name.size() > 998) __builtin_trap();
  }
  if (list.hasDefaultLine && !list.hasDefaultMarker) __builtin_trap();
  return 0;
}
