// Keeping every index of a table in step with one record operation.
//
// Records are given as their stored images (R bytes: status byte, slot, record
// ID, fields). The regular indexes are visited in order 0, 1, ..., n (index 0
// skipped when the table has no primary key). Unique checks come before any
// change: a duplicate raises CAIRN_KEYVIOL (9729) with the index's name and
// leaves every index as it was. Indexes whose key bytes do not change are not
// touched at all. The text index is not maintained here. Inside a
// transaction new keys may wait to go into their trees in key order (see
// TIndexFile::DeferInsert); every reader of the tree merges them first.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "storage/access/index_file.h"

namespace cairn {

class TIndexMaintainer {
 public:
  explicit TIndexMaintainer(TIndexFile& file) : file_(file) {}

  // A new record in `slot`. When the slot is a reused deleted one, `reused`
  // is that slot's previous (deleted) image, whose status key is replaced;
  // otherwise leave it empty and a status key is added. Raises the active
  // record count by one.
  void InsertRecord(std::span<const uint8_t> record, int32_t slot,
                    std::span<const uint8_t> reused = {});
  // A record changes from `old_record` to `new_record` in place.
  void ChangeRecord(std::span<const uint8_t> old_record, std::span<const uint8_t> new_record,
                    int32_t slot);
  // The record leaves every index; its status key becomes the deleted one.
  void DeleteRecord(std::span<const uint8_t> record, int32_t slot);

  // The regular indexes this table maintains, in visiting order.
  std::vector<int> RegularIndexes() const;
  // Builds the key of `record` for regular index `index`.
  std::vector<uint8_t> KeyOf(int index, std::span<const uint8_t> record) const;

 private:
  [[noreturn]] void RaiseKeyViolation(int index) const;
  TIndexFile& file_;
};

}  // namespace cairn
