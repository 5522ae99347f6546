// The collector's options in its service key, as the console's Apply writes
// them and as the console proposes them when it opens. The console and kstctl
// both go through here, so that the two never disagree on a default or on
// the order of the writes.
#ifndef KESTRANE_STATSUBSYSTEM_COMMON_COLLECTOR_OPTIONS_H_
#define KESTRANE_STATSUBSYSTEM_COMMON_COLLECTOR_OPTIONS_H_

#include <string>
#include <vector>

#include "platform/registry.h"

namespace kst {

// What the user fills in: the interval's text as typed, the ring-buffer and
// CSV file names, and the counter paths in their order.
struct CollectorFields {
  std::string interval_text = "1";
  std::string buffer_name;
  std::string csv_name;
  std::vector<std::string> counters;
};

// The running program's folder with its trailing separator.
std::string ProgramFolder();

// The fields as the console shows them on opening: interval "1", the buffer
// "cbuffer" and the CSV file "CSVoutp" under `root` (joined by a backslash),
// or directly after `program_folder` when root is empty. No counters.
CollectorFields DefaultCollectorFields(const std::string& root, const std::string& program_folder);

// The interval as Apply reads it: "%d" over the first 4 characters; 10 when
// no number is there. No range is checked.
int CollectorIntervalFromText(const std::string& text);

// Writes, in this order, into the collector's service key: notFirstStartFlag
// 0, optBufferName (cut to 1023 characters; `program_folder` + "cbuffer"
// when empty), csvFileName (`program_folder` + "CSVoutp" when empty),
// optTimeInt and optCounters. Every write is tried even after one fails;
// true when all succeeded. *buffer_written (may be null) gets the buffer
// name stored. REQUIRES: fields.counters is not empty (the callers refuse an
// empty list with their own message).
bool WriteCollectorOptions(const CollectorFields& fields, const std::string& program_folder,
                           std::string* buffer_written = nullptr);

// What a collector tick reads of its service key, in one transaction:
// notFirstStartFlag, optBufferName, optTimeInt, optCollsCount and
// optHeadGrpOffset, in this order, as stored (judge them with ServiceDwordOf
// and ServiceStringOf). False when the key cannot be read.
bool ReadCollectorTickOptions(std::vector<RegistryKey::Value>* values);

}  // namespace kst

#endif  // KESTRANE_STATSUBSYSTEM_COMMON_COLLECTOR_OPTIONS_H_
