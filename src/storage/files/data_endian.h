// Little-endian loads and stores on byte images. Every integer in the data
// file is little-endian; these helpers keep that in one place and never read
// or write outside the bytes they are given.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace cairn::le {

inline uint16_t U16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline int16_t I16(const uint8_t* p) { return int16_t(U16(p)); }
inline uint32_t U32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline int32_t I32(const uint8_t* p) { return int32_t(U32(p)); }
inline uint64_t U64(const uint8_t* p) { return uint64_t(U32(p)) | (uint64_t(U32(p + 4)) << 32); }
inline int64_t I64(const uint8_t* p) { return int64_t(U64(p)); }
inline double F64(const uint8_t* p) { return std::bit_cast<double>(U64(p)); }

inline void PutU16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void PutI32(uint8_t* p, int32_t v) { PutU32(p, uint32_t(v)); }
inline void PutU64(uint8_t* p, uint64_t v) {
  PutU32(p, uint32_t(v));
  PutU32(p + 4, uint32_t(v >> 32));
}
inline void PutI64(uint8_t* p, int64_t v) { PutU64(p, uint64_t(v)); }
inline void PutF64(uint8_t* p, double v) { PutU64(p, std::bit_cast<uint64_t>(v)); }

}  // namespace cairn::le
