// Registering and unregistering a service program with the service manager.
// Both operations act on the service of the program that calls them, named
// by its entries of the service name table; both are silent: nothing is
// printed, stored or returned.
#ifndef KESTRANE_STATSUBSYSTEM_COMMON_SERVICE_INSTALL_H_
#define KESTRANE_STATSUBSYSTEM_COMMON_SERVICE_INSTALL_H_

#include "StatSubsystem/common/service_names.h"

namespace kst {

// A service program's entries of ServiceNameTable.
struct ServiceIdentity {
  const char* name;          // service manager name, display name, key name
  const char* identifier;    // "kstCollector" or "kstChecker"
  const char* description;
  const char* install_word;  // "-install"
  const char* remove_word;   // "-remove"
};

inline constexpr ServiceIdentity kCollectorService{
    ServiceNameTable[kCollectorServiceName], ServiceNameTable[kCollectorId],
    ServiceNameTable[kCollectorDescription], ServiceNameTable[kCollectorInstallWord],
    ServiceNameTable[kCollectorRemoveWord]};
inline constexpr ServiceIdentity kCheckerService{
    ServiceNameTable[kCheckerServiceName], ServiceNameTable[kCheckerId],
    ServiceNameTable[kCheckerDescription], ServiceNameTable[kCheckerInstallWord],
    ServiceNameTable[kCheckerRemoveWord]};

// Registers the running program as an automatically started service whose
// command line is the program's path (not quoted) and " -service", then
// sets its description. When the service exists already, or the manager
// cannot be opened for creating, nothing changes.
void InstallService(const ServiceIdentity& service);

// Sends the service the stop control, waits 2 s whatever happened, and
// deletes it. A service that is not installed changes nothing (the wait
// still happens).
void RemoveService(const ServiceIdentity& service);

}  // namespace kst

#endif  // KESTRANE_STATSUBSYSTEM_COMMON_SERVICE_INSTALL_H_
