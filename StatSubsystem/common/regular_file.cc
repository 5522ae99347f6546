#include "StatSubsystem/common/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/root_doors.h"

namespace kst {
namespace {

constexpr size_t kBufferBytes = 64 * 1024;

}  // namespace

RegularFileBuf::~RegularFileBuf() { Close(); }

bool OpenDataFileBuf(const std::string& native_path, int flags, RegularFileBuf* file) {
  std::string refusal;
  const int fd = OpenDataDoor(native_path, flags, 0666, &refusal);
  if (!refusal.empty()) {
    const bool reading = (flags & O_ACCMODE) == O_RDONLY;
    std::fprintf(stderr, "%s\n", DoorRefusal(reading ? "read" : "write", native_path, refusal).c_str());
    std::fflush(stderr);
  }
  return fd >= 0 && file->Adopt(fd, (flags & O_ACCMODE) != O_RDONLY) == RegularFileStatus::kOk;
}

RegularFileStatus RegularFileBuf::OpenForReading(const std::string& native_path) {
  Close();
  refusal_.clear();
  return Opened(OpenDataDoor(native_path, O_RDONLY, 0, &refusal_), false);
}

OutputFileStatus RegularFileBuf::OpenForOutput(const std::string& native_path, bool truncate,
                                               bool streams_only) {
  Close();
  refusal_.clear();
  // The name only chooses the way: the door takes nothing but a regular
  // file, and a stream's open nothing but a stream. Opening a FIFO to look
  // at it would end its reader's input.
  struct stat st {};
  const bool regular = ::stat(native_path.c_str(), &st) != 0 || S_ISREG(st.st_mode);
  if (!regular && !S_ISFIFO(st.st_mode) && !S_ISCHR(st.st_mode)) return OutputFileStatus::kUnfit;
  if (!streams_only && regular) {
    const int fd = OpenDataDoor(native_path, O_WRONLY | O_CREAT | (truncate ? O_TRUNC : O_APPEND), 0666,
                                &refusal_);
    if (fd >= 0) {
      return Adopt(fd, true) == RegularFileStatus::kOk ? OutputFileStatus::kOk : OutputFileStatus::kCannotOpen;
    }
    return errno == ENXIO || errno == EISDIR ? OutputFileStatus::kUnfit : OutputFileStatus::kCannotOpen;
  }
  return OpenStream(native_path, truncate);
}

OutputFileStatus RegularFileBuf::OpenStream(const std::string& native_path, bool truncate) {
  // A stream is opened by name: run as root, only where no other user could
  // put another file under it.
  const size_t slash = native_path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : native_path.substr(0, slash == 0 ? 1 : slash);
  if (std::string unsafe = UnsafePathReason(folder); !unsafe.empty()) {
    refusal_ = std::move(unsafe);
    return OutputFileStatus::kCannotOpen;
  }
  const int fd = ::open(native_path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | (truncate ? 0 : O_APPEND));
  if (fd < 0) {
    const int error = errno;
    struct stat st {};
    // A FIFO without a reader answers ENXIO, as do a socket and a device
    // without its hardware.
    if (error == ENXIO && ::stat(native_path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode)) {
      return OutputFileStatus::kNoReader;
    }
    return error == ENXIO || error == EISDIR ? OutputFileStatus::kUnfit : OutputFileStatus::kCannotOpen;
  }
  if (Take(fd, true, true) != RegularFileStatus::kOk) return OutputFileStatus::kUnfit;
  struct stat st {};
  // A regular file is reached through the door only.
  if (::fstat(fd_, &st) != 0 || S_ISREG(st.st_mode)) {
    Close();
    return OutputFileStatus::kUnfit;
  }
  return OutputFileStatus::kOk;
}

RegularFileStatus RegularFileBuf::Opened(int fd, bool writing) {
  if (fd >= 0) return Adopt(fd, writing);
  return errno == ENXIO || errno == EISDIR ? RegularFileStatus::kNotRegular : RegularFileStatus::kCannotOpen;
}

RegularFileStatus RegularFileBuf::Adopt(int fd, bool writing) { return Take(fd, writing, false); }

RegularFileStatus RegularFileBuf::Take(int fd, bool writing, bool streams) {
  Close();
  struct stat st {};
  const bool fit = ::fstat(fd, &st) == 0 &&
                   (S_ISREG(st.st_mode) || (streams && (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode))));
  if (!fit) {
    ::close(fd);
    return RegularFileStatus::kNotRegular;
  }
  // Waiting is harmless on a regular file, and a stream's reader is there
  // to wait for.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  fd_ = fd;
  writing_ = writing;
  write_failed_ = false;
  buffer_.resize(kBufferBytes);
  setg(buffer_.data(), buffer_.data(), buffer_.data());
  if (writing_) {
    setp(buffer_.data(), buffer_.data() + buffer_.size());
  } else {
    setp(nullptr, nullptr);
  }
  return RegularFileStatus::kOk;
}

