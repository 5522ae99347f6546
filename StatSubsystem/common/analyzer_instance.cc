#include "StatSubsystem/common/analyzer_instance.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace kst {
namespace {

constexpr const char* kStatusTexts[] = {"activated", "training", "deactivated"};

// The leading decimal integer of `text` as atoi reads it, held within int.
int LeadingInt(const char* text) {
  errno = 0;
  const long value = std::strtol(text, nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

}  // namespace

const char* InstanceStatusText(int status) {
  if (status < kStatusActivated || status > kStatusDeactivated) return nullptr;
  return kStatusTexts[status - 1];
}

int InstanceStatusCode(const char* text) {
  for (int code = kStatusActivated; code <= kStatusDeactivated; ++code) {
    if (std::strcmp(text, kStatusTexts[code - 1]) == 0) return code;
  }
  return kStatusUnknown;
}

std::optional<ParameterValue> ParseParameterLine(const std::string& line) {
  struct Prefix {
    const char* text;
    ParameterKind kind;
  };
  static constexpr Prefix kPrefixes[] = {
      {"INT ", kParamInt}, {"FLOAT ", kParamReal}, {"STRING ", kParamString}};
  for (const Prefix& prefix : kPrefixes) {
    const size_t length = std::strlen(prefix.text);
    if (line.compare(0, length, prefix.text) != 0) continue;
    const size_t equals = line.find('=', length);
    // A line without "=" names no value: it is passed over.
    if (equals == std::string::npos) return std::nullopt;
    const std::string name = line.substr(length, equals - length);
    const std::string value = line.substr(equals + 1);
    switch (prefix.kind) {
      case kParamInt:
        return ParameterValue(name, "", LeadingInt(value.c_str()), 0, 0, 0, 0);
      case kParamReal:
        return ParameterValue(name, "", std::strtod(value.c_str(), nullptr), 0.0, 0.0, 0.0);
      default:
        return ParameterValue(name, "", value.c_str(), "");
    }
  }
  return std::nullopt;
}

}  // namespace kst
