#include "StatSubsystem/common/alert_message.h"

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace kst {

namespace {

// Packs a dotted IPv4 text into its four bytes in network order, as stored.
uint32_t ParseIPv4(const char* text) {
  unsigned char bytes[4] = {0, 0, 0, 0};
  for (int i = 0; i < 4 && *text != '\0'; ++i) {
    unsigned value = 0;
    while (*text >= '0' && *text <= '9') value = value * 10 + static_cast<unsigned>(*text++ - '0');
    bytes[i] = static_cast<unsigned char>(value);
    if (*text == '.') ++text;
  }
  uint32_t address;
  std::memcpy(&address, bytes, 4);
  return address;
}

std::string FormatIPv4(uint32_t address) {
  unsigned char b[4];
  std::memcpy(b, &address, 4);
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
  return text;
}

// The 24-character calendar form of a local time, "Tue Dec  8 21:05:09 2026".
std::string CalendarText(int32_t seconds) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::time_t t = seconds;
  std::tm tm{};
  if (localtime_r(&t, &tm) == nullptr) return "";
  char text[64];
  std::snprintf(text, sizeof text, "%.3s %.3s%3d %.2d:%.2d:%.2d %d", kDays[tm.tm_wday % 7],
                kMonths[tm.tm_mon % 12], tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                tm.tm_year + 1900);
  return text;
}

// Draws the id's high half from the process's generator, seeded on first use.
uint32_t RandomHalf(int32_t now) {
  static bool seeded = false;
  if (!seeded) {
    seeded = true;
    std::srand(static_cast<uint32_t>(::getpid()) * static_cast<uint32_t>(now));
  }
  // Two draws of 15 bits each, whatever the generator's range.
  uint32_t a = static_cast<uint32_t>(std::rand()) & 0x7fff;
  uint32_t b = static_cast<uint32_t>(std::rand()) & 0x7fff;
  return a * b;
}

class Writer {
 public:
  explicit Writer(char* out) : out_(reinterpret_cast<unsigned char*>(out)) {}
  void U8(uint8_t v) { *out_++ = v; }
  void U32(uint32_t v) { Uint(v); }
  void U64(uint64_t v) { Uint(v); }
  void Raw(const void* data, size_t n) {
    if (n != 0) std::memcpy(out_, data, n);
    out_ += n;
  }
  void Text(const std::string& s) {
    U32(static_cast<uint32_t>(s.size()));
    Raw(s.data(), s.size());
  }
  void Double(double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    U64(bits);
  }
  void Ids(const std::vector<uint64_t>& ids) {
    U32(static_cast<uint32_t>(ids.size()));
    for (uint64_t id : ids) U64(id);
  }
  size_t Written(const char* start) const {
    return static_cast<size_t>(out_ - reinterpret_cast<const unsigned char*>(start));
  }

 private:
  template <typename T>
  void Uint(T v) {
    for (size_t i = 0; i < sizeof(T); ++i) *out_++ = static_cast<unsigned char>(v >> (8 * i));
  }

  unsigned char* out_;
};

// Reads little-endian fields and never past the end it was given.
class Reader {
 public:
  Reader(const char* in, size_t n) : in_(reinterpret_cast<const unsigned char*>(in)), left_(n) {}
  size_t left() const { return left_; }
  bool U8(uint8_t* v) {
    if (left_ < 1) return false;
    *v = *in_++;
    --left_;
    return true;
  }
  bool U32(uint32_t* v) { return Uint(v); }
  bool U64(uint64_t* v) { return Uint(v); }
  bool Raw(void* out, size_t n) {
    if (left_ < n) return false;
    if (n != 0) std::memcpy(out, in_, n);
    in_ += n;
    left_ -= n;
    return true;
  }
  // A text: its length (rejected above the record's limit), then its bytes.
  int Text(std::string* s) {
    uint32_t n;
    if (!U32(&n)) return AlertMessage::kBadLength;
    if (n > AlertMessage::kMaxTextLength) return AlertMessage::kTextTooLong;
    if (left_ < n) return AlertMessage::kBadLength;
    s->assign(reinterpret_cast<const char*>(in_), n);
    in_ += n;
    left_ -= n;
    return AlertMessage::kOk;
  }
  // A count followed by ids; the count is checked against what is left
  // before anything is allocated.
  bool Ids(std::vector<uint64_t>* ids) {
    uint32_t n;
    if (!U32(&n) || left_ / 8 < n) return false;
    ids->resize(n);
    for (uint64_t& id : *ids) U64(&id);
    return true;
  }


 private:
  template <typename T>
  bool Uint(T* v) {
    if (left_ < sizeof(T)) return false;
    *v = 0;
    for (size_t i = 0; i < sizeof(T); ++i) *v |= static_cast<T>(in_[i]) << (8 * i);
    in_ += sizeof(T);
    left_ -= sizeof(T);
    return true;
  }

  const unsigned char* in_;
  size_t left_;
};

}  // namespace

AlertMessage::AlertMessage()
    : time(0), id(0), address(0), warningLevel(0) {}

AlertMessage::AlertMessage(int8_t level, const std::string& log, const std::string& analyzer,
                           const std::string& text)
    : time(static_cast<int32_t>(std::time(nullptr))),
      host("localhost"),
      address(ParseIPv4("127.0.0.1")),
      warningLevel(level),
      logTitle(log),
      analyzerTitle(analyzer),
      description(text) {
  id = (static_cast<uint64_t>(RandomHalf(time)) << 32) | static_cast<uint32_t>(time);
}

