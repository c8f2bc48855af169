#include "storage/files/blob_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "storage/base/engine_error.h"
#include "storage/files/data_endian.h"
#include "storage/files/scramble.h"

namespace cairn {
namespace {

namespace fs = std::filesystem;

class BlobFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "cairn-blob-XXXXXX").string();
    dir_ = ::mkdtemp(pattern.data());
    path_ = dir_ + "/T.BLB";
  }
  void TearDown() override {
    files_.clear();
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // A new, created (empty) blob file, then closed and opened shared.
  TBlobFile& Make(uint32_t block_size = 512, bool encrypted = false) {
    {
      TBlobFile f("T", path_, block_size, encrypted);
      f.Create();
    }
    return Open(block_size, encrypted);
  }
  TBlobFile& Open(uint32_t block_size = 512, bool encrypted = false) {
    files_.push_back(std::make_unique<TBlobFile>("T", path_, block_size, encrypted));
    files_.back()->Open();
    return *files_.back();
  }

  std::vector<uint8_t> Disk() const {
    std::ifstream in(path_, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  }
  void Poke(uint64_t offset, const std::vector<uint8_t>& bytes) {
    std::fstream io(path_, std::ios::binary | std::ios::in | std::ios::out);
    io.seekp(std::streamoff(offset));
    io.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  }
  void PokeU32(uint64_t offset, uint32_t v) {
    std::vector<uint8_t> b(4);
    le::PutU32(b.data(), v);
    Poke(offset, b);
  }
  static uint64_t At(uint32_t n, int field, uint32_t b = 512) {
    return blob::BlockOffset(b, n) + uint64_t(field);
  }
  static uint32_t U32At(const std::vector<uint8_t>& d, uint64_t at) { return le::U32(&d[at]); }

  static std::vector<uint8_t> Pattern(size_t n, uint8_t seed = 1) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = uint8_t(seed + i * 7 + (i >> 8));
    return v;
  }
  // Writes `value` as a new blob (or over `buffer`'s chain) and flushes.
  static void Write(TBlobFile& f, TBlobBuffer& buffer, const std::vector<uint8_t>& value,
                    int32_t stamp) {
    buffer.SetContents(value);
    f.WriteBlobValue(buffer, stamp);
    f.FlushAll(false);
  }
  static std::vector<uint8_t> Read(TBlobFile& f, uint32_t first, int32_t stamp) {
    TBlobBuffer b(1, 1, first, stamp, TBlobOpenMode::kReadOnly);
    f.ReadBlobValue(b);
    return std::vector<uint8_t>(b.Contents().begin(), b.Contents().end());
  }
  template <typename F>
  static int Code(F&& f) {
    try {
      f();
    } catch (const ECairnEngineError& e) {
      return e.code();
    }
    return 0;
  }

  std::string dir_;
  std::string path_;
  std::vector<std::unique_ptr<TBlobFile>> files_;
};

TEST_F(BlobFileTest, CreateWritesAnEmptyHeader) {
  Make();
  std::vector<uint8_t> d = Disk();
  ASSERT_EQ(d.size(), 512u);
  std::vector<uint8_t> expect(512);
  expect[0] = 1;  // written once
  expect[8] = 5;
  expect[13] = 1;
  expect[17] = 1;  // the modified flag as it was when written
  EXPECT_EQ(d, expect);
  EXPECT_EQ(files_[0]->NextBlockNumber(), 1u);
  EXPECT_FALSE(files_[0]->HeaderModified());  // readers reset it
  EXPECT_EQ(files_[0]->Cache().Capacity(), 64u);
  EXPECT_EQ(files_[0]->Cache().ReadAhead(), 32u);
}

