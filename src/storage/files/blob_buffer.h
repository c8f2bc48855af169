// TBlobBuffer: one blob value a cursor has open, and TBlobBufferList, the
// cursor's set of open values (at most 128; one more raises 9494).
//
// A buffer carries where the value lives (first block and revision stamp, as
// found in or to be stored into the record's blob field), the record's slot,
// the loaded contents, an optional snapshot taken after loading, a modified
// flag, a use count and the open mode. The list hands out stable references:
// a buffer stays where it is until its last Close.
#pragma once

#include <cstdint>
#include <list>
#include <span>
#include <string>
#include <vector>

namespace cairn {

enum class TBlobOpenMode : uint8_t { kReadOnly, kReadWrite };

class TBlobBuffer {
 public:
  TBlobBuffer(uint16_t field_number, uint32_t slot, uint32_t first_block, int32_t stamp,
              TBlobOpenMode mode)
      : field_number_(field_number),
        slot_(slot),
        first_block_(first_block),
        stamp_(stamp),
        mode_(mode) {}

  uint16_t FieldNumber() const { return field_number_; }
  uint32_t Slot() const { return slot_; }
  uint32_t FirstBlock() const { return first_block_; }
  int32_t Stamp() const { return stamp_; }
  void SetLocation(uint32_t first_block, int32_t stamp) {
    first_block_ = first_block;
    stamp_ = stamp;
  }
  TBlobOpenMode Mode() const { return mode_; }

  std::span<const uint8_t> Contents() const { return contents_; }
  uint32_t Length() const { return uint32_t(contents_.size()); }
  // Replaces the contents and marks the buffer modified.
  void SetContents(std::span<const uint8_t> bytes);
  // Loader's access: fills the contents without marking the buffer modified.
  std::vector<uint8_t>& MutableContents() { return contents_; }

  // The contents as they were loaded, when a snapshot was asked for.
  bool HasSnapshot() const { return has_snapshot_; }
  std::span<const uint8_t> Snapshot() const { return snapshot_; }
  void TakeSnapshot() {
    snapshot_ = contents_;
    has_snapshot_ = true;
  }

  bool Modified() const { return modified_; }
  void SetModified(bool modified) { modified_ = modified; }
  int UseCount() const { return use_count_; }

 private:
  friend class TBlobBufferList;

  uint16_t field_number_;
  uint32_t slot_;
  uint32_t first_block_;
  int32_t stamp_;
  TBlobOpenMode mode_;
  std::vector<uint8_t> contents_;
  std::vector<uint8_t> snapshot_;
  bool has_snapshot_ = false;
  bool modified_ = false;
  int use_count_ = 0;
};

class TBlobBufferList {
 public:
  static constexpr size_t kMaxOpenBlobs = 128;

  // `table_name` fills the error text.
  explicit TBlobBufferList(std::string table_name) : table_name_(std::move(table_name)) {}

  // The open buffer of (field, slot) with its use count raised, or a new one
  // (use count 1). A new one beyond 128 open buffers raises 9494.
  TBlobBuffer& Open(uint16_t field_number, uint32_t slot, uint32_t first_block, int32_t stamp,
                    TBlobOpenMode mode);
  // The open buffer of (field, slot), or nullptr.
  TBlobBuffer* Find(uint16_t field_number, uint32_t slot);
  // Lowers the use count; the buffer is dropped when it reaches 0.
  void Close(TBlobBuffer& buffer);
  // Drops every buffer (the cursor left the record).
  void CloseAll() { buffers_.clear(); }
  size_t Count() const { return buffers_.size(); }

 private:
  std::string table_name_;
  std::list<TBlobBuffer> buffers_;
};

}  // namespace cairn