int AlertMessage::serialize(char* buffer, int capacity, int* size) const {
  if (buffer == nullptr || capacity < kFixedRecordSize) return kBufferTooSmall;
  // Every variable piece is checked against what the capacity has left
  // before anything is written.
  uint64_t remaining = static_cast<uint64_t>(capacity - kFixedRecordSize);
  auto reserve = [&remaining](uint64_t bytes) {
    if (bytes > remaining) return false;
    remaining -= bytes;
    return true;
  };
  for (const std::string* text : {&host, &logTitle, &analyzerTitle, &description}) {
    if (text->size() > kMaxTextLength) return kTextTooLong;
    if (!reserve(text->size())) return kBufferTooSmall;
  }
  if (!reserve(8 * static_cast<uint64_t>(counterParts.size()))) return kBufferTooSmall;
  for (const CounterPart& part : counterParts) {
    if (!reserve(8 * static_cast<uint64_t>(part.baseCounterIds.size())) ||
        !reserve(8 * static_cast<uint64_t>(part.resultCounterIds.size()))) {
      return kBufferTooSmall;
    }
  }
  if (!reserve(16 * static_cast<uint64_t>(counterValues.size()))) return kBufferTooSmall;

  Writer w(buffer);
  w.U64(id);
  w.U32(static_cast<uint32_t>(time));
  w.Text(host);
  w.Raw(&address, 4);
  w.U8(static_cast<uint8_t>(warningLevel));
  w.Text(logTitle);
  w.Text(analyzerTitle);
  w.Text(description);
  w.U32(static_cast<uint32_t>(counterParts.size()));
  for (const CounterPart& part : counterParts) {
    w.Ids(part.baseCounterIds);
    w.Ids(part.resultCounterIds);
  }
  w.U32(static_cast<uint32_t>(counterValues.size()));
  for (const auto& [counter, value] : counterValues) {
    w.U64(counter);
    w.Double(value);
  }
  *size = static_cast<int>(w.Written(buffer));
  return kOk;
}

int AlertMessage::deserialize(const char* buffer, int length) {
  if (buffer == nullptr || length < 0) return kBadLength;
  Reader r(buffer, static_cast<size_t>(length));
  counterParts.clear();
  counterValues.clear();

  uint32_t time_bits;
  uint8_t level;
  if (!r.U64(&id) || !r.U32(&time_bits)) return kBadLength;
  time = static_cast<int32_t>(time_bits);
  if (int rc = r.Text(&host); rc != kOk) return rc;
  if (!r.Raw(&address, 4) || !r.U8(&level)) return kBadLength;
  warningLevel = static_cast<int8_t>(level);
  for (std::string* text : {&logTitle, &analyzerTitle, &description}) {
    if (int rc = r.Text(text); rc != kOk) return rc;
  }

  uint32_t parts;
  if (!r.U32(&parts) || r.left() / 8 < parts) return kBadLength;
  counterParts.resize(parts);
  for (CounterPart& part : counterParts) {
    if (!r.Ids(&part.baseCounterIds) || !r.Ids(&part.resultCounterIds)) return kBadLength;
  }

  uint32_t values;
  if (!r.U32(&values) || r.left() / 16 < values) return kBadLength;
  for (uint32_t i = 0; i < values; ++i) {
    uint64_t counter = 0, bits = 0;
    r.U64(&counter);
    r.U64(&bits);
    double value;
    std::memcpy(&value, &bits, 8);
    counterValues[counter] = value;
  }
  return r.left() == 0 ? kOk : kBadLength;
}

void AlertMessage::print(std::ostream& out) const {
  out << static_cast<int64_t>(id) << ' ' << CalendarText(time) << ' ' << host << ' '
      << FormatIPv4(address) << ' ' << static_cast<int>(warningLevel) << ' ' << logTitle << ' '
      << analyzerTitle << ' ' << description << ' ' << '\n';
}

std::string AlertFrame(const char* record, uint32_t size) {
  std::string frame(size + 8u, '\0');
  Writer w(frame.data());
  w.U32(size);
  w.Raw(record, size);
  w.U32(size);
  return frame;
}

namespace {

uint32_t Le32At(std::string_view bytes, size_t at) {
  uint32_t v = 0;
  Reader(bytes.data() + at, 4).U32(&v);
  return v;
}

// The size of the whole frame at `at` (its record read into *alert), or 0.
size_t WholeFrameAt(std::string_view bytes, size_t at, AlertMessage* alert) {
  if (bytes.size() - at < 8) return 0;
  const uint32_t n = Le32At(bytes, at);
  if (n < static_cast<uint32_t>(AlertMessage::kFixedRecordSize) || n > INT_MAX ||
      n > bytes.size() - at - 8 || Le32At(bytes, at + 4 + n) != n) {
    return 0;
  }
  if (alert->deserialize(bytes.data() + at + 4, static_cast<int>(n)) != AlertMessage::kOk) {
    return 0;
  }
  return n + size_t{8};
}

}  // namespace

void ScanAlertFrames(std::string_view bytes,
                     const std::function<void(size_t at, const AlertMessage& alert)>& record,
                     const std::function<void(size_t at, size_t next)>& torn) {
  AlertMessage alert;
  size_t at = 0;
  while (at < bytes.size()) {
    if (const size_t size = WholeFrameAt(bytes, at, &alert); size != 0) {
      record(at, alert);
      at += size;
      continue;
    }
    // Both lengths must agree around a record that reads whole, so a false
    // start inside the torn bytes is all but impossible.
    size_t next = at + 1;
    while (next < bytes.size() && WholeFrameAt(bytes, next, &alert) == 0) ++next;
    torn(at, next);
    at = next;
  }
}

}  // namespace kst