TEST_F(BlobFileTest, BadHeadersAndBlockSizesAreRefused) {
  EXPECT_EQ(Code([&] { TBlobFile("T", path_, 63, false).Create(); }), CAIRN_BLOBLIMIT);
  Make();
  files_.clear();
  Poke(8, {4});
  EXPECT_EQ(Code([&] { Open(); }), CAIRN_OLDVERSION);
  Poke(8, {5});
  PokeU32(9, 1);  // a free block in an empty file
  EXPECT_EQ(Code([&] { Open(); }), CAIRN_HEADERCORRUPT);
  PokeU32(13, 3);  // next block 3: free head 1 or 2 is fine, 3 is not
  EXPECT_EQ(Code([&] { Open(); }), 0);
  PokeU32(9, 3);
  EXPECT_EQ(Code([&] { Open(); }), CAIRN_HEADERCORRUPT);
  // A changed header is checked as it is taken.
  PokeU32(9, 0);
  TBlobFile& f = Open();
  PokeU32(9, 7);
  PokeU32(0, uint32_t(f.ChangeCounter()) + 1);
  EXPECT_EQ(Code([&] { f.HeaderChangedOnDisk(); }), CAIRN_HEADERCORRUPT);
  files_.clear();
  fs::resize_file(path_, 100);
  EXPECT_EQ(Code([&] { Open(); }), CAIRN_READERR);
}

TEST_F(BlobFileTest, A494ByteValueTakesOneBlockAnd495TakeTwo) {
  TBlobFile& f = Make();
  TBlobBuffer a(1, 1, 0, 0, TBlobOpenMode::kReadWrite);
  Write(f, a, Pattern(494), 7);
  EXPECT_EQ(a.FirstBlock(), 1u);
  EXPECT_EQ(a.Stamp(), 7);
  EXPECT_EQ(f.NextBlockNumber(), 2u);

  TBlobBuffer b(1, 2, 0, 0, TBlobOpenMode::kReadWrite);
  Write(f, b, Pattern(495, 9), 8);
  EXPECT_EQ(b.FirstBlock(), 2u);
  EXPECT_EQ(f.NextBlockNumber(), 4u);

  std::vector<uint8_t> d = Disk();
  ASSERT_EQ(d.size(), 512u + 3 * 512);
  EXPECT_EQ(U32At(d, 13), 4u);
  // Block 1: alone, 494 bytes used, total 494.
  EXPECT_EQ(U32At(d, At(1, 0)), 0u);
  EXPECT_EQ(U32At(d, At(1, 4)), 0u);
  EXPECT_EQ(le::U16(&d[At(1, 8)]), 494);
  EXPECT_EQ(U32At(d, At(1, 10)), 7u);
  EXPECT_EQ(U32At(d, At(1, 14)), 494u);
  // Blocks 2 -> 3: the second holds one byte and no total length.
  EXPECT_EQ(U32At(d, At(2, 4)), 3u);
  EXPECT_EQ(le::U16(&d[At(2, 8)]), 494);
  EXPECT_EQ(U32At(d, At(2, 14)), 495u);
  EXPECT_EQ(U32At(d, At(3, 0)), 2u);
  EXPECT_EQ(U32At(d, At(3, 4)), 0u);
  EXPECT_EQ(le::U16(&d[At(3, 8)]), 1);
  EXPECT_EQ(U32At(d, At(3, 10)), 8u);
  EXPECT_EQ(U32At(d, At(3, 14)), 0u);
  EXPECT_EQ(d[At(3, 18)], Pattern(495, 9)[494]);

  TBlobFile& g = Open();
  EXPECT_EQ(Read(g, 1, 7), Pattern(494));
  EXPECT_EQ(Read(g, 2, 8), Pattern(495, 9));
}

