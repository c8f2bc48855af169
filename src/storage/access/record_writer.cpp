#include "storage/access/record_writer.h"

#include <algorithm>

#include "storage/access/index_maintenance.h"
#include "storage/base/engine_error.h"
#include "storage/files/data_endian.h"
#include "storage/files/field_codec.h"

namespace cairn {

namespace {

// A pinned record that can be given back before the scope ends (a flush
// writes only unpinned records).
class TPin {
 public:
  TPin(TDataFile& file, TRecord* record) : file_(file), record_(record) {}
  ~TPin() { Release(); }
  TPin(const TPin&) = delete;
  TPin& operator=(const TPin&) = delete;
  void Release() {
    if (record_) file_.ReleaseRecord(record_);
    record_ = nullptr;
  }
  TRecord* operator->() const { return record_; }
  TRecord& operator*() const { return *record_; }
  explicit operator bool() const { return record_ != nullptr; }

 private:
  TDataFile& file_;
  TRecord* record_;
};

}  // namespace

void TRecordWriter::Fail(uint16_t code) const { RaiseEngineError(code, table_.Name()); }

template <typename Work>
auto TRecordWriter::AsOneChange(Work&& work) -> decltype(work()) {
  table_.BeginChange();
  try {
    if constexpr (std::is_void_v<decltype(work())>) {
      work();
      table_.CommitChange();
    } else {
      auto result = work();
      table_.CommitChange();
      return result;
    }
  } catch (...) {
    try {
      table_.RollBackChange();
    } catch (...) {
      // The first failure is the one to report.
    }
    throw;
  }
}

void TRecordWriter::CheckRecord(std::span<const uint8_t> record) const {
  TDataFile& data = table_.Data();
  if (record.size() != data.RecordSize()) Fail(CAIRN_FILECORRUPT);
  for (const TFieldDescriptor& field : data.Fields()) {
    if (field.Required() && !field.IsAutoInc() && !field.IsBlob() && !GetField(field, record))
      RaiseEngineError(CAIRN_REQDERR, {field.Name(), table_.Name()});
  }
}

std::vector<uint8_t> TRecordWriter::Stored(uint32_t slot) {
  TDataFile& data = table_.Data();
  if (slot == 0 || slot >= data.NextRecordNumber()) Fail(CAIRN_INDEXCORRUPT);
  TPinnedRecord stored(data, data.GetRecord(slot));
  if (!stored) Fail(CAIRN_FILECORRUPT);
  return std::vector<uint8_t>(stored->Image().begin(), stored->Image().end());
}

void TRecordWriter::WriteBlobs(TRecord& record, std::span<const uint8_t> old_image,
                               const TBlobValues& blobs) {
  TDataFile& data = table_.Data();
  auto image = record.Image();
  for (const TFieldDescriptor& field : data.Fields()) {
    if (!field.IsBlob()) continue;
    auto it = blobs.find(field.FieldNumber());
    if (it == blobs.end()) continue;
    if (table_.Blob() == nullptr) Fail(CAIRN_MEMOCORRUPT);
    int32_t old_first = 0, old_stamp = 0;
    if (!old_image.empty()) {
      if (auto first = GetField(field, old_image)) old_first = le::I32(first->data());
      old_stamp = GetBlobRevision(field, old_image).value_or(0);
    }
    TBlobBuffer buffer(field.FieldNumber(), record.Slot(), uint32_t(std::max(old_first, 0)),
                       old_stamp, TBlobOpenMode::kReadWrite);
    buffer.SetContents(it->second);
    table_.Blob()->WriteBlobValue(buffer, data.NextBlobRevision());
    if (!PutBlobReference(field, image, int32_t(buffer.FirstBlock()), buffer.FirstBlock() != 0) ||
        !SetBlobRevision(field, image, buffer.FirstBlock() != 0 ? buffer.Stamp() : 0))
      Fail(CAIRN_FILECORRUPT);
  }
  record.SetModified(true);
}

std::vector<uint8_t> TRecordWriter::Append(std::span<const uint8_t> record,
                                           const TBlobValues& blobs) {
  CheckRecord(record);
  TDataFile& data = table_.Data();
  uint32_t slot = 0;
  bool slot_locked = false;
  try {
    std::vector<uint8_t> written = AsOneChange([&] {
      const bool has_primary_key = table_.HasPrimaryKey();
      // A reused slot's deleted status entry is replaced, not added to.
      std::vector<uint8_t> reused;
      const bool reusing = has_primary_key && data.FirstDeleted() != 0;
      if (reusing) reused = Stored(data.FirstDeleted());
      TPin target(data, data.AllocateSlot(has_primary_key));
      if (!target) Fail(CAIRN_FILECORRUPT);
      slot = target->Slot();
      // A reused slot may be held by an editor with a stale view. A slot past
      // the end has never been seen by anyone, and under the write lock nobody
      // can look until it is unlocked again: its lock would be two system
      // calls that can neither fail nor be observed.
      if (reusing) {
        table_.LockRecord(slot);
        slot_locked = true;
      }
      target->CopyFieldData(record);
      auto image = target->Image();
      for (const TFieldDescriptor& field : data.Fields()) {
        if (!field.IsBlob()) continue;
        PutFieldNull(field, image, true);
        SetBlobRevision(field, image, 0);
      }
      WriteBlobs(*target, {}, blobs);
      // The keys are those of the record as stored, with its new record ID.
      TIndexMaintainer(table_.Index()).InsertRecord(image, int32_t(slot), reused);
      target->SetModified(true);
      std::vector<uint8_t> stored(image.begin(), image.end());
      target.Release();
      return stored;
    });
    if (slot_locked) {
      slot_locked = false;
      table_.UnlockRecord(slot);
    }
    return written;
  } catch (...) {
    if (slot_locked) {
      try {
        table_.UnlockRecord(slot);
      } catch (...) {
      }
    }
    throw;
  }
}

std::vector<uint8_t> TRecordWriter::Modify(uint32_t slot, std::span<const uint8_t> old_image,
                                           std::span<const uint8_t> record,
                                           const TBlobValues& blobs) {
  CheckRecord(record);
  TDataFile& data = table_.Data();
  return AsOneChange([&] {
    TPin stored(data, data.GetRecord(slot));
    if (!stored) Fail(CAIRN_FILECORRUPT);
    // The caller's fields over the stored header, with the stored blob
    // references (blobs change only through `blobs`).
    std::vector<uint8_t> image(old_image.begin(), old_image.end());
    std::copy(record.begin() + kRecordHeaderSize, record.end(), image.begin() + kRecordHeaderSize);
    for (const TFieldDescriptor& field : data.Fields()) {
      if (!field.IsBlob()) continue;
      const size_t at = field.Offset();
      std::copy(old_image.begin() + at, old_image.begin() + at + 1 + field.StorageSize(),
                image.begin() + at);
    }
    stored->CopyFieldData(std::span<const uint8_t>(image));
    WriteBlobs(*stored, old_image, blobs);
    std::vector<uint8_t> written(stored->Image().begin(), stored->Image().end());
    TIndexMaintainer(table_.Index()).ChangeRecord(old_image, written, int32_t(slot));
    stored->SetModified(true);
    stored.Release();
    return written;
  });
}

void TRecordWriter::Delete(uint32_t slot, std::span<const uint8_t> old_image) {
  TDataFile& data = table_.Data();
  AsOneChange([&] {
    TPin stored(data, data.GetRecord(slot));
    if (!stored) Fail(CAIRN_FILECORRUPT);
    TIndexMaintainer(table_.Index()).DeleteRecord(old_image, int32_t(slot));
    // The blob chains of a deleted record would otherwise never be reused.
    if (TBlobFile* blob = table_.Blob()) {
      for (const TFieldDescriptor& field : data.Fields()) {
        if (!field.IsBlob()) continue;
        auto first = GetField(field, old_image);
        if (!first) continue;
        const int32_t first_block = le::I32(first->data());
        if (first_block > 0)
          blob->FreeBlobChain(uint32_t(first_block), GetBlobRevision(field, old_image).value_or(0),
                              true);
      }
    }
    data.DeleteSlot(*stored, table_.HasPrimaryKey());
    stored->SetModified(true);
    stored.Release();
  });
}

}  // namespace cairn
