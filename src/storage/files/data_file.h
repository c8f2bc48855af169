// TDataFile: the ".DAT" file of an open table: the 127-byte header, the
// field descriptors (768 bytes each, at offset 127) and the fixed-length
// record slots after them, with the record cache.
//
// Geometry: slot n (n >= 1) starts at 127 + 768 * F + R * (n - 1).
// Open() reads and sanity-checks header and descriptors (signature,
// field count); Check() makes the full check of every descriptor, the
// record size and the file length, and must run before records are read.
// Nothing reaches the file except through WriteHeader, WriteDescriptors,
// FlushRecords / FlushBuffers and EmptyTable, all of which the table layer
// calls with the table's write lock held. Errors carry the table name.
//
// Records handed out by GetRecord / AllocateSlot are pinned: the caller
// must ReleaseRecord them (TPinnedRecord does that on scope exit).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "storage/files/data_header.h"
#include "storage/files/field_codec.h"
#include "storage/files/field_descriptor.h"
#include "storage/files/file_handler.h"
#include "storage/files/record.h"
#include "storage/files/record_cache.h"
#include "storage/files/sort_request.h"

namespace cairn {

inline constexpr uint16_t kMaxFieldCount = 1024;
inline constexpr uint16_t kMaxBlobFields = 128;
inline constexpr uint32_t kMaxSlotCount = 200000000;
inline constexpr uint64_t kMaxDataFileBytes = 4000000000ULL;

// Questions the record cache must put to the table layer.
struct TDataFileHooks {
  // True while the table's write lock is held; eviction then grows the cache
  // instead of writing. Absent: false.
  std::function<bool()> write_lock_held;
  // Asked before a record is read from disk (unless the session uses strict
  // change detection, where the answer should be false): true when another
  // process changed the table; the lookup then returns no record and the
  // caller restarts its operation. Absent: false.
  std::function<bool()> table_changed_on_disk;
  // Told when a flush wrote records (the table is marked as changed).
  std::function<void()> records_written;
};

// What a new table is made of; see TDataFile::CreateHeader.
struct TDataCreateParams {
  uint16_t language_id = 0;
  uint16_t sort_id = 0;
  // Each carrying name, type, subtype, sizes, flags and value texts; numbers
  // and offsets are (re)assigned by LayoutFields.
  std::vector<TFieldDescriptor> fields;
  uint32_t blob_block_size = 0;  // 0: the default, 512
  std::string description;
  std::string password;
  bool encrypted = false;
  uint16_t user_minor_version = 0;
  uint16_t user_major_version = 1;
};

class TDataFile : public TFileHandler, private TRecordCacheHost {
 public:
  // `table_name` fills the engine messages; the path is set with
  // set_file_name before Open / CreateHeader.
  explicit TDataFile(std::string table_name = {});
  ~TDataFile() override;

  const std::string& table_name() const { return table_name_; }
  void SetHooks(TDataFileHooks hooks) { hooks_ = std::move(hooks); }
  // The table's locale, which upper- and lower-cases string values; nullptr
  // while closed, or when the locale is not installed (Check refuses such a
  // table before any record is written).
  const TTableLocale* TableLocale() const { return locale_.get(); }

  // --- Header and descriptors --------------------------------------------
  // Builds header and descriptors, creates the file (exclusively) and
  // writes both with change counter 0. CAIRN_BLOBLIMIT for a 129th blob
  // field, CAIRN_RECTOOBIG for a record above 65535 bytes, CAIRN_FLDLIMIT
  // for more than 1024 fields.
  void CreateHeader(const TDataCreateParams& params);
  // Opens the file, reads header and descriptors, checks signature
  // (CAIRN_OLDVERSION) and field count (CAIRN_HEADERCORRUPT), sizes the
  // cache. A failed open leaves the file closed.
  void Open() override;
  void Close() override;
  // The full check: locale (CAIRN_CANNOTLOADLDDRV), every descriptor,
  // record size and file length against the counters (CAIRN_HEADERCORRUPT).
  void Check();
  // Re-reads the header and adopts it as a whole (see HeaderChangedOnDisk),
  // whether or not its change counter moved.
  void ReadHeader();
  // Re-reads the header; when its change counter differs, adopts it and
  // returns true (the caller then discards the cached records). Adopting
  // is all or nothing: the new header must pass the open checks, its
  // descriptors are read and checked and its counters must fit the file
  // length; a table whose layout changed (record size, fields, encryption,
  // locale) is refused, since every cached image and key was built for the
  // old one. A refusal raises (CAIRN_OLDVERSION, CAIRN_HEADERCORRUPT) and
  // leaves header, descriptors and cache as they were.
  bool HeaderChangedOnDisk();
  // When forced or modified: advances the change counter, stamps the time
  // and writer version, writes the 127 bytes. Returns whether it wrote.
  bool WriteHeader(bool force = false);
  // Advances the change counter in memory and sets the modified flag.
  void MarkHeaderModified();
  void ReadDescriptors();
  // Writes the descriptors when they changed (or when forced).
  bool WriteDescriptors(bool force = false);
  bool DescriptorsChanged() const { return descriptors_changed_; }

