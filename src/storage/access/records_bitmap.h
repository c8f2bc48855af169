// TRecordsBitmap: a growable set of record slot numbers (1-based).
// Used for the record locks a table holds and for cursor filters.
// Bits beyond the highest one set read as clear; slot 0 is never a member.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace cairn {

class TRecordsBitmap {
 public:
  TRecordsBitmap() = default;

  // Sets or clears the bit of `slot`; slot 0 is ignored.
  void Set(uint32_t slot);
  void Clear(uint32_t slot);
  bool Test(uint32_t slot) const;
  void ClearAll();

  // Number of slots set.
  uint32_t Count() const { return count_; }
  bool Empty() const { return count_ == 0; }

  // The first slot set after `slot` (0 starts from the beginning); 0 when none.
  uint32_t NextSet(uint32_t slot) const;

 private:
  std::vector<uint64_t> words_;
  uint32_t count_ = 0;
};

}  // namespace cairn
