#include "storage/files/blob_buffer.h"

#include "storage/base/engine_error.h"

namespace cairn {

void TBlobBuffer::SetContents(std::span<const uint8_t> bytes) {
  contents_.assign(bytes.begin(), bytes.end());
  modified_ = true;
}

TBlobBuffer& TBlobBufferList::Open(uint16_t field_number, uint32_t slot, uint32_t first_block,
                                   int32_t stamp, TBlobOpenMode mode) {
  if (TBlobBuffer* open = Find(field_number, slot)) {
    ++open->use_count_;
    return *open;
  }
  if (buffers_.size() >= kMaxOpenBlobs) RaiseEngineError(CAIRN_OPENBLOBLIMIT, table_name_);
  TBlobBuffer& buffer = buffers_.emplace_back(field_number, slot, first_block, stamp, mode);
  buffer.use_count_ = 1;
  return buffer;
}

TBlobBuffer* TBlobBufferList::Find(uint16_t field_number, uint32_t slot) {
  for (TBlobBuffer& b : buffers_) {
    if (b.field_number_ == field_number && b.slot_ == slot) return &b;
  }
  return nullptr;
}

void TBlobBufferList::Close(TBlobBuffer& buffer) {
  if (--buffer.use_count_ > 0) return;
  buffers_.remove_if([&buffer](const TBlobBuffer& b) { return &b == &buffer; });
}

}  // namespace cairn
