// A library whose loading rewrites the collector's counter list, as the
// console may do at any moment: the paths in "counters_on_load" in
// KESTRANE_HOME, one a line, become optCounters. It has no `check`.
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/registry.h"

namespace {

struct RewriteOnLoad {
  RewriteOnLoad() {
    const char* home = std::getenv("KESTRANE_HOME");
    if (home == nullptr) return;
    std::ifstream in(std::string(home) + "/counters_on_load");
    std::string line, paths;
    while (std::getline(in, line)) paths += line + '\0';
    if (paths.empty()) return;
    paths += '\0';
    kst::RegistryKey key;
    if (kst::RegistryKey::Create(
            "System\\CurrentControlSet\\Services\\Kestrane buffer creator", &key) !=
        kst::kErrorSuccess) {
      return;
    }
    key.SetValue("optCounters", kst::kRegMultiSz, paths.data(),
                 static_cast<uint32_t>(paths.size()));
  }
} rewrite_on_load;

}  // namespace
