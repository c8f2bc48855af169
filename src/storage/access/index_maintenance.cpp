#include "storage/access/index_maintenance.h"

#include <array>
#include <cstring>

#include "storage/base/engine_error.h"
#include "storage/access/index_tree.h"

namespace cairn {

std::vector<int> TIndexMaintainer::RegularIndexes() const {
  std::vector<int> out;
  if (!file_.no_primary_key() && file_.Shape(0).key_length > 0) out.push_back(0);
  for (int i = 1; i <= file_.secondary_count(); ++i) out.push_back(i);
  return out;
}

std::vector<uint8_t> TIndexMaintainer::KeyOf(int index, std::span<const uint8_t> record) const {
  std::vector<uint8_t> key(size_t(file_.Shape(index).key_length));
  file_.Layout(index).BuildKey(record, key);
  return key;
}

void TIndexMaintainer::RaiseKeyViolation(int index) const {
  RaiseEngineError(CAIRN_KEYVIOL, index == 0 ? std::string() : file_.Descriptor(index).name,
                   file_.table_name());
}

void TIndexMaintainer::InsertRecord(std::span<const uint8_t> record, int32_t slot,
                                    std::span<const uint8_t> reused) {
  const std::vector<int> indexes = RegularIndexes();
  std::vector<std::vector<uint8_t>> keys;
  keys.reserve(indexes.size());
  for (int i : indexes) keys.push_back(KeyOf(i, record));
  std::array<TPendingKeys*, kIndexCount> waits{};
  std::array<uint64_t, kIndexCount> hashes{};
  for (size_t n = 0; n < indexes.size(); ++n) {
    waits[n] = file_.DeferInsert(indexes[n]);
    if (waits[n]) hashes[n] = waits[n]->HashOf(keys[n].data());
  }
  for (size_t n = 0; n < indexes.size(); ++n) {
    if (!file_.Shape(indexes[n]).unique) continue;
    TPendingKeys* wait = waits[n];
    // A key the filter never saw is neither waiting nor in the tree.
    const bool taken =
        wait ? wait->MayHold(hashes[n]) && (wait->Waiting(keys[n].data(), hashes[n]) ||
                                            TIndexTree(file_, indexes[n]).FindInTree(keys[n]))
             : TIndexTree(file_, indexes[n]).Find(keys[n]).has_value();
    if (taken) RaiseKeyViolation(indexes[n]);
  }
  for (size_t n = 0; n < indexes.size(); ++n) {
    if (!waits[n]) {
      TIndexTree(file_, indexes[n]).Insert(keys[n], slot);
      continue;
    }
    waits[n]->Add(keys[n].data(), hashes[n], slot);
    if (waits[n]->bytes() >= file_.PendingLimit()) TIndexTree(file_, indexes[n]).Settle();
  }
  TIndexTree status(file_, kStatusIndex);
  uint8_t active[kStatusKeyLength];
  MakeStatusKey(0, int32_t(le::U32(record.data() + 5)), active);
  if (!reused.empty()) {
    uint8_t old[kStatusKeyLength];
    BuildStatusKey(reused, old);
    status.Replace(old, active, slot);
  } else {
    status.Insert(active, slot);
  }
  file_.IncrementActiveCount();
}

void TIndexMaintainer::ChangeRecord(std::span<const uint8_t> old_record,
                                    std::span<const uint8_t> new_record, int32_t slot) {
  struct TChange {
    int index;
    std::vector<uint8_t> old_key, new_key;
  };
  std::vector<TChange> changes;
  for (int i : RegularIndexes()) {
    TChange c{i, KeyOf(i, old_record), KeyOf(i, new_record)};
    if (c.old_key != c.new_key) changes.push_back(std::move(c));
  }
  for (const TChange& c : changes) {
    if (!file_.Shape(c.index).unique) continue;
    // A key equal to the record's own old key (a collation that ignores the
    // difference) is not a duplicate of another record.
    const auto found = TIndexTree(file_, c.index).Find(c.new_key);
    if (found && *found != slot) RaiseKeyViolation(c.index);
  }
  for (const TChange& c : changes) TIndexTree(file_, c.index).Replace(c.old_key, c.new_key, slot);
  // The record ID is data too: keep the status key in step when it moves.
  if (le::U32(old_record.data() + 5) != le::U32(new_record.data() + 5)) {
    uint8_t old_key[kStatusKeyLength], new_key[kStatusKeyLength];
    MakeStatusKey(0, int32_t(le::U32(old_record.data() + 5)), old_key);
    MakeStatusKey(0, int32_t(le::U32(new_record.data() + 5)), new_key);
    TIndexTree(file_, kStatusIndex).Replace(old_key, new_key, slot);
  }
}

void TIndexMaintainer::DeleteRecord(std::span<const uint8_t> record, int32_t slot) {
  for (int i : RegularIndexes()) TIndexTree(file_, i).Delete(KeyOf(i, record));
  const int32_t id = int32_t(le::U32(record.data() + 5));
  uint8_t active[kStatusKeyLength], deleted[kStatusKeyLength];
  MakeStatusKey(0, id, active);
  MakeStatusKey(1, id, deleted);
  TIndexTree(file_, kStatusIndex).Replace(active, deleted, slot);
  file_.DecrementActiveCount();
}

}  // namespace cairn
