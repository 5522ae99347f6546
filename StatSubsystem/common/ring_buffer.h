// RingBufferFile, the collector's ring-buffer file: one calendar month of
// samples, one fixed slot per sampling step, written in place so that each
// month overwrites the one before. The collector writes it; the exporter
// reads it. Neither locks it: a reader may meet a slot that is half written.
//
// Layout, byte for byte (every number a little-endian IEEE 754 binary64):
//
//   "date;time;<object 1>;...;<object n>\n"    group line (LF only, no CR)
//   "Date;Time;<counter 1>;...;<counter n>\n"  header line
//   slot 0 ... slot k                          from byte optHeadGrpOffset on
//
// optHeadGrpOffset is the byte length of the two lines together and
// optCollsCount (the record width) is n + 2. Slot i starts at
// optHeadGrpOffset + i * 8 * optCollsCount and holds optCollsCount doubles:
//   [0]  date key: month (1..12) * 100 + day of month (1..31), local time;
//        0 in a slot never written (the file grows with zeros);
//   [1]  minute of the day: hour * 60 + minute, local time (0..1439);
//   [2..] one value per counter, in the order of the header lines.
// The file is never truncated once made; slots of days a short month lacks
// keep an older month's samples, which their date key tells apart.
//
// Everything here is pure arithmetic and stream I/O; opening the file (and
// turning its registry name into a native path) is the caller's business.
#ifndef KESTRANE_STATSUBSYSTEM_COMMON_RING_BUFFER_H_
#define KESTRANE_STATSUBSYSTEM_COMMON_RING_BUFFER_H_

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace kst {

inline constexpr uint32_t kMinutesPerDay = 1440;
inline constexpr uint32_t kBytesPerDouble = 8;
// Doubles at the head of every slot before the counter values.
inline constexpr uint32_t kSlotHeadDoubles = 2;

// Slot of the local moment day (1..31), hour, minute for slots `interval`
// minutes wide: ((day - 1) * 1440 + hour * 60 + minute) / interval, unsigned.
// REQUIRES: interval > 0.
uint32_t SlotIndex(int day, int hour, int minute, uint32_t interval);

// First slot of `day`; FirstSlotOfDay(d + 1, i) is where day d's slots end.
// REQUIRES: interval > 0.
uint32_t FirstSlotOfDay(int day, uint32_t interval);

// Number of slots a month can use: ceil(31 * 1440 / interval).
// REQUIRES: interval > 0.
uint32_t SlotsPerMonth(uint32_t interval);

// Bytes of one slot of `record_width` doubles.
uint64_t SlotBytes(uint32_t record_width);

// File offset of `slot`.
uint64_t SlotOffset(uint32_t header_size, uint32_t record_width, uint64_t slot);

// True when a file of `file_length` bytes ends on a slot boundary, that is
// (file_length - header_size) is a whole multiple of SlotBytes(record_width)
// (taken as a signed difference, so a file shorter than its header fits
// only when the shortfall itself is such a multiple).
bool LengthFitsSlots(int64_t file_length, uint32_t header_size, uint32_t record_width);

// Date key and minute of the day as stored in a slot.
double DateKey(int month, int day);
double MinuteOfDay(int hour, int minute);

// The two header lines, each with its LF. Object parts and counter names go
// in as they are: the writer escapes nothing, so a ";" or LF inside a name
// would break the line, and the names come from counter paths that hold none.
std::string GroupLine(const std::vector<std::string>& object_parts);
std::string HeaderLine(const std::vector<std::string>& counter_names);

// The fewest bytes the two header lines of a buffer with slots of
// `record_width` doubles can take: each counter adds at least its ";" to
// each line. A wider slot than a header of some size allows is damage.
uint64_t MinimumHeaderSize(uint32_t record_width);

// Both header lines of a buffer that collects these counter paths, each
// split into its object part and its counter name (counter_values.h).
std::string HeaderLinesOfPaths(const std::vector<std::string>& counter_paths);

// Reads one header line up to its LF (the LF is consumed, not stored).
// False when the stream ends before a LF.
bool ReadHeaderLine(std::istream& in, std::string* line);

// Byte-by-byte little-endian binary64.
void PutDouble(std::string* dst, double value);
double GetDouble(const unsigned char* src);

// One slot in memory.
struct RingBufferSlot {
  double date_key = 0.0;
  double minute = 0.0;
  std::vector<double> values;  // one per counter

  uint32_t RecordWidth() const {
    return static_cast<uint32_t>(values.size()) + kSlotHeadDoubles;
  }
};

// The slot's bytes, RecordWidth() doubles.
std::string EncodeSlot(const RingBufferSlot& slot);

// Writes the slot at the stream's put position. False on a stream failure.
bool WriteSlot(std::ostream& out, const RingBufferSlot& slot);

// Reads the date key and minute (16 bytes) at the get position; false when
// fewer than 16 bytes remain.
bool ReadSlotHead(std::istream& in, double* date_key, double* minute);

// Reads `count` values that follow a slot head into *values (replacing its
// contents); false when the stream ends first.
bool ReadSlotValues(std::istream& in, uint32_t count, std::vector<double>* values);

// Reads a whole slot of `record_width` doubles (>= 2); false when the stream
// ends first.
bool ReadSlot(std::istream& in, uint32_t record_width, RingBufferSlot* slot);

}  // namespace kst

#endif  // KESTRANE_STATSUBSYSTEM_COMMON_RING_BUFFER_H_
