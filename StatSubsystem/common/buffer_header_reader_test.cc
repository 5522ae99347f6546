#include "StatSubsystem/common/buffer_header_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "StatSubsystem/common/service_keys.h"
#include "platform/registry.h"
#include "platform/registry_testing.h"

namespace kst {
namespace {

TEST(BufferHeaderReaderTest, FieldsOfALineAndItsBound) {
  std::istringstream in("date;time;A;B\nDate;Time;x;y\nrest");
  std::string first, rest;
  ASSERT_TRUE(ReadHeaderFields(in, &first, &rest));
  EXPECT_EQ(first, "date");
  EXPECT_EQ(rest, "time;A;B");
  ASSERT_TRUE(ReadHeaderFields(in, &first, &rest));
  EXPECT_EQ(first, "Date");
  EXPECT_EQ(rest, "Time;x;y");
  EXPECT_EQ(in.tellg(), 28);  // just past the second LF
  EXPECT_FALSE(ReadHeaderFields(in, &first, &rest));  // no LF before the end

  // The longest line read, then one character more.
  const std::string longest = "d;" + std::string(kMaxHeaderLineLength - 2, 'x');
  std::istringstream fits(longest + "\n");
  ASSERT_TRUE(ReadHeaderFields(fits, &first, &rest));
  EXPECT_EQ(rest.size(), kMaxHeaderLineLength - 2);
  std::istringstream too_long(longest + "x\n");
  EXPECT_FALSE(ReadHeaderFields(too_long, &first, &rest));
  EXPECT_EQ(too_long.tellg(), -1);  // stopped with the stream failed

  std::istringstream no_separator("datetime\n");
  EXPECT_FALSE(ReadHeaderFields(no_separator, &first, &rest));
  std::istringstream empty_fields(";\n");
  ASSERT_TRUE(ReadHeaderFields(empty_fields, &first, &rest));
  EXPECT_EQ(first + "|" + rest, "|");
}

TEST(BufferHeaderReaderTest, OnlyRegularFilesWithHeaderLinesPass) {
  TempKestraneHome home;
  const std::string dir = home.path();
  std::ofstream(dir + "/good") << "date;time;A\nDate;Time;x\n";
  std::ofstream(dir + "/one_line") << "date;time;A\n";
  std::ofstream(dir + "/no_separator") << "date\nDate;Time;x\n";
  ASSERT_EQ(::mkfifo((dir + "/pipe").c_str(), 0600), 0);
  // A writer with whole header lines waiting keeps a reader that opens the
  // pipe by mistake from blocking: it would pass for a good buffer instead.
  const int writer = ::open((dir + "/pipe").c_str(), O_RDWR | O_NONBLOCK);
  ASSERT_GE(writer, 0);
  const std::string header = "date;time;A\nDate;Time;x\n";
  for (int i = 0; i < 2; ++i) ASSERT_EQ(::write(writer, header.data(), header.size()), static_cast<ssize_t>(header.size()));
  std::filesystem::create_symlink(dir + "/good", dir + "/link_to_good");
  std::filesystem::create_symlink(dir + "/pipe", dir + "/link_to_pipe");
  struct Case {
    std::string path;
    BufferFileStatus status;
  };
  const Case cases[] = {
      {dir + "/good", BufferFileStatus::kOk},
      {dir + "/link_to_good", BufferFileStatus::kOk},
      {dir + "/one_line", BufferFileStatus::kDamagedHeader},
      {dir + "/no_separator", BufferFileStatus::kDamagedHeader},
      {dir + "/missing", BufferFileStatus::kCannotOpen},
      {dir + "/pipe", BufferFileStatus::kNotRegular},
      {dir + "/link_to_pipe", BufferFileStatus::kNotRegular},
      {dir, BufferFileStatus::kNotRegular},
      {"/dev/zero", BufferFileStatus::kNotRegular},
  };
  for (const Case& c : cases) EXPECT_EQ(CheckRingBufferFile(c.path), c.status) << c.path;
  ::close(writer);

  // Header lines that do not lead to the slots the collector names.
  RegistryKey key;
  ASSERT_EQ(RegistryKey::Create("System\\CurrentControlSet\\Services\\Kestrane buffer creator", &key),
            kErrorSuccess);
  struct Shape {
    int header_size, record_width;
    BufferFileStatus status;
  };
  const Shape shapes[] = {{24, 3, BufferFileStatus::kOk},
                          {24, 4, BufferFileStatus::kDamagedHeader},
                          {25, 3, BufferFileStatus::kDamagedHeader},
                          {23, 3, BufferFileStatus::kDamagedHeader}};
  for (const Shape& shape : shapes) {
    ASSERT_EQ(WriteServiceDword("kstCollector", "optHeadGrpOffset", shape.header_size), 0);
    ASSERT_EQ(WriteServiceDword("kstCollector", "optCollsCount", shape.record_width), 0);
    EXPECT_EQ(CheckRingBufferFile(dir + "/good"), shape.status)
        << shape.header_size << " " << shape.record_width;
  }

  EXPECT_STREQ(BufferFileProblem(BufferFileStatus::kOk), "");
  EXPECT_STREQ(BufferFileProblem(BufferFileStatus::kCannotOpen), "cannot be opened");
  EXPECT_STREQ(BufferFileProblem(BufferFileStatus::kNotRegular), "is not a regular file");
  EXPECT_STREQ(BufferFileProblem(BufferFileStatus::kDamagedHeader), "has damaged header lines");
}

}  // namespace
}  // namespace kst
