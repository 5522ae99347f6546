#include "StatSubsystem/KestraneExporter/buffer_exporter.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <iostream>
#include <vector>

#include "StatSubsystem/KestraneExporter/statistics_value.h"
#include "StatSubsystem/common/buffer_header_reader.h"
#include "StatSubsystem/common/ring_buffer.h"
#include "StatSubsystem/common/service_keys.h"
#include "StatSubsystem/common/service_names.h"
#include "platform/paths.h"

namespace kst {
namespace {

// A slot's date key or minute as an int; a value that no int holds (a slot
// read half written) becomes 0, which no filter accepts as a month.
int SlotInt(double value) {
  if (!(value > -2147483648.0 && value < 2147483648.0)) return 0;
  return static_cast<int>(value);
}

void WriteInt(std::ostream& out, int value) {
  char text[16];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  out.write(text, end - text);
}

}  // namespace

bool SystemLocalTime(std::tm* now) {
  const std::time_t t = std::time(nullptr);
  if (t == static_cast<std::time_t>(-1)) return false;
  return localtime_r(&t, now) != nullptr;
}

OutputFileStatus OutputTarget::Open(const std::string& fileName, bool truncate) {
  Close();
  if (fileName.empty()) {
    to_file_ = false;
  } else {
    const OutputFileStatus status = file_buffer_.OpenForOutput(NativePath(fileName), truncate);
    if (status != OutputFileStatus::kOk) return status;
    file_.clear();
    to_file_ = true;
  }
  Stream().precision(18);
  return OutputFileStatus::kOk;
}

std::ostream& OutputTarget::Stream() { return to_file_ ? file_ : *standard_output_; }

bool OutputTarget::Close() {
  if (to_file_) {
    to_file_ = false;
    return file_buffer_.Close();
  }
  return static_cast<bool>(standard_output_->flush());
}

BufferExporter::BufferExporter(LocalTimeSource clock, std::ostream* standard_output)
    : clock_(std::move(clock)),
      standard_output_(standard_output != nullptr ? standard_output : &std::cout) {}

int BufferExporter::LoadCollectorSettings() {
  int value = 0;
  if (ReadServiceDword(ServiceNameTable[kCollectorId], "optTimeInt", &value) != 0) return -1;
  settings_.timeInterval = static_cast<uint32_t>(value);
  if (ReadServiceDword(ServiceNameTable[kCollectorId], "optHeadGrpOffset", &value) != 0) return -2;
  settings_.headerSize = value;
  if (ReadServiceDword(ServiceNameTable[kCollectorId], "optCollsCount", &value) != 0) return -3;
  settings_.recordWidth = value;
  if (ReadServiceString(ServiceNameTable[kCollectorId], "optBufferName", &settings_.bufferFile) != 0) return -4;
  return 0;
}

int BufferExporter::Export(ExporterOptions* options, bool truncate) {
  // An interval of 0 would divide by zero; a slot narrower than its head
  // has no values to read.
  if (LoadCollectorSettings() != 0 || settings_.timeInterval == 0 ||
      settings_.recordWidth < static_cast<int32_t>(kSlotHeadDoubles)) {
    return -1;
  }
  OutputTarget target(standard_output_);
  switch (target.Open(options->outputFile, truncate)) {
    case OutputFileStatus::kOk:
      break;
    case OutputFileStatus::kUnfit:
      return -7;
    case OutputFileStatus::kNoReader:
      return -9;
    case OutputFileStatus::kCannotOpen:
      return -2;
  }
  std::ostream& out = target.Stream();
  RegularFileBuf buffer;
  switch (OpenRingBufferFile(NativePath(settings_.bufferFile), &buffer)) {
    case BufferFileStatus::kOk:
      break;
    case BufferFileStatus::kNotRegular:
      target.Close();
      return -5;
    default:
      target.Close();
      return -3;
  }
  std::istream in(&buffer);

  const uint32_t interval = settings_.timeInterval;
  const uint32_t header = static_cast<uint32_t>(settings_.headerSize);
  const uint32_t width = static_cast<uint32_t>(settings_.recordWidth);
  // Header lines that do not end where the slots begin, or name another
  // number of columns, mean the slots would be read out of step: binary
  // as text, or values shifted across columns.
  BufferHeaderLines lines;
  if (!ReadBufferHeaderLines(in, &lines) || !HeaderLinesDescribe(lines, header, width)) {
    target.Close();
    return -6;
  }
  if (!options->noHeaders) {
    std::replace(lines.group.begin(), lines.group.end(), '\\', '_');
    out << lines.group << '\n' << lines.names << '\n';
  }

  std::tm now{};
  if (!clock_(&now)) {
    target.Close();
    return -4;
  }
  currentMonth_ = now.tm_mon + 1;
  currentDay_ = now.tm_mday;

  if ((options->day == -1 && options->month == -1 && options->firstDay == -1) ||
      options->day == 0) {
    options->day = currentDay_;
  }

  uint64_t first_slot = 0;
  if (options->day > 0) {
    first_slot = FirstSlotOfDay(options->day, interval);
  } else if (options->firstDay > 0) {
    first_slot = FirstSlotOfDay(options->firstDay, interval);
  }
  const int limit_day = options->day > 0 ? options->day : (options->lastDay > 0 ? options->lastDay : 0);
  // Reading stops once the position passes the end of the limit day's slots.
  const uint64_t end_mark = limit_day > 0 ? SlotOffset(header, width, FirstSlotOfDay(limit_day + 1, interval))
                                          : UINT64_MAX;

  // Only slots that lie whole in the file are read: the collector grows the
  // file as it goes, and a slot it has only begun would give a row that is
  // just a minute.
  // Nor is anything past the month's last slot: the collector never writes
  // there, and a file grown past it (sparse, or not a buffer at all) must
  // not be read to its end.
  in.clear();
  in.seekg(0, std::ios::end);
  const uint64_t file_length =
      std::min(static_cast<uint64_t>(std::max<std::streamoff>(in.tellg(), 0)),
               SlotOffset(header, width, SlotsPerMonth(interval)));
  uint64_t position = SlotOffset(header, width, first_slot);
  in.seekg(static_cast<std::streamoff>(position));
  const uint32_t value_count = width - kSlotHeadDoubles;
  const uint64_t slot_bytes = SlotBytes(width);
  // A width no slot of this file can have (a damaged optCollsCount) must not
  // ask for a buffer of that size.
  std::vector<unsigned char> value_bytes(slot_bytes <= file_length ? SlotBytes(value_count) : 0);
  std::string row;
  while (in && position + slot_bytes <= file_length) {
    const int accepted = AcceptRecord(in, out, options);
    if (!in) break;
    if (accepted == 1) {
      in.read(reinterpret_cast<char*>(value_bytes.data()),
              static_cast<std::streamsize>(value_bytes.size()));
      const bool whole = in.gcount() == static_cast<std::streamsize>(value_bytes.size());
      row.clear();
      for (uint32_t i = 0; whole && i < value_count; ++i) {
        row += ';';
        AppendStatisticsValue(GetDouble(value_bytes.data() + kBytesPerDouble * i), &row);
      }
      row += '\n';
      out.write(row.data(), static_cast<std::streamsize>(row.size()));
      if (!whole) break;
    } else {
      in.ignore(static_cast<std::streamsize>(slot_bytes - kSlotHeadDoubles * kBytesPerDouble));
    }
    position += slot_bytes;
    if (position > end_mark) break;
  }
  // A table cut short must not pass for a whole one.
  return target.Close() ? 0 : -8;
}

int BufferExporter::AcceptRecord(std::istream& input, std::ostream& output,
                                 ExporterOptions* options) {
  double key = 0, minute = 0;
  if (!ReadSlotHead(input, &key, &minute)) return -1;
  const int t = SlotInt(minute);
  if (!Accept(SlotInt(key), t, options)) return -1;
  WriteInt(output, t);
  return 1;
}

bool BufferExporter::Accept(int date_key, int t, ExporterOptions* o) {
  const int slot_month = date_key / 100;
  const int slot_day = date_key % 100;
  if (slot_month == 0) return false;

  if (o->month == -1 || o->month == 0) o->month = currentMonth_;
  if (slot_month != o->month) return false;

  if (o->interval != -1) {
    if (lastKeptMinute_ != -1 &&
        std::llabs(static_cast<long long>(t) - lastKeptMinute_) < o->interval) {
      return false;
    }
    lastKeptMinute_ = t;
  }

  if (o->startTime != -1) {
    if (o->day != -1) {
      if (o->day == 0) o->day = currentDay_;
      if (slot_day != o->day || t < o->startTime) return false;
    } else if (o->firstDay != -1) {
      if ((slot_day == o->firstDay || o->allDays) && t < o->startTime) return false;
    } else {
      if (o->allDays && slot_day != currentDay_) return false;
      if (t < o->startTime) return false;
    }
  }

  if (o->endTime != -1) {
    if (o->endTime == 0) o->endTime = 1439;
    if (o->day != -1) {
      if (o->day == 0) o->day = currentDay_;
      if (slot_day != o->day || t > o->endTime) return false;
    } else if (o->firstDay != -1) {
      if ((slot_day == o->lastDay || o->allDays) && t > o->endTime) return false;
    } else {
      if (o->allDays && slot_day != currentDay_) return false;
      if (t > o->endTime) return false;
    }
  }

  if (o->day != -1) {
    if (o->day == 0) o->day = currentDay_;
    if (slot_day != o->day) return false;
  }

  if (o->firstDay != -1 && o->lastDay != -1 && o->day == -1) {
    if (slot_day < o->firstDay || slot_day > o->lastDay) return false;
  }
  return true;
}

}  // namespace kst