TEST_F(BlobFileTest, RewritingThreeBlocksWithOneFreesTheTailLastBlockFirst) {
  TBlobFile& f = Make();
  TBlobBuffer keep(1, 9, 0, 0, TBlobOpenMode::kReadWrite);
  Write(f, keep, Pattern(10), 1);  // block 1, so the chain below starts at 2
  TBlobBuffer b(1, 1, 0, 0, TBlobOpenMode::kReadWrite);
  Write(f, b, Pattern(1200), 2);  // blocks 2, 3, 4
  ASSERT_EQ(b.FirstBlock(), 2u);
  Write(f, b, Pattern(100, 5), 3);
  EXPECT_EQ(b.FirstBlock(), 2u);
  EXPECT_EQ(b.Stamp(), 3);

  std::vector<uint8_t> d = Disk();
  EXPECT_EQ(U32At(d, At(2, 4)), 0u);  // the kept block ends the chain
  EXPECT_EQ(U32At(d, At(2, 14)), 100u);
  EXPECT_EQ(U32At(d, 9), 4u);  // free list: 4 -> 3 -> 0
  EXPECT_EQ(U32At(d, At(4, 4)), 3u);
  EXPECT_EQ(U32At(d, At(3, 4)), 0u);
  EXPECT_EQ(Read(f, 2, 3), Pattern(100, 5));
  // Nothing of the old value stays in the file: not behind the new value,
  // not in the freed blocks.
  auto zeros = [&](uint64_t from, uint64_t to) {
    return std::all_of(d.begin() + ptrdiff_t(from), d.begin() + ptrdiff_t(to),
                       [](uint8_t c) { return c == 0; });
  };
  EXPECT_TRUE(zeros(At(2, 18 + 100), At(3, 0)));
  EXPECT_TRUE(zeros(At(3, 18), At(4, 0)));
  EXPECT_TRUE(zeros(At(4, 18), At(5, 0)));

  // New blocks come from the free list, head first, before the file grows.
  TBlobBuffer c(1, 2, 0, 0, TBlobOpenMode::kReadWrite);
  Write(f, c, Pattern(600, 3), 4);
  EXPECT_EQ(c.FirstBlock(), 4u);
  EXPECT_EQ(f.FreeListHead(), 0u);
  EXPECT_EQ(f.NextBlockNumber(), 5u);
  d = Disk();
  EXPECT_EQ(U32At(d, At(4, 4)), 3u);
  EXPECT_EQ(U32At(d, At(3, 0)), 4u);
  TBlobBuffer e(1, 3, 0, 0, TBlobOpenMode::kReadWrite);
  Write(f, e, Pattern(1), 5);
  EXPECT_EQ(e.FirstBlock(), 5u);
  EXPECT_EQ(Read(f, 4, 4), Pattern(600, 3));
  EXPECT_EQ(Read(f, 1, 1), Pattern(10));
}

TEST_F(BlobFileTest, LongChainsRoundTripAndGrowOrShrinkInPlace) {
  for (uint32_t bs : {64u, 512u, 4096u}) {
    SCOPED_TRACE(bs);
    TearDown();
    SetUp();
    TBlobFile& f = Make(bs);
    TBlobBuffer b(1, 1, 0, 0, TBlobOpenMode::kReadWrite);
    const std::vector<size_t> sizes = {120000, 30000, 1, 100001, 0, 5};
    int32_t stamp = 1;
    for (size_t n : sizes) {
      Write(f, b, Pattern(n, uint8_t(n)), ++stamp);
      EXPECT_EQ(Read(f, b.FirstBlock(), stamp), Pattern(n, uint8_t(n)));
      TBlobFile& g = Open(bs);  // from the disk, not the cache
      EXPECT_EQ(Read(g, b.FirstBlock(), stamp), Pattern(n, uint8_t(n)));
      files_.pop_back();
    }
    // The file never held more blocks than the largest value needed.
    const uint32_t per = bs - 18;
    EXPECT_EQ(f.LastBlockNumber(), (120000 + per - 1) / per);
  }
}

TEST_F(BlobFileTest, ChainsAreReadInRunsWhetherTheyRunUpOrDownTheFile) {
  TBlobFile& f = Make();
  TBlobBuffer b(1, 1, 0, 0, TBlobOpenMode::kReadWrite);
  Write(f, b, Pattern(100000), 1);  // blocks 1 .. 203, upwards
  Write(f, b, Pattern(1), 2);       // 2 .. 203 freed, 203 at the head
  Write(f, b, Pattern(100000, 4), 3);
  std::vector<uint32_t> chain;
  for (uint32_t n = b.FirstBlock(); n != 0;) {
    TBlock* blk = f.ReadBlock(n, 1);
    chain.push_back(n);
    n = blk->Next();
    f.ReleaseBlock(blk);
  }
  ASSERT_EQ(chain.size(), 203u);
  EXPECT_EQ(chain[1], 203u);  // the free list ran downwards
  EXPECT_EQ(chain[202], 2u);
  EXPECT_EQ(f.LastBlockNumber(), 203u);

  TBlobFile& g = Open();
  EXPECT_EQ(Read(g, 1, 3), Pattern(100000, 4));
  // 32 blocks per read: 1, then 203 .. 2 downwards.
  EXPECT_LE(g.Cache().Stats().reads, 1u + 7u + 1u);
  const uint64_t before = g.Cache().Stats().reads;
  g.DiscardBlocks();
  g.FreeBlobChain(1, 3, false);
  EXPECT_LE(g.Cache().Stats().reads - before, 2u * (1u + 7u + 1u));
}

