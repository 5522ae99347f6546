#include "Ruleforge/shared_progress.h"

#include <system_error>

namespace kst {

bool Mutex::lock() {
  try {
    mutex_.lock();
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

bool Mutex::unlock() {
  mutex_.unlock();
  return true;
}

bool SharedProgress::set(double v) {
  if (v < 0.0 || v > 1.0) return false;
  if (!mutex_.lock()) return false;
  value_ = v;
  return mutex_.unlock();
}

bool SharedProgress::get(double* out) {
  if (!mutex_.lock()) return false;
  *out = value_;
  mutex_.unlock();
  return true;
}

}  // namespace kst
