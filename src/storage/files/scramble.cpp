#include "storage/files/scramble.h"

namespace cairn {

void Scramble(std::span<uint8_t> buffer, uint16_t seed) {
  if ((buffer.size() & 0xFFFF) == 0) return;
  uint8_t low = uint8_t(seed & 0xFF);
  uint8_t high = uint8_t(seed >> 8);
  for (uint8_t& b : buffer) {
    b ^= uint8_t(low ^ high);
    ++low;
    --high;
  }
}

void Scramble(void* buffer, size_t length, uint16_t seed) {
  Scramble(std::span<uint8_t>(static_cast<uint8_t*>(buffer), length), seed);
}

}  // namespace cairn