bool RegularFileBuf::FlushWrites() {
  const char* next = pbase();
  while (next < pptr()) {
    const ssize_t n = ::write(fd_, next, static_cast<size_t>(pptr() - next));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      write_failed_ = true;
      break;
    }
    next += n;
  }
  setp(buffer_.data(), buffer_.data() + buffer_.size());
  return !write_failed_;
}

bool RegularFileBuf::Close() {
  if (fd_ < 0) return true;
  if (writing_) FlushWrites();
  if (::close(fd_) != 0 && writing_) write_failed_ = true;
  fd_ = -1;
  setg(nullptr, nullptr, nullptr);
  setp(nullptr, nullptr);
  return !write_failed_;
}

RegularFileBuf::int_type RegularFileBuf::underflow() {
  if (fd_ < 0 || writing_) return traits_type::eof();
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  ssize_t n;
  do {
    n = ::read(fd_, buffer_.data(), buffer_.size());
  } while (n < 0 && errno == EINTR);
  if (n <= 0) return traits_type::eof();
  setg(buffer_.data(), buffer_.data(), buffer_.data() + n);
  return traits_type::to_int_type(*gptr());
}

RegularFileBuf::int_type RegularFileBuf::overflow(int_type c) {
  if (fd_ < 0 || !writing_ || !FlushWrites()) return traits_type::eof();
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  *pptr() = traits_type::to_char_type(c);
  pbump(1);
  return c;
}

int RegularFileBuf::sync() {
  if (fd_ >= 0 && writing_ && !FlushWrites()) return -1;
  return 0;
}

RegularFileBuf::pos_type RegularFileBuf::seekoff(off_type offset, std::ios_base::seekdir direction,
                                                 std::ios_base::openmode) {
  const pos_type failed(off_type(-1));
  if (fd_ < 0 || (writing_ && !FlushWrites())) return failed;
  const off_t kernel = ::lseek(fd_, 0, SEEK_CUR);
  if (kernel < 0) return failed;
  // What was read ahead into the buffer is not yet consumed.
  const off_t here = kernel - (egptr() - gptr());
  off_t target;
  if (direction == std::ios_base::beg) {
    target = static_cast<off_t>(offset);
  } else if (direction == std::ios_base::cur) {
    if (offset == 0) return pos_type(here);
    target = here + static_cast<off_t>(offset);
  } else {
    const off_t end = ::lseek(fd_, 0, SEEK_END);
    if (end < 0) return failed;
    target = end + static_cast<off_t>(offset);
  }
  if (target < 0 || ::lseek(fd_, target, SEEK_SET) < 0) return failed;
  setg(buffer_.data(), buffer_.data(), buffer_.data());
  return pos_type(target);
}

RegularFileBuf::pos_type RegularFileBuf::seekpos(pos_type position, std::ios_base::openmode which) {
  return seekoff(off_type(position), std::ios_base::beg, which);
}

}  // namespace kst
