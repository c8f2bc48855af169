// One cached blob block (TBlock) and the pool that recycles them (TBlockStack).
//
// A TBlock keeps the 18-byte block header image as read and working copies of
// its five fields. Operations change the working copies; setting one to a
// different value marks the block modified. StoreImage copies the working
// copies back into the image when the block is written. The data area holds
// B - 18 bytes. A pinned block (pin count > 0) is never evicted or reused.
//
// TBlockStack holds at most 32 free blocks: taking from an empty pool creates
// a block, returning to a full pool frees it, and a block taken is cleared and
// unpinned.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "storage/files/blob_layout.h"

namespace cairn {

class TBlock {
 public:
  explicit TBlock(uint32_t block_size);

  uint32_t BlockSize() const { return block_size_; }
  uint32_t Number() const { return number_; }
  void SetNumber(uint32_t number) { number_ = number; }

  bool Modified() const { return modified_; }
  void SetModified(bool modified) { modified_ = modified; }

  int PinCount() const { return pin_count_; }
  void Pin() { ++pin_count_; }
  void Unpin() {
    if (pin_count_ > 0) --pin_count_;
  }

  uint32_t Previous() const { return previous_; }
  uint32_t Next() const { return next_; }
  uint16_t Used() const { return used_; }
  int32_t Stamp() const { return stamp_; }
  uint32_t TotalLength() const { return total_length_; }
  void SetPrevious(uint32_t v) { Set(previous_, v); }
  void SetNext(uint32_t v) { Set(next_, v); }
  void SetUsed(uint16_t v) { Set(used_, v); }
  void SetStamp(int32_t v) { Set(stamp_, v); }
  void SetTotalLength(uint32_t v) { Set(total_length_, v); }

  // The B - 18 data bytes.
  std::span<uint8_t> Data() { return data_; }
  std::span<const uint8_t> Data() const { return data_; }
  // Copies `bytes` (at most B - 18 of them) to offset 0 of the data area,
  // zeros the rest of it and sets the used length; returns the count copied.
  // Marks the block modified.
  uint32_t PutData(std::span<const uint8_t> bytes);

  // Zeros header image, working copies and data; unpinned, not modified.
  void Clear();
  // Zeros the block's contents for reuse, keeping number and pins; the block
  // becomes modified so that the zeros reach the file.
  void ClearContents();
  // Takes an unscrambled block image of B bytes as read from the file.
  void Load(std::span<const uint8_t> image);
  // Writes the working copies into the header image and the whole block
  // (unscrambled) to `out`, which holds B bytes.
  void Store(std::span<uint8_t> out);
  // The header image as last loaded or stored.
  std::span<const uint8_t, blob::kBlockHeaderSize> HeaderImage() const { return header_; }

  // Recency list links, owned by the block cache.
  TBlock* newer_ = nullptr;
  TBlock* older_ = nullptr;
  // Set when the cache dropped this block while it was pinned; the last
  // release then returns it to the pool.
  bool detached_ = false;
  size_t cache_index_ = 0;

 private:
  template <typename T>
  void Set(T& field, T v) {
    if (field != v) {
      field = v;
      modified_ = true;
    }
  }

  uint32_t block_size_;
  uint32_t number_ = 0;
  bool modified_ = false;
  int pin_count_ = 0;
  uint8_t header_[blob::kBlockHeaderSize] = {};
  uint32_t previous_ = 0;
  uint32_t next_ = 0;
  uint16_t used_ = 0;
  int32_t stamp_ = 0;
  uint32_t total_length_ = 0;
  std::vector<uint8_t> data_;
};

class TBlockStack {
 public:
  static constexpr size_t kMaxPooled = 32;

  explicit TBlockStack(uint32_t block_size) : block_size_(block_size) {}

  // A cleared, unpinned block: from the pool, or a new one.
  std::unique_ptr<TBlock> Take();
  // Keeps the block for reuse, or frees it when the pool is full.
  void Return(std::unique_ptr<TBlock> block);
  size_t Count() const { return pool_.size(); }

 private:
  uint32_t block_size_;
  std::vector<std::unique_ptr<TBlock>> pool_;
};

}  // namespace cairn
