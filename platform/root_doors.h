// Root's doors: the one way a process reaches a program it starts, a library
// it loads and a data file it reads or writes, so that what was checked is
// what is used.
//
// Run as root, a door walks the path from "/" one component at a time on
// descriptors and refuses it unless every folder from "/" down and the file
// itself belong to root (or this process's user) and may be written by
// neither group nor others. A root-owned folder with the sticky bit, above
// KestraneHome(), protects the entries root owns in it and nothing else (a
// missing entry there could be made by anyone). Root's own symbolic links
// are followed, at most 8 on one path, their targets walked the same way
// (a relative target from the link's folder); another user's link is
// refused. The door then hands out the descriptor it checked; the name is
// never used again. Not run as root, a door opens the name as the system
// resolves it and checks only the kind of file.
//
// A refusal is one text naming the component at fault: "<path> belongs to
// user N, not root", "<path> may be written by its group or by other
// users", "<path> is a symbolic link", "<path> leads through too many
// symbolic links", each ending "; only root may own and change it", or
// "<path> is not a regular file; ..." for a data file.
//
// Every descriptor a door returns is close-on-exec and owned by the caller.
// Threads: any thread may call.
#ifndef KESTRANE_PLATFORM_ROOT_DOORS_H_
#define KESTRANE_PLATFORM_ROOT_DOORS_H_

#include <sys/types.h>

#include <cstdio>
#include <string>
#include <string_view>

namespace kst {

// Ends every refusal of a file another user could change.
inline constexpr char kOnlyRootMayChange[] = "; only root may own and change it";

// The program at `path` (a native path), opened for starting it with
// execveat(fd, "", ..., AT_EMPTY_PATH). *script is set when it is a script
// ("#!"): the descriptor must then stay open across the exec, since the
// interpreter reads the script through it; run as root, the interpreter
// is checked like any program (the system opens it by name: the walk has
// made sure no other user can change any component of it). -1 with errno
// set when it cannot be opened, or with EACCES and *refusal when refused.
int OpenProgramDoor(const std::string& path, bool* script, std::string* refusal);

// The library at `path`, opened for dlopen of "/proc/self/fd/N" (which the
// caller keeps open while the library is loaded, so that no other library
// is ever loaded under the same name). -1 as above.
int OpenLibraryDoor(const std::string& path, std::string* refusal);

// A data file at `path`, opened with `flags` (O_RDONLY, O_WRONLY or O_RDWR,
// with O_CREAT, O_TRUNC, O_APPEND, O_EXCL; O_NOFOLLOW refuses a link as the
// file itself, also root's own) and `mode` for a file it makes. The open
// never blocks and never cuts a file it refuses: a FIFO, device, socket or
// folder gives -1 with errno ENXIO (EISDIR for a folder opened for writing)
// and *refusal "<path> is not a regular file; ..."; a file another user
// could change, EACCES and *refusal. The
// descriptor returned is blocking.
int OpenDataDoor(const std::string& path, int flags, mode_t mode, std::string* refusal);

// The data file at `path` read whole through the data door; false as
// OpenDataDoor fails, or when the read fails.
bool ReadDataFile(const std::string& path, std::string* contents, std::string* refusal);
// Replaces the contents of the data file at `path` (made 0666 less the
// umask when missing) through the data door; false when any step fails.
bool WriteDataFile(const std::string& path, std::string_view contents, std::string* refusal);

// A data file at `path` opened through the data door as a stdio stream,
// `mode` as fopen takes it: "r", "w" (made 0666 less the umask, cut) or "a"
// (made, written at its end), each also with "b". Null as OpenDataDoor
// fails.
std::FILE* OpenDataStream(const std::string& path, const char* mode, std::string* refusal);

// The log line for a refusal: "refusing to <doing> <path> as root: <refusal>"
// (without "as root" when this process is not root).
std::string DoorRefusal(std::string_view doing, const std::string& path, const std::string& refusal);

// Why root may not use the name `path` (a native path; a relative one is
// taken from the current folder) where an interface takes only a name (the
// registry's database and its journals, the installation's folders): the
// walk above, where a missing file, or a missing folder on the way to it,
// counts only in a folder no other user may write. Also judges folders.
// Empty when nothing is wrong or when this process is not root.
std::string UnsafePathReason(const std::string& path);

// A folder reached through the data door and held by its descriptor: files
// in it are made, opened, renamed and removed relative to that descriptor,
// so that a file can be written whole under a temporary name and renamed
// into place without another user choosing where. Run as root, the folder
// may not be writable by group or others, sticky or not. Not thread-safe.
class DataFolder {
 public:
  DataFolder() = default;
  DataFolder(const DataFolder&) = delete;
  DataFolder& operator=(const DataFolder&) = delete;
  ~DataFolder();

  // False (with errno, or EACCES and *refusal) when the folder cannot be
  // reached or is refused.
  bool Open(const std::string& folder, std::string* refusal);

  // A file in the folder (a plain name, no slash), as OpenDataDoor opens one.
  int OpenFile(const std::string& name, int flags, mode_t mode, std::string* refusal);
  // Makes a new file named `prefix` and six random characters (O_EXCL); its
  // name goes to *name.
  int CreateTemporary(const std::string& prefix, mode_t mode, std::string* name);
  // Renames within the folder, replacing `to`.
  bool Rename(const std::string& from, const std::string& to);
  bool Remove(const std::string& name);

  const std::string& path() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace kst

#endif  // KESTRANE_PLATFORM_ROOT_DOORS_H_
