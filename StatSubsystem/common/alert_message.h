// One alert as the checker builds it and the alerter reads it, its packed
// binary form (the alert record) and the framing of the "alertmessages" file.
//
// The checker lends an AlertMessage by pointer to the alerter library, which
// reads its fields in place: the alerter is compiled against this header, so
// the order and the types of the fields below are the contract between the
// two and must not change. Both sides are built with the same compiler and
// standard library.
#ifndef KESTRANE_STATSUBSYSTEM_COMMON_ALERT_MESSAGE_H_
#define KESTRANE_STATSUBSYSTEM_COMMON_ALERT_MESSAGE_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace kst {

// The counters of one anomalous rule, by their identifiers in the
// configuration tree: its premise (base) and its conclusion (result).
struct CounterPart {
  std::vector<uint64_t> baseCounterIds;
  std::vector<uint64_t> resultCounterIds;
};

// Copyable value; owns its texts and containers. Not thread-safe: the
// constructor with values draws from the process's rand() generator.
class AlertMessage {
 public:
  // The size of an alert record without any of its variable pieces.
  static constexpr int kFixedRecordSize = 41;
  // The longest text a record can carry.
  static constexpr uint32_t kMaxTextLength = 65535;

  // Result codes of serialize and deserialize.
  static constexpr int kOk = 0;
  static constexpr int kBufferTooSmall = -2;  // serialize: grow and call again
  static constexpr int kBadLength = -3;       // deserialize: record size wrong
  static constexpr int kTextTooLong = -4;

  // Empty texts and containers, all numbers 0; for deserialize to fill.
  AlertMessage();

  // A new alert made now: `time` is the current time, `id` has `time` as its
  // low half and a pseudo-random number as its high half (the generator is
  // seeded once per process), `host` is "localhost" and `address` 127.0.0.1.
  // counterParts and counterValues start empty.
  AlertMessage(int8_t warningLevel, const std::string& logTitle,
               const std::string& analyzerTitle, const std::string& description);

  // Writes the alert record into buffer[0, capacity) and its length through
  // `size`. Returns kOk; kBufferTooSmall when `buffer` is null or the record
  // does not fit; kTextTooLong when a text exceeds kMaxTextLength. On failure
  // `size` is left untouched and the buffer's contents are not usable.
  int serialize(char* buffer, int capacity, int* size) const;

  // Reads an alert record of exactly `length` bytes, replacing every field.
  // Returns kOk; kBadLength when `buffer` is null or the record needs more or
  // fewer than `length` bytes; kTextTooLong when a text length is above
  // kMaxTextLength. Never reads past `length`. On failure the fields are
  // partly filled and the record is to be discarded.
  int deserialize(const char* buffer, int length);

  // One line: id, local creation time, host, address, warning level, log
  // title, analyzer title and description, each followed by a blank.
  void print(std::ostream& out) const;

  // Fields in contract order (see the file comment).
  int32_t time;                   // creation time, seconds since 1970 UTC
  uint64_t id;                    // low half: time; high half: random
  std::string host;               // always "localhost"
  uint32_t address;               // IPv4, network byte order as stored
  int8_t warningLevel;            // the analyzer's answer, 1..100
  std::string logTitle;
  std::string analyzerTitle;
  std::string description;        // the analyzer's message text
  std::vector<CounterPart> counterParts;      // one per anomalous rule
  std::map<uint64_t, double> counterValues;   // counter id -> current value
};

// A frame of the "alertmessages" file around a record of `size` bytes: the
// size as 4 little-endian bytes, the record, and the size again.
std::string AlertFrame(const char* record, uint32_t size);

// Walks the frames of an "alertmessages" file's bytes from the front. Each
// whole frame (a record that reads back whole between two equal lengths)
// goes to `record` with the frame's offset. A stretch that is no whole frame
// (a torn write, a cut tail) goes to `torn` with its offset and the offset
// of the next whole frame found past it, or the end of the bytes when none
// follows; the walk goes on from there.
void ScanAlertFrames(std::string_view bytes,
                     const std::function<void(size_t at, const AlertMessage& alert)>& record,
                     const std::function<void(size_t at, size_t next)>& torn);

}  // namespace kst

#endif  // KESTRANE_STATSUBSYSTEM_COMMON_ALERT_MESSAGE_H_
