// TBlobFile: the blob file (".BLB") of an open table: its 512-byte header,
// its block cache, and the chains of blocks that hold blob values.
//
// Contract for the table layer:
// - Construct with the table name (for error texts), the file name, the block
//   size stored in the data file header (0 means 512) and the encrypted flag.
//   A block size below 64 raises 9498 at Create and Open.
// - Every change (WriteBlobValue, FreeBlobChain, AllocateBlock, FreeBlock,
//   Empty) must run while the table's write lock is held; FlushAll (or
//   FlushBlocks then WriteHeader) writes it out at the end of the update.
//   Nothing reaches the file before that unless the cache must make room
//   while writes are not deferred (see SetWritesDeferred); Create and Empty
//   write their header at once.
// - A value is located by the pair (first block, revision stamp) kept in the
//   record's blob field; a write takes a fresh stamp from the data file's
//   blob revision counter, which the caller passes in.
// - Reads take a TChangeCheck: on a cache miss it is asked whether another
//   process changed the table; when it says so the read starts over.
// - Corrupt chains raise 8708, 8711, 8963 or 10029 and never read outside the
//   file or loop.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "storage/files/blob_buffer.h"
#include "storage/files/blob_layout.h"
#include "storage/files/block.h"
#include "storage/files/block_cache.h"
#include "storage/files/block_set.h"
#include "storage/files/file_handler.h"

namespace cairn {

// The session's buffer settings that size the block cache.
struct TBlobCacheSizes {
  uint32_t max_blob_bytes = 32768;    // cache capacity in bytes
  uint32_t max_buffers = 8192;        // cache capacity in blocks, at most
  uint32_t read_ahead_bytes = 16384;  // one read fetches at most this much
};

class TBlobFile : public TFileHandler, private TBlockStore {
 public:
  TBlobFile(std::string table_name, std::string file_name, uint32_t stored_block_size,
            bool encrypted, TBlobCacheSizes sizes = {});
  ~TBlobFile() override;

  const std::string& TableName() const { return table_name_; }
  uint32_t BlockSize() const { return block_size_; }
  uint32_t DataBytesPerBlock() const { return block_size_ - blob::kBlockHeaderSize; }
  bool Encrypted() const { return encrypted_; }

  // --- File -------------------------------------------------------------
  // Creates (or truncates) the file with an empty header: signature 5, no
  // free blocks, next block 1. The header is written at once so that the
  // file is never left without one.
  void Create() override;
  // Opens the file, reads and checks the header, sizes the cache. A failed
  // open closes the file again.
  void Open() override;
  // Drops the cache (unwritten changes are lost) and closes the file.
  void Close() override;

  // --- Header -------------------------------------------------------------
  // Signature 5 (else 12035); next block >= 1 and the free-list head 0 or in
  // 1 .. next - 1 (else 8961).
  void CheckHeader() const;
  // When forced, modified, or blocks were written since the last header
  // write: counter + 1, writes the 512 bytes, clears the modified flag.
  // Returns whether it wrote.
  bool WriteHeader(bool force);
  // Counter + 1 and modified, without writing (inside a transaction).
  void MarkHeaderModified();
  bool HeaderModified() const { return header_[blob::kHdrModified] != 0; }
  // Re-reads the header; when its change counter differs the new header is
  // taken (and checked) and every cached block is discarded. Returns whether
  // it changed. With `force` the header is taken whatever its counter (a
  // rollback drops changes that were never written).
  bool HeaderChangedOnDisk(bool force = false);
  // Drops the cache, writes a reset header (next block 1, free list empty)
  // and truncates the file to it; `force_flush` puts both on disk.
  void Empty(bool force_flush);

  int32_t ChangeCounter() const;
  uint32_t FreeListHead() const;
  uint32_t NextBlockNumber() const;
  uint32_t LastBlockNumber() const { return NextBlockNumber() - 1; }
  // The 512-byte header image as in memory (unscrambled).
  std::span<const uint8_t, blob::kHeaderSize> HeaderImage() const { return header_; }

