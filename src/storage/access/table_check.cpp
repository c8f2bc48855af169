#include "storage/access/table_check.h"

#include <algorithm>
#include <array>
#include <string>

#include "storage/base/engine_error.h"
#include "storage/access/index_key.h"
#include "storage/access/index_tree.h"
#include "storage/files/data_endian.h"
#include "storage/files/field_codec.h"

namespace cairn {

namespace {

class TChecker {
 public:
  TChecker(TDataTable& table, TTableCheckResult& result) : table_(table), result_(result) {}

  void Run() {
    TDataFile& data = table_.Data();
    TIndexFile& index = table_.Index();
    const uint32_t slots = data.RecordCount();
    result_.slots = slots;
    std::vector<int> indexes;
    if (table_.HasPrimaryKey()) indexes.push_back(0);
    for (int i = 1; i <= index.secondary_count(); ++i) indexes.push_back(i);
    if (TBlobFile* blob = table_.Blob()) owner_.assign(size_t(blob->NextBlockNumber()), 0);

    std::vector<uint8_t> deleted(size_t(slots) + 1, 0);
    uint32_t deleted_count = 0;
    for (uint32_t slot = 1; slot <= slots; ++slot) {
      std::vector<uint8_t> image;
      {
        TRecord* record = data.GetRecord(slot, true);
        if (record == nullptr) {
          Fault("slot " + std::to_string(slot) + " could not be read");
          continue;
        }
        image.assign(record->Image().begin(), record->Image().end());
        data.ReleaseRecord(record);
      }
      const bool is_deleted = image[0] != 0;
      std::array<uint8_t, kStatusKeyLength> status{};
      BuildStatusKey(image, status);
      ExpectEntry(kStatusIndex, status.data(), slot, "record-status index");
      if (is_deleted) {
        deleted[slot] = 1;
        ++deleted_count;
        continue;
      }
      ++result_.records;
      for (int i : indexes) {
        std::vector<uint8_t> key(size_t(index.Layout(i).key_length()));
        index.Layout(i).BuildKey(image, key);
        ExpectEntry(i, key.data(), slot,
                    i == 0 ? "primary index" : "index '" + index.Descriptor(i).name + "'");
      }
      CheckBlobs(slot, image);
    }

    // Entry counts: with one entry found per record, equal counts mean no extras.
    for (int i : indexes) {
      const uint32_t count = TIndexTree(index, i).Count();
      if (count != result_.records)
        Fault((i == 0 ? std::string("primary index") : "index '" + index.Descriptor(i).name + "'") +
              " has " + std::to_string(count) + " entries for " + std::to_string(result_.records) +
              " active records");
    }
    const uint32_t status_count = TIndexTree(index, kStatusIndex).Count();
    if (status_count != slots)
      Fault("record-status index has " + std::to_string(status_count) + " entries for " +
            std::to_string(slots) + " slots");
    if (uint32_t(index.active_count()) != result_.records)
      Fault("active record count is " + std::to_string(index.active_count()) + " but " +
            std::to_string(result_.records) + " records are active");

    CheckDeletedChain(deleted, deleted_count);
    CheckBlobFreeList();
  }

 private:
  void Fault(std::string text) {
    if (result_.faults.size() < 200) result_.faults.push_back(std::move(text));
  }

  void ExpectEntry(int index_no, const uint8_t* key, uint32_t slot, const std::string& what) {
    TIndexTree tree(table_.Index(), index_no);
    const auto found = tree.Find(std::span<const uint8_t>(key, size_t(tree.key_length())));
    if (!found) {
      Fault(what + " has no entry for slot " + std::to_string(slot));
    } else if (uint32_t(*found) != slot) {
      Fault(what + ": the entry of slot " + std::to_string(slot) + " refers to slot " +
            std::to_string(*found));
    }
  }

