#include "storage/files/blob_file.h"

#include <algorithm>
#include <cstring>

#include "storage/base/engine_error.h"
#include "storage/files/data_endian.h"
#include "storage/files/scramble.h"

namespace cairn {

TBlobFile::TBlobFile(std::string table_name, std::string file_name, uint32_t stored_block_size,
                     bool encrypted, TBlobCacheSizes sizes)
    : TFileHandler(std::move(file_name)),
      table_name_(std::move(table_name)),
      block_size_(blob::EffectiveBlockSize(stored_block_size)),
      encrypted_(encrypted),
      sizes_(sizes) {}

TBlobFile::~TBlobFile() {
  cache_.reset();
  TFileHandler::Close();
}

void TBlobFile::Fail(uint16_t code) const { RaiseEngineError(code, table_name_); }

void TBlobFile::CheckBlockSize() const {
  if (block_size_ < blob::kMinBlockSize) Fail(CAIRN_BLOBLIMIT);
}

void TBlobFile::SetHeaderU32(int offset, uint32_t value) { le::PutU32(header_ + offset, value); }

int32_t TBlobFile::ChangeCounter() const { return le::I32(header_ + blob::kHdrChangeCounter); }
uint32_t TBlobFile::FreeListHead() const { return le::U32(header_ + blob::kHdrFreeHead); }
uint32_t TBlobFile::NextBlockNumber() const { return le::U32(header_ + blob::kHdrNextBlock); }

void TBlobFile::ResetHeader() {
  header_[blob::kHdrSignature] = blob::kSignature;
  SetHeaderU32(blob::kHdrFreeHead, 0);
  SetHeaderU32(blob::kHdrNextBlock, 1);
  SetHeaderModified();
}

void TBlobFile::MakeCache() {
  cache_ = std::make_unique<TBlockCache>(
      static_cast<TBlockStore&>(*this), table_name_, block_size_, encrypted_,
      blob::CacheCapacity(block_size_, sizes_.max_blob_bytes, sizes_.max_buffers),
      blob::ReadAheadBlocks(block_size_, sizes_.read_ahead_bytes));
  cache_->SetWritesDeferred(writes_deferred_);
}

TBlockCache& TBlobFile::Cache() {
  if (!cache_) Fail(CAIRN_MEMOCORRUPT);
  return *cache_;
}

void TBlobFile::Create() {
  CheckBlockSize();
  TFileHandler::Create();
  std::memset(header_, 0, sizeof(header_));
  ResetHeader();
  MakeCache();
  WriteHeader(true);
}

void TBlobFile::Open() {
  if (is_open()) return;
  CheckBlockSize();
  TFileHandler::Open();
  try {
    ReadHeaderImage(header_);
    header_[blob::kHdrModified] = 0;
    CheckHeader();
  } catch (...) {
    TFileHandler::Close();
    throw;
  }
  MakeCache();
}

void TBlobFile::Close() {
  cache_.reset();
  TFileHandler::Close();
}

void TBlobFile::ReadHeaderImage(uint8_t* out) {
  ReadAt(0, out, blob::kHeaderSize);
  if (encrypted_) Scramble(out, blob::kHeaderSize, kBufferSeed);
}

void TBlobFile::CheckHeader() const {
  if (header_[blob::kHdrSignature] != blob::kSignature) Fail(CAIRN_OLDVERSION);
  const uint32_t next = NextBlockNumber();
  const uint32_t free_head = FreeListHead();
  if (next == 0) Fail(CAIRN_HEADERCORRUPT);
  if (free_head != 0 && free_head >= next) Fail(CAIRN_HEADERCORRUPT);
}

bool TBlobFile::WriteHeader(bool force) {
  // A value rewritten in place changes no header field, yet other processes
  // notice changes only through the header's counter: written blocks always
  // take a header write with them.
  if (!force && !HeaderModified() && !blocks_written_) return false;
  SetHeaderU32(blob::kHdrChangeCounter, uint32_t(ChangeCounter()) + 1);
  uint8_t image[blob::kHeaderSize];
  std::memcpy(image, header_, sizeof(image));
  if (encrypted_) Scramble(image, sizeof(image), kBufferSeed);
  WriteAt(0, image, sizeof(image));
  header_[blob::kHdrModified] = 0;
  blocks_written_ = false;
  return true;
}

void TBlobFile::MarkHeaderModified() {
  SetHeaderU32(blob::kHdrChangeCounter, uint32_t(ChangeCounter()) + 1);
  SetHeaderModified();
}

bool TBlobFile::HeaderChangedOnDisk(bool force) {
  uint8_t image[blob::kHeaderSize];
  ReadHeaderImage(image);
  if (!force && le::I32(image + blob::kHdrChangeCounter) == ChangeCounter()) return false;
  std::memcpy(header_, image, sizeof(header_));
  header_[blob::kHdrModified] = 0;
  blocks_written_ = false;
  if (cache_) cache_->Discard();
  CheckHeader();
  return true;
}

void TBlobFile::Empty(bool force_flush) {
  if (cache_) cache_->Discard();
  ResetHeader();
  // The emptied header goes out before the blocks are cut off: a crash in
  // between leaves unused blocks past the end, never a header pointing at
  // blocks that are gone.
  WriteHeader(true);
  Truncate(blob::kHeaderSize);
  if (force_flush) Flush();
}

size_t TBlobFile::ReadBlocks(uint64_t offset, std::span<uint8_t> buffer) {
  return size_t(ReadAt(offset, buffer.data(), int64_t(buffer.size()), true));
}

void TBlobFile::WriteBlocks(uint64_t offset, std::span<const uint8_t> buffer) {
  WriteAt(offset, buffer.data(), int64_t(buffer.size()));
  blocks_written_ = true;
}

TBlock* TBlobFile::ReadBlock(uint32_t number, uint32_t read_ahead, const TChangeCheck& check,
                             bool backward) {
  return Cache().Get(number, read_ahead, LastBlockNumber(), check, backward);
}

void TBlobFile::ReleaseBlock(TBlock* block) {
  if (cache_) cache_->Release(block);
}

TBlock* TBlobFile::AppendBlock() {
  const uint32_t n = NextBlockNumber();
  if (n > blob::kMaxBlockNumber ||
      blob::kHeaderSize + uint64_t(block_size_) * n > blob::kMaxFileBytes) {
    Fail(CAIRN_TABLEFULL);
  }
  TBlock* block = Cache().Create(n);
  SetHeaderU32(blob::kHdrNextBlock, n + 1);
  SetHeaderModified();
  return block;
}

TBlock* TBlobFile::AllocateBlock() {
  const uint32_t head = FreeListHead();
  if (head == 0) return AppendBlock();
  // A freed chain enters the free list last block first, so the list tends
  // to run down through consecutive numbers: read ahead backwards.
  TBlock* reused = ReadBlock(head, Cache().ReadAhead(), {}, true);
  const uint32_t next_free = reused->Next();
  if (next_free > LastBlockNumber() || next_free == head) {
    ReleaseBlock(reused);
    Fail(CAIRN_MEMOCORRUPT);
  }
  SetHeaderU32(blob::kHdrFreeHead, next_free);
  SetHeaderModified();
  reused->ClearContents();
  return reused;
}

void TBlobFile::FreeBlock(TBlock* block) {
  // Freed notes do not linger in the file: the data area is zeroed, the
  // block header keeps everything but the link.
  std::fill(block->Data().begin(), block->Data().end(), uint8_t{0});
  block->SetModified(true);
  block->SetNext(FreeListHead());
  SetHeaderU32(blob::kHdrFreeHead, block->Number());
  SetHeaderModified();
}

uint32_t TBlobFile::ReadBlockData(const TBlock& block, std::span<uint8_t> dest) const {
  if (dest.size() > DataBytesPerBlock()) Fail(CAIRN_INVALIDBLOBLEN);
  const uint32_t count = uint32_t(std::min<size_t>(dest.size(), block.Used()));
  if (count > 0) std::memcpy(dest.data(), block.Data().data(), count);
  return count;
}

void TBlobFile::SetWritesDeferred(std::function<bool()> deferred) {
  writes_deferred_ = std::move(deferred);
  if (cache_) cache_->SetWritesDeferred(writes_deferred_);
}

bool TBlobFile::FlushBlocks() { return cache_ && cache_->Flush(); }

void TBlobFile::DiscardBlocks() {
  if (cache_) cache_->Discard();
}

void TBlobFile::TrimBlockCache() {
  if (cache_) cache_->Trim();
}

bool TBlobFile::FlushAll(bool force_os_flush) {
  if (!is_open() || read_only()) return false;
  bool wrote = FlushBlocks();
  wrote = WriteHeader(false) || wrote;
  if (wrote && force_os_flush) Flush();
  return wrote;
}

}  // namespace cairn
