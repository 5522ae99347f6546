#include "platform/module.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdio>
#include <vector>

#include "platform/ascii.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/services.h"

namespace kst {

namespace {

class DlModule final : public Module {
 public:
  explicit DlModule(void* handle) : handle_(handle) {}
  ~DlModule() override { dlclose(handle_); }
  DlModule(const DlModule&) = delete;
  DlModule& operator=(const DlModule&) = delete;

 protected:
  void* Symbol(std::string_view name) const override {
    return dlsym(handle_, std::string(name).c_str());
  }

 private:
  void* const handle_;
};

bool IsFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}


std::unique_ptr<Module> Open(const std::string& path, std::string* error) {
  // Root loads no library another user could have put in its place; a name
  // without a folder is the system loader's, in the system's folders.
  if (path.find('/') != std::string::npos) {
    if (const std::string unsafe = UnsafePathReason(path); !unsafe.empty()) {
      const std::string refusal = "refusing to load " + path + " as root: " + unsafe;
      if (error != nullptr) {
        *error = refusal;
      } else {
        std::fprintf(stderr, "%s\n", refusal.c_str());
        std::fflush(stderr);
      }
      return nullptr;
    }
  }
  dlerror();
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    if (error != nullptr) {
      const char* why = dlerror();
      *error = why != nullptr ? why : "cannot load " + path;
    }
    return nullptr;
  }
  return std::make_unique<DlModule>(handle);
}

}  // namespace

std::unique_ptr<Module> LoadModule(std::string_view file_name, std::string* error) {
  const std::string native = NativePath(file_name);
  if (native.empty()) {
    if (error != nullptr) *error = "empty library name";
    return nullptr;
  }
  std::vector<std::string> names = {native};
  if (EndsWithNoCase(native, ".dll")) names.push_back(native.substr(0, native.size() - 4) + ".so");

  const bool bare = native.find('/') == std::string::npos;
  if (bare) {
    const std::string program = CurrentProgramPath();
    const size_t slash = program.rfind('/');
    if (slash != std::string::npos) {
      const std::string folder = program.substr(0, slash);
      for (const std::string& name : names) {
        std::string path = folder + "/" + name;
        if (IsFile(path)) return Open(path, error);
      }
    }
    // Where the system's loader looks, by the name as given and then by ".so".
    std::string first_error;
    for (const std::string& name : names) {
      std::unique_ptr<Module> module = Open(name, error);
      if (module) return module;
      if (error != nullptr && first_error.empty()) first_error = *error;
    }
    if (error != nullptr) *error = first_error;
    return nullptr;
  }
  for (const std::string& path : names) {
    if (IsFile(path)) return Open(path, error);
  }
  if (error != nullptr) *error = "no such library: " + native;
  return nullptr;
}

}  // namespace kst
