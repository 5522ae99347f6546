// An analyzer instance of a log as the configuration tree keeps it, and the
// text lines its parameters are stored as.
#ifndef KESTRANE_STATSUBSYSTEM_COMMON_ANALYZER_INSTANCE_H_
#define KESTRANE_STATSUBSYSTEM_COMMON_ANALYZER_INSTANCE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "StatSubsystem/common/parameter_value.h"

namespace kst {

// Instance status codes; 0 stands for no known status when read.
inline constexpr int kStatusUnknown = 0;
inline constexpr int kStatusActivated = 1;
inline constexpr int kStatusTraining = 2;
inline constexpr int kStatusDeactivated = 3;

// "activated", "training", "deactivated" for 1, 2, 3; nullptr for any other.
const char* InstanceStatusText(int status);
// The code of a status text (exact match); kStatusUnknown for any other.
int InstanceStatusCode(const char* text);

// The days and the daily window an instance is trained on.
struct TrainingPeriod {
  int32_t dayIntervalFrom = 0;      // first day, 32-bit calendar time
  int32_t dayIntervalTill = 0;      // last day, 32-bit calendar time
  int32_t dayTimeIntervalFrom = 0;  // daily window start, seconds since midnight
  int32_t dayTimeIntervalTill = 0;  // daily window end, seconds since midnight
};

struct AnalyzerInstance {
  std::string title;  // the instance's key name
  std::string pluginFileName;
  std::string stateFileName;  // in the folder States under the root directory
  std::vector<ParameterValue> parameters;
  bool usesTime = false;  // time of day is the first feature
  TrainingPeriod trainingPeriod;
  int8_t warningLevelThreshold = 0;  // 0..100
};

// The parameter a stored line (ParameterValue::line()) stands for: kind, name and value only (an
// empty description, zero limits). nullopt for a line of another form.
std::optional<ParameterValue> ParseParameterLine(const std::string& line);

}  // namespace kst

#endif  // KESTRANE_STATSUBSYSTEM_COMMON_ANALYZER_INSTANCE_H_
