#include "StatSubsystem/KestraneCollector/buffer_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "StatSubsystem/common/buffer_header_reader.h"
#include "platform/durable_file.h"
#include "platform/services.h"

namespace kst {

int BufferFile::Fail(int code, const std::string& what, int error) {
  problem_ = what + ": " + (error != 0 ? std::strerror(error) : "unknown cause");
  return code;
}

// Run as root, a buffer that another user could swap or change is neither
// read nor written: it may lie outside the home, where the start's own
// checks do not reach.
bool BufferFile::Refused(const std::string& native_path) {
  const std::string unsafe = UnsafePathReason(native_path);
  if (unsafe.empty()) return false;
  problem_ = "is refused: " + unsafe;
  return true;
}

int BufferFile::OpenExisting(const std::string& native_path, uint32_t header_size,
                             uint32_t record_width, uint64_t* cut_bytes) {
  if (cut_bytes != nullptr) *cut_bytes = 0;
  problem_.clear();
  path_ = native_path;
  if (Refused(native_path)) return -2;
  errno = 0;
  file_.open(native_path, std::ios::in | std::ios::out | std::ios::binary);
  if (!file_.is_open()) {
    const int error = errno;
    std::error_code ignored;
    if (error == ENOENT && std::filesystem::is_symlink(native_path, ignored)) {
      problem_ = "cannot be opened: it is a link to " +
                 std::filesystem::read_symlink(native_path, ignored).string() +
                 ", which does not exist";
      return -2;
    }
    return Fail(-2, "cannot be opened", error);
  }
  file_.seekp(0, std::ios::end);
  const int64_t length = static_cast<int64_t>(file_.tellp());
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
  file_.seekg(0);
  BufferHeaderLines lines;
  if (!ReadBufferHeaderLines(file_, &lines) ||
      !HeaderLinesDescribe(lines, header_size, record_width)) {
    problem_ = "does not end on a slot boundary, and its header lines do not describe slots of " +
               std::to_string(record_width) + " doubles (optCollsCount) from byte " +
               std::to_string(header_size) + " (optHeadGrpOffset) on: left unchanged";
    return -3;
  }
  std::error_code error;
  std::filesystem::resize_file(native_path, static_cast<uint64_t>(length) - torn, error);
  if (error) {
    problem_ = "ends in a torn slot that cannot be cut: " + error.message();
    return -3;
  }
  if (cut_bytes != nullptr) *cut_bytes = torn;
  return 0;
}

int BufferFile::Create(const std::string& native_path) {
  problem_.clear();
  path_ = native_path;
  if (Refused(native_path)) return -4;
  errno = 0;
  file_.open(native_path, std::ios::in | std::ios::out | std::ios::binary | std::ios::trunc);
  return file_.is_open() ? 0 : Fail(-4, "cannot be made", errno);
}

int BufferFile::WriteHeaderLines(const std::string& header_lines) {
  errno = 0;
  file_.write(header_lines.data(), static_cast<std::streamsize>(header_lines.size()));
  if (!file_.flush()) return Fail(-4, "cannot take its header lines", errno);
  if (!SyncFileToDisk(path_)) return Fail(-4, "cannot take its header lines", errno);
  return 0;
}

bool BufferFile::WriteSlotAndClose(uint64_t offset, const RingBufferSlot& slot) {
  errno = 0;
  file_.seekp(static_cast<std::streamoff>(offset));
  if (!WriteSlot(file_, slot) || !file_.flush()) {
    Fail(0, "cannot take the slot at byte " + std::to_string(offset), errno);
    return false;
  }
  file_.close();
  if (file_.fail()) {
    Fail(0, "cannot take the slot at byte " + std::to_string(offset), errno);
    return false;
  }
  return true;
}

}  // namespace kst
