#include "storage/access/data_cursor.h"

#include <algorithm>
#include <cstring>

#include "storage/access/data_directory.h"
#include "storage/access/data_session.h"
#include "storage/base/engine_error.h"
#include "storage/access/index_key.h"
#include "storage/access/index_tree.h"
#include "storage/files/data_endian.h"
#include "storage/files/field_codec.h"

namespace cairn {


// Brackets one cursor operation: in strict mode holds the read lock for its
// length; always starts by catching up with changes and ends by giving back
// a read lock that a disk read took on the way.
struct TDataCursor::TOperation {
  explicit TOperation(TDataCursor& cursor) : cursor_(cursor) {
    TDataTable& table = *cursor_.table_;
    if (table.Session().Settings().strict_change_detection && !table.ReadLockHeld() &&
        !table.WriteLockHeld()) {
      table.ReadLock();
      took_read_lock_ = table.ReadLockHeld();
    }
    try {
      cursor_.SyncIfChanged();
    } catch (...) {
      Finish();
      throw;
    }
  }
  ~TOperation() { Finish(); }
  void Finish() {
    if (finished_) return;
    finished_ = true;
    try {
      if (took_read_lock_) cursor_.table_->ReadUnlock();
      cursor_.table_->EndOperation();
    } catch (...) {
      // Releasing a shared byte cannot be reported from here; the table
      // releases everything when it closes.
    }
  }
  TDataCursor& cursor_;
  bool took_read_lock_ = false;
  bool finished_ = false;
};

TDataCursor::~TDataCursor() {
  try {
    Close();
  } catch (...) {
  }
}

void TDataCursor::Fail(uint16_t code) const { RaiseEngineError(code, table_->Name()); }
void TDataCursor::RaiseTable(uint16_t code) const { Fail(code); }

void TDataCursor::Open(TDataDirectory& directory, std::string_view table_name,
                       std::string_view index_name, bool exclusive, bool read_only) {
  Close();
  TDataTable& table = directory.OpenTable(table_name, exclusive, read_only);
  try {
    if (table.Data().Encrypted() &&
        !directory.Session().CheckPassword(table.Data().Password(), table.Name()))
      RaiseEngineError(CAIRN_NOTSUFFTABLERIGHTS, table.Name());
    directory_ = &directory;
    table_ = &table;
    exclusive_ = exclusive;
    read_only_ = read_only || table.ReadOnly();
    marks_ = table.Marks();
    state_ = TState::kBof;
    range_active_ = false;
    filter_active_ = false;
    UseIndex(0);
    if (!index_name.empty()) SetIndex(index_name);
  } catch (...) {
    table_ = nullptr;
    directory_ = nullptr;
    directory.CloseTable(table);
    throw;
  }
}

void TDataCursor::Close() {
  if (!table_) return;
  if (locked_slot_ != 0) {
    try {
      Unlock();
    } catch (...) {
      // The table drops every lock when it closes.
    }
  }
  TDataTable* table = table_;
  table_ = nullptr;
  directory_->CloseTable(*table);
  directory_ = nullptr;
  record_.clear();
  current_key_.clear();
  DropReadAhead();
  state_ = TState::kBof;
}

// ---------------------------------------------------------------- indexes

const TKeyLayout& TDataCursor::Layout() const { return table_->Index().Layout(walk_index_); }

TIndexTree TDataCursor::Walker() const { return TIndexTree(table_->Index(), walk_index_); }

int TDataCursor::KeyLength() const { return Layout().key_length(); }

void TDataCursor::UseIndex(int index) {
  index_ = index;
  walk_index_ = (index == 0 && !table_->HasPrimaryKey()) ? kStatusIndex : index;
  index_name_ = index == 0 ? std::string() : table_->Index().Descriptor(index).name;
  DropReadAhead();
  range_active_ = false;
  range_start_.clear();
  range_end_.clear();
  range_stale_ = true;
}

void TDataCursor::SetIndex(std::string_view name) {
  std::string trimmed(name);
  int index = 0;
  if (!TrimUpper(trimmed).empty()) {
    index = table_->Index().FindSecondary(trimmed);
    if (index <= 0) RaiseEngineError(CAIRN_INVALIDINDEXNAME, {trimmed, table_->Name()});
  }
  TOperation op(*this);
  const bool on_record = state_ == TState::kOnRecord;
  UseIndex(index);
  if (on_record) {
    current_key_ = KeyFor(walk_index_, record_);
    Reposition(current_key_, true);
  } else {
    state_ = TState::kBof;
  }
}

std::vector<uint8_t> TDataCursor::KeyFor(int index, std::span<const uint8_t> record) const {
  const TKeyLayout& layout = table_->Index().Layout(index);
  std::vector<uint8_t> key(size_t(layout.key_length()), 0);
  if (index == kStatusIndex) {
    BuildStatusKey(record, std::span<uint8_t, kStatusKeyLength>(key.data(), kStatusKeyLength));
  } else {
    layout.BuildKey(record, key);
  }
  return key;
}

std::vector<uint8_t> TDataCursor::BuildKey(std::span<const uint8_t> record) const {
  return KeyFor(walk_index_, record);
}

// ---------------------------------------------------------------- ranges and filters

bool TDataCursor::InRange(const uint8_t* key) const {
  const TKeyLayout& layout = Layout();
  if (RecordIdOrder() && key[0] != 0) return false;  // deleted slots are not records
  if (range_active_) {
    if (!range_start_.empty() && layout.Compare(key, range_start_.data()) < 0) return false;
    if (!range_end_.empty() && layout.Compare(key, range_end_.data()) > 0) return false;
  }
  return true;
}

bool TDataCursor::PassesFilter(int32_t slot) const {
  return !filter_active_ || filter_.Test(uint32_t(slot));
}

void TDataCursor::SetRange(std::span<const uint8_t> start_key, std::span<const uint8_t> end_key) {
  const size_t k = size_t(KeyLength());
  range_start_.assign(start_key.begin(), start_key.end());
  range_end_.assign(end_key.begin(), end_key.end());
  if (!range_start_.empty()) {
    range_start_.resize(k);
    Layout().Pad(range_start_, std::min(start_key.size(), k), true);
  }
  if (!range_end_.empty()) {
    range_end_.resize(k);
    Layout().Pad(range_end_, std::min(end_key.size(), k), false);
  }
  range_active_ = true;
  range_stale_ = true;
  TOperation op(*this);
  if (state_ == TState::kOnRecord && InRange(current_key_.data())) {
    Reposition(current_key_, true);
  } else {
    state_ = TState::kBof;
  }
}

void TDataCursor::ResetRange() {
  range_active_ = false;
  range_start_.clear();
  range_end_.clear();
  range_stale_ = true;
}

void TDataCursor::SetFilter(const TRecordsBitmap& filter) {
  filter_ = filter;
  filter_active_ = true;
  if (state_ == TState::kOnRecord && !PassesFilter(int32_t(current_slot_))) state_ = TState::kBof;
}

void TDataCursor::ClearFilter() {
  filter_active_ = false;
  filter_.ClearAll();
}

void TDataCursor::ComputeRange(bool& restart) {
  restart = false;
  if (!range_stale_) return;
  TIndexTree walker = Walker();
  std::vector<uint8_t> start = range_start_, end = range_end_;
  if (!range_active_) start.clear(), end.clear();
  if (RecordIdOrder()) {
    // Active records only: status byte 0, any record ID.
    std::vector<uint8_t> low(kStatusKeyLength, 0), high(kStatusKeyLength, 0xFF);
    high[0] = 0;
    if (start.empty() || Layout().Compare(start.data(), low.data()) < 0) start = low;
    if (end.empty() || Layout().Compare(end.data(), high.data()) > 0) end = high;
  }
  uint32_t total = 0;
  TWalk walk = walker.Count(total);
  if (walk == TWalk::kRestart) return void(restart = true);
  range_first_ = 1;
  range_last_ = total;
  TTreePosition pos;
  if (!start.empty()) {
    walk = walker.FirstAtLeast(start.data(), pos);
    if (walk == TWalk::kRestart) return void(restart = true);
    range_first_ = walk == TWalk::kOk ? pos.Ordinal() : total + 1;
  }
  if (!end.empty()) {
    walk = walker.LastAtMost(end.data(), pos);
    if (walk == TWalk::kRestart) return void(restart = true);
    range_last_ = walk == TWalk::kOk ? pos.Ordinal() : 0;
  }
  range_stale_ = false;
}

// ---------------------------------------------------------------- walking

TWalk TDataCursor::SeekFirst(TTreePosition& pos) {
  TIndexTree walker = Walker();
  TWalk walk;
  if (RecordIdOrder() || (range_active_ && !range_start_.empty())) {
    std::vector<uint8_t> start = range_active_ ? range_start_ : std::vector<uint8_t>();
    if (start.empty()) start.assign(size_t(KeyLength()), 0);
    walk = walker.FirstAtLeast(start.data(), pos);
  } else {
    walk = walker.First(pos);
  }
  if (walk != TWalk::kOk) return walk;
  if (!InRange(pos.Key())) return TWalk::kNone;
  if (!PassesFilter(pos.Slot())) return StepNext(pos);
  return TWalk::kOk;
}

TWalk TDataCursor::SeekLast(TTreePosition& pos) {
  TIndexTree walker = Walker();
  TWalk walk;
  std::vector<uint8_t> end = range_active_ ? range_end_ : std::vector<uint8_t>();
  if (RecordIdOrder() && end.empty()) {
    end.assign(kStatusKeyLength, 0xFF);
    end[0] = 0;
  }
  walk = end.empty() ? walker.Last(pos) : walker.LastAtMost(end.data(), pos);
  if (walk != TWalk::kOk) return walk;
  if (!InRange(pos.Key())) return TWalk::kNone;
  if (!PassesFilter(pos.Slot())) return StepPrior(pos);
  return TWalk::kOk;
}

// Steps `pos` in place: callers drop it unless the step succeeds.
TWalk TDataCursor::StepNext(TTreePosition& pos) {
  TIndexTree walker = Walker();
  while (true) {
    if (!NextLeafAhead(pos, true)) {
      const TWalk walk = walker.Next(pos);
      if (walk != TWalk::kOk) return walk;
    }
    if (!InRange(pos.Key())) return TWalk::kNone;
    if (PassesFilter(pos.Slot())) return TWalk::kOk;
  }
}

TWalk TDataCursor::StepPrior(TTreePosition& pos) {
  TIndexTree walker = Walker();
  while (true) {
    if (!NextLeafAhead(pos, false)) {
      const TWalk walk = walker.Prior(pos);
      if (walk != TWalk::kOk) return walk;
    }
    if (!InRange(pos.Key())) return TWalk::kNone;
    if (PassesFilter(pos.Slot())) return TWalk::kOk;
  }
}

// Positions on `key` when present, else leaves the cursor in the gap where
// it would be (the next step forward gives its successor).
TWalk TDataCursor::Reposition(const std::vector<uint8_t>& key, bool forward) {
  TTreePosition pos;
  TWalk walk = Walker().FirstAtLeast(key.data(), pos);
  if (walk == TWalk::kRestart) return walk;
  if (walk == TWalk::kOk && InRange(pos.Key()) && PassesFilter(pos.Slot()) &&
      Layout().Compare(pos.Key(), key.data()) == 0) {
    std::vector<uint8_t> image;
    if (!ReadRecord(uint32_t(pos.Slot()), image, forward)) return TWalk::kRestart;
    record_ = std::move(image);
    SetOnPosition(std::move(pos));
    return TWalk::kOk;
  }
  current_key_ = key;
  state_ = TState::kGap;
  return TWalk::kNone;
}

// ---------------------------------------------------------------- read-ahead
//
// Keys scatter their records over the data file, so a walk in key order
// reads one slot per record; what a trip to disk adds is the table's read
// lock, its change detection (three headers) and its release. So a walk
// that has to go to disk anyway reads ahead under that lock: the records of
// the following entries of its leaf copy, then the next leaves (copied, as
// the current one is) and their records, each trip up to twice the last,
// from about one leaf up to kReadAheadBytes of records. The batch is this
// cursor's own and holds only while the table's marks are those it was read
// under: any change, seen by this process at its next lock or made by
// another cursor, moves the marks, and the walk resynchronises as it would
// with its leaf copy.

namespace {
constexpr uint32_t kReadAheadBytes = 128 * 1024;
constexpr uint32_t kFirstReadAheadBytes = 16 * 1024;
constexpr size_t kMostLeavesAhead = 16;
}  // namespace

void TDataCursor::DropReadAhead() {
  ahead_.clear();
  ahead_used_ = 0;
  batch_slots_.clear();
  batch_images_.clear();
  batch_room_ = 0;
}

bool TDataCursor::FromBatch(uint32_t slot) {
  if (batch_slots_.empty() || batch_marks_ != table_->Marks()) return false;
  const auto it = std::lower_bound(batch_slots_.begin(), batch_slots_.end(), slot);
  if (it == batch_slots_.end() || *it != slot) return false;
  const size_t size = RecordSize();
  const auto from = batch_images_.begin() + ptrdiff_t(size_t(it - batch_slots_.begin()) * size);
  record_.assign(from, from + ptrdiff_t(size));
  return true;
}

bool TDataCursor::NextLeafAhead(TTreePosition& pos, bool forward) {
  if (ahead_used_ >= ahead_.size() || ahead_forward_ != forward) return false;
  if (pos.entry != (forward ? pos.leaf.count - 1 : 0)) return false;
  TTreePosition& next = ahead_[ahead_used_];
  if (batch_marks_ != table_->Marks() ||
      next.leaf.page != (forward ? pos.leaf.next : pos.leaf.prev)) {
    ahead_.clear();
    ahead_used_ = 0;
    return false;
  }
  pos = std::move(next);
  ++ahead_used_;
  return true;
}

// Runs where this operation already holds the lock a disk read needed (or
// none is needed): the leaves come through the walker's own checks, and a
// leaf it cannot give (damage, a change) ends the read-ahead there, for the
// step itself to meet.
void TDataCursor::ReadAhead(const TLeafCopy& leaf, int entry, bool forward) {
  TDataFile& data = table_->Data();
  const uint32_t size = std::max<uint32_t>(RecordSize(), 1);
  const bool walk_on = !batch_slots_.empty() && ahead_forward_ == forward;
  const uint32_t most = std::max<uint32_t>(kReadAheadBytes / size, 1);
  batch_room_ = walk_on ? std::min(most, batch_room_ * 2)
                        : std::max<uint32_t>(kFirstReadAheadBytes / size, 1);
  ahead_.clear();
  ahead_used_ = 0;
  ahead_forward_ = forward;
  batch_marks_ = table_->Marks();

  std::vector<uint32_t> slots;
  slots.reserve(batch_room_);
  const int step = forward ? 1 : -1;
  // Takes the entries of `from` starting at `first`; false once the range
  // ends or the batch is full.
  auto take = [&](const TLeafCopy& from, int first) {
    for (int e = first; e >= 0 && e < from.count; e += step) {
      if (slots.size() >= batch_room_ || !InRange(from.Key(e))) return false;
      if (PassesFilter(from.refs[size_t(e)])) slots.push_back(uint32_t(from.refs[size_t(e)]));
    }
    return true;
  };
  bool more = take(leaf, entry + step);
  TIndexTree walker = Walker();
  while (more && ahead_.size() < kMostLeavesAhead &&
         (forward ? (ahead_.empty() ? leaf.next : ahead_.back().leaf.next)
                  : (ahead_.empty() ? leaf.prev : ahead_.back().leaf.prev)) != 0) {
    TTreePosition next;
    next.leaf = ahead_.empty() ? leaf : ahead_.back().leaf;
    next.entry = forward ? next.leaf.count - 1 : 0;
    try {
      if ((forward ? walker.Next(next) : walker.Prior(next)) != TWalk::kOk) break;
    } catch (const ECairnEngineError&) {
      break;
    }
    more = take(next.leaf, next.entry);
    ahead_.push_back(std::move(next));
  }

  std::sort(slots.begin(), slots.end());
  slots.erase(std::unique(slots.begin(), slots.end()), slots.end());
  batch_slots_.clear();
  batch_images_.clear();
  batch_images_.reserve(slots.size() * size);
  for (const uint32_t slot : slots) {
    // A slot the table does not have is damage the step itself reports.
    if (slot == 0 || slot >= data.NextRecordNumber()) continue;
    const TRecord* record = data.GetRecord(slot, false);
    if (record == nullptr) {
      // Changed meanwhile (which a held lock rules out): nothing read is kept.
      DropReadAhead();
      return;
    }
    const auto image = record->Image();
    batch_slots_.push_back(slot);
    batch_images_.insert(batch_images_.end(), image.begin(), image.end());
  }
}

bool TDataCursor::ReadRecord(uint32_t slot, std::vector<uint8_t>& image, bool forward) {
  TDataFile& data = table_->Data();
  // An index entry for a slot the table does not have is damage.
  if (slot == 0 || slot >= data.NextRecordNumber()) Fail(CAIRN_INDEXCORRUPT);
  // Read-ahead pays only when the order follows the slots.
  const bool ahead = RecordIdOrder();
  TRecord* record = data.GetRecord(slot, true, ahead,
                                   forward ? TReadDirection::kForward : TReadDirection::kBackward);
  if (record == nullptr) return false;
  TPinnedRecord pin(data, record);
  auto bytes = record->Image();
  image.assign(bytes.begin(), bytes.end());
  return true;
}

void TDataCursor::SetOnPosition(TTreePosition pos) {
  position_ = std::move(pos);
  current_key_.assign(position_.Key(), position_.Key() + position_.leaf.key_length);
  current_slot_ = uint32_t(position_.Slot());
  current_ordinal_ = position_.Ordinal();
  state_ = TState::kOnRecord;
}

void TDataCursor::SyncIfChanged() {
  if (table_->Marks() != marks_) Resync();
}

void TDataCursor::Resync() {
  DropReadAhead();
  for (int attempt = 0;; ++attempt) {
    marks_ = table_->Marks();
    range_stale_ = true;
    if (state_ != TState::kOnRecord) return;
    const TWalk walk = Reposition(current_key_, true);
    if (walk != TWalk::kRestart) return;
    if (attempt > 1000) Fail(CAIRN_LOCKTIMEOUT);
  }
}

uint16_t TDataCursor::StateCode() const {
  switch (state_) {
    case TState::kBof:
      return CAIRN_BOF;
    case TState::kEof:
      return CAIRN_EOF;
    case TState::kNone:
    case TState::kGap:
      return CAIRN_NOCURRREC;
    case TState::kOnRecord:
      return CAIRN_NONE;
  }
  return CAIRN_NOCURRREC;
}

// ---------------------------------------------------------------- navigation

void TDataCursor::SetToBegin() { SetToEdge(TState::kBof); }

void TDataCursor::SetToEnd() { SetToEdge(TState::kEof); }

// An empty index or range sets both flags: no current record.
void TDataCursor::SetToEdge(TState edge) {
  failed_edit_slot_ = 0;  // a new position starts a new edit
  TOperation op(*this);
  DropReadAhead();
  for (;;) {
    TTreePosition pos;
    const TWalk walk = edge == TState::kBof ? SeekFirst(pos) : SeekLast(pos);
    if (walk == TWalk::kRestart) {
      Resync();
      continue;
    }
    state_ = walk == TWalk::kNone ? TState::kNone : edge;
    return;
  }
}

uint16_t TDataCursor::Next(std::vector<uint8_t>& record) {
  failed_edit_slot_ = 0;  // a new position starts a new edit
  TOperation op(*this);
  while (true) {
    TTreePosition pos;
    TWalk walk;
    switch (state_) {
      case TState::kEof:
        return CAIRN_EOF;
      case TState::kOnRecord:
        if (!TakePosition()) {
          Resync();
          continue;
        }
        if (state_ != TState::kOnRecord) continue;
        if (const int entry = NeighbourInLeaf(true); entry >= 0) {
          if (TakeEntry(entry, true, record)) return CAIRN_NONE;
          Resync();
          continue;
        }
        pos = position_;
        walk = StepNext(pos);
        break;
      case TState::kGap: {
        walk = Walker().FirstAtLeast(current_key_.data(), pos);
        if (walk == TWalk::kOk && (!InRange(pos.Key()))) walk = TWalk::kNone;
        if (walk == TWalk::kOk && !PassesFilter(pos.Slot())) walk = StepNext(pos);
        break;
      }
      default:
        walk = SeekFirst(pos);
        break;
    }
    if (walk == TWalk::kRestart) {
      Resync();
      continue;
    }
    if (walk == TWalk::kNone) {
      // Nothing at all from the beginning: no current record (both flags).
      state_ = (state_ == TState::kBof || state_ == TState::kNone) ? TState::kNone : TState::kEof;
      return CAIRN_EOF;
    }
    if (!TakeRecordAt(pos, true, record)) {
      Resync();
      continue;
    }
    return CAIRN_NONE;
  }
}

bool TDataCursor::LoadRecord(const TLeafCopy& leaf, int entry, bool forward, bool walking) {
  const uint32_t slot = uint32_t(leaf.refs[size_t(entry)]);
  if (FromBatch(slot)) return true;
  const bool cached = table_->Data().Cache().Find(slot) != nullptr;
  if (!ReadRecord(slot, record_, forward)) return false;
  // Read-ahead waits until the cursor walks: a seek that wants one record
  // (an open showing its first) pays for that one alone. In record-ID
  // order the data file's own read-ahead of neighbouring slots serves.
  if (!cached && walking && !RecordIdOrder()) ReadAhead(leaf, entry, forward);
  return true;
}

bool TDataCursor::TakeRecordAt(TTreePosition& pos, bool forward, std::vector<uint8_t>& record) {
  if (!LoadRecord(pos.leaf, pos.entry, forward, state_ == TState::kOnRecord)) return false;
  SetOnPosition(std::move(pos));
  record = record_;
  return true;
}

int TDataCursor::NeighbourInLeaf(bool forward) const {
  if (position_.entry < 0) return -1;
  const int entry = position_.entry + (forward ? 1 : -1);
  if (entry < 0 || entry >= position_.leaf.count) return -1;
  if (!InRange(position_.leaf.Key(entry)) || !PassesFilter(position_.leaf.refs[size_t(entry)]))
    return -1;
  return entry;
}

// A step inside the leaf copy: only the entry moves, the leaf stays.
bool TDataCursor::TakeEntry(int entry, bool forward, std::vector<uint8_t>& record) {
  if (!LoadRecord(position_.leaf, entry, forward, true)) return false;
  position_.entry = entry;
  current_key_.assign(position_.Key(), position_.Key() + position_.leaf.key_length);
  current_slot_ = uint32_t(position_.Slot());
  current_ordinal_ = position_.Ordinal();
  record = record_;
  return true;
}

uint16_t TDataCursor::Prior(std::vector<uint8_t>& record) {
  failed_edit_slot_ = 0;  // a new position starts a new edit
  TOperation op(*this);
  while (true) {
    TTreePosition pos;
    TWalk walk;
    switch (state_) {
      case TState::kBof:
        return CAIRN_BOF;
      case TState::kOnRecord:
        if (!TakePosition()) {
          Resync();
          continue;
        }
        if (state_ != TState::kOnRecord) continue;
        if (const int entry = NeighbourInLeaf(false); entry >= 0) {
          if (TakeEntry(entry, false, record)) return CAIRN_NONE;
          Resync();
          continue;
        }
        pos = position_;
        walk = StepPrior(pos);
        break;
      case TState::kGap: {
        walk = Walker().LastAtMost(current_key_.data(), pos);
        if (walk == TWalk::kOk && !InRange(pos.Key())) walk = TWalk::kNone;
        if (walk == TWalk::kOk && !PassesFilter(pos.Slot())) walk = StepPrior(pos);
        break;
      }
      default:
        walk = SeekLast(pos);
        break;
    }
    if (walk == TWalk::kRestart) {
      Resync();
      continue;
    }
    if (walk == TWalk::kNone) {
      state_ = (state_ == TState::kEof || state_ == TState::kNone) ? TState::kNone : TState::kBof;
      return CAIRN_BOF;
    }
    if (!TakeRecordAt(pos, false, record)) {
      Resync();
      continue;
    }
    return CAIRN_NONE;
  }
}

uint16_t TDataCursor::GetCurrent(std::vector<uint8_t>& record, bool lock) {
  if (lock) failed_edit_slot_ = 0;  // the start of a new edit
  TOperation op(*this);
  if (state_ == TState::kGap) {
    // The current record went away: its successor takes its place.
    std::vector<uint8_t> ignored;
    TState before = state_;
    (void)before;
    while (true) {
      TTreePosition pos;
      TWalk walk = Walker().FirstAtLeast(current_key_.data(), pos);
      if (walk == TWalk::kOk && !InRange(pos.Key())) walk = TWalk::kNone;
      if (walk == TWalk::kOk && !PassesFilter(pos.Slot())) walk = StepNext(pos);
      if (walk == TWalk::kRestart) {
        Resync();
        if (state_ != TState::kGap) break;
        continue;
      }
      if (walk == TWalk::kNone) {
        state_ = TState::kEof;
        break;
      }
      std::vector<uint8_t> image;
      if (!ReadRecord(uint32_t(pos.Slot()), image)) {
        Resync();
        continue;
      }
      record_ = std::move(image);
      SetOnPosition(std::move(pos));
      break;
    }
  }
  if (lock && state_ == TState::kOnRecord) {
    const uint32_t slot = current_slot_;
    const bool pessimistic =
        table_->Session().Settings().lock_protocol == TLockProtocol::kPessimistic;
    const bool locked_here = pessimistic && LockSlot(slot);
    if (record.size() == RecordSize()) {
      std::vector<uint8_t> stored;
      bool same = false;
      for (int attempt = 0; attempt < 1000; ++attempt) {
        if (ReadRecord(slot, stored)) {
          same = stored.size() > 0 && stored[0] == 0 &&
                 std::equal(stored.begin(), stored.end(), record.begin());
          break;
        }
        Resync();
      }
      if (!same) {
        if (locked_here) ReleaseLockOf(slot);
        Fail(CAIRN_KEYORRECDELETED);
      }
    }
  }
  const uint16_t code = StateCode();
  if (code != CAIRN_NONE) return code;
  record = record_;
  return CAIRN_NONE;
}

// ---------------------------------------------------------------- record numbers

uint32_t TDataCursor::RecordCount() {
  TOperation op(*this);
  for (;;) {
    bool restart = false;
    ComputeRange(restart);
    if (restart) {
      Resync();
      continue;
    }
    if (!filter_active_) return range_last_ >= range_first_ ? range_last_ - range_first_ + 1 : 0;
    uint32_t count = 0;
    TTreePosition pos;
    TWalk walk = SeekFirst(pos);
    while (walk == TWalk::kOk) {
      ++count;
      walk = StepNext(pos);
    }
    if (walk == TWalk::kRestart) {
      Resync();
      continue;
    }
    return count;
  }
}

uint32_t TDataCursor::RecordNumber() {
  TOperation op(*this);
  if (state_ != TState::kOnRecord) return 0;
  for (;;) {
    bool restart = !TakePosition();
    if (state_ != TState::kOnRecord) return 0;
    if (!restart) ComputeRange(restart);
    if (restart) {
      Resync();
      if (state_ != TState::kOnRecord) return 0;
      continue;
    }
    if (!filter_active_) return current_ordinal_ - range_first_ + 1;
    uint32_t n = 0;
    TTreePosition pos;
    TWalk walk = SeekFirst(pos);
    while (walk == TWalk::kOk) {
      ++n;
      if (pos.Ordinal() >= current_ordinal_) return n;
      walk = StepNext(pos);
    }
    if (walk == TWalk::kRestart) {
      Resync();
      if (state_ != TState::kOnRecord) return 0;
      continue;
    }
    return n;
  }
}

uint16_t TDataCursor::SetToRecordNumber(uint32_t n) {
  failed_edit_slot_ = 0;  // a new position starts a new edit
  TOperation op(*this);
  if (n < 1) {
    state_ = TState::kBof;
    return CAIRN_BOF;
  }
  for (;;) {
    bool restart = false;
    ComputeRange(restart);
    if (restart) {
      Resync();
      continue;
    }
    TTreePosition pos;
    TWalk walk;
    if (!filter_active_) {
      const uint64_t ordinal = uint64_t(range_first_) + n - 1;
      if (range_last_ < range_first_ || ordinal > range_last_) {
        state_ = TState::kEof;
        return CAIRN_EOF;
      }
      walk = Walker().Nth(uint32_t(ordinal), pos);
    } else {
      uint32_t seen = 0;
      walk = SeekFirst(pos);
      while (walk == TWalk::kOk && ++seen < n) walk = StepNext(pos);
    }
    if (walk == TWalk::kRestart) {
      Resync();
      continue;
    }
    if (walk == TWalk::kNone) {
      state_ = TState::kEof;
      return CAIRN_EOF;
    }
    std::vector<uint8_t> image;
    if (!ReadRecord(uint32_t(pos.Slot()), image)) {
      Resync();
      continue;
    }
    record_ = std::move(image);
    SetOnPosition(std::move(pos));
    return CAIRN_NONE;
  }
}

// ---------------------------------------------------------------- bookmarks and keys

std::vector<uint8_t> TDataCursor::GetBookmark() {
  if (state_ != TState::kOnRecord && state_ != TState::kGap) return {};
  if (RecordIdOrder()) return std::vector<uint8_t>(current_key_.begin() + 1, current_key_.end());
  return current_key_;
}

uint16_t TDataCursor::SetToBookmark(std::span<const uint8_t> bookmark) {
  failed_edit_slot_ = 0;
  std::vector<uint8_t> key;
  if (RecordIdOrder()) key.push_back(0);
  key.insert(key.end(), bookmark.begin(), bookmark.end());
  if (key.size() != size_t(KeyLength())) Fail(CAIRN_RECNOTFOUND);
  TOperation op(*this);
  while (true) {
    const TWalk walk = Reposition(key, true);
    if (walk == TWalk::kRestart) {
      Resync();
      continue;
    }
    return walk == TWalk::kOk ? CAIRN_NONE : CAIRN_RECNOTFOUND;
  }
}

int TDataCursor::CompareBookmarks(std::span<const uint8_t> a, std::span<const uint8_t> b) const {
  if (a.empty() || b.empty()) return a.empty() == b.empty() ? 0 : (a.empty() ? -1 : 1);
  if (RecordIdOrder() || a.size() != b.size() || a.size() != size_t(KeyLength())) {
    const int c = std::memcmp(a.data(), b.data(), std::min(a.size(), b.size()));
    if (c != 0) return c < 0 ? -1 : 1;
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
  }
  return Layout().Compare(a.data(), b.data());
}

uint16_t TDataCursor::FindKey(std::span<const uint8_t> key, bool nearest) {
  failed_edit_slot_ = 0;  // a new position starts a new edit
  std::vector<uint8_t> search(key.begin(), key.end());
  search.resize(size_t(KeyLength()));
  Layout().Pad(search, std::min(key.size(), search.size()), true);
  TOperation op(*this);
  while (true) {
    TTreePosition pos;
    TWalk walk = Walker().FirstAtLeast(search.data(), pos);
    if (walk == TWalk::kOk && !InRange(pos.Key())) walk = TWalk::kNone;
    if (walk == TWalk::kOk && !PassesFilter(pos.Slot())) walk = StepNext(pos);
    if (walk == TWalk::kRestart) {
      Resync();
      continue;
    }
    if (walk == TWalk::kNone) {
      if (!nearest) return CAIRN_RECNOTFOUND;
      state_ = TState::kEof;
      return CAIRN_EOF;
    }
    if (!nearest) {
      const TKeyLayout& layout = Layout();
      bool equal = layout.Compare(pos.Key(), search.data()) == 0;
      // A non-unique key ends in the record ID; a search by field values
      // matches any record ID.
      if (!equal && !layout.unique() && key.size() <= size_t(layout.segment_bytes()))
        equal = std::memcmp(pos.Key(), search.data(), size_t(layout.segment_bytes())) == 0;
      if (!equal) return CAIRN_RECNOTFOUND;
    }
    std::vector<uint8_t> image;
    if (!ReadRecord(uint32_t(pos.Slot()), image)) {
      Resync();
      continue;
    }
    record_ = std::move(image);
    SetOnPosition(std::move(pos));
    return CAIRN_NONE;
  }
}

// ---------------------------------------------------------------- locks

bool TDataCursor::LockSlot(uint32_t slot) {
  if (exclusive_ || read_only_ || table_->Exclusive()) return false;
  if (locked_slot_ == slot) return false;
  if (table_->CursorLocks().Test(slot)) Fail(CAIRN_RECLOCKFAILED);
  if (locked_slot_ != 0) ReleaseLockOf(locked_slot_);
  const bool changed = table_->LockRecord(slot);
  table_->CursorLocks().Set(slot);
  locked_slot_ = slot;
  if (changed || table_->Marks() != marks_) Resync();
  return true;
}

// A change of a record this cursor does not hold locks it before taking the
// write lock: a lock waited for under the write lock would keep every other
// process off the table, its holder included, for the whole wait.
bool TDataCursor::LockForChange(uint32_t slot) {
  if (locked_slot_ == slot || exclusive_ || table_->Exclusive()) return false;
  if (table_->CursorLocks().Test(slot)) Fail(CAIRN_RECLOCKFAILED);
  table_->LockRecord(slot);
  table_->CursorLocks().Set(slot);
  return true;
}

void TDataCursor::ReleaseLockOf(uint32_t slot) {
  if (slot == 0) return;
  if (locked_slot_ == slot) locked_slot_ = 0;
  table_->CursorLocks().Clear(slot);
  table_->UnlockRecord(slot);
}

void TDataCursor::LockCurrent() {
  TOperation op(*this);
  if (state_ != TState::kOnRecord) Fail(CAIRN_NOCURRREC);
  LockSlot(current_slot_);
}

void TDataCursor::Unlock() {
  if (locked_slot_ == 0) Fail(CAIRN_UNLOCKFAILED);
  ReleaseLockOf(locked_slot_);
}

void TDataCursor::Refresh() {
  failed_edit_slot_ = 0;  // a new position starts a new edit
  TOperation op(*this);
  table_->ReadLockForOperation();
  Resync();
  if (state_ == TState::kGap) {
    std::vector<uint8_t> ignored;
    GetCurrent(ignored, false);
  }
}

void TDataCursor::FlushBuffers() { table_->Flush(false); }
void TDataCursor::FlushOsBuffers() { table_->Flush(true); }

// ---------------------------------------------------------------- blobs

std::vector<uint8_t> TDataCursor::ReadBlob(std::span<const uint8_t> record, uint16_t field_no) {
  const TFieldDescriptor& field = table_->Data().Field(field_no);
  if (!field.IsBlob()) RaiseEngineError(CAIRN_NOTABLOB, {field.Name(), table_->Name()});
  auto first = GetField(field, record);
  if (!first || table_->Blob() == nullptr) return {};
  const int32_t first_block = le::I32(first->data());
  const int32_t stamp = GetBlobRevision(field, record).value_or(0);
  if (first_block <= 0) return {};
  TOperation op(*this);
  TBlobBuffer buffer(field_no, current_slot_, uint32_t(first_block), stamp,
                     TBlobOpenMode::kReadOnly);
  table_->Blob()->ReadBlobValue(buffer, [this] { return table_->ChangedBeforeDiskRead(); });
  auto contents = buffer.Contents();
  return std::vector<uint8_t>(contents.begin(), contents.end());
}

// ---------------------------------------------------------------- changes

void TDataCursor::CheckWritable() const {
  if (!table_) RaiseEngineError(CAIRN_NOTINITIALIZED);
  if (read_only_) RaiseEngineError(CAIRN_OSEACCES, table_->Name());
}

void TDataCursor::AfterChange(std::span<const uint8_t> image, uint32_t slot) {
  marks_ = table_->Marks();
  range_stale_ = true;
  record_.assign(image.begin(), image.end());
  current_key_ = KeyFor(walk_index_, image);
  current_slot_ = slot;
  // The leaf copy waits for the first step or record number that needs it
  // (TakePosition): a run of appends pays for no descent of its own.
  position_.entry = -1;
  state_ = InRange(current_key_.data()) && PassesFilter(int32_t(slot)) ? TState::kOnRecord
                                                                         : TState::kGap;
}

bool TDataCursor::TakePosition() {
  if (state_ != TState::kOnRecord || position_.entry >= 0) return true;
  TTreePosition pos;
  const TWalk walk = Walker().FirstAtLeast(current_key_.data(), pos);
  if (walk == TWalk::kRestart) return false;
  if (walk == TWalk::kOk && pos.Slot() == int32_t(current_slot_) &&
      Layout().Compare(pos.Key(), current_key_.data()) == 0) {
    SetOnPosition(std::move(pos));
  } else {
    state_ = TState::kGap;  // gone meanwhile: the next step continues from its key
  }
  return true;
}

// The new record's slot is known only under the write lock, where its lock
// gets one try. A refusal (a stale lock on a freed slot, held until its
// holder can read the table again) rolls the append back; like any refused
// record lock it then waits with no table lock held and tries again.
// Inside a transaction the failed change has rolled the transaction back.
void TDataCursor::Append(std::span<const uint8_t> record, const TBlobValues& blobs) {
  CheckWritable();
  TRecordWriter writer(*table_);
  writer.CheckRecord(record);
  TOperation op(*this);
  TDataTable& table = *table_;
  const bool in_transaction = directory_->InTransaction();
  auto give_back = [&] {
    try {
      table.WriteUnlock();
    } catch (...) {
    }
    marks_ = table.Marks();
  };
  for (unsigned refusals = 1;; ++refusals) {
    if (table.WriteLock() || table.Marks() != marks_) Resync();
    try {
      const std::vector<uint8_t> written = writer.Append(record, blobs);
      AfterChange(written, le::U32(written.data() + 1));
      table.WriteUnlock();
      return;
    } catch (const ECairnEngineError& error) {
      give_back();
      if (error.code() != CAIRN_RECLOCKFAILED || in_transaction ||
          refusals > table.Session().Settings().lock_retry_count)
        throw;
    } catch (...) {
      give_back();
      throw;
    }
    table.Session().WaitForRecordLock(refusals);
  }
}

void TDataCursor::Modify(std::span<const uint8_t> record, bool unlock, const TBlobValues& blobs) {
  CheckWritable();
  if (state_ != TState::kOnRecord) Fail(CAIRN_NOCURRREC);
  TRecordWriter writer(*table_);
  writer.CheckRecord(record);
  // The record as the edit saw it, before this operation catches up with
  // changes made elsewhere: without a lock, it is what must still be stored.
  const std::vector<uint8_t> seen = record_;
  const uint32_t slot = current_slot_;
  TOperation op(*this);
  if (state_ != TState::kOnRecord || current_slot_ != slot) Fail(CAIRN_KEYORRECDELETED);
  TDataTable& table = *table_;
  const bool held = locked_slot_ == slot;
  // The resynchronisation after a failed post refreshed the record buffer;
  // posting the same edit again must not overwrite the other user's change.
  if (!held && failed_edit_slot_ == slot) Fail(CAIRN_KEYORRECDELETED);
  const bool locked_here = LockForChange(slot);
  try {
    table.WriteLock();
    const std::vector<uint8_t> old_image = writer.Stored(slot);
    const bool deleted = old_image[0] != 0;
    if (!held && (deleted || old_image != seen)) {
      failed_edit_slot_ = slot;
      Fail(CAIRN_KEYORRECDELETED);
    }
    if (deleted) Fail(CAIRN_KEYORRECDELETED);
    const std::vector<uint8_t> written = writer.Modify(slot, old_image, record, blobs);
    failed_edit_slot_ = 0;
    AfterChange(written, slot);
    if (locked_here || (unlock && held)) ReleaseLockOf(slot);
    table.WriteUnlock();
  } catch (...) {
    try {
      if (locked_here) ReleaseLockOf(slot);
    } catch (...) {
    }
    try {
      table.WriteUnlock();
    } catch (...) {
    }
    throw;
  }
}

void TDataCursor::Delete(std::span<const uint8_t> record) {
  CheckWritable();
  TOperation op(*this);
  if (state_ != TState::kOnRecord) Fail(CAIRN_NOCURRREC);
  TDataTable& table = *table_;
  TRecordWriter writer(table);
  const uint32_t slot = current_slot_;
  const bool held = locked_slot_ == slot;
  const bool locked_here = LockForChange(slot);
  try {
    table.WriteLock();
    const std::vector<uint8_t> old_image = writer.Stored(slot);
    const bool deleted = old_image[0] != 0;
    const bool differs = !held && record.size() == old_image.size() &&
                         !std::equal(record.begin(), record.end(), old_image.begin());
    if (deleted || differs) Fail(CAIRN_KEYORRECDELETED);
    writer.Delete(slot, old_image);
    marks_ = table.Marks();
    range_stale_ = true;
    state_ = TState::kGap;  // the next step continues from the deleted key
    if (held || locked_here) ReleaseLockOf(slot);
    table.WriteUnlock();
  } catch (...) {
    try {
      if (locked_here) ReleaseLockOf(slot);
    } catch (...) {
    }
    try {
      table.WriteUnlock();
    } catch (...) {
    }
    throw;
  }
}

}  // namespace cairn
