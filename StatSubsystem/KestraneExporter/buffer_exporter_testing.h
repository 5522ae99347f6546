// Test-only: a private installation with a ring buffer that tests fill
// slot by slot, and the exporter run on it with today fixed.
#ifndef KESTRANE_EXPORTER_BUFFER_EXPORTER_TESTING_H_
#define KESTRANE_EXPORTER_BUFFER_EXPORTER_TESTING_H_

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "StatSubsystem/KestraneExporter/buffer_exporter.h"
#include "StatSubsystem/KestraneExporter/exporter_run.h"
#include "StatSubsystem/common/ring_buffer.h"
#include "StatSubsystem/common/service_keys.h"
#include "platform/registry.h"
#include "platform/registry_testing.h"

namespace kst {

inline std::tm Date(int month, int day) {
  std::tm t{};
  t.tm_year = 126;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = 12;
  return t;
}

class BufferExporterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = temp_home_.path();
    RegistryKey key;
    ASSERT_EQ(RegistryKey::Create("System\\CurrentControlSet\\Services\\Kestrane buffer creator", &key),
              kErrorSuccess);
  }

  // A buffer of `interval`-minute slots with the given columns; its settings
  // go to the collector's key as the collector writes them.
  void MakeBuffer(uint32_t interval, const std::vector<std::string>& objects,
                  const std::vector<std::string>& counters) {
    interval_ = interval;
    width_ = static_cast<uint32_t>(counters.size()) + 2;
    const std::string head = GroupLine(objects) + HeaderLine(counters);
    header_ = static_cast<uint32_t>(head.size());
    buffer_ = home_ + "/cbuffer";
    std::ofstream(buffer_, std::ios::binary) << head;
    ASSERT_EQ(WriteServiceDword("kstCollector", "optTimeInt", static_cast<int>(interval)), 0);
    ASSERT_EQ(WriteServiceDword("kstCollector", "optHeadGrpOffset", static_cast<int>(header_)), 0);
    ASSERT_EQ(WriteServiceDword("kstCollector", "optCollsCount", static_cast<int>(width_)), 0);
    ASSERT_EQ(WriteServiceString("kstCollector", "optBufferName", buffer_), 0);
  }

  // Writes a sample taken on month/day at `minute` into its slot.
  void Sample(int month, int day, int minute, std::vector<double> values) {
    if (values.empty()) values.assign(width_ - 2, minute);
    RingBufferSlot slot{DateKey(month, day), static_cast<double>(minute), values};
    std::fstream f(buffer_, std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(static_cast<std::streamoff>(
        SlotOffset(header_, width_, SlotIndex(day, minute / 60, minute % 60, interval_))));
    ASSERT_TRUE(WriteSlot(f, slot));
  }

  // Every slot of month/day from `from` to `till` minutes.
  void FillDay(int month, int day, int from = 0, int till = 1439) {
    for (int m = from; m <= till; m += static_cast<int>(interval_)) Sample(month, day, m, {});
  }

  // Runs the program's course with today fixed at `today`; the output file's
  // text, or standard output's when no -of is given.
  std::string Run(std::vector<const char*> words, std::tm today, std::string* err_text = nullptr) {
    words.insert(words.begin(), "KestraneExporter");
    LocalTimeSource clock = [today](std::tm* now) {
      *now = today;
      return true;
    };
    std::ostringstream out, err;
    BufferExporter exporter(clock, &out);
    RunExporter(static_cast<int>(words.size()), words.data(), &exporter, clock, err);
    if (err_text != nullptr) *err_text = err.str();
    return out.str();
  }

  // One export by `exporter` (today as its clock says) with the options
  // `words` give; the text written to standard output.
  static std::string ExportWith(BufferExporter* exporter, std::ostringstream* out,
                                std::vector<const char*> words, int* code = nullptr) {
    words.insert(words.begin(), "KestraneExporter");
    ExporterOptions options;
    if (ParseExporterOptions(static_cast<int>(words.size()), words.data(), &options) != 0) return "parse";
    out->str("");
    const int result = exporter->Export(&options, true);
    if (code != nullptr) *code = result;
    return out->str();
  }

  static LocalTimeSource Today(std::tm today) {
    return [today](std::tm* now) {
      *now = today;
      return true;
    };
  }

  // The first cells (minutes) of the rows, prefixed by their day when rows
  // of several days are expected to be told apart by the caller.
  static std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  static std::vector<int> Minutes(const std::string& text, bool headers = true) {
    std::vector<int> minutes;
    auto lines = Lines(text);
    for (size_t i = headers ? 2 : 0; i < lines.size(); ++i) minutes.push_back(std::stoi(lines[i]));
    return minutes;
  }

  TempKestraneHome temp_home_;
  std::string home_, buffer_;
  uint32_t interval_ = 1, width_ = 2, header_ = 0;
};

}  // namespace kst

#endif  // KESTRANE_EXPORTER_BUFFER_EXPORTER_TESTING_H_