TEST_F(BlobFileTest, EmptyValuesTouchNothingAndFreeTheOldChain) {
  TBlobFile& f = Make();
  EXPECT_TRUE(Read(f, 0, 123).empty());
  EXPECT_EQ(f.Cache().Stats().reads, 0u);
  TBlobBuffer b(1, 1, 0, 0, TBlobOpenMode::kReadWrite);
  Write(f, b, Pattern(1000), 2);
  Write(f, b, {}, 3);
  EXPECT_EQ(b.FirstBlock(), 0u);
  EXPECT_EQ(f.FreeListHead(), 3u);
}

TEST_F(BlobFileTest, AStaleStampReadsAsChangedNotAsOldData) {
  TBlobFile& f = Make();
  TBlobBuffer b(1, 1, 0, 0, TBlobOpenMode::kReadWrite);
  Write(f, b, Pattern(1000), 5);
  Write(f, b, Pattern(1000, 3), 6);  // another cursor rewrote it
  EXPECT_EQ(Code([&] { Read(f, 1, 5); }), CAIRN_KEYORRECDELETED);
  // A later block of the chain with a foreign stamp is caught too.
  PokeU32(At(2, 10), 99);
  TBlobFile& g = Open();
  EXPECT_EQ(Code([&] { Read(g, 1, 6); }), CAIRN_KEYORRECDELETED);
}

TEST_F(BlobFileTest, CorruptChainsFailCleanly) {
  TBlobFile& f = Make();
  TBlobBuffer b(1, 1, 0, 0, TBlobOpenMode::kReadWrite);
  Write(f, b, Pattern(1500), 5);  // blocks 1 -> 2 -> 3 -> 4
  files_.clear();
  auto read_fresh = [&] { return Code([&] { Read(Open(), 1, 5); }); };

  PokeU32(At(2, 4), 9);  // link beyond the last block
  EXPECT_EQ(read_fresh(), CAIRN_MEMOCORRUPT);
  PokeU32(At(2, 4), 1);  // a cycle back to the first block
  EXPECT_EQ(read_fresh(), CAIRN_MEMOCORRUPT);
  PokeU32(At(2, 4), 2);  // a block that links to itself
  EXPECT_EQ(read_fresh(), CAIRN_MEMOCORRUPT);
  PokeU32(At(2, 4), 0);  // the chain ends early
  EXPECT_EQ(read_fresh(), CAIRN_ENDOFBLOB);
  PokeU32(At(2, 4), 3);
  Poke(At(3, 8), {10, 0});  // a block that yields fewer bytes than its share
  EXPECT_EQ(read_fresh(), CAIRN_ENDOFBLOB);
  Poke(At(3, 8), {0xEE, 1});
  PokeU32(At(1, 14), 0xFFFFFFF0u);  // an absurd total length
  EXPECT_EQ(read_fresh(), CAIRN_ENDOFBLOB);
  PokeU32(At(1, 14), 1500);
  EXPECT_EQ(read_fresh(), 0);

  fs::resize_file(path_, At(3, 100));  // truncated inside block 3
  EXPECT_EQ(read_fresh(), CAIRN_MEMOCORRUPT);
  files_.clear();
  EXPECT_EQ(Code([&] { Read(Open(), 7, 5); }), CAIRN_MEMOCORRUPT);  // first block out of range
}

