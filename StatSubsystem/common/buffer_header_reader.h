// Opening the collector's ring buffer for reading and reading its two header
// lines, so that a name that is no file (a pipe blocks the open for good, a
// device never ends) or a file without proper header lines is refused rather
// than read without end.
#ifndef KESTRANE_STATSUBSYSTEM_COMMON_BUFFER_HEADER_READER_H_
#define KESTRANE_STATSUBSYSTEM_COMMON_BUFFER_HEADER_READER_H_

#include <cstddef>
#include <fstream>
#include <iosfwd>
#include <string>

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

// Opens `native_path` for binary reading when it names a regular file (links
// are followed). Only kOk leaves *in open.
BufferFileStatus OpenRingBufferFile(const std::string& native_path, std::ifstream* in);

// Reads one header line up to its LF (consumed, not stored) and splits it at
// its first ";": *first the field before it, *rest the text after it. False
// when the input ends, or no LF comes within kMaxHeaderLineLength
// characters, or the line holds no ";".
bool ReadHeaderFields(std::istream& in, std::string* first, std::string* rest);

// Opens the buffer and reads both header lines, as an export does.
BufferFileStatus CheckRingBufferFile(const std::string& native_path);

// "cannot be opened", "is not a regular file", "has damaged header lines";
// empty for kOk.
const char* BufferFileProblem(BufferFileStatus status);

}  // namespace kst

#endif  // KESTRANE_STATSUBSYSTEM_COMMON_BUFFER_HEADER_READER_H_
