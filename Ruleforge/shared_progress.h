// Training progress shared between the training thread and a host's
// display thread.
#ifndef KESTRANE_RULEFORGE_SHARED_PROGRESS_H_
#define KESTRANE_RULEFORGE_SHARED_PROGRESS_H_

#include <mutex>

namespace kst {

// A lock whose operations report success. Not recursive.
class Mutex {
 public:
  bool lock();
  bool unlock();

 private:
  std::mutex mutex_;
};

// Thread-safe: set and get may be called from any thread at any time.
class SharedProgress {
 public:
  // Stores v when it lies in [0, 1]; false otherwise (nothing changes) or
  // when the lock fails.
  bool set(double v);
  // Copies the current value into *out; false when the lock fails.
  bool get(double* out);

 private:
  double value_ = 0.0;  // guarded by mutex_
  Mutex mutex_;
};

}  // namespace kst

#endif  // KESTRANE_RULEFORGE_SHARED_PROGRESS_H_
