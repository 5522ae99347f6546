// The collector's hold on its ring-buffer file during one tick: open the
// buffer there is (cutting a torn last slot) or make a new one, write one
// slot, close. The layout is ring_buffer.h's; the file is opened shared, so
// the exporter may read it meanwhile.
#ifndef KESTRANE_STATSUBSYSTEM_KESTRANECOLLECTOR_BUFFER_FILE_H_
#define KESTRANE_STATSUBSYSTEM_KESTRANECOLLECTOR_BUFFER_FILE_H_

#include <cstdint>
#include <string>

#include "StatSubsystem/common/ring_buffer.h"

namespace kst {

class BufferFile {
 public:
  BufferFile() = default;
  BufferFile(const BufferFile&) = delete;
  BufferFile& operator=(const BufferFile&) = delete;
  ~BufferFile();

  // Opens the existing buffer at `native_path` for writing. When the bytes
  // after its header lines end inside a slot (a slot write cut short by a
  // crash or a full disk), only those torn bytes are cut off and
  // *cut_bytes (may be null) tells how many; every whole slot stays. They
  // are cut only when the file's own header lines describe slots of
  // `record_width` doubles from byte `header_size` on: otherwise the width
  // is wrong, not the file, and the cut would eat whole slots.
  // 0; -2 it cannot be opened (or, run as root, another user could change
  // it); -3 it is no regular file, it is shorter than its header lines, its slots lack room for
  // the date and minute (record_width < 2), or a torn end cannot be cut
  // (its header disagrees, or the cut fails); the file is then unchanged.
  // Every failure leaves its cause in problem().
  int OpenExisting(const std::string& native_path, uint32_t header_size, uint32_t record_width,
                   uint64_t* cut_bytes);

  // Makes a new, empty buffer at `native_path`, truncating any file there.
  // 0; -4 it cannot be made (or, run as root, another user could change it).
  int Create(const std::string& native_path);

  // Writes the header lines into a buffer just made and forces them to the
  // disk before it returns, so that whoever records their size after this
  // call never describes a header the file lacks. 0; -4 they cannot be
  // written.
  int WriteHeaderLines(const std::string& header_lines);

  // Writes `slot` at byte `offset`, flushes and closes the file. False when
  // any step fails.
  bool WriteSlotAndClose(uint64_t offset, const RingBufferSlot& slot);

  // Why the last step failed, in words that follow the file's name
  // ("cannot be opened: No such file or directory"); empty after success.
  const std::string& problem() const { return problem_; }

 private:
  // Fails with `code` and the cause of the system error `error`.
  int Fail(int code, const std::string& what, int error);
  int OpenDoor(const std::string& native_path, int flags);

  int fd_ = -1;
  std::string path_;
  std::string problem_;
};

}  // namespace kst

#endif  // KESTRANE_STATSUBSYSTEM_KESTRANECOLLECTOR_BUFFER_FILE_H_