  // 1-based; CAIRN_OUTOFRANGE for a number outside 1..F.
  const TFieldDescriptor& Field(uint16_t number) const;
  std::span<const TFieldDescriptor> Fields() const { return fields_; }
  // A copy of the named field's descriptor (names compared without regard
  // to case); field number 0 when there is none.
  TFieldDescriptor FieldByName(std::string_view name) const;
  // Replaces number, name, subtype, required flag, description and the three
  // value texts of field `number` from `props`; the layout stays.
  void AlterFieldProperties(uint16_t number, const TFieldDescriptor& props);
  void AlterTableProperties(std::string_view password, std::string_view description,
                            uint16_t user_major_version, uint16_t user_minor_version,
                            int32_t last_auto_inc);
  // Advance the counter at offset 17 / 112 (2147483647 is followed by 1).
  int32_t NextAutoIncValue();
  int32_t NextBlobRevision();
  void SetLastAutoIncValue(int32_t value);
  std::string Description() const;
  // Empty when the table is not encrypted.
  std::string Password() const;
  // Truncates to header and descriptors, drops every cached record, resets
  // chain head, next record number and last auto-increment value.
  void EmptyTable(bool force_os_flush = false);

  const TDataHeader& Header() const { return header_; }
  uint16_t RecordSize() const { return header_.RecordSize(); }
  uint16_t FieldCount() const { return header_.FieldCount(); }
  uint16_t BlobFieldCount() const { return header_.BlobFieldCount(); }
  bool Encrypted() const { return header_.Encrypted(); }
  uint16_t LanguageId() const { return header_.LanguageId(); }
  uint16_t SortId() const { return header_.SortId(); }
  uint16_t UserMajorVersion() const { return header_.UserMajorVersion(); }
  uint16_t UserMinorVersion() const { return header_.UserMinorVersion(); }
  int32_t LastAutoIncValue() const { return header_.LastAutoInc(); }
  uint32_t RecordCount() const {
    return header_.NextRecordNumber() == 0 ? 0 : header_.NextRecordNumber() - 1;
  }
  uint32_t NextRecordNumber() const override { return header_.NextRecordNumber(); }
  uint32_t FirstDeleted() const { return header_.FirstDeleted(); }
  uint16_t BlobBlockSize() const { return header_.BlobBlockSize(); }
  uint64_t SlotAreaOffset() const override;
  uint64_t SlotOffset(uint32_t slot) const;

  // --- Records -----------------------------------------------------------
  // The record of `slot`. Returns nullptr when the table changed on disk
  // before a read (see TDataFileHooks). CAIRN_FILECORRUPT for slot 0 or a
  // slot at or past the next record number: reads never append.
  TRecord* GetRecord(uint32_t slot, bool pin = true, bool read_ahead = false,
                     TReadDirection direction = TReadDirection::kForward,
                     uint32_t read_ahead_count = 0);
  TRecord* ReadSlot(uint32_t slot) { return GetRecord(slot, true); }
  void ReleaseRecord(TRecord* record) {
    if (record) record->Unpin();
  }
  // Takes a slot for a new record: the head of the deleted-record chain when
  // the table has a primary key, else a new slot at the end
  // (CAIRN_TABLEFULL past 200000000 slots or 4000000000 bytes). The image is
  // cleared, active, carries its slot number and a record ID: `own_id` when
  // given (the last auto-increment value is raised to it), else the next
  // auto-increment value. Pinned and modified; nullptr as for GetRecord.
  TRecord* AllocateSlot(bool has_primary_key, std::optional<int32_t> own_id = std::nullopt);
  // Marks the record deleted and links it into the chain.
  void DeleteSlot(TRecord& record, bool has_primary_key);
  // Clears the image, optionally takes the next auto-increment value as its
  // record ID, and stores `slot` at offset 1.
  void NewRecordImage(TRecord& record, bool take_id, uint32_t slot);

