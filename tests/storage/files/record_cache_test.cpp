// The record cache over an in-memory file: lookups, read-ahead, eviction,
// batched flushing with per-slot scrambling, discard and trim.
#include "storage/files/record_cache.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <vector>

#include "storage/files/scramble.h"

namespace cairn {
namespace {

constexpr uint64_t kArea = 100;  // file offset of slot 1

class FakeHost : public TRecordCacheHost {
 public:
  FakeHost(uint32_t record_size, uint32_t slots) : r(record_size), next(slots + 1) {
    file.assign(kArea + uint64_t(r) * slots, 0);
    for (uint32_t s = 1; s <= slots; ++s) {
      uint8_t* p = &file[kArea + uint64_t(s - 1) * r];
      p[0] = 0;
      p[9] = uint8_t(s);  // a marker byte in the fields
      if (encrypted) Scramble(p, r, kBufferSeed);
    }
  }
  void EncryptAll() {
    encrypted = true;
    for (uint32_t s = 1; s < next; ++s)
      Scramble(&file[kArea + uint64_t(s - 1) * r], r, kBufferSeed);
  }
  uint64_t SlotAreaOffset() const override { return kArea; }
  uint32_t NextRecordNumber() const override { return next; }
  size_t ReadSlots(uint64_t offset, std::span<uint8_t> buffer) override {
    ++read_calls;
    last_read_length = buffer.size();
    if (offset >= file.size()) return 0;
    size_t n = std::min<size_t>(buffer.size(), file.size() - offset);
    std::memcpy(buffer.data(), &file[offset], n);
    return n;
  }
  void WriteSlots(uint64_t offset, std::span<const uint8_t> buffer) override {
    writes.push_back({offset, buffer.size()});
    if (file.size() < offset + buffer.size()) file.resize(offset + buffer.size());
    std::memcpy(&file[offset], buffer.data(), buffer.size());
  }
  void ScrambleSlot(std::span<uint8_t> image) override {
    if (encrypted) Scramble(image, kBufferSeed);
  }
  bool WriteLockHeld() override { return write_lock; }
  bool TableChangedOnDisk() override { return changed; }
  [[noreturn]] void RaiseCorrupt() override { throw std::runtime_error("corrupt"); }
  void RecordsWritten() override { ++written_notices; }

