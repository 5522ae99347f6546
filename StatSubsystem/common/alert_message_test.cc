#include "StatSubsystem/common/alert_message.h"

#include <cstdlib>
#include <ctime>
#include <sstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace kst {
namespace {

std::string Serialized(const AlertMessage& m) {
  std::vector<char> buf(1 << 20);
  int size = -1;
  EXPECT_EQ(m.serialize(buf.data(), static_cast<int>(buf.size()), &size), AlertMessage::kOk);
  return std::string(buf.data(), size < 0 ? 0 : size);
}

// A message with every kind of variable piece, built without the clock.
AlertMessage Sample() {
  AlertMessage m;
  m.time = 0x01020304;
  m.id = 0xA1A2A3A4'01020304ull;
  m.host = "localhost";
  m.address = AlertMessage(1, "", "", "").address;
  m.warningLevel = 100;
  m.logTitle = "L";
  m.analyzerTitle = "AB";
  m.description = "msg";
  m.counterParts = {{{7}, {8, 9}}, {{}, {}}};
  m.counterValues = {{~0ull, 1.0}, {5, -2.5}};
  return m;
}

TEST(AlertMessageTest, RecordBytesArePackedLittleEndian) {
  const unsigned char expected[] = {
      0x04, 0x03, 0x02, 0x01, 0xA4, 0xA3, 0xA2, 0xA1,  // id, low half first
      0x04, 0x03, 0x02, 0x01,                          // time
      9, 0, 0, 0, 'l', 'o', 'c', 'a', 'l', 'h', 'o', 's', 't',
      127, 0, 0, 1,                                    // address as stored
      100,                                             // warning level
      1, 0, 0, 0, 'L', 2, 0, 0, 0, 'A', 'B', 3, 0, 0, 0, 'm', 's', 'g',
      2, 0, 0, 0,                                      // two counter parts
      1, 0, 0, 0, 7, 0, 0, 0, 0, 0, 0, 0,
      2, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 9, 0, 0, 0, 0, 0, 0, 0,
      0, 0, 0, 0, 0, 0, 0, 0,
      2, 0, 0, 0,                                      // values, unsigned id order
      5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x04, 0xC0,
      0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F,
  };
  EXPECT_EQ(Serialized(Sample()),
            std::string(reinterpret_cast<const char*>(expected), sizeof expected));

  AlertMessage empty(0, "", "", "");
  EXPECT_EQ(Serialized(empty).size(), 50u);
}

TEST(AlertMessageTest, SerializeNeedsRoomForEveryPiece) {
  const AlertMessage m = Sample();
  const int exact = static_cast<int>(Serialized(m).size());
  std::vector<char> buf(exact);
  for (int capacity = 0; capacity < exact; ++capacity) {
    int size = 12345;
    EXPECT_EQ(m.serialize(buf.data(), capacity, &size), AlertMessage::kBufferTooSmall) << capacity;
    EXPECT_EQ(size, 12345);
  }
  int size = 12345;
  EXPECT_EQ(m.serialize(nullptr, 1000, &size), AlertMessage::kBufferTooSmall);
  EXPECT_EQ(m.serialize(buf.data(), exact, &size), AlertMessage::kOk);
  EXPECT_EQ(size, exact);
}

TEST(AlertMessageTest, TextsLongerThanTheLimitAreRefused) {
  const std::string longest(65535, 'x'), too_long(65536, 'x');
  std::vector<char> buf(1 << 20);
  for (int which = 0; which < 4; ++which) {
    AlertMessage m = Sample();
    std::string* texts[] = {&m.host, &m.logTitle, &m.analyzerTitle, &m.description};
    *texts[which] = longest;
    int size = -7;
    EXPECT_EQ(m.serialize(buf.data(), static_cast<int>(buf.size()), &size), AlertMessage::kOk);
    *texts[which] = too_long;
    size = -7;
    EXPECT_EQ(m.serialize(buf.data(), static_cast<int>(buf.size()), &size),
              AlertMessage::kTextTooLong) << which;
    EXPECT_EQ(size, -7);
  }
}

TEST(AlertMessageTest, DeserializeRestoresEveryField) {
  const AlertMessage m = Sample();
  const std::string record = Serialized(m);
  AlertMessage back;
  back.counterValues[42] = 1;  // stale contents go
  ASSERT_EQ(back.deserialize(record.data(), static_cast<int>(record.size())), AlertMessage::kOk);
  EXPECT_EQ(back.time, m.time);
  EXPECT_EQ(back.id, m.id);
  EXPECT_EQ(back.host, m.host);
  EXPECT_EQ(back.address, m.address);
  EXPECT_EQ(back.warningLevel, m.warningLevel);
  EXPECT_EQ(back.logTitle, m.logTitle);
  EXPECT_EQ(back.analyzerTitle, m.analyzerTitle);
  EXPECT_EQ(back.description, m.description);
  ASSERT_EQ(back.counterParts.size(), 2u);
  EXPECT_EQ(back.counterParts[0].baseCounterIds, m.counterParts[0].baseCounterIds);
  EXPECT_EQ(back.counterParts[0].resultCounterIds, m.counterParts[0].resultCounterIds);
  EXPECT_TRUE(back.counterParts[1].baseCounterIds.empty());
  EXPECT_EQ(back.counterValues, m.counterValues);
  EXPECT_EQ(Serialized(back), record);
}

TEST(AlertMessageTest, DeserializeWantsExactlyTheRecordsLength) {
  const std::string record = Serialized(Sample());
  AlertMessage back;
  for (size_t n = 0; n < record.size(); ++n) {
    EXPECT_EQ(back.deserialize(record.data(), static_cast<int>(n)), AlertMessage::kBadLength) << n;
  }
  const std::string longer = record + '\0';
  EXPECT_EQ(back.deserialize(longer.data(), static_cast<int>(longer.size())),
            AlertMessage::kBadLength);
  EXPECT_EQ(back.deserialize(nullptr, 0), AlertMessage::kBadLength);
  EXPECT_EQ(back.deserialize(record.data(), -1), AlertMessage::kBadLength);
}

TEST(AlertMessageTest, DeserializeRefusesHugeLengthsAndCounts) {
  std::string record = Serialized(AlertMessage(0, "", "", ""));  // 50 bytes
  auto with_u32 = [&record](size_t at, uint32_t v) {
    std::string r = record;
    for (int i = 0; i < 4; ++i) r[at + i] = static_cast<char>(v >> (8 * i));
    return r;
  };
  struct Case { size_t at; uint32_t value; int rc; } cases[] = {
      {12, 65536, AlertMessage::kTextTooLong},       // host length
      {30, 65536, AlertMessage::kTextTooLong},       // log title length
      {30, 65535, AlertMessage::kBadLength},         // fits the limit, not the record
      {42, 0xFFFFFFFF, AlertMessage::kBadLength},    // counter parts
      {46, 0xFFFFFFFF, AlertMessage::kBadLength},    // counter values
  };
  for (const Case& c : cases) {
    std::string r = with_u32(c.at, c.value);
    AlertMessage back;
    EXPECT_EQ(back.deserialize(r.data(), static_cast<int>(r.size())), c.rc) << c.at;
  }
}

TEST(AlertMessageTest, NewMessageIsStampedAndIdentified) {
  const int32_t before = static_cast<int32_t>(std::time(nullptr));
  AlertMessage a(42, "log", "inst", "text");
  AlertMessage b(42, "log", "inst", "text");
  const int32_t after = static_cast<int32_t>(std::time(nullptr));
  EXPECT_GE(a.time, before);
  EXPECT_LE(a.time, after);
  EXPECT_EQ(static_cast<uint32_t>(a.id), static_cast<uint32_t>(a.time));
  EXPECT_EQ(a.host, "localhost");
  const unsigned char* addr = reinterpret_cast<const unsigned char*>(&a.address);
  EXPECT_EQ(addr[0], 127);
  EXPECT_EQ(addr[3], 1);
  EXPECT_EQ(a.warningLevel, 42);
  EXPECT_TRUE(a.counterParts.empty() && a.counterValues.empty());
  EXPECT_NE(a.id >> 32, b.id >> 32);  // successive draws differ
  // The high half is the product of two draws of 0..32767 each.
  for (int i = 0; i < 64; ++i) {
    EXPECT_LE(AlertMessage(1, "", "", "").id >> 32, 32767u * 32767u);
  }
}

TEST(AlertMessageTest, PrintWritesOneLine) {
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  AlertMessage m = Sample();
  m.id = ~0ull;
  m.time = 1796763909;  // Tue Dec  8 21:05:09 2026 UTC
  std::ostringstream out;
  m.print(out);
  EXPECT_EQ(out.str(), "-1 Tue Dec  8 21:05:09 2026 localhost 127.0.0.1 100 L AB msg \n");
}

TEST(AlertMessageTest, FrameCarriesTheLengthOnBothSides) {
  const std::string record = Serialized(Sample());
  const std::string frame = AlertFrame(record.data(), static_cast<uint32_t>(record.size()));
  ASSERT_EQ(frame.size(), record.size() + 8);
  EXPECT_EQ(frame.substr(0, 4), frame.substr(frame.size() - 4));
  EXPECT_EQ(static_cast<unsigned char>(frame[0]), record.size());
  EXPECT_EQ(frame.substr(4, record.size()), record);
}

TEST(AlertMessageTest, ScanFindsEveryWholeFrameAroundTornOnes) {
  AlertMessage first = Sample(), second = Sample();
  second.logTitle = "second";
  const std::string r1 = Serialized(first), r2 = Serialized(second);
  const std::string f1 = AlertFrame(r1.data(), static_cast<uint32_t>(r1.size()));
  const std::string f2 = AlertFrame(r2.data(), static_cast<uint32_t>(r2.size()));
  std::string lying = f1;  // its closing length disagrees
  lying[lying.size() - 4] ^= 1;
  std::string bad_record = f1;  // lengths agree, the record does not read
  bad_record[4 + 12] = 10;      // host length one too many

  struct Case {
    const char* what;
    std::string bytes;
    std::vector<std::string> logs;         // of the whole frames, in order
    std::vector<std::pair<size_t, size_t>> tears;
  } cases[] = {
      {"empty", "", {}, {}},
      {"whole", f1 + f2, {"L", "second"}, {}},
      {"cut in the middle", f1 + f2.substr(0, 30) + f2 + f1, {"L", "second", "L"},
       {{f1.size(), f1.size() + 30}}},
      {"garbage in front", "xyz" + f2, {"second"}, {{0, 3}}},
      {"one stray byte", f1 + "x" + f2, {"L", "second"}, {{f1.size(), f1.size() + 1}}},
      {"closing length wrong", lying + f2, {"second"}, {{0, lying.size()}}},
      {"record unreadable", bad_record + f2, {"second"}, {{0, bad_record.size()}}},
      {"cut tail", f1 + f2.substr(0, 7), {"L"}, {{f1.size(), f1.size() + 7}}},
      {"cut after the opening length", f1 + f2.substr(0, f2.size() - 1), {"L"},
       {{f1.size(), f1.size() + f2.size() - 1}}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> logs;
    std::vector<std::pair<size_t, size_t>> tears;
    ScanAlertFrames(
        c.bytes,
        [&](size_t, const AlertMessage& alert) { logs.push_back(alert.logTitle); },
        [&](size_t at, size_t next) { tears.emplace_back(at, next); });
    EXPECT_EQ(logs, c.logs) << c.what;
    EXPECT_EQ(tears, c.tears) << c.what;
  }
}

}  // namespace
}  // namespace kst