TEST_F(BlobFileTest, FreeingChecksTheWholeChainBeforeChangingTheFreeList) {
  TBlobFile& f = Make();
  TBlobBuffer a(1, 1, 0, 0, TBlobOpenMode::kReadWrite);
  Write(f, a, Pattern(1500), 5);  // 1 -> 2 -> 3 -> 4
  TBlobBuffer b(1, 2, 0, 0, TBlobOpenMode::kReadWrite);
  Write(f, b, Pattern(10), 6);  // 5

  EXPECT_EQ(Code([&] { f.FreeBlobChain(1, 4, false); }), CAIRN_MEMOCORRUPT);  // wrong stamp
  EXPECT_EQ(f.FreeListHead(), 0u);

  TBlock* blk = f.ReadBlock(3, 1);
  blk->SetNext(2);  // 1 -> 2 -> 3 -> 2 ...
  f.ReleaseBlock(blk);
  EXPECT_EQ(Code([&] { f.FreeBlobChain(1, 5, false); }), CAIRN_MEMOCORRUPT);
  EXPECT_EQ(Code([&] { f.FreeBlobChain(1, 5, true); }), CAIRN_MEMOCORRUPT);
  EXPECT_EQ(f.FreeListHead(), 0u);
  blk = f.ReadBlock(3, 1);
  blk->SetNext(4);
  f.ReleaseBlock(blk);

  // Rewriting over a chain that loops back must not link blocks twice.
  blk = f.ReadBlock(2, 1);
  blk->SetNext(1);
  f.ReleaseBlock(blk);
  TBlobBuffer c(1, 1, 1, 5, TBlobOpenMode::kReadWrite);
  c.SetContents(Pattern(1500));
  EXPECT_EQ(Code([&] { f.WriteBlobValue(c, 7); }), CAIRN_MEMOCORRUPT);
  f.DiscardBlocks();

  // Force frees a chain whatever its stamps, the last block ending as head.
  TBlobFile& g = Open();
  blk = g.ReadBlock(3, 1);
  blk->SetStamp(77);
  g.ReleaseBlock(blk);
  g.FreeBlobChain(1, 5, true);
  EXPECT_EQ(g.FreeListHead(), 4u);
  g.FlushAll(false);
  std::vector<uint8_t> d = Disk();
  EXPECT_EQ(U32At(d, At(4, 4)), 3u);
  EXPECT_EQ(U32At(d, At(3, 4)), 2u);
  EXPECT_EQ(U32At(d, At(2, 4)), 1u);
  EXPECT_EQ(U32At(d, At(1, 4)), 0u);
  EXPECT_EQ(Read(g, 5, 6), Pattern(10));
}

TEST_F(BlobFileTest, RandomDamageNeverCrashesLoopsOrCorruptsTheFreeList) {
  // Five values over 64-byte blocks, then random bytes of the block headers
  // and the header's counters overwritten. Every operation must either work
  // or raise an engine error (ASan and the test's time limit watch the rest).
  std::mt19937 rng(12345);
  for (int round = 0; round < 150; ++round) {
    SCOPED_TRACE(round);
    files_.clear();
    std::vector<std::pair<uint32_t, int32_t>> values;
    {
      TBlobFile& f = Make(64);
      for (int i = 0; i < 5; ++i) {
        TBlobBuffer b(1, uint32_t(i + 1), 0, 0, TBlobOpenMode::kReadWrite);
        Write(f, b, Pattern(size_t(rng() % 400), uint8_t(i)), i + 1);
        values.emplace_back(b.FirstBlock(), b.Stamp());
      }
      if (round % 2) f.FreeBlobChain(values[1].first, values[1].second, false);
      f.FlushAll(false);
      files_.clear();
    }
    const uint32_t blocks = uint32_t((fs::file_size(path_) - 512) / 64);
    for (int hits = 1 + int(rng() % 4); hits > 0; --hits) {
      const uint32_t n = 1 + rng() % blocks;
      const int field = int(rng() % 18);
      std::vector<uint8_t> junk = {uint8_t(rng() % 4 == 0 ? rng() : rng() % (blocks + 2))};
      Poke(At(n, field, 64), junk);
    }
    if (rng() % 5 == 0) PokeU32(9, rng() % (blocks + 3));
    if (rng() % 7 == 0) fs::resize_file(path_, 512 + 64 * (rng() % (blocks + 1)));

    TBlobFile* f = nullptr;
    if (Code([&] { f = &Open(64); }) != 0) continue;
    for (auto [first, stamp] : values) {
      const int code = Code([&] { Read(*f, first, stamp); });
      EXPECT_TRUE(code == 0 || code == CAIRN_MEMOCORRUPT || code == CAIRN_KEYORRECDELETED ||
                  code == CAIRN_ENDOFBLOB)
          << code;
    }
    for (auto [first, stamp] : values) {
      TBlobBuffer b(1, 1, first, stamp, TBlobOpenMode::kReadWrite);
      b.SetContents(Pattern(size_t(rng() % 300)));
      Code([&] { f->WriteBlobValue(b, 99); });
      Code([&] { f->FreeBlobChain(first, stamp, rng() % 2 == 0); });
    }
    // Whatever happened, the free list handed out stays inside the file and
    // never hands out the same block twice in a row.
    std::vector<uint32_t> taken;
    for (int i = 0; i < 12; ++i) {
      TBlock* blk = nullptr;
      if (Code([&] { blk = f->AllocateBlock(); }) != 0) break;
      EXPECT_LE(blk->Number(), f->LastBlockNumber());
      EXPECT_TRUE(taken.empty() || taken.back() != blk->Number());
      taken.push_back(blk->Number());
      f->ReleaseBlock(blk);
    }
    f->DiscardBlocks();
  }
}

