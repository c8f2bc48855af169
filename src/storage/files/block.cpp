#include "storage/files/block.h"

#include <algorithm>
#include <cstring>

#include "storage/files/data_endian.h"

namespace cairn {

TBlock::TBlock(uint32_t block_size)
    : block_size_(block_size), data_(blob::DataBytesPerBlock(block_size)) {}

uint32_t TBlock::PutData(std::span<const uint8_t> bytes) {
  const uint32_t count = uint32_t(std::min<size_t>(bytes.size(), data_.size()));
  if (count > 0) std::memcpy(data_.data(), bytes.data(), count);
  // Nothing of an earlier value stays behind the new one.
  std::fill(data_.begin() + count, data_.end(), uint8_t{0});
  SetUsed(uint16_t(count));
  modified_ = true;
  return count;
}

void TBlock::Clear() {
  ClearContents();
  number_ = 0;
  modified_ = false;
  pin_count_ = 0;
  detached_ = false;
}

void TBlock::ClearContents() {
  std::memset(header_, 0, sizeof(header_));
  previous_ = next_ = total_length_ = 0;
  used_ = 0;
  stamp_ = 0;
  std::fill(data_.begin(), data_.end(), uint8_t{0});
  modified_ = true;
}

void TBlock::Load(std::span<const uint8_t> image) {
  std::memcpy(header_, image.data(), sizeof(header_));
  previous_ = le::U32(header_ + blob::kBlkPrevious);
  next_ = le::U32(header_ + blob::kBlkNext);
  used_ = le::U16(header_ + blob::kBlkUsed);
  stamp_ = le::I32(header_ + blob::kBlkStamp);
  total_length_ = le::U32(header_ + blob::kBlkTotalLength);
  std::memcpy(data_.data(), image.data() + sizeof(header_), data_.size());
  modified_ = false;
}

void TBlock::Store(std::span<uint8_t> out) {
  le::PutU32(header_ + blob::kBlkPrevious, previous_);
  le::PutU32(header_ + blob::kBlkNext, next_);
  le::PutU16(header_ + blob::kBlkUsed, used_);
  le::PutI32(header_ + blob::kBlkStamp, stamp_);
  le::PutU32(header_ + blob::kBlkTotalLength, total_length_);
  std::memcpy(out.data(), header_, sizeof(header_));
  std::memcpy(out.data() + sizeof(header_), data_.data(), data_.size());
}

std::unique_ptr<TBlock> TBlockStack::Take() {
  if (pool_.empty()) return std::make_unique<TBlock>(block_size_);
  std::unique_ptr<TBlock> block = std::move(pool_.back());
  pool_.pop_back();
  block->Clear();
  return block;
}

void TBlockStack::Return(std::unique_ptr<TBlock> block) {
  if (pool_.size() < kMaxPooled && block->BlockSize() == block_size_) {
    block->newer_ = block->older_ = nullptr;
    pool_.push_back(std::move(block));
  }
}

}  // namespace cairn