  void CheckDeletedChain(const std::vector<uint8_t>& deleted, uint32_t deleted_count) {
    TDataFile& data = table_.Data();
    std::vector<uint8_t> seen(deleted.size(), 0);
    uint32_t length = 0;
    for (uint32_t slot = data.FirstDeleted(); slot != 0;) {
      if (slot >= deleted.size()) {
        Fault("deleted-record chain points past the last slot (" + std::to_string(slot) + ")");
        return;
      }
      if (seen[slot]) {
        Fault("deleted-record chain loops at slot " + std::to_string(slot));
        return;
      }
      seen[slot] = 1;
      ++length;
      if (!deleted[slot]) Fault("deleted-record chain holds active slot " + std::to_string(slot));
      TRecord* record = data.GetRecord(slot, true);
      if (record == nullptr) return;
      const uint32_t next = record->Link();
      data.ReleaseRecord(record);
      slot = next;
    }
    if (table_.HasPrimaryKey() && length != deleted_count)
      Fault("deleted-record chain holds " + std::to_string(length) + " of " +
            std::to_string(deleted_count) + " deleted slots");
  }

  void CheckBlobs(uint32_t slot, const std::vector<uint8_t>& image) {
    TBlobFile* blob = table_.Blob();
    for (const TFieldDescriptor& field : table_.Data().Fields()) {
      if (!field.IsBlob()) continue;
      const auto first = GetField(field, image);
      if (!first) continue;
      const int32_t first_block = le::I32(first->data());
      const int32_t stamp = GetBlobRevision(field, image).value_or(0);
      const std::string where = "slot " + std::to_string(slot) + " field '" + field.Name() + "'";
      if (blob == nullptr) {
        Fault(where + " refers to a blob but the table has no blob file");
        continue;
      }
      if (first_block <= 0 || uint32_t(first_block) > blob->LastBlockNumber()) {
        Fault(where + " refers to block " + std::to_string(first_block) + " outside the file");
        continue;
      }
      uint64_t total = 0, length = 0;
      uint32_t previous = 0;
      for (uint32_t number = uint32_t(first_block); number != 0;) {
        if (number > blob->LastBlockNumber()) {
          Fault(where + ": chain leaves the file at block " + std::to_string(number));
          break;
        }
        if (owner_[number] != 0) {
          Fault(where + ": block " + std::to_string(number) + " is used twice");
          break;
        }
        owner_[number] = 1;
        ++result_.blob_blocks;
        TBlockRef block(*blob, blob->ReadBlock(number, 1));
        if (!block) break;
        if (block->Stamp() != stamp)
          Fault(where + ": block " + std::to_string(number) + " has another stamp");
        if (block->Previous() != previous)
          Fault(where + ": block " + std::to_string(number) + " has a wrong previous link");
        if (previous == 0) total = block->TotalLength();
        length += block->Used();
        previous = number;
        number = block->Next();
      }
      if (length != total)
        Fault(where + ": chain holds " + std::to_string(length) + " bytes of " +
              std::to_string(total));
    }
  }

  void CheckBlobFreeList() {
    TBlobFile* blob = table_.Blob();
    if (blob == nullptr) return;
    for (uint32_t number = blob->FreeListHead(); number != 0;) {
      if (number > blob->LastBlockNumber()) {
        Fault("blob free list leaves the file at block " + std::to_string(number));
        return;
      }
      if (owner_[number] != 0) {
        Fault(owner_[number] == 2 ? "blob free list loops at block " + std::to_string(number)
                                  : "free block " + std::to_string(number) + " is part of a chain");
        return;
      }
      owner_[number] = 2;
      TBlockRef block(*blob, blob->ReadBlock(number, 1));
      if (!block) return;
      number = block->Next();
    }
    uint32_t lost = 0;
    for (uint32_t n = 1; n < owner_.size(); ++n) lost += owner_[n] == 0;
    if (lost != 0)
      Fault(std::to_string(lost) + " blob block(s) belong to no record and are not free");
  }

  TDataTable& table_;
  TTableCheckResult& result_;
  std::vector<uint8_t> owner_;  // per block: 0 unseen, 1 in a chain, 2 free
};

}  // namespace

TTableCheckResult CheckTableFiles(TDataTable& table) {
  TTableCheckResult result;
  table.WriteLock();
  try {
    TChecker(table, result).Run();
  } catch (const ECairnEngineError& error) {
    result.faults.push_back(error.what());
  }
  table.WriteUnlock();
  return result;
}

}  // namespace cairn