TEST_F(BlobFileTest, RewritesNeverTakeOverBlocksOfAnotherValue) {
  TBlobFile& f = Make();
  TBlobBuffer a(1, 1, 0, 0, TBlobOpenMode::kReadWrite);
  Write(f, a, Pattern(1200, 1), 1);  // 1 -> 2 -> 3
  TBlobBuffer b(1, 2, 0, 0, TBlobOpenMode::kReadWrite);
  Write(f, b, Pattern(300, 2), 2);  // 4

  // A record that still points at block 4 with a stamp it no longer carries.
  TBlobBuffer stale(1, 3, 4, 9, TBlobOpenMode::kReadWrite);
  Write(f, stale, Pattern(100, 3), 3);
  EXPECT_EQ(stale.FirstBlock(), 5u);
  // An empty value over it frees nothing.
  TBlobBuffer stale2(1, 4, 4, 9, TBlobOpenMode::kReadWrite);
  Write(f, stale2, {}, 4);
  EXPECT_EQ(f.FreeListHead(), 0u);
  EXPECT_EQ(Read(f, 4, 2), Pattern(300, 2));

  // A chain damaged to run into block 4: rewriting it longer allocates
  // instead of overwriting 4, and rewriting it shorter frees nothing of it.
  TBlock* blk = f.ReadBlock(2, 1);
  blk->SetNext(4);
  f.ReleaseBlock(blk);
  Write(f, a, Pattern(1200, 5), 5);
  EXPECT_EQ(Read(f, 1, 5), Pattern(1200, 5));
  EXPECT_EQ(Read(f, 4, 2), Pattern(300, 2));
  blk = f.ReadBlock(2, 1);
  EXPECT_EQ(blk->Next(), 6u);
  blk->SetNext(4);  // and again, for the shorter rewrite
  f.ReleaseBlock(blk);
  Write(f, a, Pattern(600, 6), 6);  // keeps 1 and 2, tail 4 is not its own
  EXPECT_EQ(f.FreeListHead(), 0u);
  EXPECT_EQ(Read(f, 1, 6), Pattern(600, 6));
  EXPECT_EQ(Read(f, 4, 2), Pattern(300, 2));
}

TEST_F(BlobFileTest, EncryptedFilesScrambleHeaderAndBlocksAndReadBack) {
  TBlobFile& f = Make(512, true);
  TBlobBuffer b(1, 1, 0, 0, TBlobOpenMode::kReadWrite);
  Write(f, b, Pattern(700), 42);
  std::vector<uint8_t> d = Disk();
  ASSERT_EQ(d.size(), 512u + 2 * 512);
  std::vector<uint8_t> header(d.begin(), d.begin() + 512);
  Scramble(header, kBufferSeed);
  EXPECT_EQ(header[8], 5);
  EXPECT_EQ(le::U32(&header[13]), 3u);
  std::vector<uint8_t> bh(d.begin() + At(1, 0), d.begin() + At(1, 18));
  std::vector<uint8_t> data(d.begin() + At(1, 18), d.begin() + At(2, 0));
  Scramble(bh, kBufferSeed);
  Scramble(data, kBufferSeed);
  EXPECT_EQ(le::U32(&bh[4]), 2u);
  EXPECT_EQ(le::I32(&bh[10]), 42);
  EXPECT_EQ(le::U32(&bh[14]), 700u);
  const std::vector<uint8_t> value = Pattern(700);
  std::vector<uint8_t> first(value.begin(), value.begin() + 494);
  EXPECT_EQ(data, first);

  EXPECT_EQ(Read(Open(512, true), 1, 42), Pattern(700));
  // Without the flag the scrambled header is refused, not misread.
  EXPECT_NE(Code([&] { Open(512, false); }), 0);
}

