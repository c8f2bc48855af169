// TKnownBytes: pieces of one file as this process last read or wrote them,
// within a byte budget (the piece noted longest ago goes first). A change's
// undo takes the bytes a write replaces from here instead of reading them
// back: a write usually replaces what a cache read or wrote a moment ago.
// The pieces are right only while nobody else writes the file; the owner
// clears them whenever it finds the file changed.
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <span>
#include <vector>

namespace cairn {

class TKnownBytes {
 public:
  // Pieces longer than this are not kept (read-ahead runs, whole blobs).
  static constexpr size_t kLongestPiece = 4096;

  // 0 (the default) keeps nothing.
  void set_budget(uint64_t bytes);
  uint64_t budget() const { return budget_; }
  uint64_t size() const { return bytes_; }

  // One stretch [first, last) of a write's bytes.
  struct TRun {
    size_t first;
    size_t last;
    bool operator==(const TRun&) const = default;
  };

  // `bytes` are now the file's contents at `offset`. Pieces they overlap
  // take them in place; a longer stretch than a piece adds nothing new.
  void Note(uint64_t offset, std::span<const uint8_t> bytes);
  // Forgets every piece that overlaps [offset, end).
  void Drop(uint64_t offset, uint64_t end = UINT64_MAX);
  // Appends the file's `length` bytes at `offset` to `out` when pieces
  // lying end to end hold them all.
  bool Copy(uint64_t offset, size_t length, std::vector<uint8_t>& out) const;
  // When pieces lying end to end hold the file's bytes where `bytes` would
  // go: true, with `runs` the parts of `bytes` that differ from them, in
  // order (none when nothing does). Runs fewer than `gap` equal bytes apart
  // are one run, as are runs fewer than 16 apart: each run costs a write of
  // its own.
  bool Differing(uint64_t offset, std::span<const uint8_t> bytes, size_t gap,
                 std::vector<TRun>& runs) const;
  // The file's size, when known (noted only with a budget).
  void NoteFileSize(uint64_t size) { file_size_ = budget_ > 0 ? int64_t(size) : -1; }
  void ForgetFileSize() { file_size_ = -1; }
  int64_t FileSize() const { return file_size_; }  // -1: unknown
  // Forgets every piece and the size.
  void Clear();

 private:
  struct TPiece {
    std::vector<uint8_t> bytes;
    std::list<uint64_t>::iterator age;
  };
  // By offset; pieces never overlap (noting one drops those it overlaps).
  using TPieces = std::map<uint64_t, TPiece>;
  // The piece holding `offset`, or end() when none does.
  TPieces::const_iterator Holder(uint64_t offset) const;
  // Whether pieces lying end to end hold [offset, offset + length).
  bool Covered(uint64_t offset, size_t length) const;
  TPieces pieces_;
  std::list<uint64_t> ages_;  // offsets, noted longest ago first
  uint64_t budget_ = 0;
  uint64_t bytes_ = 0;
  int64_t file_size_ = -1;
};

}  // namespace cairn
