// Any text as a training table: learning either throws a
// LoadDataException or trains an analyzer whose state file loads again.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "Ruleforge/analyzer.h"
#include "Ruleforge/exceptions.h"
#include "Ruleforge/statistics_table.h"

namespace {

std::string& Home() {
  static std::string home = (std::filesystem::temp_directory_path() / "kst-fuzz-learn").string();
  return home;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::filesystem::create_directories(Home());
  ::setenv("KESTRANE_HOME", Home().c_str(), 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  // The search visits (features x intervals) squared candidates: keep
  // tables small enough to finish at once.
  if (kst::SplitFields(text.substr(0, text.find('\n'))).size() > 8) return 0;
  const std::string csv = Home() + "/in.csv";
  std::ofstream(csv, std::ios::binary) << text;
  kst::DiscoveryAnalyzer analyzer(0.5, 1.0, 20, Home() + "/rules.txt");
  analyzer.setSearchOptions({.seed = 1});
  try {
    analyzer.learn(csv.c_str(), nullptr);
  } catch (kst::Exception* e) {
    delete e;
    return 0;
  }
  std::stringstream state;
  analyzer.save(state);
  kst::DiscoveryAnalyzer loaded;
  try {
    loaded.load(state);
  } catch (kst::Exception* e) {
    delete e;
    std::abort();  // a trained analyzer must load again
  }
  return 0;
}