  // Field access with the table's case mapping; CAIRN_FILECORRUPT when a
  // descriptor points outside the record. Computed columns are written only
  // when `force` is set.
  void PutField(uint16_t field, TRecord& record, std::span<const uint8_t> value,
                bool force = false);
  void PutFieldNull(uint16_t field, TRecord& record, bool force = false);
  void PutString(uint16_t field, TRecord& record, std::string_view text);
  std::optional<std::span<const uint8_t>> GetField(uint16_t field, const TRecord& record) const;
  std::optional<std::string> GetString(uint16_t field, const TRecord& record) const;

  bool FlushRecords() { return cache_.Flush(); }
  void DiscardRecords() { cache_.Discard(); }
  void TrimCache() { cache_.Trim(); }
  // The data file's part of a table flush: records, then the header when
  // modified, then the descriptors when changed; then fdatasync when
  // anything was written and `force_os_flush`. A read-only file is never
  // written. Returns whether anything was written.
  bool FlushBuffers(bool force_os_flush = false);
  TRecordCache& Cache() { return cache_; }

  // --- Sorting (sort_file.cpp) -------------------------------------------
  // Rewrites the active records from slot 1 on in the request's order,
  // renumbered 1, 2, 3 ... (slot number and record ID): in memory when
  // every slot is cached, else by an external merge through run files that
  // are gone on every exit. Fewer rows than slots truncate the file; the
  // header (next record number) is marked modified for the caller's flush.
  // Returns the number of rows written.
  uint32_t SortRecords(const TSortRequest& request);
  // min(8192, 1048576 div R) records: the external sort's chunk.
  uint32_t SortChunkCapacity() const;

 private:
  [[noreturn]] void Fail(uint16_t code) const;
  void ConfigureCache();
  TDataHeader ReadHeaderBytes();
  // The open checks of a header just read: signature, field count, record size.
  void CheckHeaderBasics(const TDataHeader& header) const;
  std::vector<TFieldDescriptor> ReadDescriptorArea(const TDataHeader& header);
  // Every descriptor against `header`; refreshes storage sizes and scale copies.
  void CheckDescriptors(const TDataHeader& header, std::vector<TFieldDescriptor>& fields) const;
  void CheckFileLength(const TDataHeader& header, uint64_t length) const;
  void Adopt(const TDataHeader& fresh);
  void StoreHeaderStrings(std::string_view password, std::string_view description);
  std::string HeaderString(std::span<const uint8_t> chars) const;
  uint64_t DescriptorAreaSize() const { return 768ull * header_.FieldCount(); }

  // TRecordCacheHost
  size_t ReadSlots(uint64_t offset, std::span<uint8_t> buffer) override;
  void WriteSlots(uint64_t offset, std::span<const uint8_t> buffer) override;
  void ScrambleSlot(std::span<uint8_t> image) override;
  bool WriteLockHeld() override;
  bool TableChangedOnDisk() override;
  [[noreturn]] void RaiseCorrupt() override;
  void RecordsWritten() override;

  std::string table_name_;
  TDataHeader header_;
  std::vector<TFieldDescriptor> fields_;
  bool descriptors_changed_ = false;
  TDataFileHooks hooks_;
  std::shared_ptr<const TTableLocale> locale_;
  TRecordCache cache_;
};

// Releases a pinned record on scope exit.
class TPinnedRecord {
 public:
  TPinnedRecord(TDataFile& file, TRecord* record) : file_(&file), record_(record) {}
  ~TPinnedRecord() { file_->ReleaseRecord(record_); }
  TPinnedRecord(const TPinnedRecord&) = delete;
  TPinnedRecord& operator=(const TPinnedRecord&) = delete;
  TRecord* get() const { return record_; }
  TRecord* operator->() const { return record_; }
  explicit operator bool() const { return record_ != nullptr; }

 private:
  TDataFile* file_;
  TRecord* record_;
};

}  // namespace cairn
