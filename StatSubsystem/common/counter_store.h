// Setting up the configuration tree from the ring buffer's columns, and
// listing those columns, by running the exporter for its two header lines.
//
// Both operations follow the configuration tree's result convention (*result
// -1 first; 0 or a count on success; every failure -1), block while the
// exporter runs, and serve one thread at a time.
#ifndef KESTRANE_STATSUBSYSTEM_COMMON_COUNTER_STORE_H_
#define KESTRANE_STATSUBSYSTEM_COMMON_COUNTER_STORE_H_

#include <string>
#include <vector>

namespace kst {

// Registers every column of the ring buffer as a counter (a new identifier
// under Counters\byTitle and Counters\byId) and makes every performance
// object a log listing its counters in column order. logsTitles is replaced;
// a log of the same name is made anew (its instances are lost); other logs
// keep their keys but are no longer listed. An object whose columns come
// back after another object's is listed once and keeps collecting its
// columns. 0 when every column was registered. Nothing is rolled back.
void InitializeCounterStore(int* result);

// The buffer's counter titles ("object::counter"), one per column, in column
// order; count, or -1 with the list empty. The list is the library's, refilled
// on every call.
const std::vector<std::string>& ExportLastDay(int* result);

}  // namespace kst

#endif  // KESTRANE_STATSUBSYSTEM_COMMON_COUNTER_STORE_H_
