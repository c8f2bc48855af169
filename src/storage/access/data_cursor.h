// TDataCursor: one open view of one table. It has a current index (the
// order), an optional range and filter, a current position and record, and
// at most one record lock of its own. Every read and write of records goes
// through a cursor.
//
// Navigation returns CAIRN_NONE (0), CAIRN_BOF (8705), CAIRN_EOF (8706) or
// CAIRN_NOCURRREC (8709) instead of raising. Every other failure raises
// ECairnEngineError. Before each operation the cursor compares its change
// marks with the table's counters and, when they differ, repositions on its
// bookmark (the current key) or the first key after it: changes by other
// cursors and, whenever the engine reads the disk or takes a lock, by other
// processes become visible that way.
//
// Changes (append, modify, delete) run inside the table's write lock: the
// cursor decides whether the change is allowed (its record lock, or the
// record still as the edit saw it) and hands it to the record writer, which
// keeps record, blobs and indexes in step or leaves the table as it was; the
// locks taken are released in reverse order after any failure.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "storage/access/data_table.h"
#include "storage/access/index_tree.h"
#include "storage/access/record_writer.h"
#include "storage/access/records_bitmap.h"

namespace cairn {

class TDataDirectory;

inline constexpr uint16_t CAIRN_NONE = 0;

class TDataCursor {
 public:
  TDataCursor() = default;
  ~TDataCursor();
  TDataCursor(const TDataCursor&) = delete;
  TDataCursor& operator=(const TDataCursor&) = delete;

  // Opens `table` of `directory` on the index named `index_name` (empty: the
  // primary order). An encrypted table needs a session password (10498).
  void Open(TDataDirectory& directory, std::string_view table, std::string_view index_name = {},
            bool exclusive = false, bool read_only = false);
  void Close();
  bool IsOpen() const { return table_ != nullptr; }

  TDataTable& Table() { return *table_; }
  std::span<const TFieldDescriptor> Fields() const { return table_->Data().Fields(); }
  uint32_t RecordSize() const { return table_->Data().RecordSize(); }
  // A cleared record image of the table's size.
  std::vector<uint8_t> NewRecord() const { return std::vector<uint8_t>(RecordSize(), 0); }

  // Index by name, case-insensitively ("" the primary order); 10022 when
  // unknown. The current record stays current.
  void SetIndex(std::string_view name);
  const std::string& IndexName() const { return index_name_; }
  int IndexNumber() const { return index_; }
  int KeyLength() const;

  // Before the first / after the last record of the range; with none at all
  // there is no current record (GetCurrent gives 8709).
  void SetToBegin();
  void SetToEnd();
  uint16_t Next(std::vector<uint8_t>& record);
  uint16_t Prior(std::vector<uint8_t>& record);
  // Delivers the current record. With `lock`: under the pessimistic protocol
  // locks it first; under both protocols compares the stored record with
  // `record` and raises 8708 (leaving no lock) when they differ.
  uint16_t GetCurrent(std::vector<uint8_t>& record, bool lock = false);

  uint16_t SetToRecordNumber(uint32_t n);
  // 1-based within the range (and filter); 0 with no current record.
  uint32_t RecordNumber();
  uint32_t RecordCount();
  uint32_t CurrentSlot() const { return state_ == TState::kOnRecord ? current_slot_ : 0; }

  std::vector<uint8_t> GetBookmark();
  uint16_t SetToBookmark(std::span<const uint8_t> bookmark);
  int CompareBookmarks(std::span<const uint8_t> a, std::span<const uint8_t> b) const;

  // The key of a record image in the current index.
  std::vector<uint8_t> BuildKey(std::span<const uint8_t> record) const;
  // Positions on the record with this key; with `nearest`, on the first key
  // >= it (8706 past the end), else 8710 when there is no equal key.
  uint16_t FindKey(std::span<const uint8_t> key, bool nearest);
  void SetRange(std::span<const uint8_t> start_key, std::span<const uint8_t> end_key);
  void ResetRange();
  // Only records whose slot is in `filter` are seen.
  void SetFilter(const TRecordsBitmap& filter);
  void ClearFilter();

  void Append(std::span<const uint8_t> record, const TBlobValues& blobs = {});
  void Modify(std::span<const uint8_t> record, bool unlock = true, const TBlobValues& blobs = {});
  void Delete(std::span<const uint8_t> record);

  // Record locks of the pessimistic protocol.
  void LockCurrent();
  void Unlock();
  uint32_t LockedSlot() const { return locked_slot_; }

  // Takes the read lock with change detection and repositions on the
  // bookmark (or its successor when the record is gone).
  void Refresh();
  void FlushBuffers();
  void FlushOsBuffers();

