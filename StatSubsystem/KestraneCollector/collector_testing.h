// Test-only knobs of the collector's tick. Never included by the program.
#ifndef KESTRANE_STATSUBSYSTEM_KESTRANECOLLECTOR_COLLECTOR_TESTING_H_
#define KESTRANE_STATSUBSYSTEM_KESTRANECOLLECTOR_COLLECTOR_TESTING_H_

namespace kst {

// Called by a tick that made a new buffer, right after notFirstStartFlag 1
// is stored and before the first slot is written: a test that ends the
// process there sees what a crash at that moment leaves. Null: nothing.
void SetAfterNewBufferForTesting(void (*hook)());

}  // namespace kst

#endif  // KESTRANE_STATSUBSYSTEM_KESTRANECOLLECTOR_COLLECTOR_TESTING_H_
