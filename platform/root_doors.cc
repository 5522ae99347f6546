// Root's doors (root_doors.h): the walk from "/" on descriptors and the
// three doors that hand out what it checked.
#include "platform/root_doors.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "platform/paths.h"

namespace kst {
namespace {

// Links followed on one path before it counts as a loop.
constexpr int kMaxLinks = 8;
// Scripts whose interpreter is itself a script, as the system allows.
constexpr int kMaxInterpreters = 4;
constexpr char kNotRegular[] = " is not a regular file; only a regular file is used there";

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Reset(-1); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  void Reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  int get() const { return fd_; }
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

bool Checked() { return ::geteuid() == 0; }

bool Trusted(uid_t owner) { return owner == 0 || owner == ::geteuid(); }

bool OthersMayWrite(const struct stat& st) { return (st.st_mode & (S_IWGRP | S_IWOTH)) != 0; }

std::string Belongs(const std::string& path, uid_t owner) {
  return path + " belongs to user " + std::to_string(owner) + ", not root";
}

std::string Writable(const std::string& path) {
  return path + " may be written by its group or by other users";
}

std::string Absolute(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  std::error_code ignored;
  return (std::filesystem::current_path(ignored) / path).string();
}

bool AtOrBelow(const std::string& path, const std::string& folder) {
  if (folder.empty() || folder == "/") return !folder.empty();
  return path.compare(0, folder.size(), folder) == 0 &&
         (path.size() == folder.size() || path[folder.size()] == '/');
}

// The home as the system resolves it: no sticky folder there or below counts.
std::string ResolvedHome() {
  char real[PATH_MAX];
  return ::realpath(KestraneHome().c_str(), real) != nullptr ? std::string(real) : KestraneHome();
}

// Where a walk ended: the folder that holds the last component, its name,
// and whether it exists (its status then in `st`).
struct Walked {
  Fd folder;
  std::string leaf;       // empty for "/"
  std::string path;       // the path as walked, links replaced
  bool exists = false;
  bool folder_open = false;  // the folder passed only as a sticky one
  struct stat st {};
};

std::vector<std::string> Components(const std::string& path) {
  std::vector<std::string> parts;
  size_t i = 0;
  while (i < path.size()) {
    const size_t slash = path.find('/', i);
    const size_t end = slash == std::string::npos ? path.size() : slash;
    if (end > i) {
      std::string part = path.substr(i, end - i);
      if (part != ".") parts.push_back(std::move(part));
    }
    i = end + 1;
  }
  return parts;
}

std::string Join(const std::string& folder, const std::vector<std::string>& parts, size_t from) {
  std::string path = folder.empty() ? "" : folder;
  for (size_t i = from; i < parts.size(); ++i) path += "/" + parts[i];
  return path.empty() ? "/" : path;
}

// Walks `path` from "/", for root. With `follow_leaf`, a link of root's as
// the last component is followed too. False with *fault when a component is
// refused, or with errno when the walk cannot go on.
bool Walk(std::string path, bool follow_leaf, Walked* w, std::string* fault) {
  const std::string home = ResolvedHome();
  int links = 0;
  path = Absolute(path);
  while (true) {
    Fd dir(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0) return false;
    struct stat st {};
    if (::fstat(dir.get(), &st) != 0) return false;
    if (!Trusted(st.st_uid)) return *fault = Belongs("/", st.st_uid), false;
    if (OthersMayWrite(st)) return *fault = Writable("/"), false;
    const std::vector<std::string> parts = Components(path);
    if (parts.empty()) {
      w->folder.Reset(dir.Release());
      w->leaf.clear();
      w->path = "/";
      w->exists = true;
      w->st = st;
      return true;
    }
    std::string walked;  // the folders passed, each a real folder
    bool open_folder = false;
    // Each turn ends in a return, or in a break that walks `path` anew.
    for (size_t i = 0; i < parts.size(); ++i) {
      const bool last = i + 1 == parts.size();
      if (parts[i] == "..") {
        // The folders walked are real, so their parent is the text's.
        const size_t slash = walked.rfind('/');
        path = Join(slash == std::string::npos ? "" : walked.substr(0, slash), parts, i + 1);
        break;
      }
      const std::string here = walked + "/" + parts[i];
      Fd next(::openat(dir.get(), parts[i].c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
      if (next.get() < 0) {
        if (errno != ENOENT) return false;
        w->folder_open = open_folder;
        if (!last) {
          w->path = walked.empty() ? "/" : walked;
          return errno = ENOENT, false;
        }
        w->folder.Reset(dir.Release());
        w->leaf = parts[i];
        w->path = here;
        w->exists = false;
        return true;
      }
      if (::fstat(next.get(), &st) != 0) return false;
      // The file itself is judged by whoever opens it, on what it opened.
      const bool file = last && !S_ISLNK(st.st_mode);
      if (!file && !Trusted(st.st_uid)) return *fault = Belongs(here, st.st_uid), false;
      if (S_ISLNK(st.st_mode) && (!last || follow_leaf)) {
        if (++links > kMaxLinks) return *fault = here + " leads through too many symbolic links", false;
        char target[PATH_MAX];
        const ssize_t n = ::readlinkat(next.get(), "", target, sizeof(target) - 1);
        if (n <= 0) return *fault = here + " is a symbolic link that cannot be read", false;
        const std::string to(target, static_cast<size_t>(n));
        path = Join(to[0] == '/' ? to : walked + "/" + to, parts, i + 1);
        break;
      }
      const bool sticky_ok = S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) != 0 && st.st_uid == 0 &&
                             !last && !AtOrBelow(here, home);
      if (!file && OthersMayWrite(st) && !sticky_ok && !S_ISLNK(st.st_mode)) {
        return *fault = Writable(here), false;
      }
      if (last) {
        w->folder.Reset(dir.Release());
        w->leaf = parts[i];
        w->path = here;
        w->exists = true;
        w->folder_open = open_folder;
        w->st = st;
        return true;
      }
      if (!S_ISDIR(st.st_mode)) return errno = ENOTDIR, false;
      open_folder = OthersMayWrite(st);
      dir.Reset(next.Release());
      walked = here;
    }
  }
}

// What is wrong with the file just opened as root's door saw it; *error
// gets EACCES for a file another user could change, ENXIO for one that is
// not a regular file.
std::string FileFault(int fd, const std::string& path, bool regular, int* error) {
  struct stat st {};
  *error = EACCES;
  if (::fstat(fd, &st) != 0) return path + " cannot be examined";
  if (regular && !S_ISREG(st.st_mode)) return *error = ENXIO, path + kNotRegular;
  if (Checked() && !Trusted(st.st_uid)) return Belongs(path, st.st_uid) + kOnlyRootMayChange;
  if (Checked() && OthersMayWrite(st)) return Writable(path) + kOnlyRootMayChange;
  return {};
}

// Opens `name` relative to `dirfd` with `flags` (O_NONBLOCK and O_CLOEXEC
// added, O_TRUNC done only once the file passed); `shown` names it in a
// refusal. -1 with errno, or EACCES and *refusal.
int OpenAt(int dirfd, const std::string& name, int flags, mode_t mode, const std::string& shown,
           std::string* refusal) {
  const bool truncate = (flags & O_TRUNC) != 0;
  // Root's umask may let its group write: what root makes only root may
  // change, or root would refuse the file it just made.
  if (Checked()) mode &= ~static_cast<mode_t>(S_IWGRP | S_IWOTH);
  Fd fd(::openat(dirfd, name.c_str(), (flags & ~O_TRUNC) | O_NONBLOCK | O_CLOEXEC, mode));
  if (fd.get() < 0) {
    // A FIFO nobody reads and a device without its hardware answer ENXIO.
    if (errno == ENXIO || errno == EISDIR) {
      *refusal = shown + kNotRegular;
    } else if (errno == ELOOP && Checked()) {
      *refusal = shown + " is a symbolic link" + kOnlyRootMayChange;
      errno = EACCES;
    }
    return -1;
  }
  int error = 0;
  if (std::string fault = FileFault(fd.get(), shown, true, &error); !fault.empty()) {
    *refusal = fault;
    return errno = error, -1;
  }
  if (truncate && ::ftruncate(fd.get(), 0) != 0) return -1;
  ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
  return fd.Release();
}

int OpenChecked(const std::string& path, int flags, mode_t mode, std::string* refusal) {
  if (!Checked()) return OpenAt(AT_FDCWD, path, flags, mode, path, refusal);
  Walked w;
  std::string fault;
  if (!Walk(path, (flags & O_NOFOLLOW) == 0, &w, &fault)) {
    if (fault.empty()) return -1;
    *refusal = fault + kOnlyRootMayChange;
    return errno = EACCES, -1;
  }
  if (w.leaf.empty()) return errno = EISDIR, -1;
  return OpenAt(w.folder.get(), w.leaf, flags | O_NOFOLLOW, mode, w.path, refusal);
}

// The interpreter a script names on its first line; empty when none.
std::string Interpreter(int fd) {
  char head[256];
  const ssize_t n = ::pread(fd, head, sizeof(head) - 1, 0);
  if (n < 2 || head[0] != '#' || head[1] != '!') return {};
  std::string line(head + 2, static_cast<size_t>(n - 2));
  line = line.substr(0, line.find('\n'));
  const size_t start = line.find_first_not_of(" \t");
  if (start == std::string::npos) return {};
  return line.substr(start, line.find_first_of(" \t", start) - start);
}

int OpenProgram(const std::string& path, int depth, bool* script, std::string* refusal) {
  *script = false;
  Fd fd;
  if (Checked()) {
    fd.Reset(OpenChecked(path, O_RDONLY, 0, refusal));
  } else {
    fd.Reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    // A program its user may run but not read is no script to it either.
    if (fd.get() < 0 && errno == EACCES) return ::open(path.c_str(), O_PATH | O_CLOEXEC);
  }
  if (fd.get() < 0) {
    // What is not a regular file cannot be started either.
    if (errno == ENXIO || errno == EISDIR) errno = EACCES;
    return -1;
  }
  if (!Checked()) {
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return errno = EACCES, -1;
  }
  const std::string interpreter = Interpreter(fd.get());
  if (!interpreter.empty()) {
    *script = true;
    if (Checked()) {
      if (depth >= kMaxInterpreters) return errno = ELOOP, -1;
      // The system finds a relative one from the folder the program starts
      // in, which no walk here has seen.
      if (interpreter[0] != '/') {
        *refusal = path + " names its interpreter " + interpreter + " by a relative path";
        return errno = EACCES, -1;
      }
      bool nested = false;
      Fd checked(OpenProgram(interpreter, depth + 1, &nested, refusal));
      if (checked.get() < 0) return -1;
    }
  }
  return fd.Release();
}

}  // namespace

int OpenProgramDoor(const std::string& path, bool* script, std::string* refusal) {
  return OpenProgram(path, 0, script, refusal);
}

int OpenLibraryDoor(const std::string& path, std::string* refusal) {
  return OpenChecked(path, O_RDONLY, 0, refusal);
}

int OpenDataDoor(const std::string& path, int flags, mode_t mode, std::string* refusal) {
  return OpenChecked(path, flags, mode, refusal);
}

std::string UnsafePathReason(const std::string& path) {
  if (!Checked() || path.empty()) return {};
  Walked w;
  std::string fault;
  if (!Walk(path, true, &w, &fault)) {
    // A folder missing on the way could be made where others may write.
    if (fault.empty() && errno == ENOENT) {
      if (w.folder_open) fault = Writable(w.path);
    } else if (fault.empty()) {
      // What cannot be walked cannot be vouched for.
      fault = path + " cannot be examined (" + std::strerror(errno) + ")";
    }
    return fault.empty() ? fault : fault + kOnlyRootMayChange;
  }
  if (w.exists && w.leaf.empty()) return {};
  if (!w.exists) {
    if (!w.folder_open) return {};
    const size_t slash = w.path.rfind('/');
    return Writable(slash == 0 ? "/" : w.path.substr(0, slash)) + kOnlyRootMayChange;
  }
  if (!Trusted(w.st.st_uid)) return Belongs(w.path, w.st.st_uid) + kOnlyRootMayChange;
  if (OthersMayWrite(w.st)) return Writable(w.path) + kOnlyRootMayChange;
  return {};
}

std::string DoorRefusal(std::string_view doing, const std::string& path, const std::string& refusal) {
  return "refusing to " + std::string(doing) + " " + path + (Checked() ? " as root: " : ": ") + refusal;
}

bool ReadDataFile(const std::string& path, std::string* contents, std::string* refusal) {
  Fd fd(OpenDataDoor(path, O_RDONLY, 0, refusal));
  if (fd.get() < 0) return false;
  std::string text;
  char chunk[64 * 1024];
  while (true) {
    const ssize_t n = ::read(fd.get(), chunk, sizeof(chunk));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    text.append(chunk, static_cast<size_t>(n));
  }
  *contents = std::move(text);
  return true;
}

bool WriteDataFile(const std::string& path, std::string_view contents, std::string* refusal) {
  Fd fd(OpenDataDoor(path, O_WRONLY | O_CREAT | O_TRUNC, 0666, refusal));
  if (fd.get() < 0) return false;
  while (!contents.empty()) {
    const ssize_t n = ::write(fd.get(), contents.data(), contents.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    contents.remove_prefix(static_cast<size_t>(n));
  }
  return ::close(fd.Release()) == 0;
}

std::FILE* OpenDataStream(const std::string& path, const char* mode, std::string* refusal) {
  const int flags = mode[0] == 'w' ? O_WRONLY | O_CREAT | O_TRUNC
                    : mode[0] == 'a' ? O_WRONLY | O_CREAT | O_APPEND
                                     : O_RDONLY;
  Fd fd(OpenDataDoor(path, flags, 0666, refusal));
  if (fd.get() < 0) return nullptr;
  std::FILE* file = ::fdopen(fd.get(), mode);
  if (file != nullptr) fd.Release();
  return file;
}

DataFolder::~DataFolder() {
  if (fd_ >= 0) ::close(fd_);
}

bool DataFolder::Open(const std::string& folder, std::string* refusal) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  path_ = folder;
  if (!Checked()) {
    fd_ = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    return fd_ >= 0;
  }
  Walked w;
  std::string fault;
  if (!Walk(folder, true, &w, &fault)) {
    if (!fault.empty()) *refusal = fault + kOnlyRootMayChange, errno = EACCES;
    return false;
  }
  if (!w.exists) return errno = ENOENT, false;
  Fd fd(w.leaf.empty() ? ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC)
                       : ::openat(w.folder.get(), w.leaf.c_str(),
                                  O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (fd.get() < 0) return false;
  int error = 0;
  if (std::string fault = FileFault(fd.get(), w.path, false, &error); !fault.empty()) {
    *refusal = fault;
    return errno = error, false;
  }
  path_ = w.path;
  fd_ = fd.Release();
  return true;
}

int DataFolder::OpenFile(const std::string& name, int flags, mode_t mode, std::string* refusal) {
  if (fd_ < 0 || name.empty() || name.find('/') != std::string::npos || name == "..") {
    return errno = EINVAL, -1;
  }
  return OpenAt(fd_, name, flags | (Checked() ? O_NOFOLLOW : 0), mode, path_ + "/" + name, refusal);
}

int DataFolder::CreateTemporary(const std::string& prefix, mode_t mode, std::string* name) {
  static thread_local std::mt19937 random(std::random_device{}());
  constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = prefix;
    for (int i = 0; i < 6; ++i) candidate += kLetters[random() % (sizeof(kLetters) - 1)];
    std::string ignored;
    const int fd = OpenFile(candidate, O_RDWR | O_CREAT | O_EXCL, mode, &ignored);
    if (fd >= 0) {
      *name = candidate;
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;
}

bool DataFolder::Rename(const std::string& from, const std::string& to) {
  return fd_ >= 0 && ::renameat(fd_, from.c_str(), fd_, to.c_str()) == 0;
}

bool DataFolder::Remove(const std::string& name) {
  return fd_ >= 0 && ::unlinkat(fd_, name.c_str(), 0) == 0;
}

}  // namespace kst
