// TDataTable: one open table of a directory. It owns the table's three files
// (data, index, and blob when the table has blob fields) with their caches,
// shared by every cursor of the session on this table, and it carries the
// lock protocol between processes:
//   read lock   one random byte of the index (and blob) lock area; shared.
//   write lock  the data file's write byte and the whole index / blob lock
//               areas; excludes readers and writers.
//   record lock one byte per slot in the data file, retried by the session's
//               lock retry count and wait time before 10258, holding no
//               table lock while it waits.
// Locks are taken read -> record, or record -> write when a change locks an
// existing record; a new slot is locked under the write lock without waiting.
// Taking the read or write lock compares the files' change counters with
// the ones in memory and drops stale caches (change detection).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "storage/access/index_file.h"
#include "storage/access/records_bitmap.h"
#include "storage/access/table_definition.h"
#include "storage/files/blob_file.h"
#include "storage/files/data_file.h"
#include "storage/files/journal.h"

namespace cairn {

class TDataDirectory;
class TDataSession;

// The three change counters a cursor remembers to notice changes.
struct TChangeMarks {
  int32_t data = 0;
  int32_t index = 0;
  int32_t blob = 0;
  bool operator==(const TChangeMarks&) const = default;
};

class TDataTable {
 public:
  TDataTable(TDataDirectory& directory, std::string name);
  ~TDataTable();
  TDataTable(const TDataTable&) = delete;
  TDataTable& operator=(const TDataTable&) = delete;

  // Creates the files of a new table in `directory`.
  static void Create(TDataDirectory& directory, std::string_view name,
                     const TTableDefinition& definition);

  // Opens the three files; a missing index file is recreated (see
  // IndexRecreated). Any failure closes what was opened and passes on.
  void Open(bool exclusive, bool read_only);
  // Rolls back the directory's transaction when it changed this table,
  // flushes when exclusive and writable, releases every lock, closes the
  // index, blob and data files.
  void Close();
  bool IsOpen() const { return open_; }

  const std::string& Name() const { return name_; }
  TDataSession& Session();
  TDataDirectory& Directory() { return directory_; }
  TDataFile& Data() { return *data_; }
  TIndexFile& Index() { return *index_; }
  TBlobFile* Blob() { return blob_.get(); }
  bool Exclusive() const { return exclusive_; }
  bool ReadOnly() const { return read_only_; }
  bool IndexRecreated() const { return index_recreated_; }
  bool HasPrimaryKey();

  // Users (cursors) of the open table.
  int UserCount() const { return users_; }
  void AddUser() { ++users_; }
  void RemoveUser() { --users_; }
  bool ExclusiveUser() const { return exclusive_user_; }
  void SetExclusiveUser(bool value) { exclusive_user_ = value; }

  // Read lock; returns whether change detection found a change. Does nothing
  // (and returns false) when exclusive, or when a read or the write lock is
  // already held. 10249 when it cannot be taken.
  bool ReadLock();
  // 10242 when the release fails.
  void ReadUnlock();
  bool ReadLockHeld() const { return read_locked_; }
  // Write lock with change detection; a read lock held is given up first.
  // 10249 when it cannot be taken or released.
  bool WriteLock();
  void WriteUnlock();
  bool WriteLockHeld() const { return write_locked_; }

  // Record lock protocol for `slot` (10258 for 0 or when the retries run
  // out). Between tries no table lock is held: a read lock held on entry is
  // given up for each wait and taken again (10249 when it cannot be). Under
  // the write lock the first refusal is final. Returns whether change
  // detection found a change meanwhile; the caller must catch up with it.
  bool LockRecord(uint32_t slot);
  // 10242 when this table did not lock the slot.
  void UnlockRecord(uint32_t slot);
  // Releases every record lock of this table.
  void UnlockAllRecords();
  bool RecordLockedHere(uint32_t slot) const { return file_locks_.Test(slot); }
  // Refused record-lock attempts so far (each retry that was refused counts).
  uint64_t RecordLockRefusals() const { return record_lock_refusals_; }
  // Records held by a cursor of this table (the cursors keep this up to date).
  TRecordsBitmap& CursorLocks() { return cursor_locks_; }

