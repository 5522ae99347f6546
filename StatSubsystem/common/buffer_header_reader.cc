#include "StatSubsystem/common/buffer_header_reader.h"

#include <filesystem>
#include <istream>

namespace kst {

BufferFileStatus OpenRingBufferFile(const std::string& native_path, std::ifstream* in) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(native_path, error);
  if (!std::filesystem::exists(status)) return BufferFileStatus::kCannotOpen;
  if (!std::filesystem::is_regular_file(status)) return BufferFileStatus::kNotRegular;
  in->open(native_path, std::ios::binary);
  return in->is_open() ? BufferFileStatus::kOk : BufferFileStatus::kCannotOpen;
}

bool ReadHeaderFields(std::istream& in, std::string* first, std::string* rest) {
  std::string line;
  std::istream::sentry ok(in, true);
  if (!ok) return false;
  std::streambuf* buffer = in.rdbuf();
  for (;;) {
    const int c = buffer->sbumpc();
    if (c == std::char_traits<char>::eof()) {
      in.setstate(std::ios::eofbit | std::ios::failbit);
      return false;
    }
    if (c == '\n') break;
    if (line.size() == kMaxHeaderLineLength) {
      in.setstate(std::ios::failbit);
      return false;
    }
    line.push_back(static_cast<char>(c));
  }
  const size_t separator = line.find(';');
  if (separator == std::string::npos) return false;
  first->assign(line, 0, separator);
  rest->assign(line, separator + 1);
  return true;
}

BufferFileStatus CheckRingBufferFile(const std::string& native_path) {
  std::ifstream in;
  const BufferFileStatus status = OpenRingBufferFile(native_path, &in);
  if (status != BufferFileStatus::kOk) return status;
  std::string first, rest;
  if (!ReadHeaderFields(in, &first, &rest) || !ReadHeaderFields(in, &first, &rest)) {
    return BufferFileStatus::kDamagedHeader;
  }
  return BufferFileStatus::kOk;
}

const char* BufferFileProblem(BufferFileStatus status) {
  switch (status) {
    case BufferFileStatus::kOk: return "";
    case BufferFileStatus::kCannotOpen: return "cannot be opened";
    case BufferFileStatus::kNotRegular: return "is not a regular file";
    case BufferFileStatus::kDamagedHeader: return "has damaged header lines";
  }
  return "";
}

}  // namespace kst
