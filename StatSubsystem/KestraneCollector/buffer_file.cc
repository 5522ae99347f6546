#include "StatSubsystem/KestraneCollector/buffer_file.h"

#include <filesystem>
#include <system_error>

#include "platform/durable_file.h"

namespace kst {

int BufferFile::OpenExisting(const std::string& native_path, uint32_t header_size,
                             uint32_t record_width, uint64_t* cut_bytes) {
  if (cut_bytes != nullptr) *cut_bytes = 0;
  path_ = native_path;
  file_.open(native_path, std::ios::in | std::ios::out | std::ios::binary);
  if (!file_.is_open()) return -2;
  file_.seekp(0, std::ios::end);
  const int64_t length = static_cast<int64_t>(file_.tellp());
  // A file cut short of its header lines, or slots without room for the
  // date and minute, would be overwritten into something unreadable.
  if (length < static_cast<int64_t>(header_size) || record_width < kSlotHeadDoubles) return -3;
  const uint64_t torn =
      static_cast<uint64_t>(length - static_cast<int64_t>(header_size)) % SlotBytes(record_width);
  if (torn == 0) return 0;
  std::error_code error;
  std::filesystem::resize_file(native_path, static_cast<uint64_t>(length) - torn, error);
  if (error) return -3;
  if (cut_bytes != nullptr) *cut_bytes = torn;
  return 0;
}

int BufferFile::Create(const std::string& native_path) {
  path_ = native_path;
  file_.open(native_path, std::ios::in | std::ios::out | std::ios::binary | std::ios::trunc);
  return file_.is_open() ? 0 : -4;
}

int BufferFile::WriteHeaderLines(const std::string& header_lines) {
  file_.write(header_lines.data(), static_cast<std::streamsize>(header_lines.size()));
  if (!file_.flush() || !SyncFileToDisk(path_)) return -4;
  return 0;
}

bool BufferFile::WriteSlotAndClose(uint64_t offset, const RingBufferSlot& slot) {
  file_.seekp(static_cast<std::streamoff>(offset));
  if (!WriteSlot(file_, slot) || !file_.flush()) return false;
  file_.close();
  return !file_.fail();
}

}  // namespace kst
