#include "Ruleforge/csv_lines.h"

#include <algorithm>
#include <cstring>

#include "platform/paths.h"
#include "platform/root_doors.h"

namespace kst {

DataFile OpenDataFile(const std::string& windows_path, const char* mode) {
  const std::string native = NativePath(windows_path);
  std::string refusal;
  DataFile file(OpenDataStream(native, mode, &refusal));
  if (!refusal.empty()) {
    std::fprintf(stderr, "%s\n", DoorRefusal(mode[0] == 'r' ? "read" : "write", native, refusal).c_str());
  }
  return file;
}

LineReader::LineReader(std::FILE* file, size_t longestLine, LongLines longLines)
    : file_(file),
      longest_(longestLine),
      long_lines_(longLines),
      capacity_(std::max<size_t>(size_t{1} << 20, 2 * (longestLine + 1))),
      buffer_(std::make_unique<char[]>(capacity_)) {}

// Moves what is left to the front and reads behind it; false when nothing
// more came.
bool LineReader::Fill() {
  if (at_end_) return false;
  std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
  end_ -= begin_;
  begin_ = 0;
  size_t n = std::fread(buffer_.get() + end_, 1, capacity_ - end_, file_);
  end_ += n;
  if (n == 0) at_end_ = true;
  return n > 0;
}

bool LineReader::Next(std::string_view* line) {
  // A line of exactly the longest length still ends at its line feed when
  // the reading stops at long lines; a split piece holds the feed within.
  const size_t window = long_lines_ == LongLines::kStop ? longest_ + 1 : longest_;
  for (;;) {
    const size_t available = end_ - begin_;
    const char* start = buffer_.get() + begin_;
    const char* feed = static_cast<const char*>(std::memchr(start, '\n', std::min(available, window)));
    size_t length;
    size_t taken;
    if (feed != nullptr) {
      length = static_cast<size_t>(feed - start);
      taken = length + 1;
    } else if (available >= window) {
      if (long_lines_ == LongLines::kStop) return false;
      length = taken = longest_;
    } else if (Fill()) {
      continue;
    } else if (available > 0) {
      length = taken = available;
    } else {
      return false;
    }
    *line = std::string_view(start, length);
    if (const void* nul = std::memchr(start, '\0', length)) {
      *line = line->substr(0, static_cast<size_t>(static_cast<const char*>(nul) - start));
    }
    begin_ += taken;
    consumed_ += taken;
    return true;
  }
}

bool FieldCursor::Next(std::string_view* field) {
  size_t start = 0;
  while (start < rest_.size() && rest_[start] == ';') ++start;
  if (start == rest_.size()) {
    rest_ = {};
    return false;
  }
  const void* semicolon = std::memchr(rest_.data() + start, ';', rest_.size() - start);
  size_t end = semicolon ? static_cast<size_t>(static_cast<const char*>(semicolon) - rest_.data()) : rest_.size();
  *field = rest_.substr(start, end - start);
  rest_.remove_prefix(end);
  return true;
}

}  // namespace kst
