#include "StatSubsystem/KestraneCollector/collector_service.h"

namespace kst {
namespace {

int LoadParameters(int* interval) {
  uint32_t minutes = 0;
  const int result = ProcessCollector().LoadParameters(&minutes);
  if (result == 0) *interval = static_cast<int>(minutes);
  return result;
}

int Gather() { return ProcessCollector().Gather(); }

ServiceFrame MakeFrame() {
  ServiceFrame frame;
  frame.service = kCollectorService;
  frame.controls_accepted = 7;
  frame.reload_control = 0;
  frame.running_before_load = false;
  frame.priority_steps = 2;
  frame.load_parameters = LoadParameters;
  frame.load_parameters_name = "KestraneCollector::LoadParameters()";
  frame.interval_unit_ms = 60000;
  frame.tick = Gather;
  frame.tick_name = "KestraneCollector::Gather()";
  frame.retry_result = -2;
  frame.load_failure_exit = 124;
  frame.tick_failure_exit = 125;
  frame.tick_error_code = 11;
  return frame;
}

}  // namespace

KestraneCollector& ProcessCollector() {
  static KestraneCollector* collector = new KestraneCollector;
  return *collector;
}

const ServiceFrame& CollectorServiceFrame() {
  static const ServiceFrame frame = MakeFrame();
  return frame;
}

}  // namespace kst
