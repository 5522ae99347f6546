#include "Ruleforge/binary_io.h"

#include <bit>

namespace kst {
namespace {

void WriteBytes(std::ostream& out, uint64_t bits, int size) {
  char bytes[8];
  for (int i = 0; i < size; ++i) bytes[i] = static_cast<char>((bits >> (8 * i)) & 0xff);
  out.write(bytes, size);
}

bool ReadBytes(std::istream& in, uint64_t* bits, int size) {
  unsigned char bytes[8];
  if (!in.read(reinterpret_cast<char*>(bytes), size)) return false;
  uint64_t v = 0;
  for (int i = 0; i < size; ++i) v |= static_cast<uint64_t>(bytes[i]) << (8 * i);
  *bits = v;
  return true;
}

}  // namespace

void WriteU8(std::ostream& out, uint8_t v) { WriteBytes(out, v, 1); }
void WriteI32(std::ostream& out, int32_t v) { WriteBytes(out, static_cast<uint32_t>(v), 4); }
void WriteF64(std::ostream& out, double v) { WriteBytes(out, std::bit_cast<uint64_t>(v), 8); }

bool ReadU8(std::istream& in, uint8_t* v) {
  uint64_t bits;
  if (!ReadBytes(in, &bits, 1)) return false;
  *v = static_cast<uint8_t>(bits);
  return true;
}

bool ReadI32(std::istream& in, int32_t* v) {
  uint64_t bits;
  if (!ReadBytes(in, &bits, 4)) return false;
  *v = static_cast<int32_t>(static_cast<uint32_t>(bits));
  return true;
}

bool ReadF64(std::istream& in, double* v) {
  uint64_t bits;
  if (!ReadBytes(in, &bits, 8)) return false;
  *v = std::bit_cast<double>(bits);
  return true;
}

}  // namespace kst
