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
  // Written again where a piece holds the file's bytes (a page, or the
  // part of it that changed): the piece takes them in place.
  if (auto holder = pieces_.upper_bound(offset); holder != pieces_.begin()) {
    --holder;
    if (holder->first + holder->second.bytes.size() >= end) {
      std::memcpy(holder->second.bytes.data() + (offset - holder->first), bytes.data(),
                  bytes.size());
      ages_.splice(ages_.end(), ages_, holder->second.age);
      return;
    }
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

bool TKnownBytes::Differing(uint64_t offset, std::span<const uint8_t> bytes, size_t& first,
                            size_t& last) const {
  auto it = pieces_.upper_bound(offset);
  if (bytes.empty() || it == pieces_.begin()) return false;
  --it;
  if (it->first + it->second.bytes.size() < offset + bytes.size()) return false;
  const uint8_t* known = it->second.bytes.data() + (offset - it->first);
  first = 0;
  while (first < bytes.size() && bytes[first] == known[first]) ++first;
  last = bytes.size();
  while (last > first && bytes[last - 1] == known[last - 1]) --last;
  return true;
}

void TKnownBytes::Clear() {
  file_size_ = -1;
  pieces_.clear();
  ages_.clear();
  bytes_ = 0;
}

}  // namespace cairn
