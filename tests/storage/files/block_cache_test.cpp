#include "storage/files/block_cache.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "storage/base/engine_error.h"
#include "storage/files/data_endian.h"
#include "storage/files/scramble.h"

namespace cairn {
namespace {

constexpr uint32_t kB = 64;  // small blocks keep the images readable

// A file in memory that counts its transfers.
class TMemStore : public TBlockStore {
 public:
  size_t ReadBlocks(uint64_t offset, std::span<uint8_t> buffer) override {
    ++reads;
    if (offset >= bytes.size()) return 0;
    size_t n = std::min<size_t>(buffer.size(), bytes.size() - offset);
    std::memcpy(buffer.data(), bytes.data() + offset, n);
    return n;
  }
  void WriteBlocks(uint64_t offset, std::span<const uint8_t> buffer) override {
    ++writes;
    write_sizes.push_back(buffer.size());
    if (bytes.size() < offset + buffer.size()) bytes.resize(offset + buffer.size());
    std::memcpy(bytes.data() + offset, buffer.data(), buffer.size());
  }
  // Block n's image with a recognisable stamp and first data byte.
  void PutBlock(uint32_t n, int32_t stamp, uint8_t data0) {
    uint64_t at = blob::BlockOffset(kB, n);
    if (bytes.size() < at + kB) bytes.resize(at + kB);
    le::PutI32(&bytes[at + blob::kBlkStamp], stamp);
    bytes[at + blob::kBlockHeaderSize] = data0;
  }
  std::vector<uint8_t> bytes = std::vector<uint8_t>(blob::kHeaderSize);
  int reads = 0;
  int writes = 0;
  std::vector<size_t> write_sizes;
};

class BlockCacheTest : public ::testing::Test {
 protected:
  void Fill(uint32_t blocks) {
    for (uint32_t n = 1; n <= blocks; ++n) store_.PutBlock(n, int32_t(n * 10), uint8_t(n));
    last_ = blocks;
  }
  TBlock* Get(TBlockCache& cache, uint32_t n, uint32_t run = 1) {
    return cache.Get(n, run, last_, {});
  }
  TMemStore store_;
  uint32_t last_ = 0;
};

TEST_F(BlockCacheTest, ReadAheadFillsTheRunInOneReadCappedByLastBlockAndReadAheadSize) {
  Fill(10);
  TBlockCache cache(store_, "T", kB, false, 16, 4);
  TBlock* b = Get(cache, 3, 100);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->Number(), 3u);
  EXPECT_EQ(b->Stamp(), 30);
  EXPECT_EQ(b->Data()[0], 3);
  EXPECT_EQ(b->PinCount(), 1);
  cache.Release(b);
  EXPECT_EQ(store_.reads, 1);
  EXPECT_EQ(cache.Count(), 4u);  // 3..6: the read-ahead size caps the run
  for (uint32_t n = 3; n <= 6; ++n) cache.Release(Get(cache, n));
  EXPECT_EQ(store_.reads, 1);
  EXPECT_EQ(cache.Stats().hits, 4u);

