// The logs of the configuration tree and their analyzer instances, under the
// configuration key "SOFTWARE\Kestrane\Internal":
//
//   Logs                 logsTitles (multi-string): the log titles, in order
//                        of creation
//   Logs\<log>           countersTitles (multi-string): the log's counter
//                        titles in column order; analyzersTitles
//                        (multi-string): its instance titles, in order of
//                        creation
//   Logs\<log>\<inst>    pluginFileName, stateFileName (REG_SZ), parameters
//                        (multi-string of parameter lines), usesTime,
//                        warningLevelThreshold, dayTimeIntervalFrom,
//                        dayTimeIntervalTill (REG_DWORD), dayIntervalFrom,
//                        dayIntervalTill (REG_BINARY, 4 bytes), status
//                        (REG_SZ "activated", "training" or "deactivated")
//
// Every operation sets *result to -1 before anything else and, on success, to
// 0 or a count; each failure has its own negative code (see each operation).
// Titles are used as given: no trimming, no case change; a log or instance
// title that holds a backslash names a key path, not a key, and is refused
// like an empty one. Nothing is rolled back: a failure after a key was made
// leaves what was written.
//
// The list readers return a list the library owns for the whole process; each
// call empties and refills it (and leaves it empty on failure), so callers
// copy what they keep. Threads: one at a time.
#ifndef KESTRANE_STATSUBSYSTEM_COMMON_CONFIG_TREE_H_
#define KESTRANE_STATSUBSYSTEM_COMMON_CONFIG_TREE_H_

#include <string>
#include <vector>

#include "StatSubsystem/common/analyzer_instance.h"

namespace kst {

// Count of titles (0 when logsTitles is missing); -1 Logs cannot be opened or
// logsTitles is not a multi-string.
const std::vector<std::string>& ReadLogsTitles(int* result);

// Number of logs afterwards; -7 empty log title or counter title; -8 empty
// counter list; -2 the log exists; -1 any registry failure (also when
// logsTitles is missing: the log key is then made but not listed).
void AddLog(const std::string& logTitle, const std::vector<std::string>& countersTitles,
            int* result);

// Number of logs left; -7 empty title; -3 no such log; -1 registry failure.
// The state files of the log's instances stay on disk.
void RemoveLog(const std::string& logTitle, int* result);

// Count of titles; -7 empty title; -3 no such log; -1 countersTitles missing
// or not a multi-string.
const std::vector<std::string>& ReadLogCountersTitles(const std::string& logTitle, int* result);

// Count of instances read; an instance with a missing or malformed value is
// left out. -7 empty title; -3 no such log; -1 analyzersTitles missing or not
// a multi-string. The status is not part of the record (ReadInstanceStatus).
const std::vector<AnalyzerInstance>& ReadAnalyzerInstances(const std::string& logTitle,
                                                           int* result);

// Adds an activated instance; number of the log's instances afterwards. -7
// empty log title; -9 empty instance title, plug-in or state file name, a
// file name of 260 characters or more, a parameter of kind none, or
// parameters that do not fit the 1 MiB the readers take (what the readers
// could not take back); -3 no such log; -4 the instance exists; -1 registry
// failure; or the code of WriteInstanceStatus.
void WriteAnalyzerInstance(const std::string& logTitle, const AnalyzerInstance& instance,
                           int* result);

// Deletes the instance's state file (root directory, "\States\", its name;
// never a folder, nor a name that leads out of States), then its key, then
// its title in analyzersTitles. Number of instances left (0 when
// analyzersTitles is not a multi-string); -7 empty title; -3 no such log; -5
// no such instance or analyzersTitles unreadable; -1 other failure.
void RemoveAnalyzerInstance(const std::string& logTitle, const std::string& instanceTitle,
                            int* result);

// *status gets 1, 2, 3, or 0 for any other text; result 0. -7 empty title;
// -3 no such instance; -1 status missing or not REG_SZ (*status stays 0).
void ReadInstanceStatus(const std::string& logTitle, const std::string& instanceTitle,
                        int* status, int* result);

// 0; -7 empty title; -13 status not 1, 2 or 3; -3 no such instance; -1 the
// value cannot be set.
void WriteInstanceStatus(const std::string& logTitle, const std::string& instanceTitle,
                         int status, int* result);

}  // namespace kst

#endif  // KESTRANE_STATSUBSYSTEM_COMMON_CONFIG_TREE_H_
