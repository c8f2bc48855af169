#include "storage/access/index_page.h"

#include <algorithm>
#include <cstring>

namespace cairn {

void TPage::Reset(const TPageShape& shape, uint8_t index, int32_t number) {
  shape_ = shape;
  index_ = index;
  number_ = number;
  Clear();
  dirty = false;
  freed = false;
  orphan = false;
  pins = 0;
  mru_prev = mru_next = nullptr;
}

void TPage::Clear() {
  std::fill(slots_.begin(), slots_.begin() + std::min(slots_.size(), size_t(count_) * stride()),
            uint8_t{0});
  count_ = 0;
  body_size_ = 0;
  type_ = kPageRootLeaf;
  prev_ = next_ = 0;
  raw_.clear();
}

void TPage::EnsureCapacity(int entries) {
  const size_t need = size_t(entries) * stride();
  if (slots_.size() >= need) return;
  // Room at once for a full page and the entry that makes it split keeps a
  // cached page near its size on disk; doubling from one entry up would
  // leave most pages at twice that. Only compressed leaves grow past it.
  size_t want = std::max(need, size_t(shape_.MaxLeafEntries() + 2) * stride());
  want = std::max(want, slots_.size() + slots_.size() / 2);
  slots_.reserve(want);
  slots_.resize(want, 0);
}

void TPage::SetKey(int i, const uint8_t* key) {
  std::memmove(MutableKey(i), key, size_t(shape_.key_length));
}

void TPage::Insert(int pos, const uint8_t* key, int32_t ref, uint32_t sub_count) {
  EnsureCapacity(count_ + 1);
  uint8_t* at = &slots_[size_t(pos) * stride()];
  std::memmove(at + stride(), at, size_t(count_ - pos) * stride());
  std::memmove(at, key, size_t(shape_.key_length));
  le::PutI32(at + shape_.key_length, ref);
  le::PutU32(at + shape_.key_length + 4, sub_count);
  at[shape_.key_length + 8] = 0;
  at[shape_.key_length + 9] = 0;
  ++count_;
}

void TPage::Remove(int pos) {
  uint8_t* at = &slots_[size_t(pos) * stride()];
  std::memmove(at, at + stride(), size_t(count_ - pos - 1) * stride());
  --count_;
  std::memset(&slots_[size_t(count_) * stride()], 0, stride());
}

void TPage::MoveTailTo(int from, TPage& to) {
  const int n = count_ - from;
  if (n <= 0) return;
  to.EnsureCapacity(to.count_ + n);
  std::memcpy(&to.slots_[size_t(to.count_) * stride()], Key(from), size_t(n) * stride());
  to.count_ += n;
  std::memset(MutableKey(from), 0, size_t(n) * stride());
  count_ = from;
}

void TPage::MoveAllToFront(TPage& to) {
  const int n = count_;
  if (n == 0) return;
  to.EnsureCapacity(to.count_ + n);
  uint8_t* base = to.slots_.data();
  std::memmove(base + size_t(n) * stride(), base, size_t(to.count_) * stride());
  std::memcpy(base, slots_.data(), size_t(n) * stride());
  to.count_ += n;
  std::memset(slots_.data(), 0, size_t(n) * stride());
  count_ = 0;
}

uint32_t TPage::Total() const {
  if (IsLeaf()) return uint32_t(count_);
  uint32_t total = 0;
  for (int i = 0; i < count_; ++i) total += SubCount(i);
  return total;
}

int TPage::MaxEntries() const {
  return IsInterior() ? shape_.MaxInteriorEntries() : shape_.MaxLeafEntries();
}

bool TPage::OverFull() const {
  if (IsCompressedLeaf()) return body_size_ > kPageBodySize;
  return count_ > MaxEntries();
}

// Trailing zero bytes of key[from, to), capped.
int TPage::TrailCount(const uint8_t* key, int from, int to) const {
  int t = 0;
  while (to - 1 - t >= from && key[to - 1 - t] == 0 && t < kCompressionCap) ++t;
  return t;
}

void TPage::Recount() {
  if (!IsCompressedLeaf()) {
    body_size_ = 0;
    return;
  }
  const int k = shape_.key_length;
  const uint8_t c = shape_.compression;
  int size = 0;
  for (int i = 0; i < count_; ++i) {
    uint8_t* e = MutableKey(i);
    int d = 0;
    if (i > 0 && (c == kCompressDuplicate || c == kCompressFull)) {
      const uint8_t* p = Key(i - 1);
      const int cap = std::min(k, kCompressionCap);
      while (d < cap && e[d] == p[d]) ++d;
    }
    int t = 0;
    if (c == kCompressTrailing) {
      t = TrailCount(e, 0, shape_.unique ? k : std::max(k - 4, 0));
    } else if (c == kCompressFull) {
      if (shape_.unique)
        t = TrailCount(e, d, k);
      else if (k - d >= 5)
        t = TrailCount(e, d, k - 4);
    }
    e[k + 8] = uint8_t(d);
    e[k + 9] = uint8_t(t);
    size += CompressedEntrySize(i);
  }
  body_size_ = size;
}

int TPage::CompressedEntrySize(int i) const {
  const int k = shape_.key_length;
  switch (shape_.compression) {
    case kCompressDuplicate:
      return k - Dup(i) + 5;
    case kCompressTrailing:
      return k - Trail(i) + 5;
    case kCompressFull:
      return k - Dup(i) - Trail(i) + 6;
    default:
      return k + 4;
  }
}

bool TPage::Encode(std::span<uint8_t, kIndexPageSize> out) const {
  if (!freed && type_ != kPageRaw && OverFull()) return false;
  std::fill(out.begin(), out.end(), uint8_t{0});
  TPageHeader h;
  h.type = type_;
  h.count = freed ? 0 : uint16_t(count_);
  h.prev = prev_;
  h.next = next_;
  h.body_size = (!freed && IsCompressedLeaf()) ? uint16_t(body_size_) : 0;
  h.Encode(out.data());
  if (freed) return true;
  uint8_t* w = out.data() + kPageHeaderSize;
  const int k = shape_.key_length;
  if (type_ == kPageRaw) {
    std::memcpy(w, raw_.data(), std::min<size_t>(raw_.size(), kPageBodySize));
    return true;
  }
  if (IsInterior()) {
    for (int i = 0; i < count_; ++i) {
      std::memcpy(w, Key(i), size_t(k) + 4);
      w += k + 4;
      if (!shape_.no_counts) {
        le::PutU32(w, SubCount(i));
        w += 4;
      }
    }
    return true;
  }
  const uint8_t c = shape_.compression;
  for (int i = 0; i < count_; ++i) {
    const uint8_t* e = Key(i);
    const int d = Dup(i), t = Trail(i);
    switch (c) {
      case kCompressNone:
        std::memcpy(w, e, size_t(k));
        w += k;
        break;
      case kCompressDuplicate:
        *w++ = uint8_t(d);
        std::memcpy(w, e + d, size_t(k - d));
        w += k - d;
        break;
      case kCompressTrailing:
        *w++ = uint8_t(t);
        if (shape_.unique) {
          std::memcpy(w, e, size_t(k - t));
          w += k - t;
        } else {
          std::memcpy(w, e, size_t(k - 4 - t));
          w += k - 4 - t;
          std::memcpy(w, e + k - 4, 4);
          w += 4;
        }
        break;
      case kCompressFull:
        *w++ = uint8_t(d);
        *w++ = uint8_t(t);
        if (!shape_.unique && k - d >= 5) {
          std::memcpy(w, e + d, size_t(k - 4 - d - t));
          w += k - 4 - d - t;
          std::memcpy(w, e + k - 4, 4);
          w += 4;
        } else {
          std::memcpy(w, e + d, size_t(k - d - t));
          w += k - d - t;
        }
        break;
    }
    std::memcpy(w, e + k, 4);
    w += 4;
  }
  return true;
}

bool TPage::Decode(std::span<const uint8_t, kIndexPageSize> in) {
  const int32_t number = number_;
  Clear();
  number_ = number;
  const TPageHeader h = TPageHeader::Decode(in.data());
  if (h.type > kPageRaw) return false;
  type_ = h.type;
  prev_ = h.prev;
  next_ = h.next;
  const uint8_t* r = in.data() + kPageHeaderSize;
  const uint8_t* end = in.data() + kIndexPageSize;
  const int k = shape_.key_length;
  if (type_ == kPageRaw) {
    raw_.assign(r, end);
    count_ = h.count;
    return true;
  }
  auto fail = [this] {
    Clear();
    return false;
  };
  if (k <= 0) return fail();
  if (IsInterior() || shape_.compression == kCompressNone) {
    if (h.body_size != 0) return fail();
    const int entry = IsInterior() ? shape_.InteriorEntrySize() : k + 4;
    if (h.count > kPageBodySize / entry) return fail();
    EnsureCapacity(h.count);
    for (int i = 0; i < h.count; ++i) {
      uint8_t* e = &slots_[size_t(i) * stride()];
      std::memcpy(e, r, size_t(k) + 4);
      r += k + 4;
      if (IsInterior() && !shape_.no_counts) {
        std::memcpy(e + k + 4, r, 4);
        r += 4;
      }
    }
    count_ = h.count;
    return true;
  }
  // Compressed leaf: walk the body within its stated size.
  if (h.body_size > kPageBodySize) return fail();
  const uint8_t* body_end = r + h.body_size;
  const uint8_t c = shape_.compression;
  EnsureCapacity(h.count);
  for (int i = 0; i < h.count; ++i) {
    uint8_t* e = &slots_[size_t(i) * stride()];
    int d = 0, t = 0;
    auto need = [&](int n) { return n >= 0 && body_end - r >= n; };
    if (c == kCompressDuplicate || c == kCompressFull) {
      if (!need(1)) return fail();
      d = *r++;
    }
    if (c == kCompressTrailing || c == kCompressFull) {
      if (!need(1)) return fail();
      t = *r++;
    }
    if (d > std::min(k, kCompressionCap) || t > kCompressionCap) return fail();
    if (i == 0 && d != 0) return fail();
    if (d > 0) std::memcpy(e, e - stride(), size_t(d));
    int middle;  // stored bytes before any separately stored suffix
    bool split_suffix;
    if (c == kCompressTrailing) {
      split_suffix = !shape_.unique;
      middle = (split_suffix ? k - 4 : k) - t;
    } else if (c == kCompressFull) {
      split_suffix = !shape_.unique && k - d >= 5;
      if (!shape_.unique && !split_suffix && t != 0) return fail();
      middle = (split_suffix ? k - 4 : k) - d - t;
    } else {
      split_suffix = false;
      middle = k - d;
    }
    if (middle < 0 || !need(middle)) return fail();
    std::memcpy(e + d, r, size_t(middle));
    r += middle;
    // The omitted trailing bytes stay zero: the slot array is zero past the end.
    std::memset(e + d + middle, 0, size_t(k - d - middle));
    if (split_suffix) {
      if (!need(4)) return fail();
      std::memcpy(e + k - 4, r, 4);
      r += 4;
    }
    if (!need(4)) return fail();
    std::memcpy(e + k, r, 4);
    r += 4;
    // Keep the counts as stored: they re-encode to the same bytes, and a
    // change recounts the page anyway.
    e[k + 8] = uint8_t(d);
    e[k + 9] = uint8_t(t);
    count_ = i + 1;
  }
  if (r != body_end) return fail();
  body_size_ = h.body_size;
  return true;
}

TPage* TPageStack::Take() {
  if (!free_.empty()) {
    TPage* p = free_.back();
    free_.pop_back();
    return p;
  }
  all_.push_back(std::make_unique<TPage>());
  return all_.back().get();
}

void TPageStack::Give(TPage* page) { free_.push_back(page); }

}  // namespace cairn
