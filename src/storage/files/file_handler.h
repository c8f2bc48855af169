// TFileHandler: one per table file of an open table (the base of the data,
// index and blob file classes). It opens the file through the process-wide
// registry (TFileList), shares the file object with other handlers of the same
// name, and raises every failure as ECairnEngineError with the file name in
// the message.
//
// Usage: set the name and the in-memory / temporary / exclusive flags, then
// Open() or Create(). Seek-then-transfer sequences must run between Enter()
// and Leave() (or under std::lock_guard on the handler) because the file
// object is shared; ReadAt/WriteAt do that themselves. Never open, create or
// close a handler between Enter and Leave: the registry's mutex is always taken
// before a file object's. The locks are byte-range locks (see file_locks.h);
// they return false rather than raise, and the blocking ones retry as
// TLockRetry says. Every write, truncation and flush passes TFileFaults
// (file_faults.h), where tests inject write errors and a full disk.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "storage/files/abstract_file.h"
#include "storage/files/file_locks.h"
#include "storage/files/known_bytes.h"

namespace cairn {

class TFileHandler;

// Told before every write, truncation or extension through a handler, with
// the position and length (0: the file is cut there); the rollback journal.
// `replaced` holds the bytes from `offset` on that the write replaces, as far
// as the handler's undo saved them (possibly none), so they are read once;
// `written` the bytes the write puts there.
class TWriteObserver {
 public:
  virtual ~TWriteObserver() = default;
  virtual void BeforeWrite(TFileHandler& file, uint64_t offset, int64_t length,
                           std::span<const uint8_t> replaced,
                           std::span<const uint8_t> written) = 0;
  // Told before writes a handler held back (see HoldWrites) reach its file.
  virtual void BeforeHeldWrites() {}
};

// Called with a percentage (0 ... 100) while a file is copied.
using TProgressCallback = std::function<void(int percent)>;

class TFileHandler {
 public:
  TFileHandler() = default;
  explicit TFileHandler(std::string file_name) : file_name_(std::move(file_name)) {}
  virtual ~TFileHandler();
  TFileHandler(const TFileHandler&) = delete;
  TFileHandler& operator=(const TFileHandler&) = delete;

  // Settings; change them only while closed.
  const std::string& file_name() const { return file_name_; }
  void set_file_name(std::string name) { file_name_ = std::move(name); }
  bool in_memory() const { return in_memory_; }
  void set_in_memory(bool value) { in_memory_ = value; }
  bool temporary() const { return temporary_; }
  void set_temporary(bool value) { temporary_ = value; }
  bool exclusive() const { return exclusive_; }
  void set_exclusive(bool value) { exclusive_ = value; }

  // State after open.
  bool is_open() const { return open_; }
  int handle_id() const { return handle_id_; }
  bool read_only() const { return read_only_; }
  bool read_only_attribute() const { return read_only_attribute_; }
  TAbstractFile* file() const { return file_.get(); }

  // Does nothing when open. CAIRN_OSENOENT when the file does not exist,
  // CAIRN_OSEACCES when it is held exclusively (or this open is exclusive and
  // it is held), other operating-system codes as mapped in os_error.h.
  virtual void Open();
  // Creates or truncates the file and opens it exclusively (the exclusive()
  // setting is left as it is for later opens). CAIRN_OSEACCES when any handler
  // or another process has it open.
  virtual void Create();
  // Unregisters; the file object closes with its last registration and this
  // handler's locks are released. Never fails.
  virtual void Close();
  // Deletes / renames a file no handler of the process has open
  // (CAIRN_OSEACCES otherwise). Rename never replaces an existing file
  // (CAIRN_TABLEEXISTS) and makes the new name this handler's name.
  virtual void Delete();
  virtual void Rename(const std::string& new_name);
  // True when the registry knows the name or, for disk files, a regular file
  // of that name exists.
  bool Exists() const;

