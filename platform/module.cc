#include "platform/module.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "platform/ascii.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/root_doors.h"

namespace kst {

namespace {

class DlModule final : public Module {
 public:
  // `fd` (may be -1) is the file the library was loaded from, kept open
  // while it is loaded so that its number names no other library.
  DlModule(void* handle, int fd) : handle_(handle), fd_(fd) {}
  ~DlModule() override {
    dlclose(handle_);
    if (fd_ >= 0) ::close(fd_);
  }
  DlModule(const DlModule&) = delete;
  DlModule& operator=(const DlModule&) = delete;

 protected:
  void* Symbol(std::string_view name) const override {
    return dlsym(handle_, std::string(name).c_str());
  }

 private:
  void* const handle_;
  const int fd_;
};

bool IsFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}


void Tell(const std::string& text, std::string* error) {
  if (error != nullptr) {
    *error = text;
  } else {
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
  }
}

// A name with a folder is loaded from the descriptor the library door
// checked (root loads no library another user could have put in its
// place); a name without one is the system loader's, in the system's
// folders.
std::unique_ptr<Module> Open(const std::string& path, std::string* error) {
  int fd = -1;
  std::string loaded = path;
  if (path.find('/') != std::string::npos) {
    std::string refusal;
    fd = OpenLibraryDoor(path, &refusal);
    if (fd < 0) {
      if (!refusal.empty()) {
        Tell("refusing to load " + path + " as root: " + refusal, error);
      } else if (error != nullptr) {
        *error = "cannot load " + path;
      }
      return nullptr;
    }
    loaded = "/proc/self/fd/" + std::to_string(fd);
  }
  dlerror();
  void* handle = dlopen(loaded.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    if (error != nullptr) {
      const char* why = dlerror();
      *error = why != nullptr ? path + ": " + why : "cannot load " + path;
    }
    if (fd >= 0) ::close(fd);
    return nullptr;
  }
  return std::make_unique<DlModule>(handle, fd);
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
