// TIndexTree: the B+tree of one index inside a TIndexFile.
//
// Interior entries carry the first key of their child and the number of leaf
// keys below it, so positions have ordinals (1-based) without scans. Leaves
// of one level are chained both ways. Insert and Delete keep every separator
// equal to its child's first key up to the root, split over-full pages (a
// removal can overfill a fully compressed leaf), merge or redistribute
// under-full fixed-size pages, drop empty compressed leaves and collapse a
// root with a single child. The tree never checks
// uniqueness (TIndexMaintainer does); Delete of a missing key, a path deeper
// than 64 levels or a page of the wrong kind raise CAIRN_INDEXCORRUPT.
//
// During a transaction inserts may wait outside the tree (see Settle); every
// call merges them first, so callers see one index.
//
// Reads restart from the root when the index file reports that another
// process changed the table; mutations must run under the write lock, where
// that cannot happen (it raises CAIRN_INDEXCORRUPT if it does).
//
// Cursors walk through the same reader (the overloads on TTreePosition):
// they keep a private copy of their current leaf and get kRestart instead of
// a silent retry, so that they resynchronise first. Every page is checked as
// on any read: a link outside the file, a page of the wrong kind, a leaf
// chain whose keys do not ascend (a cycle) raise CAIRN_INDEXCORRUPT; without
// subtree counts, ordinals come from the leaf chain.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "storage/access/index_file.h"

namespace cairn {

// A position on a leaf entry, with what is needed to come back to it.
struct TIndexEntry {
  int32_t page = 0;          // leaf page
  int pos = 0;               // 0-based entry in that leaf
  uint32_t ordinal = 0;      // 1-based rank of the key in the index
  int32_t ref = 0;           // the record's slot number
  std::vector<uint8_t> key;  // the key bytes
};

enum class TWalk { kOk, kNone, kRestart };

// A cursor's private copy of a leaf.
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
};

// A cursor position: the leaf copy and the entry inside it.
struct TTreePosition {
  TLeafCopy leaf;
  int entry = -1;
  bool Valid() const { return entry >= 0 && entry < leaf.count; }
  const uint8_t* Key() const { return leaf.Key(entry); }
  int32_t Slot() const { return leaf.refs[size_t(entry)]; }
  uint32_t Ordinal() const { return leaf.first_ordinal + uint32_t(entry); }
};

class TIndexTree {
 public:
  TIndexTree(TIndexFile& file, int index);

  int index() const { return index_; }
  int key_length() const { return shape_.key_length; }
  const TKeyLayout& layout() const { return layout_; }

  void Insert(std::span<const uint8_t> key, int32_t slot);
  void Delete(std::span<const uint8_t> key);
  void Replace(std::span<const uint8_t> old_key, std::span<const uint8_t> new_key, int32_t slot);
  // Slot of the entry whose key compares equal, if any.
  std::optional<int32_t> Find(std::span<const uint8_t> key);
  // The same, in the tree alone: keys waiting to go in are not merged.
  std::optional<int32_t> FindInTree(std::span<const uint8_t> key);
  // Merges the keys waiting for this index (TIndexFile::DeferInsert) in key
  // order. Every other call merges them first. A failure leaves those not
  // yet in the tree waiting.
  void Settle();
  // Every key of the tree, in leaf order (waiting keys are not merged).
  void VisitKeys(const std::function<void(const uint8_t*)>& visit);

  // Number of keys.
  uint32_t Count();
  bool First(TIndexEntry& out);
  bool Last(TIndexEntry& out);
  // First key >= key / > key; last key <= key / < key.
  bool SeekGE(std::span<const uint8_t> key, TIndexEntry& out);
  bool SeekGT(std::span<const uint8_t> key, TIndexEntry& out);
  bool SeekLE(std::span<const uint8_t> key, TIndexEntry& out);
  bool SeekLT(std::span<const uint8_t> key, TIndexEntry& out);
  // The n-th key (1-based).
  bool SeekOrdinal(uint32_t n, TIndexEntry& out);
  // Step from `at` (which may be stale: the key is searched again then).
  bool Next(TIndexEntry& at);
  bool Prior(TIndexEntry& at);

  // Cursor walks: the first / last key, the first key >= `key`, the last key
  // <= `key`, the key of ordinal n, the neighbouring entry, the key count.
  TWalk First(TTreePosition& out);
  TWalk Last(TTreePosition& out);
  TWalk FirstAtLeast(const uint8_t* key, TTreePosition& out);
  TWalk LastAtMost(const uint8_t* key, TTreePosition& out);
  TWalk Nth(uint32_t n, TTreePosition& out);
  TWalk Next(TTreePosition& pos);
  TWalk Prior(TTreePosition& pos);
  TWalk Count(uint32_t& out);

 private:
  struct TLevel {
    TPinnedPage page;
    int pos = 0;
  };
  struct TRestart {};
  enum class Seek { kGE, kGT, kLE, kLT };

  struct TTreeAlone;
  TPinnedPage Fetch(int32_t page);
  // Root to the first leaf, each level checked; none when the tree is empty.
  TPinnedPage LeftmostLeaf();
  void CheckNode(const TPage* p, int level, int32_t number) const;
  // Sign only: a plain byte order compares inline, the rest through the layout.
  int Cmp(const uint8_t* a, const uint8_t* b) const {
    return plain_length_ > 0 ? std::memcmp(a, b, plain_length_) : layout_.Compare(a, b);
  }
  // Last entry <= key (strict: < key), or 0.
  int ChildFor(const TPage* p, const uint8_t* key, bool strict) const;
  int LowerBound(const TPage* p, const uint8_t* key) const;
  int UpperBound(const TPage* p, const uint8_t* key) const;
  // Walks root to leaf; ordinal gets the keys left of the path.
  std::vector<TLevel> Descend(const uint8_t* key, bool strict, uint32_t* left_keys);
  bool SeekImpl(std::span<const uint8_t> key, Seek mode, TIndexEntry& out);
  bool Fill(TPinnedPage& leaf, int pos, uint32_t ordinal, TIndexEntry& out);
  uint32_t LeafOrdinalBase(int32_t leaf_page);
  template <typename F>
  auto ReadRetry(F&& f) -> decltype(f());
  // Runs a cursor walk: a change by another process gives kRestart.
  template <typename F>
  TWalk Walk(F&& f);
  TWalk Position(bool found, const TIndexEntry& e, TTreePosition& out);
  // The checked leaf `number`, copied.
  void CopyLeaf(int32_t number, TLeafCopy& leaf);

  void InsertImpl(const uint8_t* key, int32_t slot);
  // Inserts the next of a run of ascending keys along the path of the last
  // (empty: from the root); the path is left empty when the tree changed shape.
  void InsertAlong(std::vector<TLevel>& path, const uint8_t* key, int32_t slot);
  void DeleteImpl(const uint8_t* key);
  void FixSeparators(std::vector<TLevel>& path, int level);
  void Split(std::vector<TLevel>& path, int level);
  void Rebalance(std::vector<TLevel>& path, int level);
  void RemoveChildEntry(std::vector<TLevel>& path, int level);
  void Touch(TPage* p) {
    p->dirty = true;
    if (p->IsCompressedLeaf()) p->Recount();
  }

  TIndexFile& file_;
  int index_;
  const TKeyLayout& layout_;
  TPageShape shape_;
  bool counts_;
  bool mutating_ = false;
  bool walking_ = false;  // a cursor walk: restarts go to the caller
  bool settle_ = true;    // reads merge waiting keys first
  size_t plain_length_;   // key length when keys compare as ascending bytes, else 0
};

}  // namespace cairn
