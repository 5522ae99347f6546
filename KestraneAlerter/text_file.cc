#include "KestraneAlerter/text_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>

#include "KestraneAlerter/alerter_log.h"
#include "platform/durable_file.h"
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
  std::FILE* file = OpenDataStream(native, "w", &refusal);
  if (file == nullptr && !refusal.empty()) AlerterLog(DoorRefusal("write", native, refusal));
  return file;
}

WholeTextFile::WholeTextFile(const std::string& windows_path) {
  const std::string native = NativePath(windows_path);
  const size_t slash = native.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : native.substr(0, slash == 0 ? 1 : slash);
  name_ = slash == std::string::npos ? native : native.substr(slash + 1);
  std::string refusal;
  if (!folder_.Open(folder, &refusal)) {
    if (!refusal.empty()) AlerterLog(DoorRefusal("write", native, refusal));
    return;
  }
  // A short name of its own (a long file name plus a suffix could pass the
  // longest name a folder takes): never an old file, nor another writer's.
  const int fd = folder_.CreateTemporary(".new-", 0666, &temp_);
  if (fd < 0) return;
  if (const int old = folder_.OpenFile(name_, O_RDONLY, 0, &refusal); old >= 0) {
    struct stat st;
    if (::fstat(old, &st) == 0) ::fchmod(fd, st.st_mode & 07777);
    ::close(old);
  }
  file_ = ::fdopen(fd, "w");
  if (file_ == nullptr) {
    ::close(fd);
    folder_.Remove(temp_);
    temp_.clear();
  }
}

WholeTextFile::~WholeTextFile() {
  if (file_ != nullptr) std::fclose(file_);
  if (!temp_.empty()) folder_.Remove(temp_);
}

bool WholeTextFile::Commit() {
  if (file_ == nullptr) return false;
  // The new file reaches the disk before it takes the name, and its name
  // in the folder after; the file is never opened again by name.
  const int fd = ::fileno(file_);
  bool ok = std::fflush(file_) == 0 && !std::ferror(file_) && SyncFileToDisk(fd, folder_.path() + "/" + temp_) &&
            folder_.Rename(temp_, name_);
  if (ok) temp_.clear();
  ok = ok && SyncFileToDisk(fd, folder_.path() + "/" + name_);
  ok = std::fclose(file_) == 0 && ok;
  file_ = nullptr;
  return ok;
}

}  // namespace kst
