// Little-endian numbers on binary streams, byte by byte, for the state file
// and the scale's binary form.
#ifndef KESTRANE_RULEFORGE_BINARY_IO_H_
#define KESTRANE_RULEFORGE_BINARY_IO_H_

#include <cstdint>
#include <istream>
#include <ostream>

namespace kst {

void WriteU8(std::ostream& out, uint8_t v);
void WriteI32(std::ostream& out, int32_t v);
void WriteF64(std::ostream& out, double v);

// Each returns false, leaving *v unchanged, when the stream ends or fails
// before the whole number was read.
bool ReadU8(std::istream& in, uint8_t* v);
bool ReadI32(std::istream& in, int32_t* v);
bool ReadF64(std::istream& in, double* v);

}  // namespace kst

#endif  // KESTRANE_RULEFORGE_BINARY_IO_H_
