// TRecordWriter: every change of the records of one open table: append,
// modify and delete. Each call is one change of the table (see
// TDataTable::BeginChange): the record, its blob values (with fresh revision
// stamps) and, through TIndexMaintainer, every index and the record-status
// index change together and are flushed at the end; a failure anywhere rolls
// the three files, their headers and the caches back to what they were and
// passes the error on.
//
// The caller holds the table's write lock and decides whether the change is
// allowed (record locks, images compared for the lock protocol); the writer
// checks what the records themselves demand: required fields (10247 is
// CAIRN_REQDERR), unique keys (9729) checked on the record as it will be
// stored, so with its new record ID.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <vector>

#include "storage/access/data_table.h"

namespace cairn {

// New contents of blob fields for append and modify, by field number; an
// empty vector makes the field null. Blob fields not named keep their value
// (modify) or stay null (append).
using TBlobValues = std::map<uint16_t, std::vector<uint8_t>>;

class TRecordWriter {
 public:
  explicit TRecordWriter(TDataTable& table) : table_(table) {}

  // CAIRN_FILECORRUPT for an image of the wrong size, CAIRN_REQDERR for a
  // required field left null (blob and auto-increment fields excepted).
  void CheckRecord(std::span<const uint8_t> record) const;
  // The stored image of `slot`.
  std::vector<uint8_t> Stored(uint32_t slot);

  // Stores `record`'s fields (its header bytes are ignored) in a new slot
  // with a new record ID and `blobs`; returns the stored image.
  std::vector<uint8_t> Append(std::span<const uint8_t> record, const TBlobValues& blobs);
  // Replaces the fields of the record in `slot`, now stored as `old_image`,
  // by those of `record`; blob fields change only through `blobs`. Returns
  // the stored image.
  std::vector<uint8_t> Modify(uint32_t slot, std::span<const uint8_t> old_image,
                              std::span<const uint8_t> record, const TBlobValues& blobs);
  // Deletes the record in `slot`, now stored as `old_image`, and frees its
  // blob values.
  void Delete(uint32_t slot, std::span<const uint8_t> old_image);

 private:
  template <typename Work>
  auto AsOneChange(Work&& work) -> decltype(work());
  void WriteBlobs(TRecord& record, std::span<const uint8_t> old_image, const TBlobValues& blobs);
  [[noreturn]] void Fail(uint16_t code) const;

  TDataTable& table_;
};

}  // namespace cairn
