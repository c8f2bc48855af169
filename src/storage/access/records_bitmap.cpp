#include "storage/access/records_bitmap.h"

#include <bit>

namespace cairn {

void TRecordsBitmap::Set(uint32_t slot) {
  if (slot == 0) return;
  const size_t word = slot / 64;
  if (word >= words_.size()) words_.resize(word + 1, 0);
  const uint64_t mask = uint64_t{1} << (slot % 64);
  if ((words_[word] & mask) == 0) {
    words_[word] |= mask;
    ++count_;
  }
}

void TRecordsBitmap::Clear(uint32_t slot) {
  const size_t word = slot / 64;
  if (slot == 0 || word >= words_.size()) return;
  const uint64_t mask = uint64_t{1} << (slot % 64);
  if ((words_[word] & mask) != 0) {
    words_[word] &= ~mask;
    --count_;
  }
}

bool TRecordsBitmap::Test(uint32_t slot) const {
  const size_t word = slot / 64;
  if (slot == 0 || word >= words_.size()) return false;
  return (words_[word] >> (slot % 64)) & 1;
}

void TRecordsBitmap::ClearAll() {
  words_.clear();
  count_ = 0;
}

uint32_t TRecordsBitmap::NextSet(uint32_t slot) const {
  uint64_t start = uint64_t{slot} + 1;
  size_t word = start / 64;
  if (word >= words_.size()) return 0;
  uint64_t bits = words_[word] & (~uint64_t{0} << (start % 64));
  while (true) {
    if (bits != 0) return static_cast<uint32_t>(word * 64 + std::countr_zero(bits));
    if (++word >= words_.size()) return 0;
    bits = words_[word];
  }
}

}  // namespace cairn
