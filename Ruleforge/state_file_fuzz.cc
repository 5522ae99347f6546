// Any bytes as a state file: load either fails with a LoadDataException or
// gives an analyzer that saves the same bytes back and checks without harm.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>

#include "Ruleforge/analyzer.h"
#include "Ruleforge/exceptions.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static std::string home = (std::filesystem::temp_directory_path() / "kst-fuzz-state").string();
  std::filesystem::create_directories(home);
  ::setenv("KESTRANE_HOME", home.c_str(), 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::istringstream in(bytes);
  kst::DiscoveryAnalyzer analyzer;
  try {
    analyzer.load(in);
  } catch (kst::Exception* e) {
    delete e;
    return 0;
  }
  std::ostringstream out;
  analyzer.save(out);
  const std::streamoff read = in.tellg();
  const std::string consumed = bytes.substr(0, read < 0 ? size : static_cast<size_t>(read));
  if (out.str() != consumed) std::abort();
  std::vector<double> values(static_cast<size_t>(analyzer.scaleCount()), 1.0);
  std::string message;
  analyzer.check(message, &values);
  kst::AnomalyDetails.clear();
  return 0;
}
