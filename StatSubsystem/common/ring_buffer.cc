#include "StatSubsystem/common/ring_buffer.h"

#include <bit>
#include <istream>
#include <ostream>

#include "StatSubsystem/common/counter_values.h"
#include "StatSubsystem/common/service_names.h"

namespace kst {
namespace {

std::string JoinLine(const char* first, const char* second,
                     const std::vector<std::string>& fields) {
  std::string line = first;
  line += ';';
  line += second;
  for (const std::string& field : fields) {
    line += ';';
    line += field;
  }
  line += '\n';
  return line;
}

bool ReadBytes(std::istream& in, unsigned char* dst, std::streamsize n) {
  in.read(reinterpret_cast<char*>(dst), n);
  return in.gcount() == n;
}

}  // namespace

uint32_t SlotIndex(int day, int hour, int minute, uint32_t interval) {
  const uint32_t minutes = static_cast<uint32_t>(day - 1) * kMinutesPerDay +
                           static_cast<uint32_t>(hour) * 60 + static_cast<uint32_t>(minute);
  return minutes / interval;
}

uint32_t FirstSlotOfDay(int day, uint32_t interval) { return SlotIndex(day, 0, 0, interval); }

uint32_t SlotsPerMonth(uint32_t interval) {
  return (31 * kMinutesPerDay + interval - 1) / interval;
}

uint64_t SlotBytes(uint32_t record_width) {
  return static_cast<uint64_t>(kBytesPerDouble) * record_width;
}

uint64_t SlotOffset(uint32_t header_size, uint32_t record_width, uint64_t slot) {
  return header_size + slot * SlotBytes(record_width);
}

bool LengthFitsSlots(int64_t file_length, uint32_t header_size, uint32_t record_width) {
  const int64_t slot_bytes = static_cast<int64_t>(SlotBytes(record_width));
  if (slot_bytes == 0) return false;
  return (file_length - static_cast<int64_t>(header_size)) % slot_bytes == 0;
}

double DateKey(int month, int day) { return month * 100 + day; }

double MinuteOfDay(int hour, int minute) { return hour * 60 + minute; }

std::string GroupLine(const std::vector<std::string>& object_parts) {
  return JoinLine(ServiceNameTable[kGroupDateField], ServiceNameTable[kGroupTimeField], object_parts);
}

std::string HeaderLine(const std::vector<std::string>& counter_names) {
  return JoinLine(ServiceNameTable[kHeaderDateField], ServiceNameTable[kHeaderTimeField],
                  counter_names);
}

uint64_t MinimumHeaderSize(uint32_t record_width) {
  const uint64_t counters = record_width > kSlotHeadDoubles ? record_width - kSlotHeadDoubles : 0;
  return GroupLine({}).size() + HeaderLine({}).size() + 2 * counters;
}

std::string HeaderLinesOfPaths(const std::vector<std::string>& counter_paths) {
  std::vector<std::string> objects, counters;
  for (const std::string& path : counter_paths) {
    objects.push_back(CounterObjectPart(path));
    counters.push_back(CounterNamePart(path));
  }
  return GroupLine(objects) + HeaderLine(counters);
}

bool ReadHeaderLine(std::istream& in, std::string* line) {
  line->clear();
  char c;
  while (in.get(c)) {
    if (c == '\n') return true;
    line->push_back(c);
  }
  return false;
}

void PutDouble(std::string* dst, double value) {
  const uint64_t bits = std::bit_cast<uint64_t>(value);
  for (int i = 0; i < 8; ++i) dst->push_back(static_cast<char>((bits >> (8 * i)) & 0xff));
}

double GetDouble(const unsigned char* src) {
  uint64_t bits = 0;
  for (int i = 0; i < 8; ++i) bits |= static_cast<uint64_t>(src[i]) << (8 * i);
  return std::bit_cast<double>(bits);
}

std::string EncodeSlot(const RingBufferSlot& slot) {
  std::string bytes;
  bytes.reserve(SlotBytes(slot.RecordWidth()));
  PutDouble(&bytes, slot.date_key);
  PutDouble(&bytes, slot.minute);
  for (double value : slot.values) PutDouble(&bytes, value);
  return bytes;
}

bool WriteSlot(std::ostream& out, const RingBufferSlot& slot) {
  const std::string bytes = EncodeSlot(slot);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

bool ReadSlotHead(std::istream& in, double* date_key, double* minute) {
  unsigned char head[16];
  if (!ReadBytes(in, head, sizeof head)) return false;
  *date_key = GetDouble(head);
  *minute = GetDouble(head + 8);
  return true;
}

bool ReadSlotValues(std::istream& in, uint32_t count, std::vector<double>* values) {
  values->clear();
  std::string bytes(SlotBytes(count), '\0');
  auto* raw = reinterpret_cast<unsigned char*>(bytes.data());
  if (!ReadBytes(in, raw, static_cast<std::streamsize>(bytes.size()))) return false;
  values->reserve(count);
  for (uint32_t i = 0; i < count; ++i) values->push_back(GetDouble(raw + 8 * i));
  return true;
}

bool ReadSlot(std::istream& in, uint32_t record_width, RingBufferSlot* slot) {
  if (record_width < kSlotHeadDoubles) return false;
  return ReadSlotHead(in, &slot->date_key, &slot->minute) &&
         ReadSlotValues(in, record_width - kSlotHeadDoubles, &slot->values);
}

}  // namespace kst
