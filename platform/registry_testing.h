// Test-only helpers of the registry. Never included by the system's programs.
#ifndef KESTRANE_PLATFORM_REGISTRY_TESTING_H_
#define KESTRANE_PLATFORM_REGISTRY_TESTING_H_

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/mount_namespace_testing.h"

namespace kst {

// While set, the database counts as not writable by this process, as it does
// for a user without write permission (which tests running as root cannot
// otherwise see).
void SetRegistryReadOnlyForTesting(bool read_only);

// Closes this thread's database connection, so that the next operation
// opens the database anew.
void DropRegistryConnectionForTesting();

// A private installation for one test: makes a fresh temporary folder, points
// KESTRANE_HOME at it for the object's lifetime, then removes it. Create it in
// SetUp (or as a fixture member); one per test at a time.
class TempKestraneHome {
 public:
  TempKestraneHome() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "kst-home-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    ::setenv("KESTRANE_HOME", path_.c_str(), 1);
  }
  ~TempKestraneHome() {
    SetRegistryReadOnlyForTesting(false);
    WaitForOtherProcessesOfHome();
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
    ::unsetenv("KESTRANE_HOME");
  }
  TempKestraneHome(const TempKestraneHome&) = delete;
  TempKestraneHome& operator=(const TempKestraneHome&) = delete;

  const std::string& path() const { return path_; }

 private:
  // A service stopped by the test may still be ending, and its last touch
  // of the registry would make the folder again after it is gone: waits (at
  // most 10 s) for the other processes started with this home.
  void WaitForOtherProcessesOfHome() const {
    const std::string entry = "KESTRANE_HOME=" + path_ + std::string(1, '\0');
    const std::string self = std::to_string(::getpid());
    std::string left;
    for (int round = 0; round < 200; ++round) {
      left.clear();
      std::error_code ec;
      for (const auto& process : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string pid = process.path().filename().string();
        if (pid == self || pid.find_first_not_of("0123456789") != std::string::npos) continue;
        std::stringstream environment;
        environment << std::ifstream(process.path() / "environ", std::ios::binary).rdbuf();
        const std::string text = std::string(1, '\0') + environment.str();
        if (text.find(std::string(1, '\0') + entry) != std::string::npos) left += " " + pid;
      }
      if (left.empty()) return;
      ::usleep(50000);
    }
    std::fprintf(stderr, "TempKestraneHome: still running in %s:%s\n", path_.c_str(), left.c_str());
  }

  std::string path_;
};

// A small disk of a test's own: a file system of `bytes` mounted on
// `folder` (say a TempKestraneHome's, before anything is written there) in a
// mount namespace of this process's own, so that no other process sees it
// and it goes with the process. Needs root; mounted() is false, and why()
// says why, where it cannot be made.
class SmallDisk {
 public:
  SmallDisk(const std::string& folder, size_t bytes) : folder_(folder) {
    // Entered once per process (a child of fork enters its own).
    static pid_t entered_by = 0;
    static std::string namespace_problem;
    static bool all_private = false;
    if (entered_by != ::getpid()) {
      entered_by = ::getpid();
      namespace_problem = EnterOwnMountNamespace(&all_private);
    }
    why_ = namespace_problem;
    if (why_.empty() && !all_private) why_ = PrivateMountPoint(folder);
    if (!why_.empty()) return;
    bound_ = !all_private;
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0700";
    if (::mount("kst-small-disk", folder.c_str(), "tmpfs", 0, options.c_str()) != 0) {
      why_ = std::string("no small disk can be mounted: ") + std::strerror(errno);
    } else {
      mounted_ = true;
    }
  }
  ~SmallDisk() {
    if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
    if (bound_) ::umount2(folder_.c_str(), MNT_DETACH);
  }
  // Unmounts every mount on `folder`, the bind beneath a disk too, for a
  // process that ends by exit() with its SmallDisk still standing (a death
  // test's child).
  static void UnmountAll(const std::string& folder) {
    while (::umount2(folder.c_str(), MNT_DETACH) == 0) {
    }
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  bool mounted() const { return mounted_; }
  const std::string& why() const { return why_; }

  // Takes every byte left with the file "filler", as on a full disk; true
  // when the disk said it is full.
  bool Fill() {
    const int fd = ::open((folder_ + "/filler").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const std::string block(65536, 'f');
    for (size_t size = block.size(); size > 0; size /= 2) {
      while (::write(fd, block.data(), size) == static_cast<ssize_t>(size)) {
      }
    }
    const bool full = ::write(fd, "f", 1) < 0 && errno == ENOSPC;
    ::close(fd);
    return full;
  }

  // Gives the filler's bytes back.
  void Free() { ::unlink((folder_ + "/filler").c_str()); }

 private:
  std::string folder_;
  bool mounted_ = false;
  bool bound_ = false;  // a bind of folder_ onto itself lies under the disk
  std::string why_;
};

struct ChildOutcome {
  int status = -1;  // exit status; -1 when the program did not end normally
  std::string out;
  std::string err;
};

// Runs program with args as the user nobody, to show what another user may
// do (permissions do not bind root). The program is copied into folder first,
// so that it starts even where nobody may not enter the build tree, and it is
// started with exec, so that it never shares this process's database
// connection. False (outcome untouched) when this process is not root or
// there is no user nobody.
inline bool RunAsNobody(const std::string& program, const std::vector<std::string>& args,
                        const std::string& folder, ChildOutcome* outcome) {
  if (::geteuid() != 0) return false;
  const passwd* nobody = ::getpwnam("nobody");
  if (nobody == nullptr) return false;
  const uid_t uid = nobody->pw_uid;
  const gid_t gid = nobody->pw_gid;
  std::string name = std::filesystem::path(program).filename().string();
  std::string copy = folder + "/" + name;
  std::string err_file = folder + "/" + name + ".stderr";
  std::error_code ec;
  std::filesystem::copy_file(program, copy, std::filesystem::copy_options::overwrite_existing,
                             ec);
  *outcome = ChildOutcome();
  int fds[2];
  if (ec || ::pipe(fds) != 0) return true;
  std::vector<std::string> words{copy};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  pid_t child = ::fork();
  if (child == 0) {
    // Only calls that are safe between fork and exec.
    int err = ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (err < 0 || ::dup2(fds[1], 1) < 0 || ::dup2(err, 2) < 0 || ::chdir("/") != 0 ||
        ::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
      ::_exit(126);
    ::execv(copy.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(fds[1]);
  char buf[4096];
  ssize_t n;
  while ((n = ::read(fds[0], buf, sizeof buf)) > 0) outcome->out.append(buf, n);
  ::close(fds[0]);
  int status = 0;
  if (child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status))
    outcome->status = WEXITSTATUS(status);
  std::stringstream err;
  err << std::ifstream(err_file).rdbuf();
  outcome->err = err.str();
  return true;
}

}  // namespace kst

#endif  // KESTRANE_PLATFORM_REGISTRY_TESTING_H_
