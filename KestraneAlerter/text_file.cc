#include "KestraneAlerter/text_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <fstream>
#include <iterator>

#include "KestraneAlerter/alerter_log.h"
#include "platform/durable_file.h"
#include "platform/paths.h"
#include "platform/services.h"

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
  // could change is not read, wherever the root directory lies.
  if (const std::string unsafe = UnsafePathReason(native); !unsafe.empty()) {
    AlerterLog("refusing to read " + native + " as root: " + unsafe);
    return false;
  }
  std::ifstream in(native, std::ios::binary);
  if (!in) return false;
  std::string contents((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return false;
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
  return std::fopen(NativePath(windows_path).c_str(), "w");
}

WholeTextFile::WholeTextFile(const std::string& windows_path) : native_(NativePath(windows_path)) {
  if (const std::string unsafe = UnsafePathReason(native_); !unsafe.empty()) {
    AlerterLog("refusing to write " + native_ + " as root: " + unsafe);
    return;
  }
  // A short name of its own per try (a long file name plus a suffix could
  // pass the longest name a folder takes): never an old file, nor another
  // writer's.
  static std::atomic<unsigned> made{0};
  const size_t slash = native_.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : native_.substr(0, slash + 1);
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp_ = folder + ".new-" + std::to_string(::getpid()) + "-" + std::to_string(made++);
    fd = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    temp_.clear();
    return;
  }
  struct stat old;
  if (::stat(native_.c_str(), &old) == 0 && S_ISREG(old.st_mode)) ::fchmod(fd, old.st_mode & 07777);
  file_ = ::fdopen(fd, "w");
  if (file_ == nullptr) ::close(fd);
}

WholeTextFile::~WholeTextFile() {
  if (file_ != nullptr) std::fclose(file_);
  if (!temp_.empty()) ::unlink(temp_.c_str());
}

bool WholeTextFile::Commit() {
  if (file_ == nullptr) return false;
  bool ok = std::fflush(file_) == 0 && !std::ferror(file_) && SyncFileToDisk(temp_);
  ok = std::fclose(file_) == 0 && ok;
  file_ = nullptr;
  if (!ok || ::rename(temp_.c_str(), native_.c_str()) != 0) return false;
  temp_.clear();
  // The new name in its folder reaches the disk too.
  return SyncFileToDisk(native_);
}

}  // namespace kst
