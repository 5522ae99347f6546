#include "StatSubsystem/KestraneExporter/exporter_options.h"

#include <cctype>
#include <climits>
#include <cstring>

#include "StatSubsystem/common/service_names.h"

namespace kst {
namespace {

const char* const kExporterName = ServiceNameTable[kExporterProgram];

constexpr const char* kOptionNames[] = {"-ngh", "-help", "-month", "-e", "-i",
                                        "-starttime", "-endtime", "-day", "-days", "-of"};

bool IsOptionWord(const char* word) {
  for (const char* name : kOptionNames) {
    if (std::strcmp(word, name) == 0) return true;
  }
  return false;
}

// Reads a number the way "%d" does: blanks, an optional sign, at least one
// digit. Values beyond int saturate rather than overflow.
bool ScanInt(const char*& p, int* out) {
  while (std::isspace(static_cast<unsigned char>(*p))) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = (*p++ == '-');
  if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
  long long value = 0;
  while (std::isdigit(static_cast<unsigned char>(*p))) {
    if (value <= INT_MAX) value = value * 10 + (*p - '0');
    ++p;
  }
  if (negative) value = -value;
  if (value > INT_MAX) value = INT_MAX;
  if (value < INT_MIN) value = INT_MIN;
  *out = static_cast<int>(value);
  return true;
}

// "%d<sep>%d": two numbers joined by one literal character.
bool ScanPair(const char* text, char separator, int* first, int* second) {
  const char* p = text;
  if (!ScanInt(p, first)) return false;
  if (*p++ != separator) return false;
  return ScanInt(p, second);
}

bool ScanOne(const char* text, int* value) {
  const char* p = text;
  return ScanInt(p, value);
}

bool InRange(int v, int low, int high) { return v >= low && v <= high; }

// Parses hh:mm into a minute of the day.
bool ScanTimeOfDay(const char* text, int* minute) {
  int hours = 0, minutes = 0;
  if (!ScanPair(text, ':', &hours, &minutes)) return false;
  if (!InRange(hours, 0, 23) || !InRange(minutes, 0, 59)) return false;
  *minute = hours * 60 + minutes;
  return true;
}

}  // namespace

int ParseExporterOptions(int argc, const char* const* argv, ExporterOptions* options) {
  const int words = argc < kExporterMaxWords ? argc : kExporterMaxWords;
  for (int i = 1; i < words; ++i) {
    if (argv[i][0] == '-' && !IsOptionWord(argv[i])) return -1;
  }

  ExporterOptions parsed;
  for (int i = 1; i < words; ++i) {
    const char* word = argv[i];
    if (word[0] != '-') continue;
    // A value is the following word, unless the list ends or it is an option.
    const char* value = i + 1 < words ? argv[i + 1] : nullptr;
    const bool has_value = value != nullptr && value[0] != '-';

    if (std::strcmp(word, "-day") == 0) {
      if (value == nullptr) {
        parsed.day = 0;
        break;
      }
      if (!has_value) {
        parsed.day = 0;
        continue;
      }
      int day = 0;
      if (!ScanOne(value, &day) || !InRange(day, 1, 31)) return -2;
      parsed.day = day;
    } else if (std::strcmp(word, "-days") == 0) {
      int first = 0, last = 0;
      if (!has_value || !ScanPair(value, '-', &first, &last) || !InRange(first, 1, 31) ||
          !InRange(last, 1, 31)) {
        return -3;
      }
      parsed.firstDay = first;
      parsed.lastDay = last;
    } else if (std::strcmp(word, "-starttime") == 0) {
      if (!has_value || !ScanTimeOfDay(value, &parsed.startTime)) return -4;
    } else if (std::strcmp(word, "-endtime") == 0) {
      if (!has_value || !ScanTimeOfDay(value, &parsed.endTime)) return -5;
    } else if (std::strcmp(word, "-i") == 0) {
      int interval = 0;
      if (!has_value || !ScanOne(value, &interval) || interval < 0) return -6;
      parsed.interval = interval;
    } else if (std::strcmp(word, "-month") == 0) {
      int month = 0;
      if (!has_value || !ScanOne(value, &month) || month < 0) return -7;
      parsed.month = month;
    } else if (std::strcmp(word, "-of") == 0) {
      if (!has_value) return -7;
      parsed.outputFile = value;
    } else if (std::strcmp(word, "-e") == 0) {
      parsed.allDays = true;
    } else if (std::strcmp(word, "-ngh") == 0) {
      parsed.noHeaders = true;
    } else if (std::strcmp(word, "-help") == 0) {
      parsed.help = true;
    }
  }
  *options = parsed;
  return 0;
}

bool IsSingleMonthRun(const ExporterOptions& options) {
  // A range of one day (-days 5-5) without -month also runs across the
  // month end: from the 5th of the previous month to the 5th of this one.
  return !(options.month == -1 && options.firstDay != -1 && options.day == -1 &&
           options.firstDay >= options.lastDay);
}

void PrintExporterUsage(std::ostream& err) {
  err << "usage: " << kExporterName << " [options]\n"
      << "options:\n"
      << "-help \t\tprint this help\n"
      << "-i min \t\tintervel between measurings\n"
      << "-month [MM|M] \tmonth for collect stats\n"
      << "-day [DD|D] \tday for collect stats (empty value - current day)\n"
      << "-days [DD|D-DD|D] days for collect stats (empty value - current day)\n"
      << "-starttime [hh:mm] - time bounds for the first day (-starttime) and the last day "
         "(-endtime)\n-endtime   [hh:mm] /  (default values - 00:00 and 24:00)\n"
      << "-e\t\tapply time bounds for all days in set\n\t\t(atlist one of them should be defined)\n"
      << "-ngh\t\tdon't print groups and headers";
  err.flush();
}

void PrintExporterError(std::ostream& err, const std::string& message) {
  err << kExporterName << ": error " << message << std::endl;
}

const char* ExportFailureMessage(int code) {
  switch (code) {
    case -1: return "gatherer parameters loading failed";
    case -2: return "destination file opening failed";
    case -3: return "input statistics file opening failed";
    case -4: return "internal error (1)";
    case -5: return "input statistics file is not a regular file";
    case -6: return "input statistics file has damaged header lines";
    case -7: return "destination file is a folder, a block device or a socket";
    case -8: return "destination file writing failed";
    case -9: return "no process reads the destination FIFO";
    default: return "unknown error";
  }
}

}  // namespace kst
