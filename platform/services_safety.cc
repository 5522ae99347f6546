// Whether root may trust the installation's files (services.h).
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/root_doors.h"
#include "platform/services.h"

namespace kst {
namespace {

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// Entries that are never taken through a link, whoever owns it: the log
// and the service database are written by root, the run folder holds
// root's sockets.
std::string StrictFault(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    return path + " is a symbolic link" + kOnlyRootMayChange;
  }
  return UnsafePathReason(path);
}

// A folder whose entries are read (the home, States, Profiles): the folder
// and each entry in it.
std::string TreeFault(const std::string& folder) {
  if (std::string fault = UnsafePathReason(folder); !fault.empty()) return fault;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    if (std::string fault = UnsafePathReason(entry.path().string()); !fault.empty()) return fault;
  }
  return {};
}

}  // namespace

std::string UnsafeInstallationReason() {
  if (::geteuid() != 0) return {};
  const std::string named = WithoutTrailingSlashes(KestraneHome());
  const std::string database = named + "/" + std::string(kRegistryFileName);
  std::string fault = UnsafePathReason(named);
  for (const std::string& path :
       {named + "/log", named + "/run", database, database + "-wal", database + "-shm"}) {
    if (fault.empty()) fault = StrictFault(path);
  }
  for (const char* folder : {"/States", "/Profiles"}) {
    if (fault.empty()) fault = TreeFault(named + folder);
  }
  // The programs, libraries and data files kept in the home itself: the
  // services start, load or read them (the exporter, the alerter, the
  // plug-ins, the buffer).
  if (fault.empty()) fault = TreeFault(named);
  return fault;
}

}  // namespace kst