TEST_F(BlobFileTest, AnotherWritersChangeIsNoticedByTheHeaderCounter) {
  TBlobFile& writer = Make();
  TBlobFile& reader = Open();
  TBlobBuffer w(1, 1, 0, 0, TBlobOpenMode::kReadWrite);
  Write(writer, w, Pattern(300), 1);
  EXPECT_TRUE(reader.HeaderChangedOnDisk());  // it saw the header before the write
  EXPECT_EQ(Read(reader, 1, 1), Pattern(300));
  EXPECT_FALSE(reader.HeaderChangedOnDisk());

  Write(writer, w, Pattern(300, 4), 2);                                 // same block, new bytes
  EXPECT_EQ(Code([&] { Read(reader, 1, 2); }), CAIRN_KEYORRECDELETED);  // cached copy
  EXPECT_TRUE(reader.HeaderChangedOnDisk());
  EXPECT_EQ(reader.Cache().Count(), 0u);
  EXPECT_EQ(Read(reader, 1, 2), Pattern(300, 4));

  // A reader whose cursor notices the change on a miss starts over.
  Write(writer, w, Pattern(2000, 8), 3);
  reader.DiscardBlocks();  // as if evicted; its header is still the old one
  int checks = 0;
  TChangeCheck check = [&] {
    ++checks;
    return reader.HeaderChangedOnDisk();
  };
  TBlobBuffer r(1, 1, 1, 3, TBlobOpenMode::kReadOnly);
  reader.ReadBlobValue(r, check, true);
  EXPECT_EQ(std::vector<uint8_t>(r.Contents().begin(), r.Contents().end()), Pattern(2000, 8));
  EXPECT_TRUE(r.HasSnapshot());
  EXPECT_GE(checks, 2);
}

TEST_F(BlobFileTest, UpdatesUnderTheWriteLockStayInMemoryUntilTheFlush) {
  TBlobFile& f = Make();
  bool write_lock = true;
  f.SetWritesDeferred([&] { return write_lock; });
  TBlobBuffer b(1, 1, 0, 0, TBlobOpenMode::kReadWrite);
  b.SetContents(Pattern(100000));
  f.WriteBlobValue(b, 1);
  EXPECT_EQ(Disk().size(), 512u);
  const uint32_t blocks = (100000 + 493) / 494;
  EXPECT_EQ(f.Cache().Count(), blocks);
  EXPECT_EQ((f.Cache().Capacity() - 64) % 32, 0u);
  EXPECT_GE(f.Cache().Capacity(), blocks);
  EXPECT_TRUE(f.FlushAll(true));
  EXPECT_EQ(Disk().size(), 512u + blocks * 512);
  write_lock = false;
  f.TrimBlockCache();
  EXPECT_EQ(f.Cache().Count(), 64u);
  EXPECT_EQ(f.Cache().Capacity(), 64u);
  EXPECT_FALSE(f.FlushAll(true));
  EXPECT_EQ(Read(Open(), 1, 1), Pattern(100000));
}

// Counts the requests to put the file's buffers on disk.
class TSyncCountingBlobFile : public TBlobFile {
 public:
  using TBlobFile::TBlobFile;
  void Flush() override {
    ++syncs;
    TBlobFile::Flush();
  }
  int syncs = 0;
};

TEST_F(BlobFileTest, TheOperatingSystemFlushFollowsOnlyForcedFlushesThatWrote) {
  Make();
  files_.clear();
  TSyncCountingBlobFile f("T", path_, 512, false);
  f.Open();
  TBlobBuffer b(1, 1, 0, 0, TBlobOpenMode::kReadWrite);
  b.SetContents(Pattern(900));
  f.WriteBlobValue(b, 1);
  EXPECT_TRUE(f.FlushAll(false));
  EXPECT_EQ(f.syncs, 0);
  b.SetContents(Pattern(900, 2));
  f.WriteBlobValue(b, 2);
  EXPECT_TRUE(f.FlushAll(true));
  EXPECT_EQ(f.syncs, 1);
  EXPECT_FALSE(f.FlushAll(true));  // nothing to write, nothing to sync
  EXPECT_EQ(f.syncs, 1);
  f.Empty(true);
  EXPECT_EQ(f.syncs, 2);
}