  uint32_t r;
  uint32_t next;
  bool encrypted = false;
  bool write_lock = false;
  bool changed = false;
  int read_calls = 0;
  size_t last_read_length = 0;
  int written_notices = 0;
  struct Write {
    uint64_t offset;
    size_t length;
  };
  std::vector<Write> writes;
  std::vector<uint8_t> file;
};

TEST(RecordCache, SizingFollowsRecordSize) {
  FakeHost host(581, 10);
  TRecordCache cache(host);
  cache.Configure(581);
  EXPECT_EQ(cache.Capacity(), 16384u / 581);
  EXPECT_EQ(cache.ReadAheadSize(), 8192u / 581);
  cache.Configure(9);
  EXPECT_EQ(cache.Capacity(), 1820u);
  cache.Configure(1);
  EXPECT_EQ(cache.Capacity(), 8192u) << "never more than 8192 records";
  cache.Configure(20000);
  EXPECT_EQ(cache.ReadAheadSize(), 1u);
}

TEST(RecordCache, ReadAheadFillsNeighboursAndSetsSlotNumbers) {
  FakeHost host(100, 200);
  TRecordCache cache(host);
  cache.Configure(100);  // read-ahead 81, capacity 163
  TRecord* r = cache.Get(5, true, true);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(host.read_calls, 1);
  EXPECT_EQ(host.last_read_length, 81u * 100);
  EXPECT_EQ(r->Slot(), 5u);
  EXPECT_EQ(r->ImageSlotNumber(), 5u) << "bytes 1-4 of an active slot carry its number";
  EXPECT_EQ(r->PinCount(), 1);
  r->Unpin();
  for (uint32_t s = 5; s < 5 + 81; ++s) {
    TRecord* n = cache.Get(s, false);
    ASSERT_EQ(n->Image()[9], uint8_t(s));
  }
  EXPECT_EQ(host.read_calls, 1) << "the whole run came from one read";

  // A backward run ends at the asked slot; it stops at slot 1.
  cache.Configure(100);
  cache.Get(3, false, true, TReadDirection::kBackward);
  EXPECT_EQ(host.last_read_length, 3u * 100);
  // Near the end the run is cut at the last slot; a cursor may give its own count.
  cache.Get(199, false, true);
  EXPECT_EQ(host.last_read_length, 2u * 100);
  cache.Get(150, false, true, TReadDirection::kForward, 4);
  EXPECT_EQ(host.last_read_length, 4u * 100);
}

TEST(RecordCache, InvalidSlotsAndShortReadsAreCorrupt) {
  FakeHost host(50, 4);
  TRecordCache cache(host);
  cache.Configure(50);
  EXPECT_THROW(cache.Get(0, false), std::runtime_error);
  EXPECT_THROW(cache.Get(5, false), std::runtime_error);
  host.file.resize(kArea + 50 * 3 + 10);  // slot 4 cut short by another writer
  EXPECT_THROW(cache.Get(4, false), std::runtime_error);
  EXPECT_NE(cache.Get(3, false), nullptr);
}

TEST(RecordCache, ChangedTableGivesUpBeforeReading) {
  FakeHost host(50, 4);
  TRecordCache cache(host);
  cache.Configure(50);
  ASSERT_NE(cache.Get(1, false), nullptr);
  host.changed = true;
  EXPECT_NE(cache.Get(1, false), nullptr) << "a cached record needs no disk";
  EXPECT_EQ(cache.Get(2, false), nullptr);
  EXPECT_EQ(host.read_calls, 1);
}

TEST(RecordCache, ReadDoesNotOverwriteModifiedOrPinnedRecords) {
  FakeHost host(50, 10);
  TRecordCache cache(host);
  cache.Configure(50);
  TRecord* a = cache.Get(3, false);
  a->Image()[9] = 0xEE;
  a->SetModified(true);
  TRecord* b = cache.Get(4, true);
  b->Image()[9] = 0xDD;  // pinned, being edited by its holder
  TRecord* c = cache.Get(2, false);
  c->Image()[9] = 0x11;  // clean and unpinned: a read refreshes it
  // Slot 1 is not cached: a forward run over 1..5 refreshes what it may.
  cache.Get(1, false, true, TReadDirection::kForward, 5);
  EXPECT_EQ(cache.Find(3)->Image()[9], 0xEE);
  EXPECT_EQ(cache.Find(4)->Image()[9], 0xDD);
  EXPECT_EQ(cache.Find(2)->Image()[9], 2);
}

TEST(RecordCache, FlushWritesConsecutiveSlotsInOneWriteEachScrambledFromTheSeed) {
  FakeHost host(40, 10);
  host.EncryptAll();
  TRecordCache cache(host);
  cache.Configure(40);
  for (uint32_t s : {2u, 3u, 4u, 7u}) {
    TRecord* r = cache.Get(s, false);
    ASSERT_EQ(r->Image()[9], uint8_t(s)) << "read back unscrambled";
    r->Image()[20] = 0x5A;
    r->SetModified(true);
  }
  cache.Get(4, true);  // pinned: held back
  EXPECT_TRUE(cache.Flush());
  ASSERT_EQ(host.writes.size(), 2u);
  EXPECT_EQ(host.writes[0].offset, kArea + 1 * 40);
  EXPECT_EQ(host.writes[0].length, 2u * 40);
  EXPECT_EQ(host.writes[1].offset, kArea + 6 * 40);
  EXPECT_EQ(host.written_notices, 1);
  // Each slot of the run starts again from the seed.
  for (uint32_t s : {2u, 3u}) {
    std::vector<uint8_t> slot(&host.file[kArea + (s - 1) * 40], &host.file[kArea + s * 40]);
    EXPECT_EQ(slot[0], 0 ^ 0x3D ^ 0xA6) << "status byte scrambled with the seed itself";
    Scramble(slot, kBufferSeed);
    EXPECT_EQ(slot[9], uint8_t(s));
    EXPECT_EQ(slot[20], 0x5A);
    EXPECT_EQ(slot[1], uint8_t(s));
  }
  EXPECT_TRUE(cache.Find(4)->Modified());
  EXPECT_FALSE(cache.Find(3)->Modified());
  cache.Find(4)->Unpin();
  EXPECT_TRUE(cache.Flush());
  EXPECT_FALSE(cache.Flush()) << "nothing left to write";
}

TEST(RecordCache, GrowsBy64UnderTheWriteLockInsteadOfWriting) {
  FakeHost host(1000, 100);
  TRecordCache cache(host);
  cache.Configure(1000);  // capacity 16
  ASSERT_EQ(cache.Capacity(), 16u);
  host.write_lock = true;
  for (uint32_t s = 1; s <= 16; ++s) {
    TRecord* r = cache.Get(s, s % 2 == 0);
    if (s % 2 == 1) r->SetModified(true);
  }
  cache.Get(17, false);
  EXPECT_EQ(cache.Capacity(), 16u + 64);
  EXPECT_TRUE(host.writes.empty());
  EXPECT_EQ(cache.Count(), 17u);

  // Without the write lock the modified ones are flushed and one is reused.
  host.write_lock = false;
  cache.Configure(1000);
  for (uint32_t s = 1; s <= 16; ++s) {
    TRecord* r = cache.Get(s, s % 2 == 0);
    if (s % 2 == 1) r->SetModified(true);
  }
  cache.Get(17, false);
  EXPECT_EQ(cache.Capacity(), 16u);
  EXPECT_FALSE(host.writes.empty());
  EXPECT_EQ(cache.Find(1), nullptr) << "the least recently used clean record went";
}

TEST(RecordCache, ARunLongerThanTheCacheKeepsTheAskedSlot) {
  FakeHost host(1000, 100);
  TRecordCache cache(host);
  cache.Configure(1000);  // capacity 16
  for (uint32_t s = 50; s < 66; ++s) cache.Get(s, false);
  // A cursor asks for 40 slots ending at slot 40: filling the run must not
  // evict the slots it has just read, the asked one least of all.
  TRecord* r = cache.Get(40, true, true, TReadDirection::kBackward, 40);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->Slot(), 40u);
  EXPECT_EQ(r->Image()[9], 40);
  EXPECT_NE(cache.Find(1), nullptr);
  EXPECT_EQ(host.read_calls, 17);
}

TEST(RecordCache, EvictsLeastRecentlyUsed) {
  FakeHost host(1000, 100);
  TRecordCache cache(host);
  cache.Configure(1000);
  for (uint32_t s = 1; s <= 16; ++s) cache.Get(s, false);
  cache.Get(1, false);  // now most recent
  cache.Get(20, false);
  EXPECT_NE(cache.Find(1), nullptr);
  EXPECT_EQ(cache.Find(2), nullptr);
  EXPECT_EQ(cache.Count(), 16u);
}

TEST(RecordCache, DiscardAndTrim) {
  FakeHost host(1000, 100);
  TRecordCache cache(host);
  cache.Configure(1000);
  host.write_lock = true;
  for (uint32_t s = 1; s <= 40; ++s) cache.Get(s, false)->SetModified(true);
  host.write_lock = false;
  EXPECT_EQ(cache.Capacity(), 16u + 64);
  cache.Trim();
  EXPECT_EQ(cache.Count(), 16u);
  EXPECT_EQ(cache.Capacity(), 16u);
  EXPECT_FALSE(host.writes.empty()) << "modified records were written before eviction";

  TRecord* held = cache.Get(50, true);
  held->Image()[9] = 0x77;
  held->SetModified(true);
  host.file[kArea + 49 * 1000 + 9] = 0x66;  // another process rewrote slot 50
  cache.Discard();
  EXPECT_EQ(cache.Count(), 1u) << "only the pinned record stays";
  EXPECT_FALSE(held->Modified());
  held->Unpin();
  TRecord* again = cache.Get(50, false);
  EXPECT_EQ(again->Image()[9], 0x66) << "a discarded record is read again";
}

TEST(RecordCache, AppendedRecordIsClearedPinnedAndWritten) {
  FakeHost host(30, 3);
  TRecordCache cache(host);
  cache.Configure(30);
  host.next = 5;
  TRecord* r = cache.CreateAppended(4);
  EXPECT_EQ(r->PinCount(), 1);
  EXPECT_TRUE(r->Modified());
  r->Image()[9] = 0x42;
  r->Unpin();
  ASSERT_TRUE(cache.Flush());
  EXPECT_EQ(host.file.size(), kArea + 4 * 30);
  EXPECT_EQ(host.file[kArea + 3 * 30 + 9], 0x42);
}

TEST(RecordStack, PoolsAtMost64) {
  TRecordStack stack;
  std::vector<std::unique_ptr<TRecord>> taken;
  for (int i = 0; i < 70; ++i) taken.push_back(stack.Take(10));
  taken[0]->Pin();
  taken[0]->Image()[3] = 9;
  for (auto& r : taken) stack.Give(std::move(r));
  EXPECT_EQ(stack.Count(), 64u);
  auto r = stack.Take(130);
  EXPECT_EQ(r->PinCount(), 0);
  EXPECT_EQ(r->Size(), 130u);
  EXPECT_EQ(r->Capacity(), 192u) << "grows in steps of 64";
  for (uint8_t b : r->Image()) ASSERT_EQ(b, 0);
}

}  // namespace
}  // namespace cairn
