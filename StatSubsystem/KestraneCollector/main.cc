// KestraneCollector: installs, removes and runs the collector service that
// samples the chosen counters into the one-month ring buffer.
#include "StatSubsystem/KestraneCollector/collector_service.h"

int main(int argc, char** argv) { return kst::RunServiceProgram(kst::CollectorServiceFrame(), argc, argv); }
