#include "StatSubsystem/common/training_table.h"

#include <fcntl.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <istream>
#include <ostream>

#include "StatSubsystem/common/csv_cells.h"
#include "StatSubsystem/common/exporter_command.h"
#include "StatSubsystem/common/regular_file.h"
#include "platform/paths.h"

namespace kst {
namespace {

struct DayAndMonth {
  int day = 0;
  int month = 0;
};

DayAndMonth LocalDay(int32_t calendar_time) {
  const std::time_t t = calendar_time;
  std::tm fields{};
  localtime_r(&t, &fields);
  return {fields.tm_mday, fields.tm_mon + 1};
}

// Seconds since midnight as "hh:mm"; the seconds within the minute drop.
std::string HoursMinutes(int32_t seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d", seconds / 3600, seconds % 3600 / 60);
  return text;
}

// `lead` is the option text up to the empty buffer-name argument, `days` the
// day option with its value.
std::string RunOptions(const std::string& lead, const std::string& output, uint32_t minutes,
                       const std::string& days, const TrainingPeriod& period, int month) {
  return lead + "" + " -of \"" + output + "\" -i " + std::to_string(minutes) + " " + days +
         " -starttime " + HoursMinutes(period.dayTimeIntervalFrom) + " -endtime " +
         HoursMinutes(period.dayTimeIntervalTill) + " -month " + std::to_string(month);
}

// Appends the lines of `from` to `to` (both native paths), each with a LF,
// and removes `from`. The read past a final LF yields one more, empty line.
// A missing `from` appends nothing. Lines are copied whole, however long.
void JoinAndRemove(const std::string& to, const std::string& from) {
  {
    RegularFileBuf in_file, out_file;
    std::istream in(&in_file);
    std::ostream out(&out_file);
    if (OpenDataFileBuf(from, O_RDONLY, &in_file)) {
      OpenDataFileBuf(to, O_WRONLY | O_CREAT | O_APPEND, &out_file);
      bool ends_with_line_feed = false;
      for (std::string line; std::getline(in, line);) {
        out << line << '\n';
        ends_with_line_feed = !in.eof();
      }
      if (ends_with_line_feed) out << '\n';
    }
  }
  std::error_code ignored;
  std::filesystem::remove(from, ignored);
}

}  // namespace

std::string TrainingExportRun::CommandLine() const { return QuotedExporterPath() + options; }

std::vector<TrainingExportRun> TrainingExportRuns(const TrainingPeriod& period,
                                                  uint32_t interval_seconds,
                                                  const std::string& output_path) {
  const uint32_t minutes = (interval_seconds - 1) / 60 + 1;
  const DayAndMonth first = LocalDay(period.dayIntervalFrom);
  const DayAndMonth last = LocalDay(period.dayIntervalTill);
  if (first.month == last.month && first.day == last.day) {
    return {{RunOptions(" ", output_path, minutes, "-day " + std::to_string(first.day), period,
                        first.month),
             output_path}};
  }
  if (first.month == last.month) {
    return {{RunOptions(" -e ", output_path, minutes,
                        "-days " + std::to_string(first.day) + "-" + std::to_string(last.day),
                        period, first.month),
             output_path}};
  }
  const std::string second_path = output_path + ".0";
  return {{RunOptions(" -e ", output_path, minutes, "-days " + std::to_string(first.day) + "-31",
                      period, first.month),
           output_path},
          {RunOptions(" -ngh -e ", second_path, minutes, "-days 1-" + std::to_string(last.day),
                      period, last.month),
           second_path}};
}

void ExportTrainingData(const TrainingPeriod& period, uint32_t interval_seconds,
                        const std::string& output_path, int* result) {
  *result = -1;
  if (period.dayIntervalFrom > period.dayIntervalTill || interval_seconds == 0) {
    *result = -10;
    return;
  }
  const std::vector<TrainingExportRun> runs =
      TrainingExportRuns(period, interval_seconds, output_path);
  // An old table must not pass for the new one when the exporter writes none.
  std::error_code ignored;
  for (const TrainingExportRun& run : runs) std::filesystem::remove(NativePath(run.output_path), ignored);
  for (const TrainingExportRun& run : runs) {
    if (!RunExporterAndWait(run.CommandLine())) return;
  }
  const std::string output = NativePath(output_path);
  if (runs.size() == 2) {
    if (!std::filesystem::exists(output, ignored)) {
      std::filesystem::remove(NativePath(runs[1].output_path), ignored);
      return;
    }
    JoinAndRemove(output, NativePath(runs[1].output_path));
  }
  if (RegularFileBuf table; OpenDataFileBuf(output, O_RDONLY, &table)) *result = 0;
}

void PrepareTrainingCsv(const std::vector<std::string>& wanted, const std::string& input_path,
                        const std::string& output_path, int* result) {
  *result = -1;
  std::vector<std::string> objects(wanted.size()), counters(wanted.size());
  for (size_t i = 0; i < wanted.size(); ++i) SplitCounterTitle(wanted[i], &objects[i], &counters[i]);

  RegularFileBuf in_file, out_file;
  std::istream in(&in_file);
  std::ostream out(&out_file);
  if (!OpenDataFileBuf(NativePath(input_path), O_RDONLY, &in_file)) return;
  if (!OpenDataFileBuf(NativePath(output_path), O_WRONLY | O_CREAT | O_TRUNC, &out_file)) {
    *result = -11;
    return;
  }

  constexpr const char* kSeparators = ";\r\n";
  std::string line;
  ReadTextLine(in, &line);
  const std::vector<std::string> line_objects = SplitCells(line, kSeparators);
  if (!ReadTextLine(in, &line)) line.clear();
  const std::vector<std::string> line_counters = SplitCells(line, kSeparators);

  // Each column goes to the first wanted title that names it; a later column
  // of the same title replaces an earlier one.
  std::vector<size_t> column(wanted.size(), SIZE_MAX);
  for (size_t j = 0; j < line_counters.size() && j < line_objects.size(); ++j) {
    for (size_t w = 0; w < wanted.size(); ++w) {
      if (counters[w] == line_counters[j] && objects[w] == line_objects[j]) {
        column[w] = j;
        break;
      }
    }
  }
  for (size_t c : column) {
    if (c == SIZE_MAX) {
      *result = -12;
      return;
    }
  }

  const size_t cells_per_line = line_counters.size();
  in.clear();
  in.seekg(0);
  int written = 0;
  std::string row;
  while (ReadTextLine(in, &line)) {
    const std::vector<std::string> cells = SplitCells(line, kSeparators);
    if (cells.size() != cells_per_line) break;
    row.clear();
    for (size_t w = 0; w < column.size(); ++w) {
      if (w > 0) row += ';';
      row += cells[column[w]];
    }
    row += '\n';
    out << row;
    ++written;
  }
  // A table cut short by a full disk is no table.
  *result = out_file.Close() ? written : -11;
}

}  // namespace kst
