#include "StatSubsystem/common/counter_values.h"

#include "StatSubsystem/common/service_keys.h"
#include "StatSubsystem/common/service_names.h"

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
  const int result = ReadServiceMultiString(ServiceNameTable[kCollectorId], "optCounters", paths);
  if (result != 0) paths->clear();
  return result;
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

int CounterValueReader::Rebuild(const std::vector<std::string>& paths) {
  built_ = true;
  if (int result = sampler_.Drop(); result != 0) return result;
  return sampler_.Build(paths);
}

int CounterValueReader::Read(std::vector<double>& out, bool rebuild) {
  if (!built_ || rebuild) {
    built_ = true;
    if (int result = sampler_.Drop(); result != 0) return result;
    std::vector<std::string> paths;
    if (ReadCollectorCounterPaths(&paths) != 0) return -3;
    if (int result = sampler_.Build(paths); result != 0) return result;
  }
  return sampler_.Collect(out);
}

int ReadCurrentCounterValues(std::vector<double>& out, bool rebuild) {
  static CounterValueReader reader;
  return reader.Read(out, rebuild);
}

}  // namespace kst
