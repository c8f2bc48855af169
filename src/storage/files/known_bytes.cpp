#include "storage/files/known_bytes.h"

#include <algorithm>
#include <bit>
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
  // Pieces the bytes overlap take their part in place (a page written
  // again, or two neighbours written in one go).
  uint64_t reached = offset;
  bool gapless = true;
  auto it = pieces_.upper_bound(offset);
  if (it != pieces_.begin()) --it;
  for (; it != pieces_.end() && it->first < end; ++it) {
    const uint64_t piece_end = it->first + it->second.bytes.size();
    if (piece_end <= offset) continue;
    if (it->first > reached) gapless = false;
    const uint64_t from = std::max(offset, it->first);
    const uint64_t to = std::min(end, piece_end);
    std::memcpy(it->second.bytes.data() + (from - it->first), bytes.data() + (from - offset),
                to - from);
    ages_.splice(ages_.end(), ages_, it->second.age);
    reached = to;
  }
  if ((gapless && reached == end) || bytes.size() > kLongestPiece || bytes.size() > budget_)
    return;
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

TKnownBytes::TPieces::const_iterator TKnownBytes::Holder(uint64_t offset) const {
  auto it = pieces_.upper_bound(offset);
  if (it == pieces_.begin()) return pieces_.end();
  --it;
  return it->first + it->second.bytes.size() > offset ? it : pieces_.end();
}

bool TKnownBytes::Covered(uint64_t offset, size_t length) const {
  auto it = Holder(offset);
  if (it == pieces_.end()) return false;
  for (uint64_t reached = it->first + it->second.bytes.size(); reached < offset + length;) {
    if (++it == pieces_.end() || it->first != reached) return false;
    reached += it->second.bytes.size();
  }
  return true;
}

bool TKnownBytes::Copy(uint64_t offset, size_t length, std::vector<uint8_t>& out) const {
  if (length == 0 || !Covered(offset, length)) return false;
  out.reserve(out.size() + length);
  size_t done = 0;
  for (auto it = Holder(offset); done < length; ++it) {
    const size_t skip = size_t(offset + done - it->first);
    const size_t n = std::min(length - done, it->second.bytes.size() - skip);
    const auto from = it->second.bytes.begin() + std::ptrdiff_t(skip);
    out.insert(out.end(), from, from + std::ptrdiff_t(n));
    done += n;
  }
  return true;
}

namespace {

uint64_t Word(const uint8_t* p) {
  uint64_t w;
  std::memcpy(&w, p, sizeof w);
  return w;
}

// The first i >= from where a and b differ (`n` when they do not); a word at
// a time, since most of a page written again is as it was.
size_t NextDifference(const uint8_t* a, const uint8_t* b, size_t from, size_t n) {
  size_t i = from;
  while (i + 256 <= n && std::memcmp(a + i, b + i, 256) == 0) i += 256;
  if constexpr (std::endian::native == std::endian::little) {
    for (; i + 8 <= n; i += 8) {
      if (const uint64_t x = Word(a + i) ^ Word(b + i); x != 0)
        return i + size_t(std::countr_zero(x) / 8);
    }
  }
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

// The end of the difference at `from`: the last differing byte before the
// next word-long stretch where a and b agree (`n` when there is none). Runs
// of agreement shorter than that go unseen: not worth a write of their own.
size_t DifferenceEnd(const uint8_t* a, const uint8_t* b, size_t from, size_t n) {
  size_t i = from;
  while (i + 8 <= n && Word(a + i) != Word(b + i)) i += 8;
  if (i + 8 > n) i = n;
  // The word before differs somewhere: the difference ends after that byte.
  while (i > from && a[i - 1] == b[i - 1]) --i;
  return i;
}

}  // namespace

bool TKnownBytes::Differing(uint64_t offset, std::span<const uint8_t> bytes, size_t gap,
                            std::vector<TRun>& runs) const {
  runs.clear();
  if (bytes.empty() || !Covered(offset, bytes.size())) return false;
  size_t done = 0;
  for (auto it = Holder(offset); done < bytes.size(); ++it) {
    const size_t skip = size_t(offset + done - it->first);
    const size_t n = std::min(bytes.size() - done, it->second.bytes.size() - skip);
    const uint8_t* mine = bytes.data() + done;
    const uint8_t* known = it->second.bytes.data() + skip;
    for (size_t i = NextDifference(mine, known, 0, n); i < n;) {
      const size_t last = DifferenceEnd(mine, known, i, n);
      if (!runs.empty() && done + i - runs.back().last < gap) {
        runs.back().last = done + last;
      } else {
        runs.push_back({done + i, done + last});
      }
      i = NextDifference(mine, known, last, n);
    }
    done += n;
  }
  return true;
}

void TKnownBytes::Clear() {
  file_size_ = -1;
  pieces_.clear();
  ages_.clear();
  bytes_ = 0;
}

}  // namespace cairn
