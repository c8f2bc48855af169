// The block cache of one open blob file, shared by every cursor on the table.
//
// Blocks are kept in a list sorted by block number (binary search) and in a
// recency list, most recent first. A lookup probes the four most recent blocks,
// then the sorted list; a miss reads the block together with the following
// blocks of the read-ahead run in one read. Blocks already cached are refreshed
// from that read only when neither pinned nor modified. When the cache is full
// the least recently used clean, unpinned block is reused; failing that the
// modified blocks are flushed first (unless writes are deferred), and failing
// that the capacity grows by 32. Flushing writes modified, unpinned blocks in
// block order, one write per run of consecutive numbers, each block scrambled
// as two runs (block header, data) when the table is encrypted.
//
// The cache sits on a TBlockStore (the file below) and never talks to the
// table; the table answers through the two callbacks.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "storage/files/block.h"

namespace cairn {

// The transfers the cache needs from its file.
class TBlockStore {
 public:
  virtual ~TBlockStore() = default;
  // Reads up to buffer.size() bytes at `offset`; returns the count read,
  // which is short only at the end of the file.
  virtual size_t ReadBlocks(uint64_t offset, std::span<uint8_t> buffer) = 0;
  // Writes every byte at `offset` or raises.
  virtual void WriteBlocks(uint64_t offset, std::span<const uint8_t> buffer) = 0;
};

// Asked on a cache miss before the file is touched: true when another process
// changed the table (the caches were then discarded) and the caller must
// restart its operation. An empty function never reports a change.
using TChangeCheck = std::function<bool()>;

struct TBlockCacheStats {
  uint64_t hits = 0;
  uint64_t reads = 0;   // reads from the file
  uint64_t writes = 0;  // writes to the file
};

class TBlockCache {
 public:
  // `table_name` fills the error texts. `capacity` and `read_ahead` are the
  // initial capacity and read-ahead run in blocks (both at least 1).
  TBlockCache(TBlockStore& store, std::string table_name, uint32_t block_size, bool encrypted,
              uint32_t capacity, uint32_t read_ahead);
  ~TBlockCache();
  TBlockCache(const TBlockCache&) = delete;
  TBlockCache& operator=(const TBlockCache&) = delete;

  // While this returns true (an update holds the write lock), making room
  // never writes: the cache grows by 32 instead of flushing.
  void SetWritesDeferred(std::function<bool()> deferred) { writes_deferred_ = std::move(deferred); }

  // Block `number`, pinned. On a miss, `check` is asked first; when it reports
  // a change nullptr is returned. Otherwise the block is read with up to
  // run - 1 following blocks (preceding ones when `backward`), capped by the
  // read-ahead size and by 1 .. `last_block`. Raises 8963 when the block is
  // out of 1..last_block or did not arrive (file too short).
  TBlock* Get(uint32_t number, uint32_t run, uint32_t last_block, const TChangeCheck& check,
              bool backward = false);
  // A cleared, pinned, modified block for a newly appended block number.
  TBlock* Create(uint32_t number);
  // Unpins; a block dropped by Discard while pinned goes back to the pool.
  void Release(TBlock* block);

  // Writes every modified, unpinned block outside the current read window.
  // Returns whether anything was written.
  bool Flush();
  // Drops every cached block (after another process changed the file or the
  // file was emptied). Pinned blocks stay valid for their holders.
  void Discard();
  // Evicts least recently used blocks down to the initial capacity, then sets
  // the capacity to max(count, initial capacity).
  void Trim();

  bool Contains(uint32_t number) const;
  size_t Count() const { return sorted_.size(); }
  uint32_t Capacity() const { return capacity_; }
  uint32_t InitialCapacity() const { return initial_capacity_; }
  uint32_t ReadAhead() const { return read_ahead_; }
  bool HasModified() const;
  const TBlockCacheStats& Stats() const { return stats_; }

 private:
  // Index in sorted_ of the first block whose number is >= `number`.
  size_t LowerBound(uint32_t number) const;
  TBlock* Find(uint32_t number) const;
  void MoveToFront(TBlock* block);
  void Unlink(TBlock* block);
  // A free cache entry numbered `number` and inserted into both lists.
  TBlock* NewEntry(uint32_t number);
  // The least recently used clean, unpinned block outside the read window,
  // or nullptr.
  TBlock* FindVictim() const;
  // Takes the block out of both lists (it stays owned).
  void Remove(TBlock* block);
  void Adopt(std::unique_ptr<TBlock> block);
  std::unique_ptr<TBlock> Disown(TBlock* block);
  bool InReadWindow(uint32_t number) const;
  bool WritesDeferred() const { return writes_deferred_ && writes_deferred_(); }
  static void Grow(std::vector<uint8_t>& buffer, size_t size);
  [[noreturn]] void Corrupt() const;

  TBlockStore& store_;
  std::string table_name_;
  uint32_t block_size_;
  bool encrypted_;
  uint32_t initial_capacity_;
  uint32_t capacity_;
  uint32_t read_ahead_;
  std::function<bool()> writes_deferred_;

  // Every block the cache holds, cached or detached; TBlock::cache_index_
  // is the position here.
  std::vector<std::unique_ptr<TBlock>> owned_;
  std::vector<TBlock*> sorted_;
  TBlock* newest_ = nullptr;
  TBlock* oldest_ = nullptr;
  TBlockStack pool_;

  std::vector<uint8_t> read_buffer_;
  std::vector<uint8_t> write_buffer_;
  uint32_t window_first_ = 0;  // block numbers of the run being read; 0 when none
  uint32_t window_last_ = 0;
  TBlockCacheStats stats_;
};

}  // namespace cairn
