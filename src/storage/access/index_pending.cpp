#include "storage/access/index_pending.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <string_view>

namespace cairn {

namespace {
// Eight bits a key and five probes: about 2% false hits when full.
constexpr int kProbes = 5;
constexpr uint64_t kBitsPerKey = 8;
}  // namespace

TPendingKeys::TPendingKeys(int key_length, size_t filter_keys)
    : key_length_(key_length), filter_keys_(filter_keys) {
  if (filter_keys == 0) return;
  bits_.assign(std::max<uint64_t>(16, uint64_t(filter_keys) * kBitsPerKey / 64), 0);
  bit_count_ = bits_.size() * 64;
}

uint64_t TPendingKeys::Hash(const uint8_t* key) const {
  return std::hash<std::string_view>{}(
      std::string_view(reinterpret_cast<const char*>(key), size_t(key_length_)));
}

void TPendingKeys::NoteKey(const uint8_t* key) {
  if (!bits_.empty()) NoteHash(Hash(key));
}

void TPendingKeys::NoteHash(uint64_t h) {
  const uint64_t step = (h >> 32) | 1;
  for (int i = 0; i < kProbes; ++i) {
    const uint64_t bit = (h + uint64_t(i) * step) % bit_count_;
    bits_[bit / 64] |= uint64_t{1} << (bit % 64);
  }
  ++noted_;
}

uint64_t TPendingKeys::HashOf(const uint8_t* key) const { return bits_.empty() ? 0 : Hash(key); }

bool TPendingKeys::MayHold(uint64_t hash) const {
  if (bits_.empty()) return true;
  const uint64_t step = (hash >> 32) | 1;
  for (int i = 0; i < kProbes; ++i) {
    const uint64_t bit = (hash + uint64_t(i) * step) % bit_count_;
    if ((bits_[bit / 64] & (uint64_t{1} << (bit % 64))) == 0) return false;
  }
  return true;
}

void TPendingKeys::Reserve(size_t bytes) {
  const size_t entries = bytes / (size_t(key_length_) + sizeof(int32_t) + sizeof(uint64_t)) + 1;
  keys_.reserve(entries * size_t(key_length_));
  slots_.reserve(entries);
  hashes_.reserve(entries);
}

void TPendingKeys::Add(const uint8_t* key, uint64_t hash, int32_t slot) {
  if (!bits_.empty()) NoteHash(hash);
  keys_.insert(keys_.end(), key, key + key_length_);
  slots_.push_back(slot);
  hashes_.push_back(hash);
}

bool TPendingKeys::Waiting(const uint8_t* key, uint64_t hash) const {
  for (size_t i = 0; i < hashes_.size(); ++i)
    if (hashes_[i] == hash && std::memcmp(Key(i), key, size_t(key_length_)) == 0) return true;
  return false;
}

void TPendingKeys::Keep(const std::vector<uint32_t>& keep) {
  std::vector<uint8_t> keys;
  std::vector<int32_t> slots;
  std::vector<uint64_t> hashes;
  keys.reserve(keep.size() * size_t(key_length_));
  for (uint32_t i : keep) {
    keys.insert(keys.end(), Key(i), Key(i) + key_length_);
    slots.push_back(slots_[i]);
    hashes.push_back(hashes_[i]);
  }
  keys_ = std::move(keys);
  slots_ = std::move(slots);
  hashes_ = std::move(hashes);
}

void TPendingKeys::ClearWaiting() {
  keys_.clear();
  slots_.clear();
  hashes_.clear();
}

}  // namespace cairn