  // Re-reads the headers and drops what is stale; true when anything changed.
  bool DetectChanges();
  // Answer to the caches before they read from disk: in normal mode, takes
  // the read lock for the rest of the operation and reports a change.
  bool ChangedBeforeDiskRead();
  // The read lock for the rest of the operation; returns whether it found a change.
  bool ReadLockForOperation();
  // Ends the operation: releases a read lock taken by ChangedBeforeDiskRead.
  void EndOperation();

  TChangeMarks Marks() const;

  // One change of records, inside the write lock. After BeginChange the
  // caches hold every change (they grow rather than write) until
  // CommitChange flushes them. A failure anywhere before CommitChange
  // returns calls for RollBackChange: the three files get back every byte
  // and their sizes, and caches and headers are read again, so the table is
  // exactly as it was before the change.
  // Inside a transaction of the directory, the first change enlists the
  // table; CommitChange then writes nothing (the in-memory change counter
  // moves, so the session's other cursors notice), the write lock stays until
  // the transaction ends, and RollBackChange rolls the whole transaction back.
  void BeginChange();
  void CommitChange();
  void RollBackChange();
  bool InTransaction() const { return in_transaction_; }
  // While one change holds the write lock its records, pages and blocks stay
  // in the caches, which grow rather than write. A transaction may outgrow
  // memory, so its caches write out under the change's undo instead: other
  // processes cannot read meanwhile, and a rollback puts every byte back.
  bool CachesMustGrow() const { return write_locked_ && !in_transaction_ && !caches_write_out_; }
  // The directory ends the transaction for this table: commit writes the
  // caches as one change, else they are dropped; the write lock goes.
  void EndTransaction(bool commit);
  // A transaction that changed several tables commits in two steps (see
  // TJournal::JoinSuper): PrepareCommit writes this table under its journal,
  // which names the super-journal, and keeps the journal and the write lock;
  // once the super-journal is gone FinishCommit deletes the journal and lets
  // the lock go. EndTransaction(false) undoes a prepared table.
  void PrepareCommit(const std::string& super_journal);
  void FinishCommit();

  // Writes every dirty buffer and header; fdatasync for each written file
  // when the session forces buffer flushes or `force_os` is set.
  void Flush(bool force_os = false);
  // Drops every cached record, page and block and re-reads the headers
  // (after a failed change).
  void DiscardBuffers();

 private:
  void OpenFiles();
  void CloseFiles();
  void RecoverJournal();
  // The session's attempts and wait for the read and write locks.
  TLockRetry TableLockRetry();
  void RebuildRecreatedIndex();
  // After another process changed the files, nothing read before is known.
  void ForgetKnownBytes();
  static constexpr uint64_t kKnownDataBytes = 64 * 1024;
  // Room for the interior pages of a million keys' trees (each change moves
  // subtree counts on its paths) beside the leaves read lately.
  static constexpr uint64_t kKnownIndexBytes = 1024 * 1024;
  static constexpr uint64_t kKnownBlobBytes = 64 * 1024;
  [[noreturn]] void Fail(uint16_t code) const;

  TDataDirectory& directory_;
  std::string name_;
  std::unique_ptr<TDataFile> data_;
  std::unique_ptr<TIndexFile> index_;
  std::unique_ptr<TBlobFile> blob_;
  std::unique_ptr<TJournal> journal_;  // rollback journal of the files above
  bool open_ = false;
  bool exclusive_ = false;
  bool read_only_ = false;
  bool index_recreated_ = false;
  int users_ = 0;
  bool exclusive_user_ = false;

  bool read_locked_ = false;
  bool read_lock_for_operation_ = false;
  uint16_t index_read_byte_ = 0;
  uint16_t blob_read_byte_ = 0;
  bool write_locked_ = false;
  bool in_change_ = false;
  bool in_transaction_ = false;
  // A bulk change (rebuilding an index) writes out under its undo.
  bool caches_write_out_ = false;
  uint64_t record_lock_refusals_ = 0;
  // The journal's stamp when the caches last matched the files: while the
  // journal shows the same, no change was made and the headers stay unread.
  TJournalStamp clean_stamp_;
  TRecordsBitmap file_locks_;
  TRecordsBitmap cursor_locks_;
};

}  // namespace cairn
