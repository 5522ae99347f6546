// Opening the collector's ring buffer for reading and reading its two header
// lines, so that a name that is no file (a pipe blocks the open for good, a
// device never ends) or a file without proper header lines is refused rather
// than read without end, and so that header lines that do not describe the
// slots the registry names are found before any slot is read or cut.
#ifndef KESTRANE_STATSUBSYSTEM_COMMON_BUFFER_HEADER_READER_H_
#define KESTRANE_STATSUBSYSTEM_COMMON_BUFFER_HEADER_READER_H_

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>

#include "StatSubsystem/common/regular_file.h"

namespace kst {

// The longest header line read, without its LF. The readers of the
// exporter's CSV take lines of up to 1,048,575 characters; the exporter
// drops a field of each line, so every line it passes on fits them.
inline constexpr size_t kMaxHeaderLineLength = 1048576;

enum class BufferFileStatus {
  kOk,
  kCannotOpen,     // missing or not readable
  kNotRegular,     // a folder, pipe, device or socket (or a link to one)
  kDamagedHeader,  // a header line without ";" or without a LF in bound
};

// Opens `native_path` for reading when it names a regular file (links are
// followed; the open never blocks). Only kOk leaves *file open.
BufferFileStatus OpenRingBufferFile(const std::string& native_path, RegularFileBuf* file);

// Reads one header line up to its LF (consumed, not stored) and splits it at
// its first ";": *first the field before it, *rest the text after it. False
// when the input ends, or no LF comes within kMaxHeaderLineLength
// characters, or the line holds no ";".
bool ReadHeaderFields(std::istream& in, std::string* first, std::string* rest);

// Both header lines of a buffer as read from its start.
struct BufferHeaderLines {
  std::string group;  // the group line without its first field and LF
  std::string names;  // the header line likewise
  uint64_t bytes = 0; // both lines with their LFs
};

// Reads both header lines at the stream's position. False when either is
// damaged (as ReadHeaderFields).
bool ReadBufferHeaderLines(std::istream& in, BufferHeaderLines* lines);

// True when the lines are those of slots of `record_width` doubles that
// begin at byte `header_size` (optCollsCount and optHeadGrpOffset): they
// end exactly there and each names record_width columns.
bool HeaderLinesDescribe(const BufferHeaderLines& lines, uint32_t header_size,
                         uint32_t record_width);

// Opens the buffer and reads both header lines, as an export does, and
// checks them against the collector's optHeadGrpOffset and optCollsCount
// where the registry holds both.
BufferFileStatus CheckRingBufferFile(const std::string& native_path);

// "cannot be opened", "is not a regular file", "has damaged header lines";
// empty for kOk.
const char* BufferFileProblem(BufferFileStatus status);

}  // namespace kst

#endif  // KESTRANE_STATSUBSYSTEM_COMMON_BUFFER_HEADER_READER_H_
