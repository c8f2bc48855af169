// The chains of blocks that hold blob values: writing, reading and freeing.
#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "storage/base/engine_error.h"
#include "storage/files/blob_file.h"

namespace cairn {
namespace {

// A change reported by another process restarts a read; after this many
// restarts the read goes on without asking, so a busy writer cannot starve it.
constexpr int kMaxRestarts = 8;

// Chains built from the free list run down through the file (it hands out
// the last freed block first): then read ahead downwards.
bool Descending(const TBlock& current, uint32_t next) { return next + 1 == current.Number(); }

}  // namespace

void TBlobFile::WriteBlobValue(TBlobBuffer& buffer, int32_t new_stamp) {
  const std::span<const uint8_t> contents = buffer.Contents();
  if (contents.size() > std::numeric_limits<uint32_t>::max()) Fail(CAIRN_INVALIDBLOBLEN);
  const uint32_t length = uint32_t(contents.size());
  const uint32_t per_block = DataBytesPerBlock();

  // Every block of the old chain carries the stamp the record holds. A block
  // with another stamp belongs to some other value (the file is damaged):
  // it is neither reused nor freed, so that value survives.
  const int32_t old_stamp = buffer.Stamp();
  if (length == 0) {
    if (buffer.FirstBlock() != 0) FreeOwnChain(buffer.FirstBlock(), old_stamp, 1, nullptr);
    buffer.SetLocation(0, new_stamp);
    buffer.SetModified(false);
    return;
  }

  uint32_t first = buffer.FirstBlock();
  uint32_t old_length = 0;
  TBlockRef current(*this, nullptr);
  if (first != 0) {
    if (first > LastBlockNumber()) Fail(CAIRN_MEMOCORRUPT);
    current.Reset(ReadBlock(first, 1));
    if (current->Stamp() == old_stamp) {
      old_length = current->TotalLength();
    } else {
      current.Reset();
    }
  }
  if (!current) {
    current.Reset(AllocateBlock());
    first = current->Number();
  }
  current->SetStamp(new_stamp);
  current->SetPrevious(0);
  current->SetTotalLength(length);

  // Blocks of the new chain: an old chain that leads back into them is a cycle.
  TBlockSet chain(first);
  uint32_t written = 0;
  for (;;) {
    written += current->PutData(contents.subspan(written, std::min(per_block, length - written)));
    if (written == length) break;
    TBlock* next_block;
    const uint32_t next = current->Next();
    if (next != 0) {
      if (next > LastBlockNumber() || chain.Contains(next)) Fail(CAIRN_MEMOCORRUPT);
      next_block = ReadBlock(next, blob::CeilDiv(int64_t(old_length) - written, per_block), {},
                             Descending(*current.get(), next));
      if (next_block->Stamp() != old_stamp) {
        ReleaseBlock(next_block);
        next_block = AllocateBlock();
      }
    } else {
      next_block = AllocateBlock();
    }
    current->SetNext(next_block->Number());
    next_block->SetPrevious(current->Number());
    next_block->SetStamp(new_stamp);
    next_block->SetTotalLength(0);
    chain.Insert(next_block->Number());
    current.Reset(next_block);
  }

  // The old chain was longer: its tail goes to the free list.
  if (const uint32_t tail = current->Next(); tail != 0) {
    if (tail > LastBlockNumber() || chain.Contains(tail)) Fail(CAIRN_MEMOCORRUPT);
    FreeOwnChain(tail, old_stamp, blob::CeilDiv(int64_t(old_length) - written, per_block), &chain);
    current->SetNext(0);
  }
  buffer.SetLocation(first, new_stamp);
  buffer.SetModified(false);
}

void TBlobFile::ReadBlobValue(TBlobBuffer& buffer, const TChangeCheck& check, bool take_snapshot) {
  if (buffer.FirstBlock() == 0) {
    buffer.MutableContents().clear();
  } else {
    const TChangeCheck none;
    int restarts = 0;
    while (!TryRead(buffer, restarts < kMaxRestarts ? check : none)) ++restarts;
  }
  buffer.SetModified(false);
  if (take_snapshot) buffer.TakeSnapshot();
}

bool TBlobFile::TryRead(TBlobBuffer& buffer, const TChangeCheck& check) {
  const uint32_t first = buffer.FirstBlock();
  const int32_t stamp = buffer.Stamp();
  const uint32_t per_block = DataBytesPerBlock();
  std::vector<uint8_t>& out = buffer.MutableContents();
  out.clear();

  if (first > LastBlockNumber()) Fail(CAIRN_MEMOCORRUPT);
  TBlockRef current(*this, ReadBlock(first, 1, check));
  if (!current) return false;
  if (current->Stamp() != stamp) Fail(CAIRN_KEYORRECDELETED);
  const uint32_t length = current->TotalLength();
  // The stored length is not trusted for sizing: the buffer grows with the
  // bytes actually found, so a corrupt length cannot exhaust memory.
  out.reserve(std::min<uint32_t>(length, 1u << 20));

  TBlockSet chain(first);
  uint32_t read = 0;
  for (;;) {
    if (current->Stamp() != stamp) Fail(CAIRN_KEYORRECDELETED);
    if (current->PinCount() > 1) Fail(CAIRN_MEMOCORRUPT);
    const uint32_t asked = std::min(per_block, length - read);
    const size_t at = out.size();
    out.resize(at + asked);
    const uint32_t got = ReadBlockData(*current.get(), std::span<uint8_t>(out.data() + at, asked));
    out.resize(at + got);
    read += got;
    if (got < asked || read == length || current->Next() == 0) break;
    const uint32_t next = current->Next();
    if (next > LastBlockNumber() || chain.Contains(next)) Fail(CAIRN_MEMOCORRUPT);
    TBlock* next_block = ReadBlock(next, blob::CeilDiv(int64_t(length) - read, per_block), check,
                                   Descending(*current.get(), next));
    if (!next_block) return false;
    chain.Insert(next);
    current.Reset(next_block);
  }
  if (read < length) Fail(CAIRN_ENDOFBLOB);
  return true;
}

void TBlobFile::FreeOwnChain(uint32_t first_block, int32_t stamp, uint32_t hint,
                             const TBlockSet* live) {
  try {
    FreeChain(first_block, stamp, false, hint, live);
  } catch (const ECairnEngineError& e) {
    // A damaged or foreign chain is checked whole before anything is freed:
    // it is left as it is (its blocks are lost to the free list) rather than
    // freeing blocks another value may still use.
    if (e.code() != CAIRN_MEMOCORRUPT) throw;
  }
}

void TBlobFile::FreeBlobChain(uint32_t first_block, int32_t stamp, bool force,
                              uint32_t block_count_hint) {
  if (first_block == 0) return;
  FreeChain(first_block, stamp, force, block_count_hint, nullptr);
}

void TBlobFile::FreeChain(uint32_t first_block, int32_t stamp, bool force, uint32_t hint,
                          const TBlockSet* live) {
  if (first_block > LastBlockNumber()) Fail(CAIRN_MEMOCORRUPT);
  hint = std::max<uint32_t>(hint, 1);

  // Walk and check the whole chain first, so that a corrupt chain leaves the
  // free list as it was.
  std::vector<uint32_t> blocks{first_block};
  TBlockSet seen(first_block);
  {
    TBlockRef current(*this, ReadBlock(first_block, 1));
    if (const uint32_t total = current->TotalLength(); total > 0) {
      hint = std::max(hint, blob::CeilDiv(total, DataBytesPerBlock()));
    }
    for (;;) {
      if (!force && current->Stamp() != stamp) Fail(CAIRN_MEMOCORRUPT);
      const uint32_t next = current->Next();
      if (next == 0) break;
      if (next > LastBlockNumber() || seen.Contains(next) || (live && live->Contains(next))) {
        Fail(CAIRN_MEMOCORRUPT);
      }
      const uint32_t left = hint > blocks.size() ? hint - uint32_t(blocks.size()) : 1;
      current.Reset(ReadBlock(next, left, {}, Descending(*current.get(), next)));
      blocks.push_back(next);
      seen.Insert(next);
    }
  }
  // Freed in chain order, so the chain's last block ends up as the head.
  for (size_t i = 0; i < blocks.size(); ++i) {
    // The numbers to come are known: read exactly the run of consecutive
    // ones, upwards or downwards.
    const uint32_t most = Cache().ReadAhead();
    uint32_t up = 1, down = 1;
    while (up < most && i + up < blocks.size() && blocks[i + up] == blocks[i] + up) ++up;
    while (down < most && i + down < blocks.size() && blocks[i + down] == blocks[i] - down) ++down;
    TBlockRef block(*this,
                    down > up ? ReadBlock(blocks[i], down, {}, true) : ReadBlock(blocks[i], up));
    if (force) block->SetStamp(stamp);
    FreeBlock(block.get());
  }
}

}  // namespace cairn
