#include "StatSubsystem/KestraneConsole/system_counters.h"

#include <algorithm>
#include <cctype>

namespace kst {

bool IsSystemCounter(const std::string& path) {
  std::string lower = path;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (lower.find("total") != std::string::npos) return true;
  const size_t open = path.find('(');
  if (open == std::string::npos) return true;
  const size_t close = path.find(')', open);
  if (close == std::string::npos) return true;
  const size_t slash = path.find('/', open);
  return slash == std::string::npos || slash > close;
}

}  // namespace kst
