// Read-only walks over one index tree for cursors: positioning on the first
// key >= a key, the last key <= a key, the first, the last or the n-th key
// (from the subtree counts), and stepping through the leaf chain. A cursor
// keeps a private copy of its current leaf (TLeafCopy), so reading the
// current key or moving inside the leaf needs no cache lookup.
//
// Every walk may report kRestart: the index file found, before reading a
// page from disk, that another process changed the table. The caller then
// resynchronises and starts again from the root.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "storage/access/index_file.h"

namespace cairn {

enum class TWalk { kOk, kNone, kRestart };

struct TLeafCopy {
  int32_t page = 0;
  int32_t prev = 0;
  int32_t next = 0;
  int count = 0;
  int key_length = 0;
  uint32_t first_ordinal = 0;  // ordinal (1-based) of entry 0 in the whole index
  std::vector<uint8_t> keys;   // count * key_length bytes
  std::vector<int32_t> refs;   // slot numbers

  const uint8_t* Key(int i) const { return keys.data() + size_t(i) * key_length; }
  std::span<const uint8_t> KeySpan(int i) const { return {Key(i), size_t(key_length)}; }
  void Clear() { *this = TLeafCopy{}; }
};

// A position: the leaf copy and the entry inside it.
struct TTreePosition {
  TLeafCopy leaf;
  int entry = -1;
  bool Valid() const { return entry >= 0 && entry < leaf.count; }
  const uint8_t* Key() const { return leaf.Key(entry); }
  int32_t Slot() const { return leaf.refs[size_t(entry)]; }
  uint32_t Ordinal() const { return leaf.first_ordinal + uint32_t(entry); }
};

class TIndexWalker {
 public:
  TIndexWalker(TIndexFile& file, int index) : file_(file), index_(index) {}

  TWalk First(TTreePosition& out) { return Descend(Mode::kFirst, nullptr, 0, out); }
  TWalk Last(TTreePosition& out) { return Descend(Mode::kLast, nullptr, 0, out); }
  // The first key >= key / the last key <= key (key_length bytes).
  TWalk FirstAtLeast(const uint8_t* key, TTreePosition& out) {
    return Descend(Mode::kAtLeast, key, 0, out);
  }
  TWalk LastAtMost(const uint8_t* key, TTreePosition& out) {
    return Descend(Mode::kAtMost, key, 0, out);
  }
  // The key of ordinal n (1-based).
  TWalk Nth(uint32_t n, TTreePosition& out) { return Descend(Mode::kNth, nullptr, n, out); }
  TWalk Next(TTreePosition& pos);
  TWalk Prior(TTreePosition& pos);
  // Number of keys in the index.
  TWalk Count(uint32_t& out);
  // True when an equal key is present.
  TWalk Contains(const uint8_t* key, bool& found);

  int Compare(const uint8_t* a, const uint8_t* b) const;

 private:
  enum class Mode { kFirst, kLast, kAtLeast, kAtMost, kNth };
  TWalk Descend(Mode mode, const uint8_t* key, uint32_t n, TTreePosition& out);
  TWalk LoadLeaf(int32_t page, TLeafCopy& leaf);
  static void CopyLeaf(const TPage& page, TLeafCopy& leaf);

  TIndexFile& file_;
  int index_;
};

}  // namespace cairn
