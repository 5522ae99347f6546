#include "platform/durable_file.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

namespace kst {
namespace {

bool Sync(int fd) {
  int result;
  while ((result = ::fsync(fd)) != 0 && errno == EINTR) {
  }
  return result == 0;
}

bool SyncPath(const std::string& path, int flags) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = Sync(fd);
  ::close(fd);
  return synced;
}

bool SyncFolderOf(const std::string& native_path) {
  const size_t slash = native_path.rfind('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : native_path.substr(0, slash);
  return SyncPath(folder, O_RDONLY | O_DIRECTORY);
}

}  // namespace

bool SyncFileToDisk(const std::string& native_path) {
  return SyncPath(native_path, O_RDONLY) && SyncFolderOf(native_path);
}

bool SyncFileToDisk(int fd, const std::string& native_path) {
  return Sync(fd) && SyncFolderOf(native_path);
}

}  // namespace kst
