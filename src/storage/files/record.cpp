#include "storage/files/record.h"

#include <algorithm>
#include <cstring>

#include "storage/files/data_endian.h"

namespace cairn {

void TRecord::Reset(uint32_t size) {
  size_t needed = (size_t(size) + 63) / 64 * 64;
  if (buffer_.size() < needed) buffer_.resize(needed);
  size_ = size;
  std::fill(buffer_.begin(), buffer_.end(), 0);
  slot_ = 0;
  pin_count_ = 0;
  modified_ = false;
  stale_ = false;
  sort_key_.clear();
}

void TRecord::ClearImage() { std::fill(buffer_.begin(), buffer_.begin() + size_, 0); }

void TRecord::SetDeleted(bool deleted) {
  if (size_ > 0) buffer_[0] = deleted ? 1 : 0;
}

uint32_t TRecord::Link() const { return size_ >= 5 ? le::U32(&buffer_[1]) : 0; }
void TRecord::SetLink(uint32_t value) {
  if (size_ >= 5) le::PutU32(&buffer_[1], value);
}
uint32_t TRecord::ImageSlotNumber() const { return IsDeleted() ? 0 : Link(); }

int32_t TRecord::RecordId() const { return size_ >= 9 ? le::I32(&buffer_[5]) : 0; }
void TRecord::SetRecordId(int32_t id) {
  if (size_ >= 9) le::PutI32(&buffer_[5], id);
}

bool TRecord::SameImage(std::span<const uint8_t> image) const {
  return image.size() == size_ && std::memcmp(image.data(), buffer_.data(), size_) == 0;
}

void TRecord::CopyFieldData(std::span<const uint8_t> image) {
  if (size_ > kRecordHeaderSize) {
    size_t n =
        std::min<size_t>(image.size(), size_) - std::min<size_t>(image.size(), kRecordHeaderSize);
    if (n > 0) std::memcpy(&buffer_[kRecordHeaderSize], &image[kRecordHeaderSize], n);
  }
  modified_ = true;
}

std::unique_ptr<TRecord> TRecordStack::Take(uint32_t size) {
  if (pool_.empty()) return std::make_unique<TRecord>(size);
  std::unique_ptr<TRecord> record = std::move(pool_.back());
  pool_.pop_back();
  record->Reset(size);
  return record;
}

void TRecordStack::Give(std::unique_ptr<TRecord> record) {
  if (record && pool_.size() < kMaxPooled) {
    record->prev_ = record->next_ = nullptr;
    pool_.push_back(std::move(record));
  }
}

}  // namespace cairn
