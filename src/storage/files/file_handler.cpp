#include "storage/files/file_handler.h"

#include <sys/stat.h>

#include <algorithm>
#include <random>
#include <string>
#include <thread>

#include "storage/base/engine_error.h"
#include "storage/files/file_faults.h"
#include "storage/files/file_list.h"
#include "storage/files/os_error.h"

namespace cairn {

TFileHandler::~TFileHandler() { TFileHandler::Close(); }

void TFileHandler::Raise(int code) const {
  if (code == CAIRN_OSUNKNOWN) {
    RaiseEngineError(code, std::to_string(LastOsError()), file_name_);
  }
  RaiseEngineError(uint16_t(code), file_name_);
}

void TFileHandler::Check(int64_t result) const {
  if (result < 0) Raise(int(-result));
}

void TFileHandler::Register(int id) {
  handle_id_ = id;
  open_ = true;
  std::lock_guard guard(file_->mutex());
  read_only_ = file_->read_only();
  read_only_attribute_ = file_->read_only_attribute();
}

void TFileHandler::Open() {
  if (open_) return;
  auto result = TFileList::Instance().Open(file_name_, in_memory_, temporary_, exclusive_);
  Check(result.id);
  file_ = std::move(result.file);
  Register(result.id);
}

void TFileHandler::Create() {
  if (open_) Close();
  auto result = TFileList::Instance().Create(file_name_, in_memory_, temporary_);
  Check(result.id);
  file_ = std::move(result.file);
  Register(result.id);
}

void TFileHandler::Close() {
  if (!open_) return;
  TFileList::Instance().Close(file_, handle_id_);
  DropHeldWrites();
  file_.reset();
  open_ = false;
  handle_id_ = 0;
  read_only_ = false;
  read_only_attribute_ = false;
}

void TFileHandler::Delete() {
  if (open_) Raise(CAIRN_OSEACCES);
  Check(TFileList::Instance().Delete(file_name_, in_memory_));
}

void TFileHandler::Rename(const std::string& new_name) {
  if (open_) Raise(CAIRN_OSEACCES);
  int rc = TFileList::Instance().Rename(file_name_, new_name, in_memory_);
  if (rc == -int(CAIRN_TABLEEXISTS)) RaiseEngineError(CAIRN_TABLEEXISTS, new_name);
  Check(rc);
  file_name_ = new_name;
}

bool TFileHandler::Exists() const {
  if (TFileList::Instance().Contains(file_name_, in_memory_)) return true;
  if (in_memory_) return false;
  struct stat st;
  std::string name = TFileList::Trim(file_name_);
  return ::stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

int64_t TFileHandler::Seek(int64_t offset, TSeekOrigin origin) {
  if (!open_) Raise(CAIRN_OSEBADF);
  int64_t pos = file_->Seek(handle_id_, origin, offset);
  Check(pos);
  return pos;
}

int64_t TFileHandler::Size() {
  if (!open_) Raise(CAIRN_OSEBADF);
  if (!held_.empty()) ReleaseHeld();
  int64_t size = file_->Size();
  Check(size);
  return size;
}

int64_t TFileHandler::Read(void* buffer, int64_t length, bool allow_short) {
  if (!open_) Raise(CAIRN_OSEBADF);
  if (!held_.empty()) ReleaseHeld();
  const bool note = known_.budget() > 0 && uint64_t(length) <= TKnownBytes::kLongestPiece;
  const int64_t position = note ? file_->Seek(handle_id_, kSeekCurrent, 0) : 0;
  int64_t n = file_->Read(handle_id_, buffer, length);
  if (n < 0 || (n < length && !allow_short)) Raise(CAIRN_READERR);
  if (note && position >= 0)
    known_.Note(uint64_t(position), {static_cast<const uint8_t*>(buffer), size_t(n)});
  return n;
}

// Of a write over bytes the file is known to hold, only the parts that
// differ go on (a page whose subtree count moved: a few bytes, not 4096, to
// the undo, the journal and the file; the index header: its counter and,
// far from it, the descriptor that moved); nothing at all when none does. The known bytes are
// what is on disk, so not while held writes wait there.
void TFileHandler::Write(const void* buffer, int64_t length) {
  if (!open_) Raise(CAIRN_OSEBADF);
  if (length > 0 && known_.budget() > 0) {
    const int64_t position = file_->Seek(handle_id_, kSeekCurrent, 0);
    Check(position);
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    std::vector<TKnownBytes::TRun>& runs = differing_;
    if (!HeldOverlap(uint64_t(position), uint64_t(length)) &&
        known_.Differing(uint64_t(position), {bytes, size_t(length)}, kJoinedGap, runs) &&
        (runs.size() != 1 || runs[0].first > 0 || runs[0].last < size_t(length))) {
      std::lock_guard guard(*this);
      for (const TKnownBytes::TRun& run : runs) {
        Seek(position + int64_t(run.first));
        WriteChanged(bytes + run.first, int64_t(run.last - run.first));
      }
      Seek(position + length);
      return;
    }
  }
  WriteChanged(buffer, length);
}

bool TFileHandler::HeldOverlap(uint64_t offset, uint64_t length) const {
  for (const TUndoEntry& write : held_)
    if (write.offset < offset + length && offset < write.offset + write.bytes.size()) return true;
  return false;
}

void TFileHandler::WriteChanged(const void* buffer, int64_t length) {
  std::span<const uint8_t> replaced;
  if (undo_active_) replaced = SaveForUndo(length);
  if (observer_) {
    const int64_t position = file_->Seek(handle_id_, kSeekCurrent, 0);
    Check(position);
    observer_->BeforeWrite(
        *this, uint64_t(position), length, replaced,
        {static_cast<const uint8_t*>(buffer), length > 0 ? size_t(length) : size_t(0)});
  }
  unflushed_ = true;
  if (holding_ && length > 0) {
    {
      std::lock_guard guard(file_->mutex());
      const int64_t position = file_->Seek(handle_id_, kSeekCurrent, 0);
      Check(position);
      const auto* bytes = static_cast<const uint8_t*>(buffer);
      held_.push_back({uint64_t(position), std::vector<uint8_t>(bytes, bytes + length)});
      Check(file_->Seek(handle_id_, kSeekStart, position + length));
    }
    held_bytes_ += uint64_t(length);
    // A large flush (a transaction's commit) does not double its memory.
    if (held_bytes_ > kHeldBytesLimit) ReleaseHeld();
    return;
  }
  if (!held_.empty()) ReleaseHeld();
  WriteThrough(buffer, length);
}

// The write itself; the known bytes follow what reached the file.
void TFileHandler::WriteThrough(const void* buffer, int64_t length) {
  if (known_.budget() == 0) {
    WriteOut(buffer, length);
    return;
  }
  const int64_t at = file_->Seek(handle_id_, kSeekCurrent, 0);
  Check(at);
  const int64_t known_size = known_.FileSize();
  try {
    WriteOut(buffer, length);
  } catch (...) {
    // What a failed write left there is not known.
    known_.Drop(uint64_t(at), length > 0 ? uint64_t(at + length) : UINT64_MAX);
    known_.ForgetFileSize();
    throw;
  }
  if (length > 0) {
    known_.Note(uint64_t(at), {static_cast<const uint8_t*>(buffer), size_t(length)});
  } else {
    known_.Drop(uint64_t(at));
  }
  // A write past the end grows the file, a cut (length 0) ends it there.
  if (known_size >= 0)
    known_.NoteFileSize(uint64_t(length > 0 ? std::max(known_size, at + length) : at));
}

void TFileHandler::WriteOut(const void* buffer, int64_t length) {
  TFileFaults& faults = TFileFaults::Instance();
  if (faults.active()) {
    std::lock_guard guard(file_->mutex());
    int64_t position = file_->Seek(handle_id_, kSeekCurrent, 0);
    int64_t size = file_->Size();
    Check(position);
    Check(size);
    bool fail = false;
    int64_t allowed = faults.BeforeWrite(file_name_, uint64_t(position), length, uint64_t(size), fail);
    if (fail) {
      if (allowed > 0) file_->Write(handle_id_, buffer, allowed);
      Raise(CAIRN_WRITEERR);
    }
  }
  int64_t n = file_->Write(handle_id_, buffer, length);
  if (n < 0) {
    // Memory exhaustion says more than a plain write error.
    if (n == -int64_t(CAIRN_OSENOMEM) || n == -int64_t(CAIRN_OSEINVMEM)) Check(n);
    Raise(CAIRN_WRITEERR);
  }
  if (n < length) Raise(CAIRN_WRITEERR);
}

bool TFileHandler::ReleaseWrites() {
  holding_ = false;
  if (held_.empty()) return false;
  ReleaseHeld();
  return true;
}

void TFileHandler::ReleaseHeld() {
  if (observer_) observer_->BeforeHeldWrites();
  std::vector<TUndoEntry> held = std::move(held_);
  held_.clear();
  held_bytes_ = 0;
  std::lock_guard guard(*this);
  const int64_t position = file_->Seek(handle_id_, kSeekCurrent, 0);
  Check(position);
  for (const TUndoEntry& write : held) {
    Seek(int64_t(write.offset));
    WriteThrough(write.bytes.data(), int64_t(write.bytes.size()));
  }
  Seek(position);
}

void TFileHandler::DropHeldWrites() {
  known_.Clear();
  holding_ = false;
  held_.clear();
  held_bytes_ = 0;
}

void TFileHandler::BeginUndo() {
  if (!open_) Raise(CAIRN_OSEBADF);
  undo_.clear();
  undo_saved_.clear();
  // The size this handler last saw or made, unless writes still wait.
  int64_t size = held_.empty() ? known_.FileSize() : -1;
  if (size < 0) {
    size = file_->Size();
    Check(size);
    known_.NoteFileSize(uint64_t(size));
  }
  undo_size_ = uint64_t(size);
  undo_limit_ = undo_size_;
  undo_active_ = true;
  ++undo_count_;
}

void TFileHandler::EndUndo() {
  undo_active_ = false;
  undo_.clear();
  undo_saved_.clear();
}

// Saves what a write of `length` bytes (0: a truncation) at the current
// position is about to replace. Bytes past the size at BeginUndo need no
// saving: the rollback cuts them off. Nobody else writes the file while a
// change holds the write lock, so the lowest cut since BeginUndo stands in
// for asking the file's size on every write.
std::span<const uint8_t> TFileHandler::SaveForUndo(int64_t length) {
  std::lock_guard guard(file_->mutex());
  const int64_t position = file_->Seek(handle_id_, kSeekCurrent, 0);
  Check(position);
  const uint64_t limit = undo_limit_;
  const uint64_t start = uint64_t(position);
  if (length == 0) undo_limit_ = std::min(undo_limit_, start);
  const uint64_t end = length == 0 ? limit : std::min(limit, start + uint64_t(length));
  if (start >= end) return {};
  if (auto saved = undo_saved_.find(start); saved != undo_saved_.end() && saved->second >= end)
    return {};
  TUndoEntry entry{start, {}};
  if (!known_.Copy(start, size_t(end - start), entry.bytes)) {
    entry.bytes.resize(end - start);
    const int64_t got = file_->Read(handle_id_, entry.bytes.data(), int64_t(entry.bytes.size()));
    file_->Seek(handle_id_, kSeekStart, position);
    if (got != int64_t(entry.bytes.size())) Raise(CAIRN_READERR);
  }
  undo_.push_back(std::move(entry));
  undo_saved_[start] = end;
  return undo_.back().bytes;
}

void TFileHandler::RollBackUndo() {
  // Held writes belong to the change rolled back and never reached the file.
  DropHeldWrites();
  if (!undo_active_) return;
  undo_active_ = false;
  std::vector<TUndoEntry> entries = std::move(undo_);
  undo_.clear();
  undo_saved_.clear();
  if (!open_) return;
  std::lock_guard guard(file_->mutex());
  unflushed_ = true;
  bool ok = true;
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    ok = file_->Seek(handle_id_, kSeekStart, int64_t(it->offset)) >= 0 &&
         file_->Write(handle_id_, it->bytes.data(), int64_t(it->bytes.size())) ==
             int64_t(it->bytes.size()) &&
         ok;
  }
  const int64_t size = file_->Size();
  if (size >= 0 && uint64_t(size) != undo_size_) {
    ok = file_->Seek(handle_id_, kSeekStart, int64_t(undo_size_)) >= 0 &&
         file_->Write(handle_id_, nullptr, 0) == 0 && ok;
  }
  if (!ok) Raise(CAIRN_WRITEERR);
}

void TFileHandler::FlushTogether(std::span<TFileHandler* const> files) {
  for (TFileHandler* file : files) {
    if (!file || !file->open_ || !file->unflushed_) continue;
    if (!file->held_.empty()) file->ReleaseHeld();
    file->file_->StartFlush();
  }
  for (TFileHandler* file : files)
    if (file && file->open_ && file->unflushed_) file->Flush();
}

void TFileHandler::Flush() {
  if (!open_) Raise(CAIRN_OSEBADF);
  if (!held_.empty()) ReleaseHeld();
  TFileFaults& faults = TFileFaults::Instance();
  if (faults.active() && faults.BeforeFlush(file_name_)) Raise(CAIRN_WRITEERR);
  if (file_->Flush() != 0) Raise(CAIRN_WRITEERR);
  unflushed_ = false;
}

int64_t TFileHandler::ReadAt(uint64_t offset, void* buffer, int64_t length, bool allow_short) {
  std::lock_guard guard(*this);
  Seek(int64_t(offset));
  return Read(buffer, length, allow_short);
}

void TFileHandler::WriteAt(uint64_t offset, const void* buffer, int64_t length) {
  std::lock_guard guard(*this);
  Seek(int64_t(offset));
  Write(buffer, length);
}

void TFileHandler::Enter() {
  if (!open_) Raise(CAIRN_OSEBADF);
  file_->mutex().lock();
}

void TFileHandler::Leave() {
  if (open_) file_->mutex().unlock();
}

bool TFileHandler::LockRange(uint64_t offset, uint64_t length) {
  return open_ && file_->LockRange(handle_id_, offset, length);
}

bool TFileHandler::UnlockRange(uint64_t offset, uint64_t length) {
  return open_ && file_->UnlockRange(handle_id_, offset, length);
}

bool TFileHandler::RetryLock(uint64_t offset, uint64_t length, const TLockRetry& retry) {
  for (int attempt = 1; attempt <= retry.attempts; ++attempt) {
    if (LockRange(offset, length)) return true;
    if (!open_) return false;
    if (attempt < retry.attempts) std::this_thread::sleep_for(retry.wait);
  }
  return false;
}

bool TFileHandler::LockTableWrite(const TLockRetry& retry) {
  return RetryLock(kTableWriteLockOffset, kTableWriteLockLength, retry);
}

bool TFileHandler::UnlockTableWrite() {
  return UnlockRange(kTableWriteLockOffset, kTableWriteLockLength);
}

bool TFileHandler::LockRecord(uint32_t slot) {
  return slot != 0 && LockRange(RecordLockOffset(slot), 1);
}

bool TFileHandler::UnlockRecord(uint32_t slot) {
  return slot != 0 && UnlockRange(RecordLockOffset(slot), 1);
}

bool TFileHandler::UnlockAllRecords() {
  return UnlockRange(kAllRecordLocksOffset, kAllRecordLocksLength);
}

bool TFileHandler::LockAreaWrite(const TLockRetry& retry) {
  return RetryLock(kAreaWriteLockOffset, kAreaWriteLockLength, retry);
}

bool TFileHandler::UnlockAreaWrite() {
  return UnlockRange(kAreaWriteLockOffset, kAreaWriteLockLength);
}

bool TFileHandler::LockRead(uint16_t& r, const TLockRetry& retry) {
  thread_local std::mt19937 engine{std::random_device{}()};
  std::uniform_int_distribution<int> draw(0, 65535);
  for (int attempt = 1; attempt <= retry.attempts; ++attempt) {
    int value = draw(engine);
    uint16_t candidate = uint16_t(value == 0 ? 1 : value);
    if (LockRange(ReadLockOffset(candidate), 1)) {
      r = candidate;
      return true;
    }
    if (!open_) return false;
    if (attempt < retry.attempts) std::this_thread::sleep_for(retry.wait);
  }
  return false;
}

bool TFileHandler::UnlockRead(uint16_t r) { return r != 0 && UnlockRange(ReadLockOffset(r), 1); }

}  // namespace cairn
