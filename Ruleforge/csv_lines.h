// Reading a large CSV statistics file line by line and field by field
// without a string per line or per cell.
#ifndef KESTRANE_RULEFORGE_CSV_LINES_H_
#define KESTRANE_RULEFORGE_CSV_LINES_H_

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace kst {

struct DataFileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using DataFile = std::unique_ptr<std::FILE, DataFileCloser>;

// The file at `windows_path` opened through the data door (platform/
// root_doors.h) with fopen's `mode` ("r", "w"); null when it cannot be
// opened, and a refusal (another user's file, or no regular file) goes on
// the service's log.
DataFile OpenDataFile(const std::string& windows_path, const char* mode);

class LineReader {
 public:
  // What a line longer than the longest one read whole does: kSplit hands
  // it out in pieces of the longest length (as fgets does with a buffer of
  // that length + 1); kStop ends the reading there (as getline does).
  enum class LongLines { kSplit, kStop };

  // Borrows `file`, which must stay open while the reader is used.
  LineReader(std::FILE* file, size_t longestLine, LongLines longLines);

  // The next line without its line feed, up to its first NUL byte, valid
  // until the next call; false at the end of the file or at a line that
  // stops the reading.
  bool Next(std::string_view* line);
  // Bytes of the file handed out so far, line feeds included.
  uint64_t consumed() const { return consumed_; }

 private:
  bool Fill();

  std::FILE* file_;
  size_t longest_;
  LongLines long_lines_;
  size_t capacity_;
  std::unique_ptr<char[]> buffer_;
  size_t begin_ = 0;
  size_t end_ = 0;
  bool at_end_ = false;
  uint64_t consumed_ = 0;
};

// The fields of one line between ';' separators; empty fields do not count
// (as the standard tokenizer splits).
class FieldCursor {
 public:
  explicit FieldCursor(std::string_view line) : rest_(line) {}
  bool Next(std::string_view* field);

 private:
  std::string_view rest_;
};

}  // namespace kst

#endif  // KESTRANE_RULEFORGE_CSV_LINES_H_