  // --- Blocks -------------------------------------------------------------
  // Block `number`, pinned, reading it with up to read_ahead - 1 followers
  // (predecessors when `backward`) when not cached. nullptr when `check` reports a change (the
  // caller restarts). 8963 when the number is out of range or the file too short.
  TBlock* ReadBlock(uint32_t number, uint32_t read_ahead, const TChangeCheck& check = {},
                    bool backward = false);
  void ReleaseBlock(TBlock* block);
  // The free-list head, or a newly appended block (9479 when the file is
  // full); pinned, cleared and modified.
  TBlock* AllocateBlock();
  // Pushes the block on the free list and zeros its data area.
  void FreeBlock(TBlock* block);
  // Copies min(dest.size(), used length) data bytes of `block` to `dest`;
  // asking for more than B - 18 bytes raises 10029. Returns the count.
  uint32_t ReadBlockData(const TBlock& block, std::span<uint8_t> dest) const;

  // --- Values -------------------------------------------------------------
  // Writes the buffer's contents as the value of its record, reusing the
  // chain the buffer points to, and points the buffer at the result with
  // `new_stamp`. An empty value frees the chain and leaves first block 0.
  // Old blocks that do not carry the buffer's stamp belong to another value
  // (a damaged file): they are neither reused nor freed.
  void WriteBlobValue(TBlobBuffer& buffer, int32_t new_stamp);
  // Loads the value the buffer points to into its contents (and a snapshot
  // when asked). First block 0 reads as empty without touching the file.
  void ReadBlobValue(TBlobBuffer& buffer, const TChangeCheck& check = {},
                     bool take_snapshot = false);
  // Frees the chain starting at `first_block` (0: nothing). Every block's
  // stamp must equal `stamp` (else 8963) unless `force`, which overwrites
  // them. The chain is checked whole before any block is freed. The caller
  // then sets the record's first block to 0.
  void FreeBlobChain(uint32_t first_block, int32_t stamp, bool force,
                     uint32_t block_count_hint = 1);

  // --- Cache --------------------------------------------------------------
  // While `deferred` returns true (the table's write lock is held) making
  // room in the cache never writes; the cache grows instead.
  void SetWritesDeferred(std::function<bool()> deferred);
  bool FlushBlocks();
  void DiscardBlocks();
  void TrimBlockCache();
  // Table flush of this file: blocks, then the header (WriteHeader); when
  // anything was written and `force_os_flush`, the operating system's
  // buffers too. Never writes a file opened read-only. Returns whether it
  // wrote.
  bool FlushAll(bool force_os_flush);
  TBlockCache& Cache();

 private:
  // TBlockStore.
  size_t ReadBlocks(uint64_t offset, std::span<uint8_t> buffer) override;
  void WriteBlocks(uint64_t offset, std::span<const uint8_t> buffer) override;

  [[noreturn]] void Fail(uint16_t code) const;
  void CheckBlockSize() const;
  void ResetHeader();
  void SetHeaderU32(int offset, uint32_t value);
  void SetHeaderModified() { header_[blob::kHdrModified] = 1; }
  void ReadHeaderImage(uint8_t* out);
  void MakeCache();
  TBlock* AppendBlock();
  // One attempt at reading; false when it must restart.
  bool TryRead(TBlobBuffer& buffer, const TChangeCheck& check);
  void FreeChain(uint32_t first_block, int32_t stamp, bool force, uint32_t hint,
                 const TBlockSet* live);
  // Frees the rest of a value's own chain; a chain that fails the checks is
  // left alone.
  void FreeOwnChain(uint32_t first_block, int32_t stamp, uint32_t hint, const TBlockSet* live);

  std::string table_name_;
  uint32_t block_size_;
  bool encrypted_;
  TBlobCacheSizes sizes_;
  uint8_t header_[blob::kHeaderSize] = {};
  std::unique_ptr<TBlockCache> cache_;
  std::function<bool()> writes_deferred_;
  bool blocks_written_ = false;  // since the last header write
};

// Holds a pinned block and releases it when it goes out of scope.
class TBlockRef {
 public:
  TBlockRef(TBlobFile& file, TBlock* block) : file_(&file), block_(block) {}
  ~TBlockRef() { Reset(); }
  TBlockRef(const TBlockRef&) = delete;
  TBlockRef& operator=(const TBlockRef&) = delete;

  TBlock* get() const { return block_; }
  TBlock* operator->() const { return block_; }
  explicit operator bool() const { return block_ != nullptr; }
  void Reset(TBlock* block = nullptr) {
    if (block_) file_->ReleaseBlock(block_);
    block_ = block;
  }

 private:
  TBlobFile* file_;
  TBlock* block_;
};

}  // namespace cairn
