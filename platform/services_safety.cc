// Whether root may run the installation's services (services.h).
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/services.h"

namespace kst {
namespace {

// What is wrong with one path for root; empty when nothing (or it is missing).
std::string PathFault(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return {};
  if (S_ISLNK(st.st_mode)) return path + " is a symbolic link";
  if (st.st_uid != 0) return path + " belongs to user " + std::to_string(st.st_uid) + ", not root";
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return path + " may be written by its group or by other users";
  }
  return {};
}

}  // namespace

std::string UnsafeInstallationReason() {
  if (::geteuid() != 0) return {};
  std::string home = KestraneHome();
  // "/home/" would be looked at through a link that "/home" is.
  while (home.size() > 1 && home.back() == '/') home.pop_back();
  const std::string database = home + "/" + std::string(kRegistryFileName);
  for (const std::string& path :
       {home, home + "/log", database, database + "-wal", database + "-shm"}) {
    if (std::string fault = PathFault(path); !fault.empty()) {
      return fault + "; only root may own and change it";
    }
  }
  return {};
}

}  // namespace kst
