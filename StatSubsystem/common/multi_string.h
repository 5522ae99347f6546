// Multi-string registry values (REG_MULTI_SZ) of the configuration tree: the
// strings one after the other, each with its terminating zero, and one more
// zero at the end.
#ifndef KESTRANE_STATSUBSYSTEM_COMMON_MULTI_STRING_H_
#define KESTRANE_STATSUBSYSTEM_COMMON_MULTI_STRING_H_

#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace kst {

// The configuration tree reads every multi-string into a buffer of this size;
// a larger value cannot be read.
inline constexpr uint32_t kMultiStringBufferSize = 1 << 20;

// The value's bytes for `strings`, in order. An empty list gives the single
// closing zero.
std::string EncodeMultiString(const std::vector<std::string>& strings);

// Appends the strings of `bytes` up to the first empty one (or the end of
// the bytes; a last string without its zero still counts).
void DecodeMultiString(std::string_view bytes, std::vector<std::string>* strings);

// Reads the multi-string `name` of `key` into *strings (emptied first).
// False when the value is missing, does not fit kMultiStringBufferSize or is
// not a REG_MULTI_SZ; *strings is then empty.
bool ReadMultiString(const RegistryKey& key, std::string_view name,
                     std::vector<std::string>* strings);

// Sets `name` of `key` to EncodeMultiString(strings).
bool WriteMultiString(RegistryKey& key, std::string_view name,
                      const std::vector<std::string>& strings);

}  // namespace kst

#endif  // KESTRANE_STATSUBSYSTEM_COMMON_MULTI_STRING_H_
