#include "StatSubsystem/common/buffer_header_reader.h"

#include <algorithm>
#include <istream>

#include "StatSubsystem/common/service_keys.h"
#include "StatSubsystem/common/service_names.h"

namespace kst {

BufferFileStatus OpenRingBufferFile(const std::string& native_path, RegularFileBuf* file) {
  switch (file->OpenForReading(native_path)) {
    case RegularFileStatus::kOk: return BufferFileStatus::kOk;
    case RegularFileStatus::kNotRegular: return BufferFileStatus::kNotRegular;
    case RegularFileStatus::kCannotOpen: break;
  }
  return BufferFileStatus::kCannotOpen;
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

bool ReadBufferHeaderLines(std::istream& in, BufferHeaderLines* lines) {
  std::string first_group, first_names;
  if (!ReadHeaderFields(in, &first_group, &lines->group) ||
      !ReadHeaderFields(in, &first_names, &lines->names)) {
    return false;
  }
  // Each line: its first field, ";", the rest and the LF.
  lines->bytes = first_group.size() + lines->group.size() + first_names.size() +
                 lines->names.size() + 4;
  return true;
}

bool HeaderLinesDescribe(const BufferHeaderLines& lines, uint32_t header_size,
                         uint32_t record_width) {
  // The first field and the ";" after it are not in the stored rest.
  auto columns = [](const std::string& rest) {
    return 2 + static_cast<uint64_t>(std::count(rest.begin(), rest.end(), ';'));
  };
  return lines.bytes == header_size && columns(lines.group) == record_width &&
         columns(lines.names) == record_width;
}

BufferFileStatus CheckRingBufferFile(const std::string& native_path) {
  RegularFileBuf file;
  const BufferFileStatus status = OpenRingBufferFile(native_path, &file);
  if (status != BufferFileStatus::kOk) return status;
  std::istream in(&file);
  BufferHeaderLines lines;
  if (!ReadBufferHeaderLines(in, &lines)) return BufferFileStatus::kDamagedHeader;
  const std::string collector = ServiceNameTable[kCollectorId];
  int header_size = 0, record_width = 0;
  if (ReadServiceDword(collector, "optHeadGrpOffset", &header_size) == 0 &&
      ReadServiceDword(collector, "optCollsCount", &record_width) == 0 &&
      !HeaderLinesDescribe(lines, static_cast<uint32_t>(header_size),
                           static_cast<uint32_t>(record_width))) {
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