  cache.Release(Get(cache, 9, 4));  // only 9 and 10 exist
  EXPECT_EQ(cache.Count(), 6u);
  EXPECT_FALSE(cache.Contains(11));
}

TEST_F(BlockCacheTest, OutOfRangeAndTruncatedBlocksRaiseMemoCorrupt) {
  Fill(3);
  store_.bytes.resize(store_.bytes.size() - 1);  // block 3 lost its last byte
  TBlockCache cache(store_, "T", kB, false, 16, 4);
  auto code = [&](uint32_t n) {
    try {
      cache.Get(n, 1, 4, {});
    } catch (const ECairnEngineError& e) {
      return int(e.code());
    }
    return 0;
  };
  EXPECT_EQ(code(0), CAIRN_MEMOCORRUPT);
  EXPECT_EQ(code(5), CAIRN_MEMOCORRUPT);  // beyond the last block
  EXPECT_EQ(code(3), CAIRN_MEMOCORRUPT);  // partly in the file
  EXPECT_EQ(code(4), CAIRN_MEMOCORRUPT);  // past the end of the file
  TBlock* b = cache.Get(2, 4, 4, {});     // a run reaching past the end still serves 2
  EXPECT_EQ(b->Stamp(), 20);
  cache.Release(b);
  EXPECT_FALSE(cache.Contains(3));
}

TEST_F(BlockCacheTest, ChangeCheckIsAskedOnlyOnAMissAndAChangeReadsNothing) {
  Fill(4);
  TBlockCache cache(store_, "T", kB, false, 16, 1);
  int asked = 0;
  bool changed = true;
  TChangeCheck check = [&] {
    ++asked;
    return changed;
  };
  EXPECT_EQ(cache.Get(1, 1, last_, check), nullptr);
  EXPECT_EQ(store_.reads, 0);
  changed = false;
  TBlock* b = cache.Get(1, 1, last_, check);
  ASSERT_NE(b, nullptr);
  cache.Release(b);
  cache.Release(cache.Get(1, 1, last_, check));
  EXPECT_EQ(asked, 2);
}

TEST_F(BlockCacheTest, ReadsNeverOverwriteModifiedOrPinnedBlocksButRefreshCleanOnes) {
  Fill(4);
  TBlockCache cache(store_, "T", kB, false, 16, 4);
  TBlock* two = Get(cache, 2);
  two->SetStamp(99);  // modified, then released
  cache.Release(two);
  TBlock* three = Get(cache, 3);  // stays pinned
  three->Data()[0] = 77;
  TBlock* four = Get(cache, 4);
  cache.Release(four);

  for (uint32_t n = 1; n <= 4; ++n) store_.PutBlock(n, int32_t(n * 1000), uint8_t(n + 100));
  TBlock* one = Get(cache, 1, 4);  // miss: one run over 1..4
  cache.Release(one);
  EXPECT_EQ(one->Stamp(), 1000);
  EXPECT_EQ(two->Stamp(), 99);
  EXPECT_TRUE(two->Modified());
  EXPECT_EQ(three->Data()[0], 77);
  EXPECT_EQ(four->Stamp(), 4000);  // clean and unpinned: refreshed
  cache.Release(three);
}

TEST_F(BlockCacheTest, FullCacheReusesTheLeastRecentlyUsedCleanBlock) {
  Fill(8);
  TBlockCache cache(store_, "T", kB, false, 3, 1);
  for (uint32_t n : {1, 2, 3}) cache.Release(Get(cache, n));
  cache.Release(Get(cache, 1));  // 2 is now the oldest
  cache.Release(Get(cache, 4));
  EXPECT_EQ(cache.Count(), 3u);
  EXPECT_FALSE(cache.Contains(2));
  EXPECT_TRUE(cache.Contains(1));
  EXPECT_EQ(cache.Capacity(), 3u);
}

TEST_F(BlockCacheTest, WithWritesDeferredAFullCacheGrowsBy32InsteadOfWriting) {
  Fill(8);
  TBlockCache cache(store_, "T", kB, false, 3, 1);
  bool deferred = true;
  cache.SetWritesDeferred([&] { return deferred; });
  for (uint32_t n : {1, 2, 3}) {
    TBlock* b = Get(cache, n);
    b->SetStamp(-1);
    cache.Release(b);
  }
  TBlock* four = Get(cache, 4);
  four->SetStamp(-1);
  cache.Release(four);
  EXPECT_EQ(cache.Capacity(), 35u);
  EXPECT_EQ(cache.Count(), 4u);
  EXPECT_EQ(store_.writes, 0);

  // Trimming while deferred keeps every block; the capacity comes down to the count.
  cache.Trim();
  EXPECT_EQ(cache.Count(), 4u);
  EXPECT_EQ(cache.Capacity(), 4u);
  // Once the update is over, trimming writes the modified blocks and shrinks.
  deferred = false;
  cache.Trim();
  EXPECT_EQ(store_.writes, 1);  // blocks 1..4 in one run
  EXPECT_EQ(cache.Count(), 3u);
  EXPECT_EQ(cache.Capacity(), 3u);
}

TEST_F(BlockCacheTest, WithoutDeferredWritesAFullCacheFlushesBeforeGrowing) {
  Fill(8);
  TBlockCache cache(store_, "T", kB, false, 2, 1);
  for (uint32_t n : {1, 2}) {
    TBlock* b = Get(cache, n);
    b->SetStamp(-int32_t(n));
    cache.Release(b);
  }
  cache.Release(Get(cache, 3));
  EXPECT_EQ(store_.writes, 1);
  EXPECT_EQ(cache.Capacity(), 2u);
  EXPECT_EQ(le::I32(&store_.bytes[blob::BlockOffset(kB, 2) + blob::kBlkStamp]), -2);

  // Everything pinned: nothing to flush or evict, so it grows anyway.
  TBlock* a = Get(cache, 5);
  TBlock* b = Get(cache, 6);
  TBlock* c = Get(cache, 7);
  EXPECT_EQ(cache.Capacity(), 34u);
  for (TBlock* x : {a, b, c}) cache.Release(x);
}

TEST_F(BlockCacheTest, AReadAheadRunNeverEvictsItsOwnBlocks) {
  Fill(16);
  TBlockCache cache(store_, "T", kB, false, 8, 4);
  for (uint32_t n = 1; n <= 8; ++n) {
    TBlock* b = Get(cache, n);
    if (n <= 6) b->SetStamp(-1);  // older blocks modified, 7 and 8 clean
    cache.Release(b);
  }
  cache.Release(Get(cache, 9, 4));
  for (uint32_t n = 9; n <= 12; ++n) EXPECT_TRUE(cache.Contains(n)) << n;
  EXPECT_EQ(store_.writes, 1);  // room was made by writing, not by dropping the run
  EXPECT_EQ(cache.Capacity(), 8u);
}

TEST_F(BlockCacheTest, FlushWritesConsecutiveRunsOnceAndSkipsPinnedBlocks) {
  Fill(8);
  TBlockCache cache(store_, "T", kB, false, 16, 8);
  cache.Release(Get(cache, 1, 8));
  std::vector<TBlock*> held;
  for (uint32_t n : {1, 2, 3, 5, 7}) {
    TBlock* b = Get(cache, n);
    b->SetNext(n + 100);
    if (n == 7) {
      held.push_back(b);
    } else {
      cache.Release(b);
    }
  }
  EXPECT_TRUE(cache.Flush());
  EXPECT_EQ(store_.writes, 2);  // 1..3 and 5; 7 is pinned
  EXPECT_EQ((std::vector<size_t>{3 * kB, kB}), store_.write_sizes);
  EXPECT_EQ(le::U32(&store_.bytes[blob::BlockOffset(kB, 5) + blob::kBlkNext]), 105u);
  EXPECT_EQ(le::U32(&store_.bytes[blob::BlockOffset(kB, 7) + blob::kBlkNext]), 0u);
  cache.Release(held[0]);
  EXPECT_TRUE(cache.Flush());
  EXPECT_FALSE(cache.Flush());
  EXPECT_EQ(le::U32(&store_.bytes[blob::BlockOffset(kB, 7) + blob::kBlkNext]), 107u);
}

TEST_F(BlockCacheTest, EncryptedBlocksAreScrambledAsHeaderRunAndDataRun) {
  TBlockCache cache(store_, "T", kB, true, 16, 4);
  TBlock* b = cache.Create(1);
  b->SetStamp(0x01020304);
  std::vector<uint8_t> data(kB - blob::kBlockHeaderSize, 0xAB);
  b->PutData(data);
  cache.Release(b);
  ASSERT_TRUE(cache.Flush());

  std::vector<uint8_t> expect(kB);
  le::PutU16(&expect[blob::kBlkUsed], uint16_t(data.size()));
  le::PutI32(&expect[blob::kBlkStamp], 0x01020304);
  std::memcpy(&expect[blob::kBlockHeaderSize], data.data(), data.size());
  std::vector<uint8_t> plain = expect;
  // Each run restarts from the seed: data byte 0 is scrambled like header byte 0.
  const uint8_t l = kBufferSeed & 0xFF, h = kBufferSeed >> 8;
  for (size_t i = 0; i < blob::kBlockHeaderSize; ++i) expect[i] ^= uint8_t(l + i) ^ uint8_t(h - i);
  for (size_t i = 0; i < data.size(); ++i) {
    expect[blob::kBlockHeaderSize + i] ^= uint8_t(l + i) ^ uint8_t(h - i);
  }
  std::vector<uint8_t> on_disk(store_.bytes.begin() + blob::kHeaderSize, store_.bytes.end());
  EXPECT_EQ(on_disk, expect);

  // A second cache reads it back unscrambled.
  TBlockCache other(store_, "T", kB, true, 16, 4);
  TBlock* back = other.Get(1, 1, 1, {});
  EXPECT_EQ(back->Stamp(), 0x01020304);
  EXPECT_EQ(back->Used(), data.size());
  EXPECT_EQ(back->Data()[0], 0xAB);
  other.Release(back);
}

TEST_F(BlockCacheTest, DiscardDropsEverythingButKeepsPinnedBlocksValidUntilReleased) {
  Fill(4);
  TBlockCache cache(store_, "T", kB, false, 16, 4);
  TBlock* held = Get(cache, 2, 4);
  cache.Discard();
  EXPECT_EQ(cache.Count(), 0u);
  EXPECT_EQ(held->Stamp(), 20);  // still readable (ASan would object otherwise)
  store_.PutBlock(2, 222, 0);
  TBlock* fresh = Get(cache, 2);
  EXPECT_NE(fresh, held);
  EXPECT_EQ(fresh->Stamp(), 222);
  cache.Release(held);
  cache.Release(fresh);
  EXPECT_EQ(store_.reads, 2);
}

}  // namespace
}  // namespace cairn
