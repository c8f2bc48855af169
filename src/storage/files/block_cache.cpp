#include "storage/files/block_cache.h"

#include <algorithm>

#include "storage/base/engine_error.h"
#include "storage/files/scramble.h"

namespace cairn {
namespace {

constexpr size_t kBufferStep = 4096;
constexpr uint32_t kGrowth = 32;
constexpr int kProbeCount = 4;

// Scrambling is its own inverse; a block is two runs, header then data.
void ScrambleBlock(std::span<uint8_t> image) {
  Scramble(image.first(blob::kBlockHeaderSize), kBufferSeed);
  Scramble(image.subspan(blob::kBlockHeaderSize), kBufferSeed);
}

}  // namespace

TBlockCache::TBlockCache(TBlockStore& store, std::string table_name, uint32_t block_size,
                         bool encrypted, uint32_t capacity, uint32_t read_ahead)
    : store_(store),
      table_name_(std::move(table_name)),
      block_size_(block_size),
      encrypted_(encrypted),
      initial_capacity_(std::max<uint32_t>(capacity, 1)),
      capacity_(initial_capacity_),
      read_ahead_(std::max<uint32_t>(read_ahead, 1)),
      pool_(block_size) {}

TBlockCache::~TBlockCache() = default;

void TBlockCache::Corrupt() const { RaiseEngineError(CAIRN_MEMOCORRUPT, table_name_); }

size_t TBlockCache::LowerBound(uint32_t number) const {
  auto it = std::lower_bound(sorted_.begin(), sorted_.end(), number,
                             [](const TBlock* b, uint32_t n) { return b->Number() < n; });
  return size_t(it - sorted_.begin());
}

TBlock* TBlockCache::Find(uint32_t number) const {
  size_t i = LowerBound(number);
  return i < sorted_.size() && sorted_[i]->Number() == number ? sorted_[i] : nullptr;
}

bool TBlockCache::Contains(uint32_t number) const { return Find(number) != nullptr; }

bool TBlockCache::HasModified() const {
  return std::any_of(sorted_.begin(), sorted_.end(), [](const auto& b) { return b->Modified(); });
}

void TBlockCache::Unlink(TBlock* block) {
  if (block->newer_)
    block->newer_->older_ = block->older_;
  else if (newest_ == block)
    newest_ = block->older_;
  if (block->older_)
    block->older_->newer_ = block->newer_;
  else if (oldest_ == block)
    oldest_ = block->newer_;
  block->newer_ = block->older_ = nullptr;
}

void TBlockCache::MoveToFront(TBlock* block) {
  if (newest_ == block) return;
  Unlink(block);
  block->older_ = newest_;
  if (newest_) newest_->newer_ = block;
  newest_ = block;
  if (!oldest_) oldest_ = block;
}

TBlock* TBlockCache::FindVictim() const {
  // Blocks of the run being read are skipped: evicting them would make the
  // read-ahead evict itself whenever older blocks are all modified.
  for (TBlock* b = oldest_; b; b = b->newer_) {
    if (!b->Modified() && b->PinCount() == 0 && !InReadWindow(b->Number())) return b;
  }
  return nullptr;
}

void TBlockCache::Remove(TBlock* block) {
  Unlink(block);
  sorted_.erase(sorted_.begin() + ptrdiff_t(LowerBound(block->Number())));
}

void TBlockCache::Adopt(std::unique_ptr<TBlock> block) {
  block->cache_index_ = owned_.size();
  owned_.push_back(std::move(block));
}

std::unique_ptr<TBlock> TBlockCache::Disown(TBlock* block) {
  const size_t i = block->cache_index_;
  std::unique_ptr<TBlock> out = std::move(owned_[i]);
  if (i + 1 != owned_.size()) {
    owned_[i] = std::move(owned_.back());
    owned_[i]->cache_index_ = i;
  }
  owned_.pop_back();
  return out;
}

TBlock* TBlockCache::NewEntry(uint32_t number) {
  TBlock* block = nullptr;
  if (sorted_.size() >= capacity_) {
    block = FindVictim();
    if (!block && !WritesDeferred()) {
      Flush();
      block = FindVictim();
    }
    if (block) {
      Remove(block);
      block->Clear();
    } else {
      capacity_ += kGrowth;
    }
  }
  if (!block) {
    std::unique_ptr<TBlock> fresh = pool_.Take();
    block = fresh.get();
    Adopt(std::move(fresh));
  }
  block->SetNumber(number);
  sorted_.insert(sorted_.begin() + ptrdiff_t(LowerBound(number)), block);
  MoveToFront(block);
  return block;
}

void TBlockCache::Grow(std::vector<uint8_t>& buffer, size_t size) {
  if (buffer.size() < size) buffer.resize((size + kBufferStep - 1) / kBufferStep * kBufferStep);
}

bool TBlockCache::InReadWindow(uint32_t number) const {
  return window_first_ != 0 && number >= window_first_ && number <= window_last_;
}

TBlock* TBlockCache::Get(uint32_t number, uint32_t run, uint32_t last_block,
                         const TChangeCheck& check, bool backward) {
  if (number == 0 || number > last_block) Corrupt();

  int probed = 0;
  for (TBlock* b = newest_; b && probed < kProbeCount; b = b->older_, ++probed) {
    if (b->Number() == number) {
      ++stats_.hits;
      MoveToFront(b);
      b->Pin();
      return b;
    }
  }
  if (TBlock* b = Find(number)) {
    ++stats_.hits;
    MoveToFront(b);
    b->Pin();
    return b;
  }

  if (check && check()) return nullptr;

  uint32_t count = std::clamp<uint32_t>(run, 1, read_ahead_);
  count = std::min<uint32_t>(count, backward ? number : last_block - number + 1);
  const uint32_t start = backward ? number - count + 1 : number;
  const size_t bytes = size_t(count) * block_size_;
  Grow(read_buffer_, bytes);
  const size_t got = store_.ReadBlocks(blob::BlockOffset(block_size_, start),
                                       std::span<uint8_t>(read_buffer_.data(), bytes));
  ++stats_.reads;
  const uint32_t whole = uint32_t(std::min(got, bytes) / block_size_);

  window_first_ = start;
  window_last_ = start + count - 1;
  TBlock* asked = nullptr;
  try {
    for (uint32_t i = 0; i < whole; ++i) {
      const uint32_t n = start + i;
      std::span<uint8_t> image(read_buffer_.data() + size_t(i) * block_size_, block_size_);
      TBlock* block = Find(n);
      if (block && (block->PinCount() > 0 || block->Modified())) {
        if (n == number) asked = block;
      } else {
        if (!block) block = NewEntry(n);
        if (encrypted_) ScrambleBlock(image);
        block->Load(image);
        if (n == number) asked = block;
      }
      // Keep the asked block from being chosen as a victim by later entries.
      if (n == number) asked->Pin();
    }
  } catch (...) {
    window_first_ = window_last_ = 0;
    if (asked) asked->Unpin();
    throw;
  }
  window_first_ = window_last_ = 0;
  if (!asked) Corrupt();
  MoveToFront(asked);
  return asked;
}

TBlock* TBlockCache::Create(uint32_t number) {
  TBlock* block = Find(number);
  if (block) {
    if (block->PinCount() > 0) Corrupt();
    block->Clear();
    block->SetNumber(number);
    MoveToFront(block);
  } else {
    block = NewEntry(number);
  }
  block->Pin();
  block->SetModified(true);
  return block;
}

void TBlockCache::Release(TBlock* block) {
  if (!block) return;
  block->Unpin();
  if (block->detached_ && block->PinCount() == 0) pool_.Return(Disown(block));
}

bool TBlockCache::Flush() {
  bool wrote = false;
  size_t i = 0;
  while (i < sorted_.size()) {
    auto eligible = [this](const TBlock& b) {
      return b.Modified() && b.PinCount() == 0 && !InReadWindow(b.Number());
    };
    if (!eligible(*sorted_[i])) {
      ++i;
      continue;
    }
    size_t end = i + 1;
    while (end < sorted_.size() && eligible(*sorted_[end]) &&
           sorted_[end]->Number() == sorted_[end - 1]->Number() + 1) {
      ++end;
    }
    const size_t bytes = (end - i) * block_size_;
    Grow(write_buffer_, bytes);
    for (size_t k = i; k < end; ++k) {
      std::span<uint8_t> image(write_buffer_.data() + (k - i) * block_size_, block_size_);
      sorted_[k]->Store(image);
      if (encrypted_) ScrambleBlock(image);
    }
    store_.WriteBlocks(blob::BlockOffset(block_size_, sorted_[i]->Number()),
                       std::span<const uint8_t>(write_buffer_.data(), bytes));
    ++stats_.writes;
    for (size_t k = i; k < end; ++k) sorted_[k]->SetModified(false);
    wrote = true;
    i = end;
  }
  return wrote;
}

void TBlockCache::Discard() {
  for (TBlock* block : sorted_) {
    block->newer_ = block->older_ = nullptr;
    if (block->PinCount() > 0) {
      block->detached_ = true;
    } else {
      pool_.Return(Disown(block));
    }
  }
  sorted_.clear();
  newest_ = oldest_ = nullptr;
}

void TBlockCache::Trim() {
  while (sorted_.size() > initial_capacity_) {
    TBlock* victim = FindVictim();
    if (!victim && HasModified() && !WritesDeferred()) {
      if (Flush()) victim = FindVictim();
    }
    if (!victim) break;
    Remove(victim);
    pool_.Return(Disown(victim));
  }
  capacity_ = std::max<uint32_t>(uint32_t(sorted_.size()), initial_capacity_);
}

}  // namespace cairn