  // Copies the whole file to / from the disk file `other` in 65536-byte
  // chunks. With `compress`, each chunk is stored as an 8-byte frame header
  // (compressed length, original length; 32-bit little-endian) followed by
  // its zlib stream at level 9. `progress` (may be empty) gets the percentage
  // done each time it has grown by at least `step`. CopyToFile writes a
  // sibling file first and renames it over `other` only when complete, and
  // refuses (CAIRN_OSEACCES) an `other` that a handler has open.
  // CopyFromFile checks compressed input whole before it changes this file,
  // then replaces this file's contents. Errors: CAIRN_COMPRESS,
  // CAIRN_UNCOMPRESS (corrupt input), CAIRN_READERR, CAIRN_WRITEERR,
  // operating-system codes. The handler is opened for the copy if closed.
  virtual void CopyToFile(const std::string& other, const TProgressCallback& progress = {},
                          int step = 5, bool compress = false);
  virtual void CopyFromFile(const std::string& other, const TProgressCallback& progress = {},
                            int step = 5, bool compress = false);

  // Moves this handler's position; returns it.
  int64_t Seek(int64_t offset, TSeekOrigin origin = kSeekStart);
  int64_t Size();
  // Reads at the position; CAIRN_READERR when fewer bytes arrive than asked,
  // unless `allow_short`. Returns the count read.
  virtual int64_t Read(void* buffer, int64_t length, bool allow_short = false);
  // Writes at the position; a length of 0 truncates the file there.
  // CAIRN_WRITEERR when fewer bytes are written.
  virtual void Write(const void* buffer, int64_t length);
  // Asks the operating system to put the file's buffers on disk
  // (fdatasync); CAIRN_WRITEERR when that fails.
  virtual void Flush();
  // True when bytes went through this handler since its last Flush.
  bool Unflushed() const { return unflushed_; }
  // Flushes those of `files` (null entries skipped) with bytes unflushed,
  // their writes started together first: each fdatasync then waits for its
  // own file's, not for the others' to begin.
  static void FlushTogether(std::span<TFileHandler* const> files);

  // Undo of a change in progress. After BeginUndo every write and truncation
  // through this handler first saves the bytes it replaces; RollBackUndo
  // puts them back in reverse order and cuts the file to its size at
  // BeginUndo, EndUndo forgets them. The restoring writes bypass the fault
  // seam: they model the rollback of a failed change, not a new change.
  void BeginUndo();
  void EndUndo();
  void RollBackUndo();
  bool UndoActive() const { return undo_active_; }
  // The file's size at BeginUndo, and a count of BeginUndo calls.
  uint64_t UndoSize() const { return undo_size_; }
  uint64_t UndoCount() const { return undo_count_; }
  // Known bytes: with a budget, what this handler reads (pieces of up to a
  // page) and writes is kept, and the undo takes the bytes a write replaces
  // from there rather than reading them back. The owner forgets them
  // whenever it finds the file changed by others; a rollback does too.
  void KeepKnownBytes(uint64_t budget) { known_.set_budget(budget); }
  void ForgetKnownBytes() { known_.Clear(); }
  // The observer of this handler's writes (nullptr: none).
  void SetWriteObserver(TWriteObserver* observer) { observer_ = observer; }

  // Held writes. From HoldWrites, a write is seen by the observer and the
  // undo at once but waits in memory; ReleaseWrites (or any read, size
  // query, cut or flush through this handler) tells the observer and then
  // writes what waited, in order, and ends the holding. So the journal of a
  // flush goes to disk once before all of its table writes rather than once
  // before each. DropHeldWrites forgets them (after a failure, when the
  // undo or the journal restores what did reach the file). Past
  // kHeldBytesLimit the held writes go out early, the same way.
  static constexpr uint64_t kHeldBytesLimit = 256 * 1024;
  void HoldWrites() { holding_ = true; }
  bool HoldingWrites() const { return holding_; }
  bool ReleaseWrites();
  void DropHeldWrites();

