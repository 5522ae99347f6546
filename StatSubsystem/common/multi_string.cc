#include "StatSubsystem/common/multi_string.h"

namespace kst {

std::string EncodeMultiString(const std::vector<std::string>& strings) {
  std::string bytes;
  for (const std::string& s : strings) {
    bytes += s;
    bytes += '\0';
  }
  bytes += '\0';
  return bytes;
}

void DecodeMultiString(std::string_view bytes, std::vector<std::string>* strings) {
  size_t pos = 0;
  while (pos < bytes.size() && bytes[pos] != '\0') {
    size_t end = bytes.find('\0', pos);
    if (end == std::string_view::npos) end = bytes.size();
    strings->emplace_back(bytes.substr(pos, end - pos));
    pos = end + 1;
  }
}

bool ReadMultiString(const RegistryKey& key, std::string_view name,
                     std::vector<std::string>* strings) {
  strings->clear();
  std::string bytes;
  RegType type = 0;
  if (key.QueryValue(name, &type, &bytes) != kErrorSuccess) return false;
  if (bytes.size() > kMultiStringBufferSize || type != kRegMultiSz) return false;
  DecodeMultiString(bytes, strings);
  return true;
}

bool WriteMultiString(RegistryKey& key, std::string_view name,
                      const std::vector<std::string>& strings) {
  const std::string bytes = EncodeMultiString(strings);
  return key.SetValue(name, kRegMultiSz, bytes.data(), static_cast<uint32_t>(bytes.size())) ==
         kErrorSuccess;
}

}  // namespace kst
