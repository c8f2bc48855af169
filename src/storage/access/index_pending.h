// TPendingKeys: the keys an index's inserts leave waiting during a change
// that writes its pages out as it goes (a transaction). Merged into the tree
// in key order, each leaf is read and written once per merge rather than
// once per key, keys arriving in random order. A filter (bits set by hashes
// of every key in the tree or waiting: no false negatives) lets a unique
// index's duplicate check skip the leaf read for nearly every new key. Only
// for indexes whose keys are equal exactly when their bytes are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace cairn {

class TPendingKeys {
 public:
  // A filter sized for `filter_keys` keys (about 2% false hits up to there);
  // 0: none, every key may be held.
  TPendingKeys(int key_length, size_t filter_keys);

  int key_length() const { return key_length_; }
  bool empty() const { return slots_.empty(); }
  size_t size() const { return slots_.size(); }
  // Memory the waiting entries take.
  size_t bytes() const {
    return keys_.size() + slots_.size() * (sizeof(int32_t) + sizeof(uint64_t));
  }

  // The filter: every key noted (in the tree or waiting) may be held; a key
  // never noted almost always is not.
  void NoteKey(const uint8_t* key);
  // A key's hash, taken once for the calls below (0 without a filter).
  uint64_t HashOf(const uint8_t* key) const;
  bool MayHold(uint64_t hash) const;
  size_t filter_capacity() const { return filter_keys_; }
  size_t filter_count() const { return noted_; }

  // Room for the waiting entries of `bytes` (see bytes()), taken at once:
  // growing by doubling would take up to twice that.
  void Reserve(size_t bytes);
  // A key waits for the tree (and is noted).
  void Add(const uint8_t* key, uint64_t hash, int32_t slot);
  // True when a waiting key has these bytes.
  bool Waiting(const uint8_t* key, uint64_t hash) const;
  const uint8_t* Key(size_t i) const { return keys_.data() + i * size_t(key_length_); }
  int32_t Slot(size_t i) const { return slots_[i]; }
  // Keeps only the waiting entries named in `keep` (in that order).
  void Keep(const std::vector<uint32_t>& keep);
  void ClearWaiting();

  // Set while the waiting keys go into the tree.
  bool settling = false;

 private:
  uint64_t Hash(const uint8_t* key) const;
  void NoteHash(uint64_t h);

  int key_length_;
  size_t filter_keys_;
  size_t noted_ = 0;
  std::vector<uint64_t> bits_;
  uint64_t bit_count_ = 0;
  std::vector<uint8_t> keys_;
  std::vector<int32_t> slots_;
  std::vector<uint64_t> hashes_;
};

}  // namespace cairn
