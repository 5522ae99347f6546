#include "StatSubsystem/common/service_keys.h"

#include <cstring>
#include <memory>
#include <new>

#include "StatSubsystem/common/service_names.h"
#include "platform/registry.h"

namespace kst {

namespace {

constexpr uint32_t kStringBufferSize = 1024;

bool OpenServiceKey(const std::string& identifier, RegAccess access,
                    RegistryKey* key) {
  return RegistryKey::Open(ServiceKeyPath(identifier), access, key) ==
         kErrorSuccess;
}

}  // namespace

std::string ServiceKeyPath(const std::string& identifier) {
  std::string path = "System\\CurrentControlSet\\Services\\";
  if (identifier == ServiceNameTable[kCollectorId]) {
    path += ServiceNameTable[kCollectorServiceName];
  } else if (identifier == ServiceNameTable[kCheckerId]) {
    path += ServiceNameTable[kCheckerServiceName];
  }
  return path;
}

int ReadServiceString(const std::string& identifier, const std::string& name,
                      std::string* text) {
  RegistryKey key;
  if (!OpenServiceKey(identifier, RegAccess::kRead, &key)) return -1;
  char buffer[kStringBufferSize];
  uint32_t size = sizeof buffer;
  RegType type = 0;
  if (key.QueryValue(name, &type, buffer, &size) != kErrorSuccess)
    return size > kStringBufferSize ? -4 : -2;
  if (type != kRegSz) return -3;
  *text = std::string(buffer, strnlen(buffer, size));
  return 0;
}

int WriteServiceString(const std::string& identifier, const std::string& name,
                       const std::string& text) {
  RegistryKey key;
  if (!OpenServiceKey(identifier, RegAccess::kReadWrite, &key)) return -1;
  if (key.SetValue(name, kRegSz, text.c_str(),
                   static_cast<uint32_t>(text.size() + 1)) != kErrorSuccess)
    return -2;
  return 0;
}

int ReadServiceDword(const std::string& identifier, const std::string& name,
                     int* value) {
  RegistryKey key;
  if (!OpenServiceKey(identifier, RegAccess::kRead, &key)) return -1;
  unsigned char bytes[4] = {0, 0, 0, 0};
  uint32_t size = sizeof bytes;
  RegType type = 0;
  if (key.QueryValue(name, &type, bytes, &size) != kErrorSuccess) return -2;
  if (type != kRegDword) return -3;
  *value = static_cast<int>(static_cast<uint32_t>(bytes[0]) |
                            static_cast<uint32_t>(bytes[1]) << 8 |
                            static_cast<uint32_t>(bytes[2]) << 16 |
                            static_cast<uint32_t>(bytes[3]) << 24);
  return 0;
}

int WriteServiceDword(const std::string& identifier, const std::string& name,
                      int value) {
  RegistryKey key;
  if (!OpenServiceKey(identifier, RegAccess::kReadWrite, &key)) return -1;
  uint32_t v = static_cast<uint32_t>(value);
  unsigned char bytes[4] = {
      static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
      static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
  if (key.SetValue(name, kRegDword, bytes, sizeof bytes) != kErrorSuccess)
    return -2;
  return 0;
}

bool ServiceDwordOf(const RegistryKey::Value& value, int* out) {
  if (!value.found || value.data.size() > 4 || value.type != kRegDword) return false;
  uint32_t bits = 0;
  for (size_t i = 0; i < value.data.size(); ++i) {
    bits |= static_cast<uint32_t>(static_cast<unsigned char>(value.data[i])) << (8 * i);
  }
  *out = static_cast<int>(bits);
  return true;
}

bool ServiceStringOf(const RegistryKey::Value& value, std::string* out) {
  if (!value.found || value.data.size() > kStringBufferSize || value.type != kRegSz) return false;
  *out = value.data.substr(0, value.data.find('\0'));
  return true;
}

int ReadServiceMultiString(const std::string& identifier,
                           const std::string& name,
                           std::vector<std::string>* list) {
  RegistryKey key;
  if (!OpenServiceKey(identifier, RegAccess::kRead, &key)) return -1;
  RegKeyInfo info;
  if (key.QueryInfo(&info) != kErrorSuccess) return -2;
  uint32_t capacity = info.max_value_data_length;
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[capacity]);
  if (buffer == nullptr) return -101;
  uint32_t size = capacity;
  RegType type = 0;
  if (key.QueryValue(name, &type, buffer.get(), &size) != kErrorSuccess)
    return size > capacity ? -4 : -3;
  if (type != kRegMultiSz) return -5;
  list->clear();
  // The walk never reads past the stored bytes, also when a string or the
  // list lacks its closing zero.
  const char* data = buffer.get();
  uint32_t pos = 0;
  while (pos < size && data[pos] != '\0') {
    uint32_t end = pos;
    while (end < size && data[end] != '\0') ++end;
    list->emplace_back(data + pos, end - pos);
    pos = end + 1;
    if (pos > size) return -6;
  }
  return 0;
}

int WriteServiceMultiString(const std::string& identifier,
                            const std::string& name,
                            const std::vector<std::string>& list) {
  RegistryKey key;
  if (!OpenServiceKey(identifier, RegAccess::kReadWrite, &key)) return -1;
  std::string block;
  for (const std::string& text : list) {
    block += text;
    block.push_back('\0');
  }
  block.push_back('\0');
  if (key.SetValue(name, kRegMultiSz, block.data(),
                   static_cast<uint32_t>(block.size())) != kErrorSuccess)
    return -2;
  return 0;
}

}  // namespace kst
