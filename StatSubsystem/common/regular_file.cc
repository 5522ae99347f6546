#include "StatSubsystem/common/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/root_doors.h"

namespace kst {
namespace {

constexpr size_t kBufferBytes = 64 * 1024;

}  // namespace

RegularFileBuf::~RegularFileBuf() { Close(); }

RegularFileStatus RegularFileBuf::OpenForReading(const std::string& native_path) {
  Close();
  refusal_.clear();
  return Opened(OpenDataDoor(native_path, O_RDONLY, 0, &refusal_), false);
}

RegularFileStatus RegularFileBuf::OpenForWriting(const std::string& native_path, bool truncate) {
  Close();
  refusal_.clear();
  return Opened(OpenDataDoor(native_path, O_WRONLY | O_CREAT | (truncate ? O_TRUNC : O_APPEND), 0666,
                             &refusal_),
                true);
}

RegularFileStatus RegularFileBuf::Opened(int fd, bool writing) {
  if (fd >= 0) return Adopt(fd, writing);
  return errno == ENXIO || errno == EISDIR ? RegularFileStatus::kNotRegular : RegularFileStatus::kCannotOpen;
}

RegularFileStatus RegularFileBuf::Adopt(int fd, bool writing) {
  Close();
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return RegularFileStatus::kNotRegular;
  }
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
