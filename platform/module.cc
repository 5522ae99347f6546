#include "platform/module.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <mutex>
#include <vector>

#include "platform/ascii.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/root_doors.h"

namespace kst {

namespace {

// Libraries are loaded from descriptors by the name "/proc/self/fd/N", and
// the loader knows a library by the name it was loaded under, also after a
// dlclose that could not unload it. So the descriptor of each file is kept
// open, and its name reused for the same file, for as long as the library
// may stay loaded: no other file is ever loaded under that name.
struct LoadedFile {
  dev_t device;
  ino_t inode;
  int fd;
  int users;
};

std::mutex& FilesLock() {
  static std::mutex lock;
  return lock;
}

std::vector<LoadedFile>& Files() {
  static auto* files = new std::vector<LoadedFile>();  // GUARDED_BY(FilesLock())
  return *files;
}

std::string FdName(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// The descriptor whose name loads the file `fd` is open on; takes `fd`.
int ShareFile(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return fd;
  std::lock_guard<std::mutex> hold(FilesLock());
  for (LoadedFile& file : Files()) {
    if (file.device == st.st_dev && file.inode == st.st_ino) {
      ::close(fd);
      ++file.users;
      return file.fd;
    }
  }
  Files().push_back({st.st_dev, st.st_ino, fd, 1});
  return fd;
}

// One user of the file's descriptor is gone; closes it once no user is
// left and the loader has let the library go.
void ReleaseFile(int fd) {
  std::lock_guard<std::mutex> hold(FilesLock());
  std::vector<LoadedFile>& files = Files();
  for (size_t i = 0; i < files.size(); ++i) {
    if (files[i].fd != fd || --files[i].users > 0) continue;
    if (void* still = dlopen(FdName(fd).c_str(), RTLD_LAZY | RTLD_NOLOAD); still != nullptr) {
      dlclose(still);
      return;
    }
    ::close(fd);
    files.erase(files.begin() + static_cast<std::ptrdiff_t>(i));
    return;
  }
}

class DlModule final : public Module {
 public:
  // `fd` (-1 for none) is the descriptor the library was loaded through.
  DlModule(void* handle, int fd) : handle_(handle), fd_(fd) {}
  ~DlModule() override {
    dlclose(handle_);
    if (fd_ >= 0) ReleaseFile(fd_);
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
        Tell(DoorRefusal("load", path, refusal), error);
      } else if (error != nullptr) {
        *error = "cannot load " + path;
      }
      return nullptr;
    }
    fd = ShareFile(fd);
    loaded = FdName(fd);
  }
  dlerror();
  void* handle = dlopen(loaded.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    if (error != nullptr) {
      const char* why = dlerror();
      *error = why != nullptr ? path + ": " + why : "cannot load " + path;
    }
    if (fd >= 0) ReleaseFile(fd);
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
