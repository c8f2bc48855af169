// One node of an index tree in memory (TPage) and the pool that recycles them
// (TPageStack).
//
// A page holds its entries as fixed slots of k + 10 bytes: key (k), reference
// (4: slot number in a leaf, child page in an interior node), subtree count (4,
// interior only), leading-duplicate count d and trailing-zero count t (1 each,
// compressed leaves only). Bytes past the last entry are kept zero.
// Decode() turns a 4096-byte page image into slots and rejects any image that
// is not a well-formed node of the given shape; Encode() writes the image back
// byte-exact. Neither touches a file.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "storage/access/index_format.h"

namespace cairn {

class TIndexFile;

// What a page needs to know about its index to lay out entries.
struct TPageShape {
  int key_length = 0;
  bool unique = true;
  bool no_counts = false;  // interior entries carry no subtree count (also the text index)
  uint8_t compression = kCompressNone;

  int SlotSize() const { return key_length + 10; }
  int InteriorEntrySize() const { return key_length + (no_counts ? 4 : 8); }
  int MaxInteriorEntries() const { return kPageBodySize / InteriorEntrySize(); }
  int MaxLeafEntries() const { return kPageBodySize / (key_length + 4); }
};

class TPage {
 public:
  TPage() = default;
  TPage(const TPage&) = delete;
  TPage& operator=(const TPage&) = delete;

  // Clears the page and gives it a shape, an index and a number.
  void Reset(const TPageShape& shape, uint8_t index, int32_t number);
  // Clears the entries and the links, keeping shape, index and number.
  void Clear();

  const TPageShape& shape() const { return shape_; }
  int key_length() const { return shape_.key_length; }
  uint8_t index() const { return index_; }
  void set_index(uint8_t i) { index_ = i; }
  int32_t number() const { return number_; }
  uint8_t type() const { return type_; }
  void set_type(uint8_t t) { type_ = t; }
  int32_t prev() const { return prev_; }
  int32_t next() const { return next_; }
  void set_prev(int32_t p) { prev_ = p; }
  void set_next(int32_t n) { next_ = n; }
  int count() const { return count_; }
  bool IsLeaf() const { return type_ == kPageLeaf || type_ == kPageRootLeaf; }
  bool IsInterior() const { return type_ == kPageRootInterior || type_ == kPageInterior; }
  bool IsRoot() const { return type_ == kPageRootInterior || type_ == kPageRootLeaf; }
  bool IsCompressedLeaf() const { return IsLeaf() && shape_.compression != kCompressNone; }

  // Entries, 0-based.
  const uint8_t* Key(int i) const { return &slots_[size_t(i) * stride()]; }
  uint8_t* MutableKey(int i) { return &slots_[size_t(i) * stride()]; }
  int32_t Ref(int i) const { return le::I32(Key(i) + shape_.key_length); }
  void SetRef(int i, int32_t v) { le::PutI32(MutableKey(i) + shape_.key_length, v); }
  uint32_t SubCount(int i) const { return le::U32(Key(i) + shape_.key_length + 4); }
  void SetSubCount(int i, uint32_t v) { le::PutU32(MutableKey(i) + shape_.key_length + 4, v); }
  uint8_t Dup(int i) const { return Key(i)[shape_.key_length + 8]; }
  uint8_t Trail(int i) const { return Key(i)[shape_.key_length + 9]; }
  void SetKey(int i, const uint8_t* key);

  void Insert(int pos, const uint8_t* key, int32_t ref, uint32_t sub_count);
  void Remove(int pos);
  // Moves entries [from, count) of this page to the end of `to`.
  void MoveTailTo(int from, TPage& to);
  // Moves all entries of this page to the front of `to`.
  void MoveAllToFront(TPage& to);

  // Keys below this page: the entry count of a leaf, the sum of the subtree
  // counts of an interior node.
  uint32_t Total() const;
  // Compressed leaves: recomputes d and t of every entry and the body size.
  void Recount();
  // Encoded body size (valid for compressed leaves after Recount()).
  int body_size() const { return body_size_; }
  // True when the page no longer fits its 4083-byte body.
  bool OverFull() const;
  // Entry maximum of a fixed-size page (interior, or uncompressed leaf).
  int MaxEntries() const;
  // Encoded size of entry i of a compressed leaf (after Recount()).
  int CompressedEntrySize(int i) const;

  // Whole page image <-> page. Encode returns false, writing nothing, for a
  // page that does not fit its body (the tree failed to split it). Decode
  // returns false for an image that is not a well-formed node of this
  // page's shape (the page is then left cleared).
  bool Encode(std::span<uint8_t, kIndexPageSize> out) const;
  bool Decode(std::span<const uint8_t, kIndexPageSize> in);

  // Raw pages (type 4) keep their 4083-byte body as is.
  std::span<uint8_t> RawBody() { return raw_; }

  // Cache bookkeeping, owned by TIndexFile.
  bool dirty = false;
  bool freed = false;
  bool orphan = false;  // dropped from the cache while pinned; pooled on release
  int pins = 0;
  TPage* mru_prev = nullptr;
  TPage* mru_next = nullptr;

 private:
  size_t stride() const { return size_t(shape_.key_length) + 10; }
  void EnsureCapacity(int entries);
  int TrailCount(const uint8_t* key, int from, int to) const;

  TPageShape shape_;
  uint8_t index_ = 0;
  int32_t number_ = 0;
  uint8_t type_ = kPageRootLeaf;
  int32_t prev_ = 0;
  int32_t next_ = 0;
  int count_ = 0;
  int body_size_ = 0;
  std::vector<uint8_t> slots_;
  std::vector<uint8_t> raw_;
};

// A pool of pages: taking from it reuses a returned page before making one.
class TPageStack {
 public:
  TPage* Take();
  void Give(TPage* page);
  size_t allocated() const { return all_.size(); }

 private:
  std::vector<std::unique_ptr<TPage>> all_;
  std::vector<TPage*> free_;
};

}  // namespace cairn
