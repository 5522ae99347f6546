// Registering and unregistering a service program with the service manager.
// Both operations act on the service of the program that calls it, named by
// its entries of the service name table. They store and print nothing; a
// caller that may not change the service database learns why.
#ifndef KESTRANE_STATSUBSYSTEM_COMMON_SERVICE_INSTALL_H_
#define KESTRANE_STATSUBSYSTEM_COMMON_SERVICE_INSTALL_H_

#include <string>

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
// sets its description. A service that exists already is left as it was
// (true). False, with the reason in *error (may be null), when the service database may
// not be changed by the caller.
bool InstallService(const ServiceIdentity& service, std::string* error = nullptr);

// Sends the service the stop control, waits 2 s whatever happened, and
// deletes it. A service that is not installed changes nothing (the wait
// still happens; true). False, with the reason in *error (may be null), when the service
// cannot be deleted.
bool RemoveService(const ServiceIdentity& service, std::string* error = nullptr);

}  // namespace kst

#endif  // KESTRANE_STATSUBSYSTEM_COMMON_SERVICE_INSTALL_H_
