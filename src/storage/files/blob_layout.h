// Byte layout of the blob file (".BLB"): a 512-byte header followed by blocks
// of B bytes, block n (n >= 1) at 512 + B * (n - 1). Each block is an 18-byte
// block header and B - 18 data bytes. All integers are little-endian. This file
// is a public contract: existing tables depend on every offset below.
#pragma once

#include <cstdint>
#include <span>

namespace cairn::blob {

inline constexpr uint32_t kHeaderSize = 512;
inline constexpr uint8_t kSignature = 5;
inline constexpr uint32_t kDefaultBlockSize = 512;
inline constexpr uint32_t kMinBlockSize = 64;
inline constexpr uint32_t kBlockHeaderSize = 18;

// Header offsets.
inline constexpr int kHdrChangeCounter = 0;  // 4: incremented before every header write
inline constexpr int kHdrSignature = 8;      // 1: format signature 5
inline constexpr int kHdrFreeHead = 9;       // 4: first free block, 0 when none
inline constexpr int kHdrNextBlock = 13;     // 4: number the next appended block receives
inline constexpr int kHdrModified = 17;      // 1: modified flag as it was when written

// Block header offsets.
inline constexpr int kBlkPrevious = 0;      // 4: previous block of the chain, 0 for the first
inline constexpr int kBlkNext = 4;          // 4: next block (or next free block), 0 at the end
inline constexpr int kBlkUsed = 8;          // 2: data bytes used in this block
inline constexpr int kBlkStamp = 10;        // 4: revision stamp of the value that wrote it
inline constexpr int kBlkTotalLength = 14;  // 4: value length, first block only

// Limits of appending: the highest block number and the highest end offset.
inline constexpr uint32_t kMaxBlockNumber = 2000000000u;
inline constexpr uint64_t kMaxFileBytes = 4000000000ull;

// Reads the stored block size (16-bit; 0 means the default).
constexpr uint32_t EffectiveBlockSize(uint32_t stored) {
  stored &= 0xFFFFu;
  return stored == 0 ? kDefaultBlockSize : stored;
}

constexpr uint64_t BlockOffset(uint32_t block_size, uint32_t number) {
  return kHeaderSize + uint64_t(block_size) * (number - 1);
}

constexpr uint32_t DataBytesPerBlock(uint32_t block_size) { return block_size - kBlockHeaderSize; }

// Cache geometry: min(32768 div B, 8192) blocks, read-ahead 16384 div B (>= 1).
constexpr uint32_t CacheCapacity(uint32_t block_size, uint32_t max_bytes = 32768,
                                 uint32_t max_buffers = 8192) {
  uint32_t n = max_bytes / block_size;
  if (n > max_buffers) n = max_buffers;
  return n == 0 ? 1 : n;
}
constexpr uint32_t ReadAheadBlocks(uint32_t block_size, uint32_t max_bytes = 16384) {
  uint32_t n = max_bytes / block_size;
  return n == 0 ? 1 : n;
}

// ceil(a / b) for the read-ahead hints, 0 when a <= 0.
constexpr uint32_t CeilDiv(int64_t a, uint32_t b) { return a <= 0 ? 0 : uint32_t((a + b - 1) / b); }

}  // namespace cairn::blob
