// The names every program of the system uses for the two services, their
// programs, their command-line words and the ring buffer's column words,
// read by index.
#ifndef KESTRANE_STATSUBSYSTEM_COMMON_SERVICE_NAMES_H_
#define KESTRANE_STATSUBSYSTEM_COMMON_SERVICE_NAMES_H_

namespace kst {

inline constexpr const char* ServiceNameTable[17] = {
    "Kestrane buffer creator",
    "kstCollector",
    "Kestrane statistics gathering service gathers statistics for analyzers "
    "instances learning",
    "KestraneCollector.exe",
    "-install",
    "-remove",
    "date",
    "Date",
    "time",
    "Time",
    "Kestrane stat checker",
    "kstChecker",
    "Kestrane statistics analizing service retrieves current system counters "
    "values and checks them for anomality with active instances of installed "
    "plugins",
    "KestraneChecker.exe",
    "-install",
    "-remove",
    "KestraneExporter.exe",
};

// Indices into ServiceNameTable.
enum ServiceName : int {
  kCollectorServiceName = 0,  // service manager name, display name, key name
  kCollectorId = 1,
  kCollectorDescription = 2,
  kCollectorProgram = 3,
  kCollectorInstallWord = 4,
  kCollectorRemoveWord = 5,
  kGroupDateField = 6,
  kHeaderDateField = 7,
  kGroupTimeField = 8,
  kHeaderTimeField = 9,  // also the time-of-day pseudo counter's title
  kCheckerServiceName = 10,
  kCheckerId = 11,
  kCheckerDescription = 12,
  kCheckerProgram = 13,
  kCheckerInstallWord = 14,
  kCheckerRemoveWord = 15,
  kExporterProgram = 16,
};

}  // namespace kst

#endif  // KESTRANE_STATSUBSYSTEM_COMMON_SERVICE_NAMES_H_
