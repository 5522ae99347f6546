// The values under the product key, the identity of performance counters
// (a 64-bit identifier and a title "object::counter"), and the reset of the
// configuration tree. All keys lie under HKEY_LOCAL_MACHINE.
//
// Result convention of every configuration operation of this library: the
// last argument is an int result, set to -1 before any other step; on success
// it becomes 0 or a count, on failure it keeps -1 or takes the operation's
// own negative code. Nothing throws, prints or stores an error value.
//
// Threads: RootDirectory is set once at start-up, before other threads use
// the library. ReadCounterExplanation and RandomId64 share process-wide state
// and are for one thread at a time.
#ifndef KESTRANE_STATSUBSYSTEM_COMMON_PRODUCT_KEY_H_
#define KESTRANE_STATSUBSYSTEM_COMMON_PRODUCT_KEY_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace kst {

inline constexpr std::string_view kProductKeyPath = "SOFTWARE\\Kestrane";
inline constexpr std::string_view kConfigurationKeyPath =
    "SOFTWARE\\Kestrane\\Internal";

// The folder of the programs and data files, as the product key's
// rootDirectory names it (a Windows-shaped text). Empty until the program's
// start-up sets it; every path the library builds under it starts with it.
const std::string& RootDirectory();
void SetRootDirectory(const std::string& root);

// Reads a value of the product key, or of its subkey when subkey is not
// empty, into data (size bytes) and accepts it only with the expected type.
// Result: the number of bytes read; -14 empty value name; -15 the key cannot
// be opened for reading; -16 the value is missing, larger than the buffer or
// of another type (the buffer's content is then not to be used).
void ReadProductValue(const std::string& subkey, const std::string& name,
                      uint32_t expected_type, void* data, uint32_t size,
                      int* result);

// The product key's rootDirectory read through a buffer of `size` bytes and
// cut at its first zero (a text that fills the buffer keeps every byte).
// Result as ReadProductValue's; the text is empty unless it is positive.
std::string ReadProductRootDirectory(uint32_t size, int* result);

// Creates the key if needed, sets the value and flushes the key.
// Result: 0; -14 empty value name; -1 the key cannot be created or opened or
// the value cannot be set.
void WriteProductValue(const std::string& subkey, const std::string& name,
                       uint32_t type, const void* data, uint32_t size,
                       int* result);

// A fresh counter identifier: the time in seconds times the product of two
// draws of the process's pseudo-random generator (seeded once per process).
// 0 or positive; not checked for uniqueness.
int64_t RandomId64();

// The title kept for an identifier. Result 0; -1 the key or the value is
// missing (or the title is longer than 254 characters); the text is then empty.
std::string ReadCounterTitleById(int64_t id, int* result);

// The identifier kept for a title (used as given). Result 0; -1 the key or
// the value is missing, or the configuration key is not writable by the
// caller; the identifier is then -1.
int64_t ReadCounterByTitle(const std::string& title, int* result);

// The explanation kept for a title, read through one process-wide buffer that
// grows in steps of 512 bytes and never shrinks. A missing explanation gives
// the empty text with result 0. Result -1 the key is missing (or not
// writable by the caller); -2 the buffer cannot be grown.
std::string ReadCounterExplanation(const std::string& title, int* result);

// Deletes the configuration key with everything under it, then removes every
// entry but a folder (files, links as links, pipes) in the folders States,
// AnalyzersMessages and LogsMessages under the root directory (the folders
// and their subfolders stay; a missing folder is passed over).
// Result 0; -1 the configuration key cannot be deleted (no file is touched).
void ResetConfiguration(int* result);

// The key paths of a counter's identity.
std::string CounterByTitleKeyPath(const std::string& title);
std::string CounterByIdKeyPath(int64_t id);

}  // namespace kst

#endif  // KESTRANE_STATSUBSYSTEM_COMMON_PRODUCT_KEY_H_