TEST_F(BlobFileTest, AppendingStopsAtTheFileSizeLimit) {
  TBlobFile& f = Make(64);
  // 512 + 64 * n must stay within 4000000000 bytes.
  const uint32_t last_ok = (4000000000u - 512) / 64;
  files_.clear();
  PokeU32(13, last_ok);
  TBlobFile& g = Open(64);
  TBlock* blk = g.AllocateBlock();
  EXPECT_EQ(blk->Number(), last_ok);
  g.ReleaseBlock(blk);
  EXPECT_EQ(Code([&] { g.AllocateBlock(); }), CAIRN_TABLEFULL);
  g.DiscardBlocks();  // never flush a block at the 4 GB mark
  (void)f;
}

TEST_F(BlobFileTest, EmptyTruncatesAndResetsTheHeader) {
  TBlobFile& f = Make();
  TBlobBuffer b(1, 1, 0, 0, TBlobOpenMode::kReadWrite);
  Write(f, b, Pattern(5000), 1);
  const int32_t counter = f.ChangeCounter();
  f.Empty(true);
  EXPECT_EQ(Disk().size(), 512u);
  EXPECT_EQ(f.NextBlockNumber(), 1u);
  EXPECT_EQ(f.FreeListHead(), 0u);
  EXPECT_EQ(f.Cache().Count(), 0u);
  EXPECT_EQ(f.ChangeCounter(), counter + 1);
  std::vector<uint8_t> d = Disk();
  EXPECT_EQ(U32At(d, 13), 1u);  // the header on disk is the emptied one
  EXPECT_EQ(U32At(d, 9), 0u);
  EXPECT_FALSE(f.FlushAll(false));
  EXPECT_EQ(Code([&] { Read(f, 1, 1); }), CAIRN_MEMOCORRUPT);
}

TEST_F(BlobFileTest, AskingMoreThanABlocksDataAreaIsAnInvalidLength) {
  TBlobFile& f = Make(64);
  TBlobBuffer b(1, 1, 0, 0, TBlobOpenMode::kReadWrite);
  Write(f, b, Pattern(46), 1);
  TBlock* blk = f.ReadBlock(1, 1);
  std::vector<uint8_t> out(47);
  EXPECT_EQ(Code([&] { f.ReadBlockData(*blk, out); }), CAIRN_INVALIDBLOBLEN);
  EXPECT_EQ(f.ReadBlockData(*blk, std::span(out).first(46)), 46u);
  f.ReleaseBlock(blk);
}

TEST(BlobBufferListTest, ACursorHoldsAtMost128OpenBlobs) {
  TBlobBufferList list("Pal");
  for (uint32_t slot = 1; slot <= 128; ++slot) list.Open(4, slot, 0, 0, TBlobOpenMode::kReadOnly);
  // Opening one already open only counts a use.
  TBlobBuffer& again = list.Open(4, 128, 0, 0, TBlobOpenMode::kReadOnly);
  EXPECT_EQ(again.UseCount(), 2);
  try {
    list.Open(4, 129, 0, 0, TBlobOpenMode::kReadOnly);
    ADD_FAILURE() << "129th blob opened";
  } catch (const ECairnEngineError& e) {
    EXPECT_EQ(e.code(), CAIRN_OPENBLOBLIMIT);
    EXPECT_EQ(e.message(), "Cairn Engine Error # 9494 Too many blobs opened in the table 'Pal'");
  }
  list.Close(again);
  EXPECT_EQ(list.Count(), 128u);
  list.Close(*list.Find(4, 128));
  EXPECT_EQ(list.Find(4, 128), nullptr);
  TBlobBuffer& fresh = list.Open(5, 1, 3, 9, TBlobOpenMode::kReadWrite);
  EXPECT_EQ(fresh.FirstBlock(), 3u);
  EXPECT_EQ(list.Count(), 128u);
}

}  // namespace
}  // namespace cairn