  // Contents of blob field `field` (1-based) of a record image of this table.
  std::vector<uint8_t> ReadBlob(std::span<const uint8_t> record, uint16_t field);

 private:
  enum class TState { kBof, kEof, kNone, kOnRecord, kGap };

  struct TOperation;  // per-operation guard (resync, read lock release)

  const TKeyLayout& Layout() const;
  bool RecordIdOrder() const { return walk_index_ == kStatusIndex && index_ == 0; }
  TIndexTree Walker() const;
  void UseIndex(int index);
  void SetToEdge(TState edge);
  void ComputeRange(bool& restart);
  bool InRange(const uint8_t* key) const;
  bool PassesFilter(int32_t slot) const;
  TWalk SeekFirst(TTreePosition& pos);
  TWalk SeekLast(TTreePosition& pos);
  TWalk StepNext(TTreePosition& pos);
  TWalk StepPrior(TTreePosition& pos);
  TWalk Reposition(const std::vector<uint8_t>& key, bool forward);
  bool ReadRecord(uint32_t slot, std::vector<uint8_t>& image, bool forward = true);
  void Resync();
  void SyncIfChanged();
  void SetOnPosition(TTreePosition pos);
  // Reads the record at `pos` (reading ahead in the walk's direction) and makes
  // it current; false when another process changed the table meanwhile.
  bool TakeRecordAt(TTreePosition& pos, bool forward, std::vector<uint8_t>& record);
  // The neighbouring entry of the current leaf copy when a step can take it
  // in place (inside the leaf, the range and the filter), else -1.
  int NeighbourInLeaf(bool forward) const;
  bool TakeEntry(int entry, bool forward, std::vector<uint8_t>& record);
  // Entry `entry` of `leaf`'s record into record_; false as for ReadRecord.
  bool LoadRecord(const TLeafCopy& leaf, int entry, bool forward, bool walking);

  // Read-ahead of a walk in key order (see data_cursor.cpp).
  void ReadAhead(const TLeafCopy& leaf, int entry, bool forward);
  bool FromBatch(uint32_t slot);
  // Moves `pos` onto the next leaf of the read-ahead when it is the one
  // the walk needs after `pos`'s last entry.
  bool NextLeafAhead(TTreePosition& pos, bool forward);
  void DropReadAhead();
  uint16_t StateCode() const;
  void RaiseTable(uint16_t code) const;
  void ReleaseLockOf(uint32_t slot);
  bool LockSlot(uint32_t slot);
  // Locks `slot` for a change unless this cursor holds it (true when it
  // locked it); 10258 while a sibling cursor holds it.
  bool LockForChange(uint32_t slot);
  std::vector<uint8_t> KeyFor(int index, std::span<const uint8_t> record) const;
  void CheckWritable() const;
  void AfterChange(std::span<const uint8_t> key_source, uint32_t slot);
  // Takes the leaf copy of the current record when a change left it untaken
  // (false: another process changed the table; resynchronise).
  bool TakePosition();
  void Fail(uint16_t code) const;

  TDataDirectory* directory_ = nullptr;
  TDataTable* table_ = nullptr;
  bool exclusive_ = false;
  bool read_only_ = false;

  int index_ = 0;       // the index asked for: 0 primary order, 1..30 secondary
  int walk_index_ = 0;  // the tree walked: index_, or the status index for record-ID order
  std::string index_name_;

  TState state_ = TState::kBof;
  TTreePosition position_;       // valid while state_ is kOnRecord
  bool position_fresh_ = false;  // leaf copy matches the tree
  std::vector<uint8_t> current_key_;
  uint32_t current_slot_ = 0;
  uint32_t current_ordinal_ = 0;
  std::vector<uint8_t> record_;  // the current record as last read

  bool range_active_ = false;
  std::vector<uint8_t> range_start_, range_end_;
  uint32_t range_first_ = 0, range_last_ = 0;  // ordinals; last < first when empty
  bool range_stale_ = true;

  bool filter_active_ = false;
  TRecordsBitmap filter_;

  TChangeMarks marks_;
  // Read ahead: copies of the leaves after the current one in the walk's
  // direction and the records of their entries, valid while the table's
  // marks are batch_marks_.
  std::vector<TTreePosition> ahead_;
  size_t ahead_used_ = 0;
  bool ahead_forward_ = true;
  std::vector<uint32_t> batch_slots_;  // ascending
  std::vector<uint8_t> batch_images_;  // a record image per slot, in that order
  TChangeMarks batch_marks_;
  uint32_t batch_room_ = 0;  // records the next read-ahead may take

  uint32_t locked_slot_ = 0;
  // The slot of an edit whose post failed with 8708: posting again fails the
  // same way until the cursor is positioned anew or an edit starts.
  uint32_t failed_edit_slot_ = 0;
};

}  // namespace cairn
