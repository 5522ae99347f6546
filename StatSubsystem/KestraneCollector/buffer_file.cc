#include "StatSubsystem/KestraneCollector/buffer_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "StatSubsystem/common/buffer_header_reader.h"
#include "StatSubsystem/common/regular_file.h"
#include "platform/durable_file.h"
#include "platform/root_doors.h"

namespace kst {

int BufferFile::Fail(int code, const std::string& what, int error) {
  problem_ = what + ": " + (error != 0 ? std::strerror(error) : "unknown cause");
  return code;
}

// Opens through the data door: run as root, a buffer that another user
// could swap or change is neither read nor written (it may lie outside the
// home, where the start's own checks do not reach); nor is one that is no
// regular file. -1 with problem() set when refused.
int BufferFile::OpenDoor(const std::string& native_path, int flags) {
  std::string refusal;
  errno = 0;
  const int fd = OpenDataDoor(native_path, flags, 0666, &refusal);
  if (fd < 0 && !refusal.empty()) problem_ = "is refused: " + refusal;
  return fd;
}

BufferFile::~BufferFile() {
  if (fd_ >= 0) ::close(fd_);
}

int BufferFile::OpenExisting(const std::string& native_path, uint32_t header_size,
                             uint32_t record_width, uint64_t* cut_bytes) {
  if (cut_bytes != nullptr) *cut_bytes = 0;
  problem_.clear();
  path_ = native_path;
  if (fd_ >= 0) ::close(fd_);
  fd_ = OpenDoor(native_path, O_RDWR);
  if (fd_ < 0) {
    const int error = errno;
    // What is no regular file never becomes a buffer: no retry mends it.
    if (error == ENXIO) return -3;
    if (error == EISDIR) return Fail(-2, "cannot be opened", error);
    if (!problem_.empty()) return -2;
    std::error_code ignored;
    if (error == ENOENT && std::filesystem::is_symlink(native_path, ignored)) {
      problem_ = "cannot be opened: it is a link to " +
                 std::filesystem::read_symlink(native_path, ignored).string() +
                 ", which does not exist";
      return -2;
    }
    return Fail(-2, "cannot be opened", error);
  }
  const int64_t length = static_cast<int64_t>(::lseek(fd_, 0, SEEK_END));
  if (length < 0) {
    problem_ = "has no length: it is not a regular file";
    return -3;
  }
  // A file cut short of its header lines, or slots without room for the
  // date and minute, would be overwritten into something unreadable.
  if (length < static_cast<int64_t>(header_size)) {
    problem_ = "is shorter than its header lines (" + std::to_string(length) +
               " bytes, optHeadGrpOffset " + std::to_string(header_size) + ")";
    return -3;
  }
  if (record_width < kSlotHeadDoubles) {
    problem_ = "cannot be written with optCollsCount " + std::to_string(record_width) +
               ": a slot needs room for its date and minute";
    return -3;
  }
  const uint64_t torn =
      static_cast<uint64_t>(length - static_cast<int64_t>(header_size)) % SlotBytes(record_width);
  if (torn == 0) return 0;
  RegularFileBuf header;
  const int reading = ::dup(fd_);
  ::lseek(fd_, 0, SEEK_SET);
  std::istream header_in(&header);
  BufferHeaderLines lines;
  if (reading < 0 || header.Adopt(reading, false) != RegularFileStatus::kOk ||
      !ReadBufferHeaderLines(header_in, &lines) ||
      !HeaderLinesDescribe(lines, header_size, record_width)) {
    problem_ = "does not end on a slot boundary, and its header lines do not describe slots of " +
               std::to_string(record_width) + " doubles (optCollsCount) from byte " +
               std::to_string(header_size) + " (optHeadGrpOffset) on: left unchanged";
    return -3;
  }
  if (::ftruncate(fd_, static_cast<off_t>(static_cast<uint64_t>(length) - torn)) != 0) {
    problem_ = std::string("ends in a torn slot that cannot be cut: ") + std::strerror(errno);
    return -3;
  }
  if (cut_bytes != nullptr) *cut_bytes = torn;
  return 0;
}

int BufferFile::Create(const std::string& native_path) {
  problem_.clear();
  path_ = native_path;
  if (fd_ >= 0) ::close(fd_);
  fd_ = OpenDoor(native_path, O_RDWR | O_CREAT | O_TRUNC);
  if (fd_ >= 0) return 0;
  return problem_.empty() ? Fail(-4, "cannot be made", errno) : -4;
}

int BufferFile::WriteHeaderLines(const std::string& header_lines) {
  RegularFileBuf out_buffer;
  const int writing = ::dup(fd_);
  std::ostream out(&out_buffer);
  errno = 0;
  if (writing < 0 || out_buffer.Adopt(writing, true) != RegularFileStatus::kOk ||
      !out.write(header_lines.data(), static_cast<std::streamsize>(header_lines.size())) ||
      !out_buffer.Close()) {
    return Fail(-4, "cannot take its header lines", errno);
  }
  if (!SyncFileToDisk(fd_, path_)) return Fail(-4, "cannot take its header lines", errno);
  return 0;
}

bool BufferFile::WriteSlotAndClose(uint64_t offset, const RingBufferSlot& slot) {
  RegularFileBuf out_buffer;
  std::ostream out(&out_buffer);
  errno = 0;
  const bool adopted = fd_ >= 0 && out_buffer.Adopt(fd_, true) == RegularFileStatus::kOk;
  fd_ = -1;
  if (!adopted || out_buffer.pubseekpos(static_cast<std::streamoff>(offset), std::ios::out) < 0 ||
      !WriteSlot(out, slot) || !out_buffer.Close()) {
    Fail(0, "cannot take the slot at byte " + std::to_string(offset), errno);
    return false;
  }
  return true;
}

}  // namespace kst
