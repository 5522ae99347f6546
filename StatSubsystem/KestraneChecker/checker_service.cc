#include "StatSubsystem/KestraneChecker/checker_service.h"

#include "StatSubsystem/common/product_key.h"
#include "StatSubsystem/common/service_control.h"
#include "StatSubsystem/common/service_keys.h"
#include "platform/registry.h"

namespace kst {

namespace {

CheckerCheckFunction g_check = nullptr;

// Reads rootDirectory; without it the service does not start at all.
bool ReadRootDirectory() {
  int result = -1;
  const std::string root = ReadProductRootDirectory(1024, &result);
  if (result < 0) return false;
  Checker().rootDirectory = root;
  SetRootDirectory(root);
  return true;
}

}  // namespace

CheckerState& Checker() {
  static CheckerState* state = new CheckerState;
  return *state;
}

int KestraneChecker::LoadParameters(int* interval) {
  int flag = 0;
  if (ReadServiceDword(ServiceNameTable[kCollectorId], "notFirstStartFlag", &flag) < 0) {
    return -1;
  }
  unsigned char bytes[4];
  int result = -1;
  ReadProductValue("", "intervalBetweenCheckings", kRegDword, bytes, sizeof(bytes), &result);
  if (result != 4) return -2;
  int32_t value = static_cast<int32_t>(bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) |
                                       (static_cast<uint32_t>(bytes[3]) << 24));
  if (value <= 0) return -3;
  *interval = value;
  Checker().reloadRequested = true;
  return 0;
}

int KestraneChecker::Check() { return g_check != nullptr ? g_check() : CheckerOwnCheck(); }

void SetCheckerCheck(CheckerCheckFunction check) { g_check = check; }

const ServiceFrame& CheckerServiceFrame() {
  static const ServiceFrame frame = [] {
    ServiceFrame f;
    f.service = kCheckerService;
    f.controls_accepted = 7;
    f.reload_control = reloadControlCode;
    f.prepare = ReadRootDirectory;
    f.running_before_load = true;
    f.priority_steps = 1;
    f.load_parameters = KestraneChecker::LoadParameters;
    f.load_parameters_name = "KestraneChecker::LoadParameters()";
    f.interval_unit_ms = 1;
    f.tick = KestraneChecker::Check;
    f.tick_name = "KestraneChecker::Check()";
    f.retry_result = -3;
    f.load_failure_exit = 128;
    f.tick_failure_exit = 125;
    f.tick_error_code = 12;
    return f;
  }();
  return frame;
}

}  // namespace kst
