// Whether root may trust the installation's files (services.h).
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/services.h"

namespace kst {
namespace {

constexpr char kOnlyRoot[] = "; only root may own and change it";
// Links followed from one path before it counts as a loop.
constexpr int kMaxLinks = 8;

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool Inside(const std::string& path, const std::string& folder) {
  if (folder.empty()) return false;
  if (folder == "/") return path.size() > 1 && path[0] == '/';
  return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
         path[folder.size()] == '/';
}

// The home as its path names it and as the system resolves it: a path under
// either is checked up to the home, any other path with its own folder.
struct Home {
  std::string named;
  std::string resolved;
};

Home CurrentHome() {
  Home home;
  home.named = WithoutTrailingSlashes(KestraneHome());
  char real[PATH_MAX];
  if (::realpath(home.named.c_str(), real) != nullptr) home.resolved = real;
  return home;
}

bool Trusted(uid_t owner) { return owner == 0 || owner == ::geteuid(); }

std::string Fault(const std::string& path, const Home& home, int links);

// What is wrong with the one entry `path` (not the folders above it); empty
// when nothing or when it does not exist. A folder that holds the sticky bit
// and is root's protects what root owns in it (only `sticky_ok` asks so).
std::string EntryFault(const std::string& path, const Home& home, int links, bool sticky_ok) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return {};
  if (!Trusted(st.st_uid)) {
    return path + " belongs to user " + std::to_string(st.st_uid) + ", not root";
  }
  if (S_ISLNK(st.st_mode)) {
    // Root's own link stands for its target, which must pass by itself.
    if (links >= kMaxLinks) return path + " leads through too many symbolic links";
    char target[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), target, sizeof(target) - 1);
    if (n <= 0) return path + " is a symbolic link that cannot be read";
    std::string next(target, static_cast<size_t>(n));
    if (next[0] != '/') {
      char folder[PATH_MAX];
      if (::realpath(FolderOf(path).c_str(), folder) == nullptr) {
        return path + " is a symbolic link that cannot be followed";
      }
      next = std::string(folder) + "/" + next;
    }
    next = WithoutTrailingSlashes(std::filesystem::path(next).lexically_normal().string());
    return Fault(next, home, links + 1);
  }
  const bool sticky = S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) != 0 && st.st_uid == 0;
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0 && !(sticky_ok && sticky)) {
    return path + " may be written by its group or by other users";
  }
  return {};
}

// Under the home: the path and every folder above it up to the home. Elsewhere:
// the path and the folder that holds it (who may replace it); a path that
// does not exist is as safe as that folder, where it could be made.
std::string Fault(const std::string& path, const Home& home, int links) {
  const bool under = Inside(path, home.named) || Inside(path, home.resolved);
  std::string entry = path;
  while (true) {
    const bool is_home = entry == home.named || entry == home.resolved;
    if (std::string fault = EntryFault(entry, home, links, !under && entry != path);
        !fault.empty()) {
      return fault;
    }
    if (is_home || entry == "/" || entry == ".") return {};
    if (!under && entry != path) return {};
    entry = FolderOf(entry);
  }
}

// Entries that are never taken through a link, whoever owns it: the log
// and the service database are written by root, the run folder holds
// root's sockets.
std::string StrictFault(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return {};
  if (S_ISLNK(st.st_mode)) return path + " is a symbolic link";
  return EntryFault(path, Home(), 0, false);
}

// A folder whose files are read (States, Profiles): the folder and each
// entry in it.
std::string TreeFault(const std::string& folder, const Home& home) {
  if (std::string fault = Fault(folder, home, 0); !fault.empty()) return fault;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    if (std::string fault = Fault(entry.path().string(), home, 0); !fault.empty()) return fault;
  }
  return {};
}

}  // namespace

std::string UnsafePathReason(const std::string& path) {
  if (::geteuid() != 0 || path.empty()) return {};
  std::filesystem::path absolute(path);
  std::error_code ec;
  if (absolute.is_relative()) absolute = std::filesystem::absolute(absolute, ec);
  const std::string fault =
      Fault(WithoutTrailingSlashes(absolute.lexically_normal().string()), CurrentHome(), 0);
  return fault.empty() ? fault : fault + kOnlyRoot;
}

std::string UnsafeInstallationReason() {
  if (::geteuid() != 0) return {};
  const Home home = CurrentHome();
  const std::string& named = home.named;
  const std::string database = named + "/" + std::string(kRegistryFileName);
  std::string fault = Fault(named, home, 0);
  for (const std::string& path :
       {named + "/log", named + "/run", database, database + "-wal", database + "-shm"}) {
    if (fault.empty()) fault = StrictFault(path);
  }
  for (const char* folder : {"/States", "/Profiles"}) {
    if (fault.empty()) fault = TreeFault(named + folder, home);
  }
  // The programs, libraries and data files kept in the home itself: the
  // services start, load or read them (the exporter, the alerter, the
  // plug-ins, the buffer).
  if (fault.empty()) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(named, ec)) {
      fault = Fault(entry.path().string(), home, 0);
      if (!fault.empty()) break;
    }
  }
  return fault.empty() ? fault : fault + kOnlyRoot;
}

}  // namespace kst
