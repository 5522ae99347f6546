// A stream buffer over a file that is opened only when it is of a kind the
// caller can use: for reading a regular file, for writing also a stream. A
// regular file is reached through the data door (platform/root_doors.h).
// The open never blocks (a pipe without a partner, a device) and the kind is
// judged on the descriptor opened, so the name cannot be swapped for
// something else between the check and the open.
#ifndef KESTRANE_STATSUBSYSTEM_COMMON_REGULAR_FILE_H_
#define KESTRANE_STATSUBSYSTEM_COMMON_REGULAR_FILE_H_

#include <streambuf>
#include <string>
#include <vector>

namespace kst {

enum class RegularFileStatus {
  kOk,
  kCannotOpen,  // missing, not permitted, or no room
  kNotRegular,  // a folder, pipe, device or socket (or a link to one)
};

// What an output that may also be a stream was found to be.
enum class OutputFileStatus {
  kOk,
  kCannotOpen,  // missing folder, not permitted, or no room
  kUnfit,       // a folder, block device or socket (or a link to one)
  kNoReader,    // a FIFO that no process holds open for reading
};

// One open file, for reading or for writing, used through a std::istream or
// std::ostream built on it. Run as root, a file another user could change
// gives kCannotOpen, refusal() telling why. Not thread-safe.
class RegularFileBuf final : public std::streambuf {
 public:
  RegularFileBuf() = default;
  RegularFileBuf(const RegularFileBuf&) = delete;
  RegularFileBuf& operator=(const RegularFileBuf&) = delete;
  ~RegularFileBuf() override;

  // Opens `native_path` for reading (links are followed; run as root, only
  // root's own).
  RegularFileStatus OpenForReading(const std::string& native_path);

  // Opens `native_path` for writing: a regular file, made when missing, its
  // old contents cut off when `truncate` is set and kept (the writes going
  // to its end) otherwise; or a character device (/dev/null, a terminal) or
  // a FIFO that a reader holds open, as they stand. A FIFO without a reader
  // is refused at once rather than waited for. Nothing is cut from a file
  // that is refused. With `streams_only` a regular file is refused (kUnfit)
  // and none is made. Run as root, a stream is opened only in a folder no
  // other user could change.
  OutputFileStatus OpenForOutput(const std::string& native_path, bool truncate,
                                 bool streams_only = false);

  // Takes over `fd`, already open for reading or for writing (closing it
  // when it is not a regular file).
  RegularFileStatus Adopt(int fd, bool writing);

  bool is_open() const { return fd_ >= 0; }

  // Why the last open was refused ("<path> is not a regular file; ...",
  // "<path> may be written by ..."); empty when it was not.
  const std::string& refusal() const { return refusal_; }

  // Writes what is buffered and closes. False when a write failed at any
  // time since the open.
  bool Close();

 protected:
  int_type underflow() override;
  int_type overflow(int_type c) override;
  int sync() override;
  pos_type seekoff(off_type offset, std::ios_base::seekdir direction,
                   std::ios_base::openmode which) override;
  pos_type seekpos(pos_type position, std::ios_base::openmode which) override;

 private:
  RegularFileStatus Opened(int fd, bool writing);
  OutputFileStatus OpenStream(const std::string& native_path, bool truncate);
  // Takes `fd` when it is a regular file, or with `streams` a character
  // device or FIFO; closes it otherwise.
  RegularFileStatus Take(int fd, bool writing, bool streams);
  bool FlushWrites();

  int fd_ = -1;
  bool writing_ = false;
  bool write_failed_ = false;
  std::vector<char> buffer_;
  std::string refusal_;
};

// Opens the data file at `native_path` into `file` through the data door
// with open's `flags` (O_RDONLY, or O_WRONLY with O_CREAT, O_TRUNC or
// O_APPEND; made 0666 less the umask); a refusal (another user's file, or
// no regular file) goes on standard error, the running program's log.
bool OpenDataFileBuf(const std::string& native_path, int flags, RegularFileBuf* file);

}  // namespace kst

#endif  // KESTRANE_STATSUBSYSTEM_COMMON_REGULAR_FILE_H_
