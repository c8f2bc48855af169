#include "storage/files/known_bytes.h"

#include <cstring>
#include <iterator>

namespace cairn {

void TKnownBytes::set_budget(uint64_t bytes) {
  budget_ = bytes;
  if (bytes_ > budget_) Clear();
}

void TKnownBytes::Note(uint64_t offset, std::span<const uint8_t> bytes) {
  if (bytes.empty()) return;
  const uint64_t end = offset + bytes.size();
  if (bytes.size() > kLongestPiece || bytes.size() > budget_) {
    Drop(offset, end);
    return;
  }
  // A page written again where it was read or written before: the piece
  // alone covers the range, and is reused in place.
  if (auto same = pieces_.find(offset);
      same != pieces_.end() && same->second.bytes.size() == bytes.size()) {
    std::memcpy(same->second.bytes.data(), bytes.data(), bytes.size());
    ages_.splice(ages_.end(), ages_, same->second.age);
    return;
  }
  Drop(offset, end);
  // The oldest pieces make room; one of the same length lends its buffer.
  std::vector<uint8_t> buffer;
  while (bytes_ + bytes.size() > budget_) {
    auto oldest = pieces_.find(ages_.front());
    bytes_ -= oldest->second.bytes.size();
    if (oldest->second.bytes.size() == bytes.size()) buffer = std::move(oldest->second.bytes);
    pieces_.erase(oldest);
    ages_.pop_front();
  }
  buffer.assign(bytes.begin(), bytes.end());
  ages_.push_back(offset);
  pieces_.emplace(offset, TPiece{std::move(buffer), std::prev(ages_.end())});
  bytes_ += bytes.size();
}

void TKnownBytes::Drop(uint64_t offset, uint64_t end) {
  auto it = pieces_.upper_bound(offset);
  // The piece before may reach into the range.
  if (it != pieces_.begin() && std::prev(it)->first + std::prev(it)->second.bytes.size() > offset)
    --it;
  while (it != pieces_.end() && it->first < end) {
    bytes_ -= it->second.bytes.size();
    ages_.erase(it->second.age);
    it = pieces_.erase(it);
  }
}

bool TKnownBytes::Copy(uint64_t offset, std::span<uint8_t> out) const {
  auto it = pieces_.upper_bound(offset);
  if (out.empty() || it == pieces_.begin()) return false;
  --it;
  if (it->first + it->second.bytes.size() < offset + out.size()) return false;
  std::memcpy(out.data(), it->second.bytes.data() + (offset - it->first), out.size());
  return true;
}

void TKnownBytes::Clear() {
  file_size_ = -1;
  pieces_.clear();
  ages_.clear();
  bytes_ = 0;
}

}  // namespace cairn
