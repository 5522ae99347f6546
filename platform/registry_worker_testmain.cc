// A second process for the registry tests:
//   registry_worker hammer PREFIX COUNT   write, read back and delete in a loop
//   registry_worker get KEY VALUE         print a value's bytes
//   registry_worker set KEY VALUE TEXT    set a REG_SZ value (with its zero)
//   registry_worker fds                   print the targets of the open files
//   registry_worker access KEY            try to change KEY; print the answers
//                                         of opening for writing, creating a
//                                         subkey and deleting the tree
// Exits 1 with a message on the first failure.
#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/registry.h"

namespace kst {
namespace {

int Fail(const char* what, WinError err) {
  std::fprintf(stderr, "%s failed: %u\n", what, err);
  return 1;
}

int Hammer(const std::string& prefix, int count) {
  const std::string shared = "SOFTWARE\\Hammer\\Shared";
  for (int i = 0; i < count; ++i) {
    RegistryKey key;
    WinError err = RegistryKey::Create(shared, &key);
    if (err != kErrorSuccess) return Fail("create", err);
    std::string name = prefix + "_" + std::to_string(i);
    uint32_t v = static_cast<uint32_t>(i);
    if ((err = key.SetValue(name, kRegDword, &v, 4))) return Fail("set", err);
    if ((err = key.SetValue("last", kRegDword, &v, 4))) return Fail("set", err);
    uint32_t back = 0, size = 4;
    if ((err = key.QueryValue(name, nullptr, &back, &size)))
      return Fail("query", err);
    if (back != v) return Fail("read back", 0);
    RegistryKey child;
    std::string sub = shared + "\\" + prefix + "\\deep";
    if ((err = RegistryKey::Create(sub, &child))) return Fail("create sub", err);
    if ((err = child.SetValue("x", kRegDword, &v, 4))) return Fail("set sub", err);
    if ((err = DeleteKeyTree(shared + "\\" + prefix)))
      return Fail("delete tree", err);
    RegKeyInfo info;
    if ((err = key.QueryInfo(&info))) return Fail("info", err);
  }
  return 0;
}

int Main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "hammer" && argc == 4) return Hammer(argv[2], std::atoi(argv[3]));
  if (mode == "get" && argc == 4) {
    RegistryKey key;
    WinError err = RegistryKey::Open(argv[2], RegAccess::kRead, &key);
    if (err != kErrorSuccess) return Fail("open", err);
    std::string data;
    if ((err = key.QueryValue(argv[3], nullptr, &data))) return Fail("query", err);
    std::fwrite(data.data(), 1, data.size(), stdout);
    return 0;
  }
  if (mode == "set" && argc == 5) {
    RegistryKey key;
    WinError err = RegistryKey::Create(argv[2], &key);
    if (err != kErrorSuccess) return Fail("create", err);
    std::string text = argv[4];
    err = key.SetValue(argv[3], kRegSz, text.c_str(),
                       static_cast<uint32_t>(text.size() + 1));
    return err ? Fail("set", err) : 0;
  }
  if (mode == "access" && argc == 3) {
    std::string path = argv[2];
    RegistryKey key;
    WinError open = RegistryKey::Open(path, RegAccess::kReadWrite, &key);
    WinError create = RegistryKey::Create(path + "\\New", &key);
    WinError remove = DeleteKeyTree(path);
    std::printf("%u %u %u\n", open, create, remove);
    return 0;
  }
  if (mode == "fds") {
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) return Fail("opendir", 0);
    while (dirent* entry = readdir(dir)) {
      std::string link = std::string("/proc/self/fd/") + entry->d_name;
      char target[4096];
      ssize_t n = readlink(link.c_str(), target, sizeof target);
      if (n > 0) std::printf("%.*s\n", static_cast<int>(n), target);
    }
    closedir(dir);
    return 0;
  }
  std::fprintf(stderr, "usage: registry_worker hammer|get|set|fds|access ...\n");
  return 2;
}

}  // namespace
}  // namespace kst

int main(int argc, char** argv) { return kst::Main(argc, argv); }
