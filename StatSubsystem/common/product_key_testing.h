// Test-only view of the product key operations' process-wide state.
#ifndef KESTRANE_STATSUBSYSTEM_COMMON_PRODUCT_KEY_TESTING_H_
#define KESTRANE_STATSUBSYSTEM_COMMON_PRODUCT_KEY_TESTING_H_

#include <cstddef>

namespace kst {

// The current size of ReadCounterExplanation's buffer (0 before first use).
size_t CounterExplanationBufferSize();

}  // namespace kst

#endif  // KESTRANE_STATSUBSYSTEM_COMMON_PRODUCT_KEY_TESTING_H_
