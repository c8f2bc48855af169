// TRecord: the in-memory image of one record slot, and TRecordStack, the
// pool of free TRecord objects (at most 64 are kept).
//
// Slot image layout (R bytes): status byte at 0 (0 active, anything else
// deleted); bytes 1-4 the slot's own number when active or the next slot of
// the deleted-record chain when deleted; bytes 5-8 the record ID; the fields
// from offset 9. A record is pinned while a caller uses it: pinned records
// are never evicted, refreshed from the file or reused by the cache.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace cairn {

inline constexpr uint32_t kRecordHeaderSize = 9;

class TRecord {
 public:
  explicit TRecord(uint32_t size = 0) { Reset(size); }
  TRecord(const TRecord&) = delete;
  TRecord& operator=(const TRecord&) = delete;

  // Sizes the image to `size` bytes and clears it, the flags and the slot
  // number. The buffer grows in steps of 64 bytes and never shrinks.
  void Reset(uint32_t size);

  std::span<uint8_t> Image() { return {buffer_.data(), size_}; }
  std::span<const uint8_t> Image() const { return {buffer_.data(), size_}; }
  uint32_t Size() const { return size_; }
  size_t Capacity() const { return buffer_.size(); }

  // The slot this object caches (not the image's bytes 1-4).
  uint32_t Slot() const { return slot_; }
  void SetSlot(uint32_t slot) { slot_ = slot; }
  bool Modified() const { return modified_; }
  void SetModified(bool modified) { modified_ = modified; }
  int PinCount() const { return pin_count_; }
  void Pin() { ++pin_count_; }
  void Unpin() {
    if (pin_count_ > 0) --pin_count_;
  }

  bool IsDeleted() const { return size_ > 0 && buffer_[0] != 0; }
  void SetDeleted(bool deleted);
  // Bytes 1-4 of an active image; 0 for a deleted one.
  uint32_t ImageSlotNumber() const;
  // Bytes 1-4 whatever the status: the chain link of a deleted slot.
  uint32_t Link() const;
  void SetLink(uint32_t value);
  int32_t RecordId() const;
  void SetRecordId(int32_t id);
  // True when all R bytes equal `image` (which must be R bytes long).
  bool SameImage(std::span<const uint8_t> image) const;
  // Copies bytes 9..R-1 from another image of the same size and marks the
  // record modified.
  void CopyFieldData(std::span<const uint8_t> image);
  void ClearImage();

  std::vector<uint8_t>& SortKey() { return sort_key_; }

 private:
  friend class TRecordCache;
  friend class TRecordStack;

  std::vector<uint8_t> buffer_;
  uint32_t size_ = 0;
  uint32_t slot_ = 0;
  int pin_count_ = 0;
  bool modified_ = false;
  bool stale_ = false;       // dropped by a discard while pinned; re-read when free
  TRecord* prev_ = nullptr;  // recency list, most recent first
  TRecord* next_ = nullptr;
  std::vector<uint8_t> sort_key_;
};

class TRecordStack {
 public:
  static constexpr size_t kMaxPooled = 64;

  // A cleared record of `size` bytes with pin count 0: from the pool when it
  // has one, else new.
  std::unique_ptr<TRecord> Take(uint32_t size);
  // Keeps the record for reuse, or frees it when the pool is full.
  void Give(std::unique_ptr<TRecord> record);
  size_t Count() const { return pool_.size(); }

 private:
  std::vector<std::unique_ptr<TRecord>> pool_;
};

}  // namespace cairn
