#include "storage/access/data_table.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <thread>

#include "storage/access/data_directory.h"
#include "storage/access/data_session.h"
#include "storage/base/engine_error.h"
#include "storage/access/index_key.h"
#include "storage/access/index_tree.h"
#include "storage/access/table_repair.h"

namespace cairn {

namespace {

std::vector<TKeyField> KeyFields(const TDataFile& data) {
  std::vector<TKeyField> fields;
  for (const TFieldDescriptor& d : data.Fields()) {
    TKeyField f;
    f.number = static_cast<int16_t>(d.FieldNumber());
    f.name = d.Name();
    f.type = d.Type();
    f.subtype = d.Subtype();
    f.storage_size = d.StorageSize();
    f.offset = d.Offset();
    fields.push_back(std::move(f));
  }
  return fields;
}

// A journal beside files this process may not write cannot be played back,
// and the table it guards is not read either (it may hold half a change).
bool FilesWritable(const TDataFile& data, const TIndexFile& index, const TBlobFile* blob) {
  return !data.read_only() && !index.read_only() && !(blob && blob->read_only());
}

}  // namespace

TDataTable::TDataTable(TDataDirectory& directory, std::string name)
    : directory_(directory), name_(std::move(name)) {}

TDataTable::~TDataTable() {
  try {
    Close();
  } catch (...) {
    // Closing must not throw out of a destructor; the files are closed anyway.
  }
}

TDataSession& TDataTable::Session() { return directory_.Session(); }

void TDataTable::Fail(uint16_t code) const { RaiseEngineError(code, name_); }

bool TDataTable::HasPrimaryKey() { return !index_->no_primary_key(); }

TIndexTableInfo MakeIndexInfo(TDataTable& table, TDataFile& data) {
  TIndexTableInfo info;
  info.table_name = table.Name();
  info.encrypted = data.Encrypted();
  info.fields = KeyFields(data);
  info.locale = data.Header().Locale();
  info.private_dir = table.Session().ScratchDirectory();
  info.index_buffer_size = table.Session().Settings().index_buffer_size;
  info.strict_change_detection = table.Session().Settings().strict_change_detection;
  info.changed_by_other = [&table] { return table.ChangedBeforeDiskRead(); };
  // A change holds the write lock from its first page to its flush; pages
  // written before then could not be taken back if it failed.
  info.in_transaction = [&table] { return table.CachesMustGrow(); };
  return info;
}

void TDataTable::Create(TDataDirectory& directory, std::string_view name,
                        const TTableDefinition& definition) {
  TDataTable table(directory, std::string(name));
  TDataCreateParams params;
  params.language_id = static_cast<uint16_t>(definition.locale & 0xFFFF);
  params.sort_id = static_cast<uint16_t>(definition.locale >> 16);
  params.fields = definition.fields;
  params.blob_block_size = definition.blob_block_size;
  params.description = definition.description;
  params.password = definition.password;
  params.encrypted = !definition.password.empty();
  if (params.blob_block_size != 0 && params.blob_block_size < 64) table.Fail(CAIRN_BLOBLIMIT);

  const std::string data_name = directory.FileName(name, ".DAT");
  const std::string index_name = directory.FileName(name, ".IDX");
  const std::string blob_name = directory.FileName(name, ".BLB");
  const bool in_memory = directory.InMemory();
  table.data_ = std::make_unique<TDataFile>(table.name_);
  table.data_->set_file_name(data_name);
  table.data_->set_in_memory(in_memory);
  if (table.data_->Exists()) table.Fail(CAIRN_TABLEEXISTS);
  bool done = false;
  try {
    table.data_->CreateHeader(params);
    table.index_ = std::make_unique<TIndexFile>(MakeIndexInfo(table, *table.data_));
    table.index_->set_file_name(index_name);
    table.index_->set_in_memory(in_memory);
    table.index_->CreateIndexFile();
    bool have_primary = false;
    for (const TIndexDefinition& def : definition.indexes) {
      TIndexDescriptor d;
      d.name = def.primary ? std::string() : def.name;
      d.unique = def.primary || def.unique;
      d.descending = def.descending;
      d.case_insensitive = def.case_insensitive;
      d.compression = def.compression;
      d.field_count = static_cast<uint8_t>(def.fields.size());
      for (size_t i = 0; i < def.fields.size() && i < kMaxKeyFields; ++i) {
        const TFieldDescriptor field = table.data_->FieldByName(def.fields[i]);
        if (field.FieldNumber() == 0)
          RaiseEngineError(CAIRN_SEARCHCOLREQD, {def.fields[i], def.name, table.name_});
        d.fields[i] = static_cast<int16_t>(field.FieldNumber());
        for (const std::string& down : def.descending_fields)
          if (SameFieldName(down, def.fields[i])) d.field_descending[i] = 1;
      }
      if (def.primary) {
        table.index_->AddPrimaryIndex(d);
        have_primary = true;
      } else {
        table.index_->AddSecondaryIndex(d);
      }
    }
    table.index_->SetNoPrimaryKey(!have_primary);
    table.index_->WriteHeader(true);
    if (table.data_->BlobFieldCount() > 0) {
      table.blob_ = std::make_unique<TBlobFile>(table.name_, blob_name,
                                                table.data_->Header().BlobBlockSizeRaw(),
                                                table.data_->Encrypted());
      table.blob_->set_in_memory(in_memory);
      table.blob_->Create();
    }
    table.data_->FlushBuffers(true);
    table.index_->Flush();
    table.index_->Flush();
    done = true;
  } catch (...) {
    // A half-made table is worse than none: close and remove what was made.
    if (table.blob_) table.blob_->Close();
    if (table.index_) table.index_->CloseIndexFile();
    table.data_->Close();
    if (!done) {
      try {
        directory.DeleteTable(name);
      } catch (...) {
        // The creation's own failure is the one to report.
      }
    }
    throw;
  }
  if (table.blob_) table.blob_->Close();
  table.index_->CloseIndexFile();
  table.data_->Close();
}

void TDataTable::Open(bool exclusive, bool read_only) {
  if (open_) return;
  exclusive_ = exclusive;
  try {
    OpenFiles();
  } catch (const ECairnEngineError&) {
    CloseFiles();
    // A header that a change cut short left torn is the journal's to undo
    // before it is judged: once played back (with the files to ourselves),
    // the files open again.
    if (directory_.InMemory() || !PlayBackLeftJournal(directory_, name_, nullptr)) throw;
    try {
      OpenFiles();
    } catch (...) {
      CloseFiles();
      throw;
    }
  } catch (...) {
    CloseFiles();
    throw;
  }
  read_only_ =
      read_only || data_->read_only() || index_->read_only() || (blob_ && blob_->read_only());
  open_ = true;
  try {
    // A table left half-written by a writer that is gone is restored first.
    if (journal_ && journal_->Exists()) {
      if (!FilesWritable(*data_, *index_, blob_.get())) Fail(CAIRN_OSEACCES);
      WriteLock();
      WriteUnlock();
    }
    // The full check of the data file runs once, under the read lock.
    ReadLock();
    data_->Check();
    EndOperation();
    if (read_locked_) ReadUnlock();
    if (index_recreated_ && !read_only_) RebuildRecreatedIndex();
  } catch (...) {
    try {
      Close();
    } catch (...) {
    }
    throw;
  }
}

void TDataTable::OpenFiles() {
  const TSessionSettings& settings = Session().Settings();
  data_ = std::make_unique<TDataFile>(name_);
  const bool in_memory = directory_.InMemory();
  data_->set_file_name(directory_.FileName(name_, ".DAT"));
  data_->set_in_memory(in_memory);
  data_->set_exclusive(exclusive_);
  TDataFileHooks hooks;
  hooks.write_lock_held = [this] { return CachesMustGrow(); };
  hooks.table_changed_on_disk = [this] { return ChangedBeforeDiskRead(); };
  // Other processes notice changes only through the header counters, so a
  // flush that wrote records takes a header write with it.
  hooks.records_written = [this] { data_->MarkHeaderModified(); };
  data_->SetHooks(std::move(hooks));
  data_->Open();

  index_ = std::make_unique<TIndexFile>(MakeIndexInfo(*this, *data_));
  index_->set_file_name(directory_.FileName(name_, ".IDX"));
  index_->set_in_memory(in_memory);
  index_->set_exclusive(exclusive_);
  try {
    index_->OpenIndexFile();
  } catch (const ECairnEngineError& error) {
    if (error.code() != CAIRN_OSENOENT) throw;
    index_->CreateIndexFile();
    // A recreated index file knows no primary key; the data file is then read
    // in record-ID order.
    index_->SetNoPrimaryKey(true);
    index_->WriteHeader(true);
    index_->CloseIndexFile();
    index_->OpenIndexFile();
    index_recreated_ = true;
  }

  if (data_->BlobFieldCount() > 0) {
    TBlobCacheSizes sizes;
    blob_ =
        std::make_unique<TBlobFile>(name_, directory_.FileName(name_, ".BLB"),
                                    data_->Header().BlobBlockSizeRaw(), data_->Encrypted(), sizes);
    blob_->set_in_memory(in_memory);
    blob_->set_exclusive(exclusive_);
    blob_->SetWritesDeferred([this] { return CachesMustGrow(); });
    blob_->Open();
  }
  // A crash loses memory files with the process, so they need no journal.
  if (in_memory) return;
  journal_ = std::make_unique<TJournal>(
      directory_.FileName(name_, ".JNL"),
      std::array<TFileHandler*, TJournal::kFiles>{data_.get(), index_.get(), blob_.get()});
  journal_->set_force_flush(settings.force_buffer_flush);
  journal_->Attach(true);
  // What the caches just read or wrote is what a change's undo needs: the
  // paths of both trees for an index change, a record, a block, the headers.
  data_->KeepKnownBytes(kKnownDataBytes);
  index_->KeepKnownBytes(kKnownIndexBytes);
  if (blob_) blob_->KeepKnownBytes(kKnownBlobBytes);
}

void TDataTable::CloseFiles() {
  journal_.reset();
  if (index_) index_->CloseIndexFile();
  if (blob_) blob_->Close();
  if (data_) data_->Close();
  index_.reset();
  blob_.reset();
  data_.reset();
}

void TDataTable::Close() {
  if (!open_) {
    CloseFiles();
    return;
  }
  std::exception_ptr failure;
  try {
    // A changed table that closes takes its transaction with it.
    if (in_transaction_) directory_.Rollback();
  } catch (...) {
    failure = std::current_exception();
  }
  try {
    if (exclusive_ && !read_only_) Flush();
  } catch (...) {
    failure = std::current_exception();
  }
  // Every lock goes, whatever happened above.
  if (!file_locks_.Empty()) data_->UnlockAllRecords();
  file_locks_.ClearAll();
  cursor_locks_.ClearAll();
  if (read_locked_) {
    index_->UnlockRead(index_read_byte_);
    if (blob_) blob_->UnlockRead(blob_read_byte_);
    read_locked_ = false;
  }
  if (write_locked_) {
    data_->UnlockTableWrite();
    index_->UnlockAreaWrite();
    if (blob_) blob_->UnlockAreaWrite();
    write_locked_ = false;
  }
  CloseFiles();
  open_ = false;
  users_ = 0;
  exclusive_user_ = false;
  if (failure) std::rethrow_exception(failure);
}

// The fresh index file knows nothing of the records: every slot gets its
// status entry back and the active count is counted again.
// One change, so a failure takes back every page it wrote. A million-record
// table would hold its whole new tree in memory if the caches grew, so they
// write out under the change's undo as a transaction's do.
void TDataTable::RebuildRecreatedIndex() {
  WriteLock();
  BeginChange();
  caches_write_out_ = true;
  try {
    TIndexTree status(*index_, kStatusIndex);
    int32_t active = 0;
    const uint32_t slots = data_->RecordCount();
    for (uint32_t slot = 1; slot <= slots; ++slot) {
      TRecord* record = data_->GetRecord(slot, true, true);
      if (record == nullptr) Fail(CAIRN_FILECORRUPT);
      std::array<uint8_t, kStatusKeyLength> key{};
      BuildStatusKey(record->Image(), key);
      if (!record->IsDeleted()) ++active;
      data_->ReleaseRecord(record);
      status.Insert(key, int32_t(slot));
    }
    index_->SetActiveCount(active);
    caches_write_out_ = false;
    CommitChange();
  } catch (...) {
    caches_write_out_ = false;
    try {
      RollBackChange();
    } catch (...) {
      // The journal stays for the next writer; the first failure is the news.
    }
    WriteUnlock();
    throw;
  }
  WriteUnlock();
}

// ---------------------------------------------------------------- locks

TLockRetry TDataTable::TableLockRetry() {
  const TSessionSettings& settings = Session().Settings();
  return TLockRetry{int(std::max<uint32_t>(1, std::min<uint32_t>(settings.table_lock_attempts,
                                                                  INT32_MAX))),
                    std::chrono::milliseconds(settings.table_lock_wait_time)};
}

bool TDataTable::ReadLock() {
  if (exclusive_ || read_locked_ || write_locked_) return false;
  const TLockRetry retry = TableLockRetry();
  bool restored = false;
  for (int sighting = 1;; ++sighting) {
    if (!index_->LockRead(index_read_byte_, retry)) Fail(CAIRN_LOCKTIMEOUT);
    if (blob_ && !blob_->LockRead(blob_read_byte_, retry)) {
      index_->UnlockRead(index_read_byte_);
      Fail(CAIRN_LOCKTIMEOUT);
    }
    read_locked_ = true;
    // No writer is at work while the read lock is held, so a journal now is
    // a dead writer's half-written change: the table is restored through the
    // write lock before anything is read.
    if (!journal_ || !journal_->Exists()) break;
    ReadUnlock();
    if (!FilesWritable(*data_, *index_, blob_.get())) Fail(CAIRN_OSEACCES);
    if (sighting > 3) Fail(CAIRN_LOCKTIMEOUT);
    WriteLock();
    WriteUnlock();
    restored = true;
  }
  try {
    return DetectChanges() || restored;
  } catch (...) {
    ReadUnlock();
    throw;
  }
}

void TDataTable::ReadUnlock() {
  if (!read_locked_) return;
  if (journal_) journal_->LockReleased();
  read_locked_ = false;
  read_lock_for_operation_ = false;
  bool ok = index_->UnlockRead(index_read_byte_);
  if (blob_) ok = blob_->UnlockRead(blob_read_byte_) && ok;
  if (!ok) Fail(CAIRN_UNLOCKFAILED);
}

bool TDataTable::WriteLock() {
  if (write_locked_) return false;
  if (read_locked_) ReadUnlock();
  if (!exclusive_) {
    const TLockRetry retry = TableLockRetry();
    if (!data_->LockTableWrite(retry)) Fail(CAIRN_LOCKTIMEOUT);
    if (!index_->LockAreaWrite(retry)) {
      data_->UnlockTableWrite();
      Fail(CAIRN_LOCKTIMEOUT);
    }
    if (blob_ && !blob_->LockAreaWrite(retry)) {
      index_->UnlockAreaWrite();
      data_->UnlockTableWrite();
      Fail(CAIRN_LOCKTIMEOUT);
    }
  }
  write_locked_ = true;
  try {
    RecoverJournal();
    if (exclusive_) return false;
    return DetectChanges();
  } catch (...) {
    WriteUnlock();
    throw;
  }
}

// A journal left by a writer that is gone (or by our own rollback that
// failed) is played back before anything is read or written.
// A table opened read-only is restored too: the bytes it reads must be whole.
// Files that cannot be written cannot be restored, and are not read either.
void TDataTable::RecoverJournal() {
  if (!journal_ || !journal_->Exists()) return;
  if (!FilesWritable(*data_, *index_, blob_.get())) Fail(CAIRN_OSEACCES);
  journal_->set_force_flush(Session().Settings().force_buffer_flush);
  if (!journal_->RecoverIfLeft()) return;
  DiscardBuffers();
}

void TDataTable::WriteUnlock() {
  if (!write_locked_ || in_transaction_) return;
  if (journal_) journal_->LockReleased();
  write_locked_ = false;
  if (exclusive_) return;
  bool ok = true;
  if (blob_) ok = blob_->UnlockAreaWrite() && ok;
  ok = index_->UnlockAreaWrite() && ok;
  ok = data_->UnlockTableWrite() && ok;
  if (!ok) Fail(CAIRN_LOCKTIMEOUT);
}

// A waiting record lock keeps nobody off the table: every read lock this
// table holds (its own or the one the caller's operation took) goes for
// the wait and comes back, with change detection, before the next try.
// Under the write lock there is no waiting: the lock's holder may need the
// write lock to post and let go, and every other process would be kept off
// the table meanwhile; so callers take record locks before the write lock,
// and one wanted during a change is refused at the first try.
bool TDataTable::LockRecord(uint32_t slot) {
  if (slot == 0) Fail(CAIRN_RECLOCKFAILED);
  if (write_locked_) {
    if (!data_->LockRecord(slot)) {
      ++record_lock_refusals_;
      Fail(CAIRN_RECLOCKFAILED);
    }
    file_locks_.Set(slot);
    return false;
  }
  const TSessionSettings& settings = Session().Settings();
  const bool normal = !settings.strict_change_detection;
  const bool callers_read_lock = read_locked_;
  const bool for_operation = read_lock_for_operation_;
  bool changed = false;
  if (normal) changed = ReadLock();
  const bool reading = read_locked_;
  unsigned refusals = 0;
  while (!data_->LockRecord(slot)) {
    ++record_lock_refusals_;
    if (reading) ReadUnlock();
    if (++refusals > settings.lock_retry_count) Fail(CAIRN_RECLOCKFAILED);
    Session().WaitForRecordLock(refusals);
    if (reading) {
      changed = ReadLock() || changed;
      read_lock_for_operation_ = for_operation;
    }
  }
  file_locks_.Set(slot);
  if (reading && !callers_read_lock) ReadUnlock();
  return changed;
}

void TDataTable::UnlockRecord(uint32_t slot) {
  if (!file_locks_.Test(slot)) Fail(CAIRN_UNLOCKFAILED);
  file_locks_.Clear(slot);
  cursor_locks_.Clear(slot);
  if (!data_->UnlockRecord(slot)) Fail(CAIRN_UNLOCKFAILED);
}

void TDataTable::UnlockAllRecords() {
  // One call covers every slot's byte; nothing held is not a failure here.
  if (!file_locks_.Empty()) data_->UnlockAllRecords();
  file_locks_.ClearAll();
  cursor_locks_.ClearAll();
}

// ---------------------------------------------------------------- changes

bool TDataTable::DetectChanges() {
  // Taken with the lock just now: every change of ours goes through the
  // journal and moves its stamp.
  const TJournalStamp stamp = journal_ ? journal_->LastStamp() : TJournalStamp{};
  if (stamp.known && stamp == clean_stamp_) return false;
  clean_stamp_ = {};
  bool changed = false;
  if (index_->ReReadHeader()) {
    changed = true;
    data_->ReadHeader();
    data_->DiscardRecords();
  } else if (data_->HeaderChangedOnDisk()) {
    changed = true;
    data_->DiscardRecords();
  }
  if (blob_ && blob_->HeaderChangedOnDisk()) changed = true;
  if (changed) ForgetKnownBytes();
  clean_stamp_ = stamp;
  return changed;
}

bool TDataTable::ChangedBeforeDiskRead() {
  if (Session().Settings().strict_change_detection) return false;
  if (exclusive_ || read_locked_ || write_locked_) return false;
  const bool changed = ReadLock();
  read_lock_for_operation_ = true;
  return changed;
}

bool TDataTable::ReadLockForOperation() {
  if (exclusive_ || read_locked_ || write_locked_) return false;
  const bool changed = ReadLock();
  read_lock_for_operation_ = read_locked_;
  return changed;
}

void TDataTable::EndOperation() {
  if (read_lock_for_operation_ && read_locked_) ReadUnlock();
  read_lock_for_operation_ = false;
}

TChangeMarks TDataTable::Marks() const {
  TChangeMarks marks;
  marks.data = data_->Header().ChangeCounter();
  marks.index = static_cast<int32_t>(index_->change_counter());
  marks.blob = blob_ ? blob_->ChangeCounter() : 0;
  return marks;
}

void TDataTable::Flush(bool force_os) {
  if (read_only_) return;
  const bool os = force_os || Session().Settings().force_buffer_flush;
  // The writes wait until the journal holds all of them: one journal write
  // (and sync, when the files go to disk) per flush, then one per file.
  const std::array<TFileHandler*, 3> files{data_.get(), index_.get(), blob_.get()};
  const bool hold = journal_ != nullptr;
  if (hold) {
    for (TFileHandler* file : files)
      if (file) file->HoldWrites();
  }
  try {
    data_->FlushBuffers(os && !hold);
    bool wrote_index = index_->Flush();
    wrote_index = index_->WriteHeader() || wrote_index;
    if (wrote_index && os && !hold) index_->TFileHandler::Flush();
    if (blob_) blob_->FlushAll(os && !hold);
    if (hold) {
      // Every table write of the flush is held: the journal can list them
      // all, and its commit point needs no sync of its own.
      if (os) journal_->Seal();
      for (TFileHandler* file : files)
        if (file) file->ReleaseWrites();
      if (os) TFileHandler::FlushTogether(files);
    }
  } catch (...) {
    for (TFileHandler* file : files)
      if (file) file->DropHeldWrites();
    throw;
  }
  // Every file is written (and on disk when flushes are forced): the
  // journal of this flush can go.
  if (journal_) {
    const bool journaled = journal_->Active();
    journal_->Commit();
    // Still under our write lock: what the next lock-taker finds is ours.
    if (journaled) clean_stamp_ = journal_->CommittedStamp();
  }
  data_->TrimCache();
  index_->TrimCache();
  if (blob_) blob_->TrimBlockCache();
}

void TDataTable::ForgetKnownBytes() {
  data_->ForgetKnownBytes();
  index_->ForgetKnownBytes();
  if (blob_) blob_->ForgetKnownBytes();
}

void TDataTable::DiscardBuffers() {
  clean_stamp_ = {};
  ForgetKnownBytes();
  data_->DiscardRecords();
  data_->ReadHeader();
  index_->DiscardPages();
  index_->ReReadHeader(true);
  if (blob_) {
    blob_->DiscardBlocks();
    blob_->HeaderChangedOnDisk(true);
  }
}

void TDataTable::BeginChange() {
  if (!in_transaction_ && !read_only_ && directory_.InTransaction()) {
    in_transaction_ = true;
    directory_.Enlist(*this);
  }
  if (in_change_ || read_only_) return;
  data_->BeginUndo();
  index_->BeginUndo();
  if (blob_) blob_->BeginUndo();
  in_change_ = true;
}

void TDataTable::CommitChange() {
  if (in_transaction_) {
    data_->MarkHeaderModified();
    return;
  }
  Flush();
  in_change_ = false;
  data_->EndUndo();
  index_->EndUndo();
  if (blob_) blob_->EndUndo();
}

void TDataTable::RollBackChange() {
  if (in_transaction_) {
    // The caches held the whole transaction's changes of this table.
    directory_.Rollback();
    return;
  }
  std::exception_ptr failure;
  if (in_change_) {
    in_change_ = false;
    if (journal_) journal_->Release();
    for (TFileHandler* file : {static_cast<TFileHandler*>(data_.get()),
                               static_cast<TFileHandler*>(index_.get()),
                               static_cast<TFileHandler*>(blob_.get())}) {
      if (file == nullptr) continue;
      try {
        file->RollBackUndo();
      } catch (...) {
        if (!failure) failure = std::current_exception();
      }
    }
    // Restored in place: the journal is no longer needed. When restoring
    // failed, it stays for the next writer (this one included) to play back.
    if (journal_ && failure) {
      journal_->Abandon();
    } else if (journal_) {
      journal_->Commit();
    }
  }
  DiscardBuffers();
  if (failure) std::rethrow_exception(failure);
}

void TDataTable::PrepareCommit(const std::string& super_journal) {
  if (!in_transaction_) return;
  if (journal_) journal_->JoinSuper(super_journal);
  Flush();
}

void TDataTable::FinishCommit() {
  if (!in_transaction_) return;
  in_transaction_ = false;
  in_change_ = false;
  data_->EndUndo();
  index_->EndUndo();
  if (blob_) blob_->EndUndo();
  if (journal_) {
    journal_->Release();
    try {
      journal_->Commit();
    } catch (...) {
      // Committed already: a journal left here names a super-journal that is
      // gone, so it is deleted, not played back.
      journal_->Abandon();
    }
  }
  WriteUnlock();
}

void TDataTable::EndTransaction(bool commit) {
  if (!in_transaction_) return;
  in_transaction_ = false;
  try {
    if (commit) {
      try {
        CommitChange();
      } catch (...) {
        RollBackChange();
        throw;
      }
    } else {
      RollBackChange();
    }
  } catch (...) {
    try {
      WriteUnlock();
    } catch (...) {
    }
    throw;
  }
  WriteUnlock();
}

}  // namespace cairn
