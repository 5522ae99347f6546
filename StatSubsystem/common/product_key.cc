#include "StatSubsystem/common/product_key.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <new>
#include <vector>

#include "StatSubsystem/common/product_key_testing.h"
#include "platform/paths.h"
#include "platform/registry.h"

namespace kst {

namespace {

std::string& MutableRootDirectory() {
  static std::string* root = new std::string();
  return *root;
}

std::string ProductKeyPath(const std::string& subkey) {
  std::string path(kProductKeyPath);
  if (!subkey.empty()) path += "\\" + subkey;
  return path;
}

constexpr size_t kExplanationStep = 512;

// ReadCounterExplanation's buffer; never shrunk or freed.
std::vector<char>& ExplanationBuffer() {
  static std::vector<char>* buffer = new std::vector<char>();
  return *buffer;
}

}  // namespace

const std::string& RootDirectory() { return MutableRootDirectory(); }

void SetRootDirectory(const std::string& root) { MutableRootDirectory() = root; }

std::string CounterByTitleKeyPath(const std::string& title) {
  return std::string(kConfigurationKeyPath) + "\\Counters\\byTitle\\" + title;
}

std::string CounterByIdKeyPath(int64_t id) {
  return std::string(kConfigurationKeyPath) + "\\Counters\\byId\\" +
         std::to_string(id);
}

void ReadProductValue(const std::string& subkey, const std::string& name,
                      uint32_t expected_type, void* data, uint32_t size,
                      int* result) {
  *result = -1;
  if (name.empty()) {
    *result = -14;
    return;
  }
  RegistryKey key;
  if (RegistryKey::Open(ProductKeyPath(subkey), RegAccess::kRead, &key) !=
      kErrorSuccess) {
    *result = -15;
    return;
  }
  RegType type = 0;
  uint32_t read = size;
  if (key.QueryValue(name, &type, data, &read) != kErrorSuccess ||
      type != expected_type) {
    *result = -16;
    return;
  }
  *result = static_cast<int>(read);
}

std::string ReadProductRootDirectory(uint32_t size, int* result) {
  std::vector<char> buffer(size);
  ReadProductValue("", "rootDirectory", kRegSz, buffer.data(), size, result);
  if (*result <= 0) return std::string();
  return std::string(buffer.data(), strnlen(buffer.data(), static_cast<size_t>(*result)));
}

void WriteProductValue(const std::string& subkey, const std::string& name,
                       uint32_t type, const void* data, uint32_t size,
                       int* result) {
  *result = -1;
  if (name.empty()) {
    *result = -14;
    return;
  }
  RegistryKey key;
  if (RegistryKey::Create(ProductKeyPath(subkey), &key) != kErrorSuccess) return;
  if (key.SetValue(name, type, data, size) != kErrorSuccess) return;
  key.Flush();
  *result = 0;
}

int64_t RandomId64() {
  static bool seeded = false;
  if (!seeded) {
    seeded = true;
    std::srand(static_cast<unsigned>(::getpid()) *
               static_cast<unsigned>(std::time(nullptr)));
  }
  // Draws of 15 bits each keep their product within 32 bits, whatever the
  // generator's range.
  uint32_t a = static_cast<uint32_t>(std::rand()) & 0x7fff;
  uint32_t b = static_cast<uint32_t>(std::rand()) & 0x7fff;
  int32_t seconds = static_cast<int32_t>(std::time(nullptr));
  return static_cast<int64_t>(seconds) * static_cast<int64_t>(a * b);
}

std::string ReadCounterTitleById(int64_t id, int* result) {
  *result = -1;
  RegistryKey key;
  if (RegistryKey::Open(CounterByIdKeyPath(id), RegAccess::kRead, &key) !=
      kErrorSuccess)
    return std::string();
  char buffer[255];
  uint32_t size = sizeof buffer;
  if (key.QueryValue("title", nullptr, buffer, &size) != kErrorSuccess)
    return std::string();
  *result = 0;
  return std::string(buffer, strnlen(buffer, size));
}

int64_t ReadCounterByTitle(const std::string& title, int* result) {
  *result = -1;
  RegistryKey key;
  if (RegistryKey::Open(CounterByTitleKeyPath(title), RegAccess::kReadWrite,
                        &key) != kErrorSuccess)
    return -1;
  unsigned char bytes[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  uint32_t size = sizeof bytes;
  if (key.QueryValue("id", nullptr, bytes, &size) != kErrorSuccess) return -1;
  uint64_t id = 0;
  for (int i = 7; i >= 0; --i) id = id << 8 | bytes[i];
  *result = 0;
  return static_cast<int64_t>(id);
}

std::string ReadCounterExplanation(const std::string& title, int* result) {
  *result = -1;
  RegistryKey key;
  if (RegistryKey::Open(CounterByTitleKeyPath(title), RegAccess::kReadWrite,
                        &key) != kErrorSuccess)
    return std::string();
  std::vector<char>& buffer = ExplanationBuffer();
  WinError err = kErrorSuccess;
  uint32_t size = 0;
  for (;;) {
    if (buffer.empty() || err == kErrorMoreData) {
      try {
        buffer.resize(buffer.size() + kExplanationStep);
      } catch (const std::bad_alloc&) {
        *result = -2;
        return std::string();
      }
    }
    size = static_cast<uint32_t>(buffer.size());
    err = key.QueryValue("explanation", nullptr, buffer.data(), &size);
    if (err != kErrorMoreData) break;
  }
  *result = 0;
  if (err != kErrorSuccess) return std::string();
  return std::string(buffer.data(), strnlen(buffer.data(), size));
}

size_t CounterExplanationBufferSize() { return ExplanationBuffer().size(); }

void ResetConfiguration(int* result) {
  *result = -1;
  if (DeleteKeyTree(kConfigurationKeyPath) != kErrorSuccess) return;
  for (const char* folder : {"\\States\\", "\\AnalyzersMessages\\",
                             "\\LogsMessages\\"}) {
    std::error_code ec;
    std::filesystem::directory_iterator it(
        NativePath(RootDirectory() + folder), ec);
    if (ec) continue;
    for (const auto& entry : it) {
      // Everything but a folder goes, a link as the link itself: a link kept
      // here would be followed by the next write of a file of that name.
      std::error_code ignored;
      if (!std::filesystem::is_directory(entry.symlink_status(ignored)))
        ::unlink(entry.path().c_str());
    }
  }
  *result = 0;
}

}  // namespace kst
