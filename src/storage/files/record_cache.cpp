#include "storage/files/record_cache.h"

#include <algorithm>
#include <cstring>

namespace cairn {
namespace {

void GrowBuffer(std::vector<uint8_t>& buffer, size_t needed) {
  if (buffer.size() < needed) buffer.resize((needed + 4095) / 4096 * 4096);
}

}  // namespace

TRecordCache::TRecordCache(TRecordCacheHost& host) : host_(host) {}

TRecordCache::~TRecordCache() = default;

void TRecordCache::Configure(uint32_t record_size, uint32_t max_bytes, uint32_t max_records,
                             uint32_t read_ahead_bytes) {
  sorted_.clear();
  head_ = tail_ = nullptr;
  record_size_ = record_size;
  initial_capacity_ =
      record_size == 0 ? max_records : std::min(max_bytes / record_size, max_records);
  initial_capacity_ = std::max<uint32_t>(initial_capacity_, 1);
  capacity_ = initial_capacity_;
  read_ahead_ = record_size == 0 ? 1 : std::max<uint32_t>(read_ahead_bytes / record_size, 1);
  window_first_ = window_count_ = 0;
}

TRecordCache::Slots::iterator TRecordCache::LowerBound(uint32_t slot) {
  return std::lower_bound(
      sorted_.begin(), sorted_.end(), slot,
      [](const std::unique_ptr<TRecord>& r, uint32_t s) { return r->slot_ < s; });
}

TRecord* TRecordCache::Find(uint32_t slot) {
  auto it = LowerBound(slot);
  return (it != sorted_.end() && (*it)->slot_ == slot) ? it->get() : nullptr;
}

TRecord* TRecordCache::Probe(uint32_t slot) {
  TRecord* r = head_;
  for (uint32_t i = 0; r != nullptr && i < kProbes; ++i, r = r->next_) {
    if (r->slot_ == slot) return r;
  }
  return Find(slot);
}

void TRecordCache::Unlink(TRecord* record) {
  if (record->prev_)
    record->prev_->next_ = record->next_;
  else
    head_ = record->next_;
  if (record->next_)
    record->next_->prev_ = record->prev_;
  else
    tail_ = record->prev_;
  record->prev_ = record->next_ = nullptr;
}

void TRecordCache::PushFront(TRecord* record) {
  record->prev_ = nullptr;
  record->next_ = head_;
  if (head_) head_->prev_ = record;
  head_ = record;
  if (!tail_) tail_ = record;
}

void TRecordCache::Touch(TRecord* record) {
  if (head_ == record) return;
  Unlink(record);
  PushFront(record);
}

bool TRecordCache::InReadWindow(uint32_t slot) const {
  return window_count_ != 0 && slot >= window_first_ && slot - window_first_ < window_count_;
}

TRecord* TRecordCache::FindVictim() {
  for (TRecord* r = tail_; r != nullptr; r = r->prev_) {
    if (!r->modified_ && r->pin_count_ == 0 && !InReadWindow(r->slot_)) return r;
  }
  return nullptr;
}

void TRecordCache::Remove(TRecord* record) {
  Unlink(record);
  auto it = LowerBound(record->slot_);
  if (it != sorted_.end() && it->get() == record) {
    std::unique_ptr<TRecord> owned = std::move(*it);
    sorted_.erase(it);
    pool_.Give(std::move(owned));
  }
}

TRecord* TRecordCache::NewEntry(uint32_t slot) {
  std::unique_ptr<TRecord> record;
  if (sorted_.size() >= capacity_) {
    TRecord* victim = FindVictim();
    if (victim == nullptr && !host_.WriteLockHeld() && HasModified()) {
      Flush();
      victim = FindVictim();
    }
    if (victim == nullptr) {
      capacity_ += kGrowth;
    } else {
      Unlink(victim);
      auto it = LowerBound(victim->slot_);
      record = std::move(*it);
      sorted_.erase(it);
      record->Reset(record_size_);
    }
  }
  if (!record) record = pool_.Take(record_size_);
  record->slot_ = slot;
  TRecord* raw = record.get();
  sorted_.insert(LowerBound(slot), std::move(record));
  PushFront(raw);
  return raw;
}

void TRecordCache::Fill(TRecord* record, const uint8_t* bytes) {
  std::span<uint8_t> image = record->Image();
  std::memcpy(image.data(), bytes, record_size_);
  host_.ScrambleSlot(image);
  if (!record->IsDeleted()) record->SetLink(record->slot_);
  record->stale_ = false;
}

void TRecordCache::ReadRun(uint32_t first, uint32_t count) {
  const size_t length = size_t(count) * record_size_;
  GrowBuffer(read_buffer_, length);
  window_first_ = first;
  window_count_ = count;
  const uint64_t offset = host_.SlotAreaOffset() + uint64_t(first - 1) * record_size_;
  size_t got = 0;
  try {
    got = host_.ReadSlots(offset, std::span<uint8_t>(read_buffer_.data(), length));
    ++stats_.reads;
    const uint32_t whole = record_size_ == 0 ? count : uint32_t(got / record_size_);
    for (uint32_t i = 0; i < whole && i < count; ++i) {
      const uint32_t slot = first + i;
      const uint8_t* bytes = read_buffer_.data() + size_t(i) * record_size_;
      TRecord* record = Find(slot);
      if (record != nullptr) {
        if (record->pin_count_ == 0 && !record->modified_) Fill(record, bytes);
      } else {
        Fill(NewEntry(slot), bytes);
      }
    }
  } catch (...) {
    window_count_ = 0;
    throw;
  }
  window_count_ = 0;
}

TRecord* TRecordCache::Get(uint32_t slot, bool pin, bool read_ahead, TReadDirection direction,
                           uint32_t read_ahead_count) {
  const uint32_t next = host_.NextRecordNumber();
  if (slot == 0 || slot >= next) host_.RaiseCorrupt();
  TRecord* record = Probe(slot);
  if (record != nullptr && !(record->stale_ && record->pin_count_ == 0)) {
    ++stats_.hits;
    Touch(record);
    if (pin) record->Pin();
    return record;
  }
  if (host_.TableChangedOnDisk()) return nullptr;
  uint32_t count = 1;
  if (read_ahead) {
    count = read_ahead_count != 0 ? read_ahead_count : read_ahead_;
    count = std::min(count, direction == TReadDirection::kForward ? next - slot : slot);
    count = std::max<uint32_t>(count, 1);
  }
  const uint32_t first = direction == TReadDirection::kForward ? slot : slot - count + 1;
  ReadRun(first, count);
  record = Find(slot);
  if (record == nullptr || record->slot_ != slot || record->stale_) host_.RaiseCorrupt();
  Touch(record);
  if (pin) record->Pin();
  return record;
}

TRecord* TRecordCache::CreateAppended(uint32_t slot) {
  TRecord* record = Find(slot);
  if (record == nullptr) {
    record = NewEntry(slot);
  } else {
    record->ClearImage();
    record->stale_ = false;
    Touch(record);
  }
  record->modified_ = true;
  record->Pin();
  return record;
}

bool TRecordCache::HasModified() const {
  return std::any_of(sorted_.begin(), sorted_.end(),
                     [](const std::unique_ptr<TRecord>& r) { return r->modified_; });
}

bool TRecordCache::Flush() {
  bool wrote = false;
  const uint64_t base = host_.SlotAreaOffset();
  size_t i = 0;
  while (i < sorted_.size()) {
    auto writable = [&](const TRecord* r) {
      return r->modified_ && r->pin_count_ == 0 && !InReadWindow(r->slot_);
    };
    if (!writable(sorted_[i].get())) {
      ++i;
      continue;
    }
    size_t end = i + 1;
    while (end < sorted_.size() && writable(sorted_[end].get()) &&
           sorted_[end]->slot_ == sorted_[end - 1]->slot_ + 1) {
      ++end;
    }
    const size_t length = (end - i) * record_size_;
    GrowBuffer(write_buffer_, length);
    for (size_t k = i; k < end; ++k) {
      std::span<uint8_t> out(write_buffer_.data() + (k - i) * record_size_, record_size_);
      std::memcpy(out.data(), sorted_[k]->Image().data(), record_size_);
      host_.ScrambleSlot(out);
    }
    host_.WriteSlots(base + uint64_t(sorted_[i]->slot_ - 1) * record_size_,
                     std::span<const uint8_t>(write_buffer_.data(), length));
    ++stats_.writes;
    for (size_t k = i; k < end; ++k) sorted_[k]->modified_ = false;
    wrote = true;
    i = end;
  }
  if (wrote) host_.RecordsWritten();
  return wrote;
}

void TRecordCache::Discard() {
  Slots kept;
  for (auto& owned : sorted_) {
    if (owned->pin_count_ > 0) {
      owned->modified_ = false;
      owned->stale_ = true;
      kept.push_back(std::move(owned));
    } else {
      owned->prev_ = owned->next_ = nullptr;
      pool_.Give(std::move(owned));
    }
  }
  sorted_ = std::move(kept);
  head_ = tail_ = nullptr;
  for (auto& r : sorted_) PushFront(r.get());
}

void TRecordCache::Trim() {
  while (sorted_.size() > initial_capacity_) {
    TRecord* victim = FindVictim();
    if (victim == nullptr && HasModified()) {
      Flush();
      victim = FindVictim();
    }
    if (victim == nullptr) break;
    Remove(victim);
  }
  capacity_ = std::max<uint32_t>(uint32_t(sorted_.size()), initial_capacity_);
}

}  // namespace cairn
