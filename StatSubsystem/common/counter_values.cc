#include "StatSubsystem/common/counter_values.h"

#include "platform/registry.h"

namespace kst {
namespace {

// A name list kept for the process, with its never-loaded flag.
struct NameCache {
  bool loaded = false;
  std::vector<std::string> names;
};

int ReadNames(NameCache& cache, std::string (*part)(std::string_view),
              std::vector<std::string>& out, bool reread) {
  out.clear();
  if (!cache.loaded || reread) {
    cache.loaded = true;
    cache.names.clear();
    std::vector<std::string> paths;
    if (ReadCollectorCounterPaths(&paths) != 0) return -1;
    for (const std::string& path : paths) cache.names.push_back(part(path));
  }
  out = cache.names;
  return 0;
}

}  // namespace

std::string CounterNamePart(std::string_view path) {
  const size_t last = path.rfind('\\');
  return std::string(last == std::string_view::npos ? path : path.substr(last + 1));
}

std::string CounterObjectPart(std::string_view path) {
  const size_t last = path.rfind('\\');
  if (last == std::string_view::npos) return "";
  // The two backslashes that open a path with a host name are passed over.
  size_t start = 0;
  for (size_t i = 2; i < last; ++i) {
    if (path[i] == '\\') {
      start = i + 1;
      break;
    }
  }
  return std::string(path.substr(start, last - start));
}

int ReadCollectorCounterPaths(std::vector<std::string>* paths) {
  paths->clear();
  RegistryKey key;
  if (RegistryKey::Open("System\\CurrentControlSet\\Services\\Kestrane buffer creator",
                        RegAccess::kRead, &key) != kErrorSuccess) {
    return -1;
  }
  RegType type = 0;
  std::string data;
  if (key.QueryValue("optCounters", &type, &data) != kErrorSuccess) return -3;
  if (type != kRegMultiSz) return -5;
  size_t at = 0;
  while (at < data.size() && data[at] != '\0') {
    size_t end = data.find('\0', at);
    if (end == std::string::npos) return -6;
    paths->push_back(data.substr(at, end - at));
    at = end + 1;
  }
  return 0;
}

int ReadObjectNames(std::vector<std::string>& out, bool reread) {
  static NameCache cache;
  return ReadNames(cache, CounterObjectPart, out, reread);
}

int ReadCounterNames(std::vector<std::string>& out, bool reread) {
  static NameCache cache;
  return ReadNames(cache, CounterNamePart, out, reread);
}

int CounterSampler::Drop() {
  if (query_ == nullptr) return 0;
  for (PerfCounterHandle handle : handles_) {
    if (handle != 0 && query_->RemoveCounter(handle) != kPdhSuccess) return -1;
  }
  if (query_->Close() != kPdhSuccess) return -2;
  query_.reset();
  handles_.clear();
  return 0;
}

int CounterSampler::Build(const std::vector<std::string>& paths) {
  if (OpenQuery(&query_) != kPdhSuccess) {
    query_.reset();
    return -4;
  }
  handles_.clear();
  for (const std::string& path : paths) {
    PerfCounterHandle handle = 0;
    if (query_->AddCounter(path, &handle) != kPdhSuccess) handle = 0;
    handles_.push_back(handle);
  }
  return 0;
}

int CounterSampler::Collect(std::vector<double>& out) {
  if (query_ == nullptr || query_->Collect() != kPdhSuccess) return -6;
  for (PerfCounterHandle handle : handles_) {
    double value = 0.0;
    if (handle == 0 || query_->GetFormattedValue(handle, &value) != kPdhSuccess) value = 0.0;
    out.push_back(value);
  }
  return 0;
}

int ReadCurrentCounterValues(std::vector<double>& out, bool rebuild) {
  static CounterSampler sampler;
  static bool built = false;
  if (!built || rebuild) {
    built = true;
    if (int result = sampler.Drop(); result != 0) return result;
    std::vector<std::string> paths;
    if (ReadCollectorCounterPaths(&paths) != 0) return -3;
    if (int result = sampler.Build(paths); result != 0) return result;
  }
  return sampler.Collect(out);
}

}  // namespace kst
