#include "KestraneAlerter/text_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>

#include "KestraneAlerter/alerter_log.h"
#include "platform/paths.h"
#include "platform/root_doors.h"

namespace kst {

TextReader::TextReader(std::string_view contents) {
  text_.reserve(contents.size());
  for (size_t i = 0; i < contents.size(); ++i) {
    if (contents[i] == '\r' && i + 1 < contents.size() && contents[i + 1] == '\n') continue;
    text_.push_back(contents[i]);
  }
}

bool TextReader::Open(const std::string& windows_path, TextReader* reader) {
  const std::string native = NativePath(windows_path);
  // A profile names programs to run: run as root, one that another user
  // could change is not read, wherever the root directory lies; and what is
  // no regular file (a FIFO would hold the check cycle) is not read at all.
  std::string contents, refusal;
  if (!ReadDataFile(native, &contents, &refusal)) {
    if (!refusal.empty()) AlerterLog(DoorRefusal("read", native, refusal));
    return false;
  }
  *reader = TextReader(contents);
  return true;
}

int TextReader::Peek() const {
  return AtEnd() ? -1 : static_cast<unsigned char>(text_[pos_]);
}

int TextReader::Get() {
  return AtEnd() ? -1 : static_cast<unsigned char>(text_[pos_++]);
}

bool TextReader::ReadLine(size_t buffer_size, std::string* line) {
  line->clear();
  if (AtEnd() || buffer_size < 2) return false;
  while (line->size() + 1 < buffer_size && !AtEnd()) {
    char c = text_[pos_++];
    line->push_back(c);
    if (c == '\n') break;
  }
  return true;
}

bool TextReader::ReadLineDroppingEnd(size_t buffer_size, std::string* line) {
  if (!ReadLine(buffer_size, line)) return false;
  line->pop_back();
  return true;
}

static bool IsSpace(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

void TextReader::SkipSpace() {
  while (IsSpace(Peek())) ++pos_;
}

bool TextReader::ScanNumber(uint64_t* magnitude, bool* negative) {
  SkipSpace();
  size_t start = pos_;
  *negative = false;
  if (Peek() == '+' || Peek() == '-') *negative = Get() == '-';
  if (Peek() < '0' || Peek() > '9') {
    pos_ = start;
    return false;
  }
  uint64_t value = 0;
  while (Peek() >= '0' && Peek() <= '9') value = value * 10 + static_cast<uint64_t>(Get() - '0');
  *magnitude = value;
  return true;
}

bool TextReader::ScanInt64(int64_t* value) {
  uint64_t magnitude;
  bool negative;
  if (!ScanNumber(&magnitude, &negative)) return false;
  *value = static_cast<int64_t>(negative ? 0 - magnitude : magnitude);
  return true;
}

bool TextReader::ScanInt(int32_t* value) {
  int64_t wide;
  if (!ScanInt64(&wide)) return false;
  *value = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(wide)));
  return true;
}

bool TextReader::ScanUnsigned(uint32_t* value) {
  int64_t wide;
  if (!ScanInt64(&wide)) return false;
  *value = static_cast<uint32_t>(static_cast<uint64_t>(wide));
  return true;
}

bool WriteText(std::FILE* file, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int written = std::vfprintf(file, format, args);
  va_end(args);
  return written >= 0;
}

std::FILE* CreateTextFile(const std::string& windows_path) {
  const std::string native = NativePath(windows_path);
  std::string refusal;
  const int fd = OpenDataDoor(native, O_WRONLY | O_CREAT | O_TRUNC, 0666, &refusal);
  if (fd < 0) {
    if (!refusal.empty()) AlerterLog(DoorRefusal("write", native, refusal));
    return nullptr;
  }
  std::FILE* file = ::fdopen(fd, "w");
  if (file == nullptr) ::close(fd);
  return file;
}

}  // namespace kst
