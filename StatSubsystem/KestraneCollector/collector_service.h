// The collector program's part of the service frame both services share:
// its service names, no user control, the parameters loaded before it
// reports running, the highest thread priority, intervals in minutes, the
// -2 result retried every 2 s, and the exit codes 124 (load) and 125 (tick).
#ifndef KESTRANE_STATSUBSYSTEM_KESTRANECOLLECTOR_COLLECTOR_SERVICE_H_
#define KESTRANE_STATSUBSYSTEM_KESTRANECOLLECTOR_COLLECTOR_SERVICE_H_

#include "StatSubsystem/KestraneCollector/collector.h"
#include "StatSubsystem/common/service_frame.h"

namespace kst {

// The process's one collector, used by the frame's load and tick.
KestraneCollector& ProcessCollector();

// The collector's frame; lives for the whole process.
const ServiceFrame& CollectorServiceFrame();

}  // namespace kst

#endif  // KESTRANE_STATSUBSYSTEM_KESTRANECOLLECTOR_COLLECTOR_SERVICE_H_