  // Seek and transfer in one step, under the file object's lock.
  int64_t ReadAt(uint64_t offset, void* buffer, int64_t length, bool allow_short = false);
  void WriteAt(uint64_t offset, const void* buffer, int64_t length);
  void Truncate(uint64_t size) { WriteAt(size, nullptr, 0); }

  // The file object's recursive lock (also as BasicLockable).
  void Enter();
  void Leave();
  void lock() { Enter(); }
  void unlock() { Leave(); }

  // Raw byte-range lock; false when refused (another process, or another
  // handler of this process, holds an overlapping range) or when closed.
  bool LockRange(uint64_t offset, uint64_t length);
  // Releases every byte this handler holds inside the range; false when it
  // held none there.
  bool UnlockRange(uint64_t offset, uint64_t length);

  // Data file: the table write lock (blocking, retried) and its release.
  bool LockTableWrite(const TLockRetry& retry = {});
  bool UnlockTableWrite();
  // Data file: one attempt at the record lock of `slot` (false for slot 0).
  bool LockRecord(uint32_t slot);
  bool UnlockRecord(uint32_t slot);
  // Data file: releases every record lock this handler holds for slots
  // 1 ... 200000001 in one call; false when it held none.
  bool UnlockAllRecords();
  // Index and blob files: the write lock over the whole lock area (blocking).
  bool LockAreaWrite(const TLockRetry& retry = {});
  bool UnlockAreaWrite();
  // Index and blob files: a read lock on a fresh random byte for every
  // attempt. On success `r` is the number to give UnlockRead.
  bool LockRead(uint16_t& r, const TLockRetry& retry = {});
  bool UnlockRead(uint16_t r);

 protected:
  // Raises the engine error `code` with this file's name.
  [[noreturn]] void Raise(int code) const;
  // Raises for a negative result of the file layer.
  void Check(int64_t result) const;

 private:
  void Register(int id);
  bool RetryLock(uint64_t offset, uint64_t length, const TLockRetry& retry);

  std::string file_name_;
  bool in_memory_ = false;
  bool temporary_ = false;
  bool exclusive_ = false;
  bool open_ = false;
  bool read_only_ = false;
  bool read_only_attribute_ = false;
  int handle_id_ = 0;
  bool unflushed_ = false;
  std::shared_ptr<TAbstractFile> file_;

  struct TUndoEntry {
    uint64_t offset;
    std::vector<uint8_t> bytes;
  };
  std::span<const uint8_t> SaveForUndo(int64_t length);
  void WriteThrough(const void* buffer, int64_t length);
  void WriteOut(const void* buffer, int64_t length);  // through the fault seam
  // Write's work once the bytes that change are known.
  void WriteChanged(const void* buffer, int64_t length);
  bool HeldOverlap(uint64_t offset, uint64_t length) const;
  void ReleaseHeld();
  TWriteObserver* observer_ = nullptr;
  bool holding_ = false;
  std::vector<TUndoEntry> held_;  // writes held back, in order
  uint64_t held_bytes_ = 0;
  bool undo_active_ = false;
  uint64_t undo_size_ = 0;   // the file's size at BeginUndo
  uint64_t undo_count_ = 0;
  uint64_t undo_limit_ = 0;  // no cut since BeginUndo went below it
  std::vector<TUndoEntry> undo_;
  // Offset -> end of each range saved since BeginUndo: a page written out
  // again in the same change keeps its first (original) copy only.
  std::unordered_map<uint64_t, uint64_t> undo_saved_;
  TKnownBytes known_;
  // Parts of a write fewer bytes apart go as one: a write of its own costs
  // more than copying and journaling this many bytes that did not change.
  static constexpr size_t kJoinedGap = 2048;
  std::vector<TKnownBytes::TRun> differing_;
};

}  // namespace cairn
