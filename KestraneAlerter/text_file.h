// Reads the alerter's text files (profiles, the profile list) the way they
// were always read: whole lines into fixed buffers, and numbers by formatted
// scans in which a white-space directive skips every kind of white space,
// line ends and empty lines included. A "\r\n" line end counts as one "\n",
// so files written with either line end read the same.
#ifndef KESTRANE_ALERTER_TEXT_FILE_H_
#define KESTRANE_ALERTER_TEXT_FILE_H_

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace kst {

class TextReader {
 public:
  // Reads over `contents` (the whole file, as bytes).
  explicit TextReader(std::string_view contents);

  // Reads the native file of `windows_path` whole through the data door
  // (platform/root_doors.h). False when it cannot be opened or read, when it
  // is not a regular file, or when, run as root, another user could change
  // it (a line on the log says so in the last two cases).
  static bool Open(const std::string& windows_path, TextReader* reader);

  // Reads like a line into a buffer of `buffer_size` bytes: up to and
  // including the next "\n", at most buffer_size - 1 characters. False when
  // the input is at its end before any character is read.
  bool ReadLine(size_t buffer_size, std::string* line);

  // Reads a line as above and drops its last character (taken to be the
  // line end, even where the last line has none).
  bool ReadLineDroppingEnd(size_t buffer_size, std::string* line);

  // The scans. Each skips leading white space, converts one decimal number
  // (an optional sign, then digits) and returns false, consuming nothing
  // after the white space, when no digit follows or the input ends.
  // A value out of range wraps to the field's width.
  bool ScanInt(int32_t* value);
  bool ScanUnsigned(uint32_t* value);
  bool ScanInt64(int64_t* value);

  // The white-space directive of a scan format (" " or "\n").
  void SkipSpace();

  bool AtEnd() const { return pos_ >= text_.size(); }

 private:
  // Converts a number; the magnitude wraps modulo 2^64.
  bool ScanNumber(uint64_t* magnitude, bool* negative);
  int Peek() const;
  int Get();

  std::string text_;  // contents with "\r\n" turned into "\n"
  size_t pos_ = 0;
};

// Writes with a print format; false when the write fails. Every record
// writer stops at the first false.
bool WriteText(std::FILE* file, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Opens the native file of `windows_path` for writing through the data
// door, replacing its content; null when it cannot be opened or is refused
// (a line on the log says why). The caller closes it.
std::FILE* CreateTextFile(const std::string& windows_path);

}  // namespace kst

#endif  // KESTRANE_ALERTER_TEXT_FILE_H_
