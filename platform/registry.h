// The machine-wide registry: the tree of keys under HKEY_LOCAL_MACHINE with
// typed values, kept in one database file under KestraneHome() and shared by
// every process of the installation.
//
// Paths are texts relative to HKEY_LOCAL_MACHINE with backslashes between the
// key names, as administrators type them ("SOFTWARE\Kestrane"). Empty
// components are passed over, so a leading, trailing or doubled backslash
// changes nothing, and the empty path names HKEY_LOCAL_MACHINE itself.
// Key and value names keep the case they were created with and compare
// without regard to ASCII case. A value keeps the exact bytes it was set
// with: a REG_SZ written with its terminating zero reads back with it.
//
// Every call is one transaction of its own: a value set by one process is
// seen by the next read of any other. Calls wait for one another (threads and
// processes alike) and never fail because another writer is busy.
//
// Threads: any thread may call; calls on one process's handles are
// serialised inside. A RegistryKey itself is not shared between threads
// without a lock of the caller's.
// Processes: the database's files are never inherited by child programs. A
// process that forks must not use the registry in the child before exec
// unless the parent had not yet touched the same database.
#ifndef KESTRANE_PLATFORM_REGISTRY_H_
#define KESTRANE_PLATFORM_REGISTRY_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win_errors.h"

namespace kst {

// Registry value types, with their Win32 numbers.
using RegType = uint32_t;
inline constexpr RegType kRegSz = 1;
inline constexpr RegType kRegBinary = 3;
inline constexpr RegType kRegDword = 4;
inline constexpr RegType kRegMultiSz = 7;

// Further Win32 numbers that only the registry reports.
inline constexpr WinError kErrorRegistryIoFailed = 1016;  // the store failed
inline constexpr WinError kErrorKeyDeleted = 1018;  // handle's key is gone

enum class RegAccess { kRead, kReadWrite };

// The name of the database file inside KestraneHome().
inline constexpr std::string_view kRegistryFileName = "registry.db";

struct RegKeyInfo {
  uint32_t subkey_count = 0;
  uint32_t max_subkey_name_length = 0;  // characters, no terminating zero
  uint32_t value_count = 0;
  uint32_t max_value_name_length = 0;   // characters, no terminating zero
  uint32_t max_value_data_length = 0;   // bytes
};

// An open key. Move-only; the destructor closes it. A closed (default) handle
// answers every call with kErrorInvalidHandle. A handle names its key, not
// its path: when the key is deleted, later calls answer kErrorKeyDeleted.
// The database is the one under KestraneHome() at the time of opening.
class RegistryKey {
 public:
  RegistryKey() = default;
  ~RegistryKey() = default;
  RegistryKey(RegistryKey&& other) noexcept;
  RegistryKey& operator=(RegistryKey&& other) noexcept;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  // Opens an existing key. kErrorFileNotFound when a key of the path is
  // missing; kErrorAccessDenied for kReadWrite when the caller may not write
  // the database. On failure *key is left closed.
  static WinError Open(std::string_view path, RegAccess access,
                       RegistryKey* key);

  // Opens the key for reading and writing, creating it and any missing key
  // above it. *created (may be null) tells whether the key was new.
  // kErrorAccessDenied when the caller may not write the database.
  static WinError Create(std::string_view path, RegistryKey* key,
                         bool* created = nullptr);

  bool is_open() const { return id_ >= 0; }
  RegAccess access() const { return access_; }
  void Close();

  // Reads a value. *type (may be null) gets its type. With data null, *size
  // gets the stored size. With data not null, *size holds the buffer's size
  // on entry: when the value fits it is copied and *size gets its size;
  // otherwise the buffer is left alone, *size gets the needed size and the
  // answer is kErrorMoreData (*type is still set). kErrorFileNotFound when
  // the value is missing; kErrorInvalidParameter when size is null and data
  // is not.
  WinError QueryValue(std::string_view name, RegType* type, void* data,
                      uint32_t* size) const;
  // Reads a whole value, whatever its size.
  WinError QueryValue(std::string_view name, RegType* type,
                      std::string* data) const;

  // Reads several values in one transaction, so that they are seen together
  // as writers left them. (*values)[i] answers names[i]: found false for a
  // missing value. kErrorKeyDeleted when the key is gone.
  struct Value {
    bool found = false;
    RegType type = 0;
    std::string data;
  };
  WinError QueryValues(const std::vector<std::string_view>& names,
                       std::vector<Value>* values) const;

  // Creates or replaces a value; a replaced value keeps its place in the
  // enumeration order. kErrorAccessDenied on a read-only handle.
  WinError SetValue(std::string_view name, RegType type, const void* data,
                    uint32_t size);

  // Enumeration by index from 0: values in the order they were first set,
  // subkeys by name. kErrorNoMoreItems past the end. Out pointers may be null.
  WinError EnumValue(uint32_t index, std::string* name, RegType* type,
                     std::string* data) const;
  WinError EnumSubkey(uint32_t index, std::string* name) const;

  WinError QueryInfo(RegKeyInfo* info) const;

  // kErrorFileNotFound when missing; kErrorAccessDenied on a read-only handle.
  WinError DeleteValue(std::string_view name);

  // Makes everything committed so far durable on disk.
  WinError Flush();

 private:
  int64_t id_ = -1;
  RegAccess access_ = RegAccess::kRead;
  std::string db_path_;
};

// Why the calling thread's last registry call that answered
// kErrorRegistryIoFailed failed, in words: the system's ("No space left on
// device", "Input/output error") or the database's ("database disk image is
// malformed").
std::string RegistryFailureCause();

// Deletes the key at path with all its subkeys and values.
// kErrorFileNotFound when it is missing; kErrorAccessDenied when the caller
// may not write the database, or for the empty path (HKEY_LOCAL_MACHINE).
WinError DeleteKeyTree(std::string_view path);

// Reads several values of the key at path in one transaction, as
// RegistryKey::QueryValues does on an open key, with no handle kept: for
// reads made again and again (a service's options at every tick), whose
// statements are prepared once per process. kErrorFileNotFound when a key of
// the path is missing.
WinError ReadKeyValues(std::string_view path, const std::vector<std::string_view>& names,
                       std::vector<RegistryKey::Value>* values);

}  // namespace kst

#endif  // KESTRANE_PLATFORM_REGISTRY_H_
