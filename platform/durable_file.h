// Making what was written to a file survive a crash of the machine, not only
// of the process that wrote it.
#ifndef KESTRANE_PLATFORM_DURABLE_FILE_H_
#define KESTRANE_PLATFORM_DURABLE_FILE_H_

#include <string>

namespace kst {

// Forces the bytes written so far to the file at `native_path` onto the disk,
// and its entry in its folder with them (so that a file just made is found
// after a restart). Bytes still held in a stream's buffer are not seen: flush
// the stream first. False when the file or its folder cannot be synced.
bool SyncFileToDisk(const std::string& native_path);
// The same for the file open as `fd`, found at `native_path`: the file is
// synced through its descriptor, never opened again by name.
bool SyncFileToDisk(int fd, const std::string& native_path);

}  // namespace kst

#endif  // KESTRANE_PLATFORM_DURABLE_FILE_H_
