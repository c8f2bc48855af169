// TBlockSet: the block numbers met while walking one chain, so that a chain
// leading back into itself is caught instead of looped over. The first 16
// numbers stay inline: most values are a block or two long.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <unordered_set>

namespace cairn {

class TBlockSet {
 public:
  TBlockSet() = default;
  explicit TBlockSet(uint32_t first) { Insert(first); }

  bool Contains(uint32_t number) const {
    for (size_t i = 0; i < count_; ++i) {
      if (inline_[i] == number) return true;
    }
    return !rest_.empty() && rest_.contains(number);
  }
  void Insert(uint32_t number) {
    if (count_ < inline_.size()) {
      inline_[count_++] = number;
    } else {
      rest_.insert(number);
    }
  }

 private:
  std::array<uint32_t, 16> inline_{};
  size_t count_ = 0;
  std::unordered_set<uint32_t> rest_;
};

}  // namespace cairn
