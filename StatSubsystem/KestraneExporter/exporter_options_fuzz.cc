// Command lines of any words: the parser must answer with a code, never
// read past the words it was given.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "StatSubsystem/KestraneExporter/exporter_options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Words are separated by zero bytes, as they arrive in argv.
  std::vector<std::string> words{"KestraneExporter"};
  words.emplace_back();
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      words.emplace_back();
    } else {
      words.back().push_back(static_cast<char>(data[i]));
    }
  }
  std::vector<const char*> argv;
  for (const std::string& w : words) argv.push_back(w.c_str());
  kst::ExporterOptions options;
  const int code = kst::ParseExporterOptions(static_cast<int>(argv.size()), argv.data(), &options);
  if (code > 0 || code < -7) __builtin_trap();
  if (code == 0) (void)kst::IsSingleMonthRun(options);
  return 0;
}
