// A stream buffer over a file that is opened only when it is a regular file,
// through the data door (platform/root_doors.h). The open never blocks (a
// pipe without a partner, a device) and the kind is judged on the
// descriptor opened, so the name cannot be swapped for something else
// between the check and the open.
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

  // Opens `native_path` for writing, making it when missing; its old
  // contents are cut off when `truncate` is set and kept (the writes going
  // to its end) otherwise. Nothing is cut from a file that is refused.
  RegularFileStatus OpenForWriting(const std::string& native_path, bool truncate);

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
  bool FlushWrites();

  int fd_ = -1;
  bool writing_ = false;
  bool write_failed_ = false;
  std::vector<char> buffer_;
  std::string refusal_;
};

}  // namespace kst

#endif  // KESTRANE_STATSUBSYSTEM_COMMON_REGULAR_FILE_H_
