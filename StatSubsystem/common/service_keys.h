// Values in a service's own registry key under HKEY_LOCAL_MACHINE:
// "System\CurrentControlSet\Services\" + service manager name. Callers name the
// service by its short identifier ("kstCollector" or "kstChecker"). Each call
// opens the key, does one read or write and closes it; a missing key is never
// created (before installation every writer answers -1). Out arguments are
// written only on success, except as ReadServiceMultiString says.
// Any thread may call; the calls keep no state.
#ifndef KESTRANE_STATSUBSYSTEM_COMMON_SERVICE_KEYS_H_
#define KESTRANE_STATSUBSYSTEM_COMMON_SERVICE_KEYS_H_

#include <string>
#include <vector>

#include "platform/registry.h"

namespace kst {

// "System\CurrentControlSet\Services\" followed by the service manager name
// of the identifier (exact, case-sensitive match); any other identifier adds
// nothing, naming the Services key itself.
std::string ServiceKeyPath(const std::string& identifier);

// 0; -1 key cannot be opened; -2 value missing or unreadable (at most 1024
// bytes); -4 value longer than 1024 bytes; -3 not REG_SZ. The text ends at
// the first zero of the stored bytes.
int ReadServiceString(const std::string& identifier, const std::string& name,
                      std::string* text);
// Stores text with its terminating zero as REG_SZ. 0; -1 key cannot be
// opened; -2 value cannot be set.
int WriteServiceString(const std::string& identifier, const std::string& name,
                       const std::string& text);

// 0; -1 key cannot be opened; -2 value missing, unreadable or longer than 4
// bytes; -3 not REG_DWORD.
int ReadServiceDword(const std::string& identifier, const std::string& name,
                     int* value);
// 0; -1 key cannot be opened; -2 value cannot be set.
int WriteServiceDword(const std::string& identifier, const std::string& name,
                      int value);

// A value of a service's key read with others in one transaction
// (RegistryKey::QueryValues), judged as ReadServiceDword and
// ReadServiceString judge it: a REG_DWORD of at most 4 bytes; a REG_SZ of at
// most 1024 bytes, its text ending at the first zero. False otherwise,
// *out untouched.
bool ServiceDwordOf(const RegistryKey::Value& value, int* out);
bool ServiceStringOf(const RegistryKey::Value& value, std::string* out);

// 0; -1 key cannot be opened; -2 key information cannot be read; -101 no
// memory; -3 value cannot be read; -4 value larger than the key's largest
// value a moment before; -5 not REG_MULTI_SZ; -6 the strings run past the
// stored bytes. Once the value is known to be a REG_MULTI_SZ the list is
// emptied and filled string by string, so after -6 it holds the strings read
// up to the overrun (the last one cut at the end of the data).
int ReadServiceMultiString(const std::string& identifier,
                           const std::string& name,
                           std::vector<std::string>* list);
// Each string with its zero, in order, then one more zero (an empty list is
// the single zero). 0; -1 key cannot be opened; -2 value cannot be set.
int WriteServiceMultiString(const std::string& identifier,
                            const std::string& name,
                            const std::vector<std::string>& list);

}  // namespace kst

#endif  // KESTRANE_STATSUBSYSTEM_COMMON_SERVICE_KEYS_H_
