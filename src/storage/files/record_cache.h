// TRecordCache: the record slots of one open data file kept in memory,
// shared by every cursor of the table.
//
// Records are kept in a list sorted by slot number (binary search) and in a
// recency list, most recently used first. A lookup probes the four most
// recent records, then searches; a miss reads a run of neighbouring slots in
// one read (read-ahead). When the cache is full the least recently used
// record that is neither modified nor pinned is reused; with none such it
// first flushes (unless the table's write lock is held) and otherwise grows
// by 64 records. Flushing writes modified, unpinned records in maximal runs
// of consecutive slots, one write per run, each slot scrambled on its own.
//
// The cache talks to the file below only through TRecordCacheHost, which
// the data file implements; the table layer's answers (is the write lock
// held? did another process change the table?) also come through it.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "storage/files/record.h"

namespace cairn {

class TRecordCacheHost {
 public:
  virtual ~TRecordCacheHost() = default;
  // File offset of slot 1.
  virtual uint64_t SlotAreaOffset() const = 0;
  // One more than the number of slots in the file.
  virtual uint32_t NextRecordNumber() const = 0;
  // Reads up to buffer.size() bytes at `offset`; returns the count read.
  virtual size_t ReadSlots(uint64_t offset, std::span<uint8_t> buffer) = 0;
  // Writes all of `buffer` at `offset` or raises.
  virtual void WriteSlots(uint64_t offset, std::span<const uint8_t> buffer) = 0;
  // Scrambles (or unscrambles) one slot image in place when encrypted.
  virtual void ScrambleSlot(std::span<uint8_t> image) = 0;
  // True while the table's write lock is held (an update is in progress).
  virtual bool WriteLockHeld() = 0;
  // Asked before going to disk: true when another process changed the table,
  // so the lookup must give up and the caller restart its operation.
  virtual bool TableChangedOnDisk() = 0;
  // Raises CAIRN_FILECORRUPT for the table.
  [[noreturn]] virtual void RaiseCorrupt() = 0;
  // Called after a flush wrote something.
  virtual void RecordsWritten() {}
};

enum class TReadDirection { kForward, kBackward };

struct TRecordCacheStats {
  uint64_t hits = 0;
  uint64_t reads = 0;   // read calls to the file
  uint64_t writes = 0;  // write calls to the file
};

class TRecordCache {
 public:
  static constexpr uint32_t kGrowth = 64;
  static constexpr uint32_t kProbes = 4;

  explicit TRecordCache(TRecordCacheHost& host);
  ~TRecordCache();
  TRecordCache(const TRecordCache&) = delete;
  TRecordCache& operator=(const TRecordCache&) = delete;

  // Drops every record and sizes the cache for records of `record_size`
  // bytes: capacity min(max_bytes / R, max_records) (max_records when R is
  // 0), read-ahead read_ahead_bytes / R slots (at least 1).
  void Configure(uint32_t record_size, uint32_t max_bytes = 16384, uint32_t max_records = 8192,
                 uint32_t read_ahead_bytes = 8192);

  // The record of `slot` (1 .. next record number - 1), reading it when not
  // cached. Read-ahead reads `read_ahead_count` slots when given (non-zero),
  // else up to the read-ahead size, forward from the slot or backward ending
  // at it. Returns nullptr when the host reports that another process changed
  // the table before the read (nothing was read). Raises CAIRN_FILECORRUPT
  // for slot 0, a slot past the last or a read that does not deliver it.
  TRecord* Get(uint32_t slot, bool pin, bool read_ahead = false,
               TReadDirection direction = TReadDirection::kForward, uint32_t read_ahead_count = 0);
  // A cleared record for a newly appended slot, pinned and marked modified
  // so that the slot reaches the file. The caller has already advanced the
  // next record number.
  TRecord* CreateAppended(uint32_t slot);
  // The cached record of `slot`, or nullptr; no file access, no recency change.
  TRecord* Find(uint32_t slot);

  // Writes modified, unpinned records outside the read window; true when
  // anything was written.
  bool Flush();
  // Returns every record to the pool (after another process changed the
  // file, or a rollback). Records still pinned stay until released but lose
  // their changes and are re-read at their next lookup.
  void Discard();
  // Evicts clean, unpinned records down to the initial capacity, flushing
  // first when only modified ones are left.
  void Trim();

  uint32_t Count() const { return uint32_t(sorted_.size()); }
  uint32_t Capacity() const { return capacity_; }
  uint32_t InitialCapacity() const { return initial_capacity_; }
  uint32_t ReadAheadSize() const { return read_ahead_; }
  uint32_t RecordSize() const { return record_size_; }
  bool HasModified() const;
  const TRecordCacheStats& Stats() const { return stats_; }

 private:
  using Slots = std::vector<std::unique_ptr<TRecord>>;

  Slots::iterator LowerBound(uint32_t slot);
  TRecord* Probe(uint32_t slot);
  void Touch(TRecord* record);  // to the front of the recency list
  void Unlink(TRecord* record);
  void PushFront(TRecord* record);
  bool InReadWindow(uint32_t slot) const;
  TRecord* FindVictim();
  TRecord* NewEntry(uint32_t slot);
  void Fill(TRecord* record, const uint8_t* bytes);
  void ReadRun(uint32_t first, uint32_t count);
  void Remove(TRecord* record);

  TRecordCacheHost& host_;
  TRecordStack pool_;
  Slots sorted_;
  TRecord* head_ = nullptr;  // most recently used
  TRecord* tail_ = nullptr;
  uint32_t record_size_ = 0;
  uint32_t capacity_ = 0;
  uint32_t initial_capacity_ = 0;
  uint32_t read_ahead_ = 1;
  uint32_t window_first_ = 0;  // current read window in slots; count 0 = none
  uint32_t window_count_ = 0;
  std::vector<uint8_t> read_buffer_;
  std::vector<uint8_t> write_buffer_;
  TRecordCacheStats stats_;
};

}  // namespace cairn
