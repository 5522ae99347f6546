#include "StatSubsystem/common/ring_buffer.h"

#include <sstream>

#include "gtest/gtest.h"

namespace kst {
namespace {

TEST(RingBufferTest, SlotOfAMoment) {
  struct Case { int day, hour, minute; uint32_t interval; uint32_t slot; } cases[] = {
      {1, 0, 0, 1, 0},
      {31, 23, 59, 1, 44639},
      {1, 0, 0, 7, 0},
      {1, 0, 6, 7, 0},   // 00:00-00:06 share the first 7-minute slot
      {1, 0, 7, 7, 1},
      {2, 0, 0, 7, 205}, // 1440 / 7
      {5, 14, 30, 5, (4 * 1440 + 870) / 5},
      {31, 23, 59, 60, 743},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SlotIndex(c.day, c.hour, c.minute, c.interval), c.slot)
        << c.day << " " << c.hour << ":" << c.minute << " /" << c.interval;
  }
  EXPECT_EQ(FirstSlotOfDay(2, 7), 205u);
  EXPECT_EQ(SlotsPerMonth(1), 44640u);
  EXPECT_EQ(SlotsPerMonth(7), 6378u);  // the last slot is a partial one
  EXPECT_EQ(SlotsPerMonth(60), 744u);
  EXPECT_EQ(DateKey(3, 5), 305.0);
  EXPECT_EQ(MinuteOfDay(14, 30), 870.0);
}

TEST(RingBufferTest, HeaderLinesAndSlotPlacement) {
  const std::vector<std::string> objects = {"Processor(_Total)", "\\Memory", "System"};
  const std::vector<std::string> counters = {"% Processor Time", "Available Bytes", "Threads"};
  const std::string group = GroupLine(objects);
  const std::string header = HeaderLine(counters);
  EXPECT_EQ(group, "date;time;Processor(_Total);\\Memory;System\n");
  EXPECT_EQ(header, "Date;Time;% Processor Time;Available Bytes;Threads\n");
  EXPECT_EQ(GroupLine({}), "date;time\n");
  EXPECT_EQ(HeaderLinesOfPaths({"\\\\PC1\\Processor(_Total)\\% Processor Time", "\\Memory\\Available Bytes",
                                "\\\\.\\System\\Threads"}),
            group + header);

  const uint32_t header_size = static_cast<uint32_t>(group.size() + header.size());
  const uint32_t width = 5;  // three counters and the two head doubles
  EXPECT_EQ(SlotBytes(width), 40u);
  EXPECT_EQ(SlotOffset(header_size, width, 0), header_size);
  EXPECT_EQ(SlotOffset(header_size, width, 44639), header_size + 44639ull * 40);

  std::istringstream in(group + header + "rest");
  std::string line;
  ASSERT_TRUE(ReadHeaderLine(in, &line));
  EXPECT_EQ(line + "\n", group);
  ASSERT_TRUE(ReadHeaderLine(in, &line));
  EXPECT_EQ(line + "\n", header);
  EXPECT_EQ(static_cast<uint32_t>(in.tellg()), header_size);
  EXPECT_FALSE(ReadHeaderLine(in, &line));  // no LF before the end
}

TEST(RingBufferTest, LengthCheck) {
  struct Case { int64_t length; uint32_t header, width; bool fits; } cases[] = {
      {100, 100, 5, true},        // header only
      {140, 100, 5, true},        // one slot
      {141, 100, 5, false},       // one stray byte
      {139, 100, 5, false},       // a slot cut short
      {100 + 40 * 1000, 100, 5, true},
      {60, 100, 5, true},         // 40 bytes short of the header: signed remainder 0
      {0, 100, 5, false},
      {100, 100, 0, false},       // no slot width at all
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LengthFitsSlots(c.length, c.header, c.width), c.fits)
        << c.length << " " << c.header << " " << c.width;
  }
}

TEST(RingBufferTest, SlotBytesAreLittleEndianDoubles) {
  RingBufferSlot slot;
  slot.date_key = 305;
  slot.minute = 870;
  slot.values = {1.0, -2.5};
  const std::string bytes = EncodeSlot(slot);
  ASSERT_EQ(bytes.size(), 32u);
  // 1.0 is 0x3FF0000000000000, lowest byte first.
  EXPECT_EQ(bytes.substr(16, 8), std::string("\0\0\0\0\0\0\xF0\x3F", 8));
  // -2.5 is 0xC004000000000000.
  EXPECT_EQ(bytes.substr(24, 8), std::string("\0\0\0\0\0\0\x04\xC0", 8));

  std::stringstream file;
  ASSERT_TRUE(WriteSlot(file, slot));
  ASSERT_TRUE(WriteSlot(file, RingBufferSlot{}));  // a width-2 slot
  RingBufferSlot back;
  ASSERT_TRUE(ReadSlot(file, 4, &back));
  EXPECT_EQ(back.date_key, 305.0);
  EXPECT_EQ(back.minute, 870.0);
  EXPECT_EQ(back.values, slot.values);

  double key = -1, minute = -1;
  ASSERT_TRUE(ReadSlotHead(file, &key, &minute));
  EXPECT_EQ(key, 0.0);
  std::vector<double> values = {9.0};
  EXPECT_FALSE(ReadSlotValues(file, 1, &values));  // the stream ends first
  EXPECT_FALSE(ReadSlot(file, 1, &back));
}

}  // namespace
}  // namespace kst
