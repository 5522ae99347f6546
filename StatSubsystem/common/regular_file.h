// A stream buffer over a file that is opened only when it is of a kind the
// caller can use: for reading a regular file, for writing also a stream.
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
// std::ostream built on it. Not thread-safe.
class RegularFileBuf final : public std::streambuf {
 public:
  RegularFileBuf() = default;
  RegularFileBuf(const RegularFileBuf&) = delete;
  RegularFileBuf& operator=(const RegularFileBuf&) = delete;
  ~RegularFileBuf() override;

  // Opens `native_path` for reading (links are followed).
  RegularFileStatus OpenForReading(const std::string& native_path);

  // Opens `native_path` for writing: a regular file, made when missing, its
  // old contents cut off when `truncate` is set and kept (the writes going
  // to its end) otherwise; or a character device (/dev/null, a terminal) or
  // a FIFO that a reader holds open, as they stand. A FIFO without a reader
  // is refused at once rather than waited for. Nothing is cut from a file
  // that is refused. With `streams_only` a regular file is refused (kUnfit)
  // and none is made.
  OutputFileStatus OpenForOutput(const std::string& native_path, bool truncate,
                                 bool streams_only = false);

  bool is_open() const { return fd_ >= 0; }

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
  // Takes `fd` when it is a regular file, or with `streams` a character
  // device or FIFO; closes it otherwise.
  RegularFileStatus Adopt(int fd, bool writing, bool streams = false);
  bool FlushWrites();

  int fd_ = -1;
  bool writing_ = false;
  bool write_failed_ = false;
  std::vector<char> buffer_;
};

}  // namespace kst

#endif  // KESTRANE_STATSUBSYSTEM_COMMON_REGULAR_FILE_H_
