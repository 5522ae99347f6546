#include "StatSubsystem/common/parameter_value.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kst {

namespace {

char* CopyText(const char* text) {
  if (text == nullptr) text = "";
  size_t n = std::strlen(text) + 1;
  char* copy = new char[n];
  std::memcpy(copy, text, n);
  return copy;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Integer texts are converted from at most this many characters.
constexpr size_t kMaxIntegerText = 1023;

}  // namespace

ParameterValue::ParameterValue() : data_(), kind_(kParamNone) {}

ParameterValue::ParameterValue(const ParameterValue& other)
    : data_(), kind_(kParamNone) {
  assign(other);
}

ParameterValue::ParameterValue(const std::string& name,
                               const std::string& description,
                               const char* value, const char* defaultValue)
    : data_(), kind_(kParamString), name_(name), description_(description) {
  data_.s.value = CopyText(value);
  data_.s.defaultValue = CopyText(defaultValue);
}

ParameterValue::ParameterValue(const std::string& name,
                               const std::string& description, double value,
                               double defaultValue, double minimum,
                               double maximum)
    : data_(), kind_(kParamReal), name_(name), description_(description) {
  data_.r = RealData{value, defaultValue, minimum, maximum};
}

ParameterValue::ParameterValue(const std::string& name,
                               const std::string& description, int value,
                               int defaultValue, int minimum, int maximum,
                               int step)
    : data_(), kind_(kParamInt), name_(name), description_(description) {
  data_.i = IntData{value, defaultValue, minimum, maximum, step};
}

ParameterValue& ParameterValue::operator=(const ParameterValue& other) {
  assign(other);
  return *this;
}

ParameterValue::~ParameterValue() { clear(); }

void ParameterValue::setString(const char* text) {
  if (kind_ != kParamString) throw 1;
  char* copy = CopyText(text);
  delete[] data_.s.value;
  data_.s.value = copy;
}

void ParameterValue::setReal(double v) {
  if (kind_ != kParamReal) throw 1;
  data_.r.value = v;
}

void ParameterValue::setInt(int v) {
  if (kind_ == kParamInt) {
    data_.i.value = v;
  } else if (kind_ == kParamReal) {
    data_.r.value = v;
  } else {
    throw 1;
  }
}

void ParameterValue::assign(const ParameterValue& other) {
  // Self-assignment would free the texts it is about to copy.
  if (&other == this && kind_ != kParamNone) return;
  clear();
  kind_ = other.kind_;
  name_ = other.name_;
  description_ = other.description_;
  switch (kind_) {
    case kParamString:
      data_.s.value = CopyText(other.data_.s.value);
      data_.s.defaultValue = CopyText(other.data_.s.defaultValue);
      break;
    case kParamInt:
      data_.i = other.data_.i;
      break;
    case kParamReal:
      data_.r = other.data_.r;
      break;
    default:
      kind_ = kParamNone;
      throw 1;
  }
}

ParameterKind& ParameterValue::kind() { return kind_; }

const char* ParameterValue::name() const { return name_.c_str(); }

const char* ParameterValue::description() const {
  return description_.c_str();
}

void ParameterValue::clear() {
  if (kind_ == kParamString) {
    delete[] data_.s.value;
    delete[] data_.s.defaultValue;
    data_.s.value = nullptr;
    data_.s.defaultValue = nullptr;
  }
  kind_ = kParamNone;
}

bool ParameterValue::parse(const char* text) {
  if (text == nullptr) return false;
  switch (kind_) {
    case kParamString:
      setString(text);
      return true;
    case kParamInt: {
      if (!(text[0] == '-' || IsDigit(text[0]))) return false;
      for (const char* p = text + 1; *p != '\0'; ++p) {
        if (!IsDigit(*p)) return false;
      }
      std::string digits(text, strnlen(text, kMaxIntegerText));
      char* end = nullptr;
      errno = 0;
      long long v = std::strtoll(digits.c_str(), &end, 10);
      // A lone sign converts nothing; a number past int is not an int.
      if (end == digits.c_str() || errno == ERANGE || v < INT32_MIN ||
          v > INT32_MAX)
        return false;
      const IntData& d = data_.i;
      if (d.step == 0 || v < d.minimum || v > d.maximum) return false;
      uint32_t diff = static_cast<uint32_t>(static_cast<int>(v)) -
                      static_cast<uint32_t>(d.minimum);
      if (diff % static_cast<uint32_t>(d.step) != 0) return false;
      data_.i.value = static_cast<int>(v);
      return true;
    }
    case kParamReal: {
      if (!(text[0] == '-' || IsDigit(text[0]))) return false;
      int points = 0;
      for (const char* p = text + 1; *p != '\0'; ++p) {
        if (*p == '.') {
          if (++points > 1) return false;
        } else if (!IsDigit(*p)) {
          return false;
        }
      }
      double v = std::strtod(text, nullptr);
      if (!(v >= data_.r.minimum && v <= data_.r.maximum)) return false;
      data_.r.value = v;
      return true;
    }
    default:
      return false;
  }
}

std::string ParameterValue::line() const {
  char number[512];
  switch (kind_) {
    case kParamString:
      return "STRING " + name_ + "=" + data_.s.value;
    case kParamInt:
      std::snprintf(number, sizeof number, "%d", data_.i.value);
      return "INT " + name_ + "=" + number;
    case kParamReal:
      std::snprintf(number, sizeof number, "%.5f", data_.r.value);
      return "FLOAT " + name_ + "=" + number;
    default:
      return std::string();
  }
}

}  // namespace kst
