// The scramble routine of encrypted tables and its two fixed seeds.
//
// Scramble(buffer, seed) XORs byte i of the buffer with (l + i) XOR (h - i),
// both mod 256, where l is the seed's low byte and h its high byte. It restarts
// from the seed for every call, so each run (a slot, a page, a block header...)
// is scrambled on its own. A buffer whose length has low 16 bits of 0 (0,
// 65536, 131072, ...) is left unchanged. Applying it twice restores the bytes.
//
// The seed values are part of the table file format: every encrypted table ever
// written depends on them. Never change them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace cairn {

// Seeds are given as one 16-bit value: low byte l, high byte h.
// Header strings (table description and password characters): l = 0x5B, h = 0xC7.
inline constexpr uint16_t kHeaderStringSeed = 0xC75B;
// Everything else that is scrambled (descriptors, slots, blob and index pages):
// l = 0x3D, h = 0xA6.
inline constexpr uint16_t kBufferSeed = 0xA63D;

void Scramble(std::span<uint8_t> buffer, uint16_t seed);
void Scramble(void* buffer, size_t length, uint16_t seed);

}  // namespace cairn
