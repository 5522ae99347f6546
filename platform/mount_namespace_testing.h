// Test-only: mounts of a test's own (a small disk, a hidden file) that no
// other process sees, also where "/" is not a mount point, as in a chroot.
#ifndef KESTRANE_PLATFORM_MOUNT_NAMESPACE_TESTING_H_
#define KESTRANE_PLATFORM_MOUNT_NAMESPACE_TESTING_H_

#include <sched.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace kst {

// Moves the calling process into a mount namespace of its own; "" or why
// not. Needs root and a single thread. *all_private tells whether every
// mount in it could be made private at once, which takes "/" being a mount
// point; where it is not, make each mount point private with
// PrivateMountPoint before mounting on it.
inline std::string EnterOwnMountNamespace(bool* all_private) {
  *all_private = false;
  const std::string why = "no mount namespace of this test's own: ";
  if (::unshare(CLONE_NEWNS) != 0) return why + std::strerror(errno);
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0) {
    *all_private = true;
    return "";
  }
  // EINVAL: "/" is not a mount point.
  return errno == EINVAL ? "" : why + std::strerror(errno);
}

// Whether the topmost mount on `real_path` (a canonical path) shares its
// mount events with a peer group, as /proc/self/mountinfo says.
inline bool MountIsShared(const std::string& real_path) {
  // Mount points there write " ", "\t", "\n" and "\" as octal escapes.
  auto unescape = [](const std::string& field) {
    std::string text;
    for (size_t i = 0; i < field.size(); ++i) {
      if (field[i] == '\\' && i + 3 < field.size()) {
        text.push_back(static_cast<char>(std::stoi(field.substr(i + 1, 3), nullptr, 8)));
        i += 3;
      } else {
        text.push_back(field[i]);
      }
    }
    return text;
  };
  bool shared = false;
  std::ifstream mountinfo("/proc/self/mountinfo");
  for (std::string line; std::getline(mountinfo, line);) {
    std::istringstream fields(line);
    std::string id, parent, device, root, point, options, optional;
    fields >> id >> parent >> device >> root >> point >> options;
    if (unescape(point) != real_path) continue;
    shared = false;
    while (fields >> optional && optional != "-") shared = shared || optional.rfind("shared:", 0) == 0;
  }
  return shared;
}

// Binds `path` onto itself and makes that mount private, so that what is
// later mounted on it reaches no other mount namespace; "" or why not.
// Refused, the bind undone, where the mount holding `path` shares its
// mount events with other namespaces: they would have seen the bind too.
// The caller unmounts the bind (umount2 of `path`) when it is done.
inline std::string PrivateMountPoint(const std::string& path) {
  std::error_code ec;
  const std::string real = std::filesystem::canonical(path, ec).string();
  if (ec) return path + ": " + ec.message();
  if (::mount(real.c_str(), real.c_str(), nullptr, MS_BIND, nullptr) != 0) {
    return "\"/\" is not a mount point, and " + real + " cannot be bound onto itself: " +
           std::strerror(errno);
  }
  if (MountIsShared(real)) {
    ::umount2(real.c_str(), 0);
    return "\"/\" is not a mount point, and the mount holding " + real +
           " is shared with other mount namespaces, which would see the test's mounts";
  }
  if (::mount(nullptr, real.c_str(), nullptr, MS_PRIVATE, nullptr) != 0) {
    const int error = errno;
    ::umount2(real.c_str(), MNT_DETACH);
    return "\"/\" is not a mount point, and " + real + " cannot be made private: " +
           std::strerror(error);
  }
  return "";
}

}  // namespace kst

#endif  // KESTRANE_PLATFORM_MOUNT_NAMESPACE_TESTING_H_
