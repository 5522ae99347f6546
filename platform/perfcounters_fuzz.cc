// Counter paths come from the registry and scripts from files: neither may
// crash the layer. A path that parses must print back to itself; a script
// that loads must answer expansions and a collection.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/perfcounters.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  kst::CounterPath path;
  if (kst::ParseCounterPath(text, &path) == kst::kPdhSuccess) {
    kst::CounterPath again;
    if (kst::ParseCounterPath(kst::MakeCounterPath(path), &again) != kst::kPdhSuccess) std::abort();
  }

  const int fd = ::memfd_create("script", 0);
  if (fd < 0) return 0;
  if (::write(fd, data, size) == static_cast<ssize_t>(size)) {
    const std::string file = "/proc/self/fd/" + std::to_string(fd);
    ::setenv("KESTRANE_PERF_SCRIPT", file.c_str(), 1);
    std::unique_ptr<kst::PerfQuery> query;
    if (kst::OpenQuery(&query) == kst::kPdhSuccess) {
      std::vector<std::string> paths;
      kst::ExpandCounterPath("\\*(*/*)\\*", &paths);
      std::vector<kst::PerfCounterHandle> handles;
      for (const std::string& p : paths) {
        kst::PerfCounterHandle handle = 0;
        if (query->AddCounter(p, &handle) == kst::kPdhSuccess) handles.push_back(handle);
      }
      for (int i = 0; i < 2; ++i) {
        query->Collect();
        for (kst::PerfCounterHandle handle : handles) {
          double value = 0;
          query->GetFormattedValue(handle, &value);
        }
      }
    }
  }
  ::close(fd);
  return 0;
}
