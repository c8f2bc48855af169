// The index file at work: header validation, definitions, the page cache,
// per-record maintenance, and corrupt files giving their codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <random>

#include "index_test_util.h"
#include "storage/base/engine_error.h"
#include "storage/access/index_check.h"
#include "storage/access/index_maintenance.h"
#include "storage/access/index_tree.h"
#include "storage/files/scramble.h"

namespace cairn::testing {
namespace {

uint16_t CodeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const ECairnEngineError& e) {
    return e.code();
  }
  return 0;
}

std::vector<uint8_t> KeyFor(TIndexFile& f, int index, const TRecordImage& r) {
  std::vector<uint8_t> key(size_t(f.Shape(index).key_length));
  f.Layout(index).BuildKey(r.span(), key);
  return key;
}

// A file with a primary index on Num and `n` keys, written out.
std::unique_ptr<TIndexFile> FilledFile(int n, uint8_t compression = kCompressNone) {
  auto f = NewMemoryIndex(TestInfo(), "filled");
  TIndexDescriptor pk = MakeIndex("", {2}, true, false, compression);
  f->AddPrimaryIndex(pk);
  for (int i = 0; i < n; ++i) {
    TRecordImage r(i + 1);
    r.SetInt(TestFields()[1], i * 10);
    TIndexTree(*f, 0).Insert(KeyFor(*f, 0, r), i + 1);
  }
  f->WriteHeader();
  f->Flush();
  f->TrimCache();
  return f;
}

std::unique_ptr<TIndexFile> Reopen(TIndexFile& f, TIndexTableInfo info = TestInfo()) {
  f.WriteHeader();
  f.Flush();
  const std::string name = f.file_name();
  f.CloseIndexFile();
  auto again = std::make_unique<TIndexFile>(std::move(info));
  again->set_file_name(name);
  again->set_in_memory(true);
  again->OpenIndexFile();
  return again;
}

// Rewrites bytes of the file behind the object's back.
void Poke(TIndexFile& f, uint64_t offset, std::vector<uint8_t> bytes) {
  f.WriteAt(offset, bytes.data(), int64_t(bytes.size()));
}

TEST(IndexDefinitionTest, LimitsAndNamesGiveTheirCodes) {
  auto f = NewMemoryIndex(TestInfo());
  f->AddPrimaryIndex(MakeIndex("", {2}));
  EXPECT_EQ(CodeOf([&] { f->AddPrimaryIndex(MakeIndex("", {1})); }), CAIRN_PRIMARYKEYREDEFINE);
  EXPECT_EQ(CodeOf([&] { f->AddSecondaryIndex(MakeIndex("  ", {1})); }), CAIRN_INDEXNAMEREQUIRED);
  EXPECT_EQ(CodeOf([&] { f->AddSecondaryIndex(MakeIndex("9lives", {1})); }),
            CAIRN_INVALIDINDEXNAME);
  EXPECT_EQ(CodeOf([&] { f->AddSecondaryIndex(MakeIndex("ByMemo", {7})); }), CAIRN_SEARCHCOLREQD);
  try {
    f->AddSecondaryIndex(MakeIndex("ByMemo", {7}));
    ADD_FAILURE() << "an index on a memo field was accepted";
  } catch (const ECairnEngineError& e) {
    EXPECT_STREQ(e.what(),
                 "Cairn Engine Error # 12292 Invalid field 'Memo' specified for the index 'ByMemo' "
                 "in the table 'Sample'");
  }
  EXPECT_EQ(CodeOf([&] {
              f->AddSecondaryIndex(MakeIndex("Wide", {4, 5, 3, 6, 2, 1}));
            }),
            CAIRN_INVALIDKEY)
      << "more than 522 key bytes";
  TIndexDescriptor many = MakeIndex("Many", {1});
  many.field_count = 17;
  EXPECT_EQ(CodeOf([&] { f->AddSecondaryIndex(many); }), CAIRN_INDEXLIMIT);
  for (int i = 0; i < 30; ++i) f->AddSecondaryIndex(MakeIndex("I" + std::to_string(i), {1}));
  EXPECT_EQ(CodeOf([&] { f->AddSecondaryIndex(MakeIndex("ByName", {1})); }), CAIRN_INDEXLIMIT);
  EXPECT_EQ(CodeOf([&] { f->RemoveSecondaryIndex(0); }), CAIRN_INVALIDINDEXDELETE);
  f->RemoveSecondaryIndex(5);
  EXPECT_EQ(f->secondary_count(), 29);
  EXPECT_EQ(f->Descriptor(5).name, "I5");
  EXPECT_EQ(CodeOf([&] { f->AddSecondaryIndex(MakeIndex(" i7 ", {1})); }), CAIRN_INDEXEXISTS);
  // All of it survives a reopen and validates.
  auto g = Reopen(*f);
  EXPECT_EQ(g->secondary_count(), 29);
  EXPECT_EQ(g->FindSecondary("I29"), 29);
}

TEST(IndexValidationTest, DamagedHeadersGiveTheirCodes) {
  struct Case {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> damage;
    uint16_t code;
  } cases[] = {
      {"signature", [](auto& b) { b[8] = 4; }, CAIRN_OLDVERSION},
      {"secondary count", [](auto& b) { b[13] = 31; }, CAIRN_HEADERCORRUPT},
      {"primary with a name",
       [](auto& b) {
         b[14] = 1;
         b[15] = 'X';
       },
       CAIRN_HEADERCORRUPT},
      {"primary not unique", [](auto& b) { b[14 + 35] = 0; }, CAIRN_HEADERCORRUPT},
      {"bad secondary name", [](auto& b) { b[134 + 1] = '#'; }, CAIRN_HEADERCORRUPT},
      {"duplicate secondary",
       [](auto& b) {
         std::copy(b.begin() + 134, b.begin() + 254, b.begin() + 254);
         b[13] = 2;
       },
       CAIRN_HEADERCORRUPT},
      {"missing field", [](auto& b) { le::PutU16(&b[134 + 54], 99); }, CAIRN_HEADERCORRUPT},
      {"blob field", [](auto& b) { le::PutU16(&b[134 + 54], 7); }, CAIRN_HEADERCORRUPT},
      {"gap in fields", [](auto& b) { le::PutU16(&b[134 + 58], 2); }, CAIRN_HEADERCORRUPT},
      {"17 fields", [](auto& b) { b[134 + 37] = 17; }, CAIRN_HEADERCORRUPT},
      {"key length", [](auto& b) { le::PutU16(&b[134 + 31], 9); }, CAIRN_HEADERCORRUPT},
      {"root beyond next page", [](auto& b) { le::PutI32(&b[134 + 86], 500); }, CAIRN_HEADERCORRUPT},
      {"free list beyond", [](auto& b) { le::PutI32(&b[3734 + 90], -3); }, CAIRN_HEADERCORRUPT},
      {"text index on a number",
       [](auto& b) {
         b[3854 + 37] = 1;
         le::PutU16(&b[3854 + 54], 2);
       },
       CAIRN_HEADERCORRUPT},
      {"short file", [](auto& b) { b.resize(1000); }, CAIRN_HEADERCORRUPT},
  };
  for (const Case& c : cases) {
    auto f = FilledFile(50);
    f->AddSecondaryIndex(MakeIndex("ByName", {1}));
    f->WriteHeader();
    std::vector<uint8_t> bytes(size_t(f->Size()));
    f->ReadAt(0, bytes.data(), int64_t(bytes.size()));
    c.damage(bytes);
    f->Truncate(0);
    f->WriteAt(0, bytes.data(), int64_t(bytes.size()));
    const std::string name = f->file_name();
    f->CloseIndexFile();
    TIndexFile g(TestInfo());
    g.set_file_name(name);
    g.set_in_memory(true);
    EXPECT_EQ(CodeOf([&] { g.OpenIndexFile(); }), c.code) << c.what;
    EXPECT_FALSE(g.is_open()) << c.what;
  }
}

TEST(IndexTreeTest, SeparatorsFollowTheSmallestKeyToTheRoot) {
  // Long keys (15 to a page) make a deep tree quickly.
  auto f = NewMemoryIndex(TestInfo(), "deep");
  f->AddPrimaryIndex(MakeIndex("", {4}));
  TIndexTree tree(*f, 0);
  for (int i = 0; i < 3000; ++i) {
    TRecordImage r(i + 1);
    r.SetString(TestFields()[3], "k" + std::to_string(100000 + i));
    tree.Insert(KeyFor(*f, 0, r), i + 1);
  }
  TRecordImage r(99999);
  r.SetString(TestFields()[3], "a");
  const auto key = KeyFor(*f, 0, r);
  tree.Insert(key, 99999);
  // Every level's first entry now carries the new key.
  int32_t page = f->Root(0);
  int levels = 0;
  for (;;) {
    TPinnedPage p(f.get(), f->GetPage(0, page));
    ASSERT_EQ(std::memcmp(p->Key(0), key.data(), key.size()), 0) << "level " << levels;
    ++levels;
    if (p->IsLeaf()) break;
    page = p->Ref(0);
  }
  EXPECT_GE(levels, 3);
  EXPECT_TRUE(CheckIndexFile(*f).ok());
  TIndexEntry e;
  ASSERT_TRUE(tree.First(e));
  EXPECT_EQ(e.ref, 99999);
  EXPECT_EQ(CodeOf([&] {
              TRecordImage missing;
              missing.SetString(TestFields()[3], "b");
              tree.Delete(KeyFor(*f, 0, missing));
            }),
            CAIRN_INDEXCORRUPT);
}

TEST(IndexCacheTest, FlushWritesRunsAndTrimShrinks) {
  auto f = FilledFile(3000);
  const auto before = f->stats();
  // Dirty a handful of consecutive and separate pages, all pinned at once:
  // the cache grows past its target instead of writing.
  {
    std::vector<TPinnedPage> pinned;
    for (int32_t p : {2, 3, 4, 9}) {
      pinned.emplace_back(f.get(), f->GetPage(0, p));
      pinned.back()->dirty = true;
    }
    EXPECT_EQ(f->stats().flushes, before.flushes);
    EXPECT_GT(f->CachedPages(0), 2u);
    EXPECT_FALSE(f->Flush()) << "pinned pages are not written";
  }
  EXPECT_TRUE(f->Flush());
  EXPECT_EQ(f->stats().flushes - before.flushes, 2u) << "pages 2-4 in one write, 9 in another";
  EXPECT_EQ(f->stats().page_writes - before.page_writes, 4u);
  f->TrimCache();
  EXPECT_EQ(f->CachedPages(0), 2u);
  EXPECT_FALSE(f->Flush()) << "nothing left to write";
}

// A tree larger than the cache keeps its interior pages: once warm, a random
// lookup reads its leaf and nothing else.
TEST(IndexCacheTest, RandomLookupsReadOnlyTheirLeafOnceInteriorPagesAreCached) {
  auto f = NewMemoryIndex(TestInfo(), "deep");
  f->AddPrimaryIndex(MakeIndex("", {4}, true, false, kCompressNone));
  auto key_of = [&](TIndexFile& file, int n) {
    TRecordImage r(n + 1);
    char text[16];
    std::snprintf(text, sizeof text, "k%05d", n);
    r.SetString(TestFields()[3], text);
    return KeyFor(file, 0, r);
  };
  constexpr int kKeys = 3000;
  std::mt19937 random(5);
  std::vector<int> order(kKeys);
  for (int i = 0; i < kKeys; ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), random);
  for (int n : order) TIndexTree(*f, 0).Insert(key_of(*f, n), n + 1);
  TIndexTableInfo info = TestInfo();
  info.index_buffer_size = 32 * 8192;  // 32 pages: every interior page and a few leaves
  auto g = Reopen(*f, info);
  ASSERT_GT(g->NextPage(0), 150) << "the tree must outgrow the cache";
  auto lookups = [&] {
    for (int i = 0; i < 300; ++i) {
      const int n = int(random() % kKeys);
      ASSERT_EQ(TIndexTree(*g, 0).Find(key_of(*g, n)), n + 1);
    }
  };
  lookups();
  const uint64_t reads = g->stats().page_reads;
  lookups();
  EXPECT_LE(g->stats().page_reads - reads, 300u);
  g->CloseIndexFile();
}

TEST(IndexCacheTest, ReReadKeepsPagesUnlessAnotherWriterCame) {
  auto created = FilledFile(500);
  auto f = Reopen(*created);
  TIndexTree(*f, 0).Count();
  const size_t cached = f->CachedPages(0);
  ASSERT_GT(cached, 0u);
  EXPECT_FALSE(f->ReReadHeader());
  EXPECT_EQ(f->CachedPages(0), cached);
  // Another writer: a second handler on the same file bumps the counter.
  TIndexFile other(TestInfo());
  other.set_file_name(f->file_name());
  other.set_in_memory(true);
  other.OpenIndexFile();
  other.SetActiveCount(12);
  other.WriteHeader();
  EXPECT_TRUE(f->HeaderChanged());
  EXPECT_TRUE(f->ReReadHeader());
  EXPECT_EQ(f->CachedPages(0), 0u);
  EXPECT_EQ(f->active_count(), 12);
  other.CloseIndexFile();
}

TEST(IndexCacheTest, ChangedTableRestartsAReadFromTheRoot) {
  int asked = 0;
  TIndexTableInfo info = TestInfo();
  auto f = FilledFile(3000);
  const std::string name = f->file_name();
  auto g = Reopen(*f);
  // The first disk read reports a change by another process, once.
  TIndexTableInfo watched = TestInfo();
  g->CloseIndexFile();
  watched.changed_by_other = [&] { return ++asked == 2; };
  TIndexFile h(watched);
  h.set_file_name(name);
  h.set_in_memory(true);
  h.OpenIndexFile();
  TIndexEntry e;
  ASSERT_TRUE(TIndexTree(h, 0).SeekOrdinal(1234, e));
  EXPECT_EQ(e.ordinal, 1234u);
  EXPECT_GE(asked, 3);
  h.CloseIndexFile();
}

TEST(IndexLimitsTest, FullFileRefusesNewPages) {
  auto f = FilledFile(0);
  // Next page at the 4,000,000,000-byte limit.
  le::PutI32(const_cast<uint8_t*>(&f->header()[hdr::kNextPage]), 976562);
  TRecordImage r;
  r.SetInt(TestFields()[1], 1);
  EXPECT_EQ(CodeOf([&] { TIndexTree(*f, 0).Insert(KeyFor(*f, 0, r), 1); }), CAIRN_TABLEFULL);
  le::PutI32(const_cast<uint8_t*>(&f->header()[hdr::kNextPage]), 976561);
  EXPECT_EQ(CodeOf([&] { TIndexTree(*f, 0).Insert(KeyFor(*f, 0, r), 1); }), 0);
}

TEST(IndexEncryptionTest, PagesAreScrambledOnDiskAndReadBack) {
  TIndexTableInfo info = TestInfo();
  info.encrypted = true;
  auto f = NewMemoryIndex(info, "enc");
  f->AddPrimaryIndex(MakeIndex("", {2}));
  for (int i = 0; i < 400; ++i) {
    TRecordImage r(i + 1);
    r.SetInt(TestFields()[1], i);
    TIndexTree(*f, 0).Insert(KeyFor(*f, 0, r), i + 1);
  }
  auto g = Reopen(*f, info);
  std::vector<uint8_t> page(4096);
  g->ReadAt(0, page.data(), 4096);
  EXPECT_NE(page[8], 5);
  Scramble(page.data(), page.size(), kBufferSeed);
  EXPECT_EQ(page[8], 5);
  EXPECT_EQ(TIndexTree(*g, 0).Count(), 400u);
  EXPECT_TRUE(CheckIndexFile(*g).ok());
}

// ---- corrupt pages ----------------------------------------------------------

TEST(IndexCorruptionTest, DamagedTreesAreReportedNeverLoop) {
  struct Case {
    const char* what;
    std::function<void(TIndexFile&)> damage;
    bool raises_on_walk;
  } cases[] = {
      {"sibling link",
       [](TIndexFile& f) {
         Poke(f, 2 * 4096 + 7, {0, 0, 0, 0});
       },
       false},
      {"subtree count",
       [](TIndexFile& f) {
         const int32_t root = f.Root(0);
         Poke(f, uint64_t(root) * 4096 + 13 + 9, {1, 0, 0, 0});
       },
       false},
      {"child out of range",
       [](TIndexFile& f) {
         const int32_t root = f.Root(0);
         Poke(f, uint64_t(root) * 4096 + 13 + 5, {0, 0, 1, 0});
       },
       true},
      {"page type", [](TIndexFile& f) { Poke(f, 2 * 4096, {3}); }, true},
      {"cycle in a free list",
       [](TIndexFile& f) {
         TPinnedPage a(&f, f.NewPage(kStatusIndex)), b(&f, f.NewPage(kStatusIndex));
         const int32_t pa = a->number(), pb = b->number();
         f.FreePage(a.get());
         f.FreePage(b.get());
         a.Reset();
         b.Reset();
         f.Flush();
         f.WriteHeader();
         Poke(f, uint64_t(pa) * 4096 + 7, {uint8_t(pb), uint8_t(pb >> 8), 0, 0});
       },
       false},
      {"free list into a tree",
       [](TIndexFile& f) {
         le::PutI32(const_cast<uint8_t*>(
                      &f.header()[hdr::DescriptorOffset(kStatusIndex) + desc::kFreeHead]),
                  2);
       },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto f = FilledFile(3000);
    c.damage(*f);
    f->DiscardPages();
    const TIndexCheckResult check = CheckIndexFile(*f);
    EXPECT_FALSE(check.ok());
    // Walking every key either completes or raises the corrupt-index code.
    const uint16_t code = CodeOf([&] {
      TIndexTree tree(*f, 0);
      TIndexEntry e;
      for (uint32_t n = 1; n <= 3000; n += 97) tree.SeekOrdinal(n, e);
      for (bool more = tree.First(e); more; more = tree.Next(e)) {
      }
    });
    if (c.raises_on_walk) EXPECT_EQ(code, CAIRN_INDEXCORRUPT);
    // Taking pages from a damaged free list fails instead of handing out a
    // page twice.
    if (std::string(c.what).find("free") != std::string::npos) {
      const uint16_t take = CodeOf([&] {
        for (int i = 0; i < 4; ++i) {
          TPinnedPage p(f.get(), f->NewPage(kStatusIndex));
          const uint8_t k[5] = {0, 0, 0, 0, uint8_t(i)};
          p->set_type(kPageLeaf);
          p->Insert(0, k, 1, 0);
        }
      });
      EXPECT_EQ(take, CAIRN_INDEXCORRUPT);
    }
  }
}

// ---- per-record maintenance -------------------------------------------------

class MaintenanceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    f_ = NewMemoryIndex(TestInfo(0x040C), "maint");
    f_->AddPrimaryIndex(MakeIndex("", {8}));
    TIndexDescriptor name = MakeIndex("ByName", {1});
    name.case_insensitive = true;
    by_name_ = f_->AddSecondaryIndex(name);
    by_num_ = f_->AddSecondaryIndex(MakeIndex("ByNum", {2}, false));
  }
  TRecordImage Rec(int32_t id, const std::string& name, int num) {
    TRecordImage r(id);
    r.SetString(fields_[0], name);
    r.SetInt(fields_[1], num);
    return r;
  }
  std::vector<int32_t> SlotsInOrder(int index) {
    std::vector<int32_t> out;
    TIndexTree t(*f_, index);
    TIndexEntry e;
    for (bool more = t.First(e); more; more = t.Next(e)) out.push_back(e.ref);
    return out;
  }
  std::unique_ptr<TIndexFile> f_;
  int by_name_ = 0, by_num_ = 0;
  std::vector<TKeyField> fields_ = TestFields();
};

TEST_F(MaintenanceTest, InsertChangeDeleteKeepEveryIndexInStep) {
  TIndexMaintainer m(*f_);
  m.InsertRecord(Rec(1, "b", 5).span(), 1);
  m.InsertRecord(Rec(2, "a", 5).span(), 2);
  m.InsertRecord(Rec(3, "c", -1).span(), 3);
  EXPECT_EQ(f_->active_count(), 3);
  EXPECT_EQ(SlotsInOrder(by_name_), (std::vector<int32_t>{2, 1, 3}));
  EXPECT_EQ(SlotsInOrder(by_num_), (std::vector<int32_t>{3, 1, 2})) << "equal values by record ID";
  m.ChangeRecord(Rec(3, "c", -1).span(), Rec(3, "0", 9).span(), 3);
  EXPECT_EQ(SlotsInOrder(by_name_), (std::vector<int32_t>{3, 2, 1}));
  EXPECT_EQ(SlotsInOrder(by_num_), (std::vector<int32_t>{1, 2, 3}));
  TRecordImage gone = Rec(1, "b", 5);
  m.DeleteRecord(gone.span(), 1);
  EXPECT_EQ(f_->active_count(), 2);
  EXPECT_EQ(SlotsInOrder(by_name_), (std::vector<int32_t>{3, 2}));
  // The status index: two active, then the deleted one.
  EXPECT_EQ(SlotsInOrder(kStatusIndex), (std::vector<int32_t>{2, 3, 1}));
  // Reusing the deleted slot replaces its status key.
  gone.SetStatus(1);
  m.InsertRecord(Rec(4, "d", 0).span(), 1, gone.span());
  EXPECT_EQ(SlotsInOrder(kStatusIndex), (std::vector<int32_t>{2, 3, 1}));
  EXPECT_EQ(f_->active_count(), 3);
  f_->Flush();
  EXPECT_TRUE(CheckIndexFile(*f_).ok());
}

TEST_F(MaintenanceTest, DuplicateIsRefusedBeforeAnyIndexChanges) {
  TIndexMaintainer m(*f_);
  m.InsertRecord(Rec(1, "Caf\xE9", 1).span(), 1);
  f_->Flush();
  f_->WriteHeader();
  const uint32_t counter = f_->change_counter();
  try {
    m.InsertRecord(Rec(2, "CAF\xC9", 2).span(), 2);
    FAIL() << "a case-only difference is a duplicate";
  } catch (const ECairnEngineError& e) {
    EXPECT_EQ(e.code(), CAIRN_KEYVIOL);
    EXPECT_STREQ(e.what(),
                 "Cairn Engine Error # 9729 Duplicate key found in the index 'ByName' of the table "
                 "'Sample'");
  }
  EXPECT_FALSE(f_->header_modified());
  EXPECT_FALSE(f_->Flush()) << "no page was touched";
  EXPECT_EQ(f_->change_counter(), counter);
  EXPECT_EQ(SlotsInOrder(0), (std::vector<int32_t>{1}));
  EXPECT_EQ(SlotsInOrder(by_num_), (std::vector<int32_t>{1}));
  // The primary index reports an empty name.
  try {
    m.InsertRecord(Rec(1, "other", 2).span(), 2);
    ADD_FAILURE() << "a duplicate primary key was accepted";
  } catch (const ECairnEngineError& e) {
    EXPECT_EQ(e.text(), "Duplicate key found in the index '' of the table 'Sample'");
  }
}

TEST_F(MaintenanceTest, ChangesThatKeepKeysTouchNoPage) {
  TIndexMaintainer m(*f_);
  for (int i = 1; i <= 300; ++i) m.InsertRecord(Rec(i, "n" + std::to_string(i), i).span(), i);
  f_->Flush();
  f_->WriteHeader();
  f_->DiscardPages();
  const auto before = f_->stats();
  // Upper-casing changes no key of the case-insensitive index.
  m.ChangeRecord(Rec(7, "n7", 7).span(), Rec(7, "N7", 7).span(), 7);
  EXPECT_EQ(f_->stats().page_reads, before.page_reads);
  EXPECT_FALSE(f_->header_modified());
  EXPECT_EQ(f_->CachedPages(by_name_), 0u);
}

TEST_F(MaintenanceTest, AccentOnlyChangeIsNotItsOwnDuplicate) {
  TIndexMaintainer m(*f_);
  m.InsertRecord(Rec(1, "resume", 1).span(), 1);
  m.InsertRecord(Rec(2, "other", 2).span(), 2);
  // The collation ignores the accents, so the new key finds the record's own.
  m.ChangeRecord(Rec(1, "resume", 1).span(), Rec(1, "r\xE9sum\xE9", 1).span(), 1);
  EXPECT_EQ(SlotsInOrder(by_name_), (std::vector<int32_t>{2, 1}));
  EXPECT_EQ(
      CodeOf([&] { m.ChangeRecord(Rec(2, "other", 2).span(), Rec(2, "RESUME", 2).span(), 2); }),
      CAIRN_KEYVIOL);
}

}  // namespace
}  // namespace cairn::testing

namespace cairn::testing {
namespace {

// Random inserts, changes and deletes of whole records through the
// maintainer, against a map of the records; every index and the status
// index must list exactly the live records in key order afterwards.
TEST(MaintenanceModelTest, RandomRecordOperationsKeepAllIndexesConsistent) {
  std::mt19937 rng(12345);
  auto f = NewMemoryIndex(TestInfo(), "maintmodel");
  const auto fields = TestFields();
  f->AddPrimaryIndex(MakeIndex("", {2, 1}, true, false, kCompressFull));
  TIndexDescriptor name = MakeIndex("ByName", {1}, true, true, kCompressTrailing);
  name.case_insensitive = true;
  f->AddSecondaryIndex(name);
  f->AddSecondaryIndex(MakeIndex("ByReal", {3, 2}, false, false, kCompressDuplicate));
  TIndexMaintainer m(*f);
  std::map<int32_t, TRecordImage> live;
  std::vector<std::pair<int32_t, TRecordImage>> deleted;  // slot, image as deleted
  int32_t next_id = 0;
  auto random_record = [&](int32_t id) {
    TRecordImage r(id);
    r.SetString(fields[0], "n" + std::to_string(rng() % 400));
    r.SetInt(fields[1], int32_t(rng() % 50) - 25);
    if (rng() % 4) r.SetDouble(fields[2], double(rng() % 9) / 2 - 2);
    return r;
  };
  int violations = 0;
  for (int op = 0; op < 3000; ++op) {
    const int what = int(rng() % 10);
    try {
      if (what < 5 || live.empty()) {
        const TRecordImage r = random_record(++next_id);
        if (!deleted.empty() && rng() % 2) {
          // Reuse a deleted slot: its old image keeps its old record ID.
          const int32_t slot = deleted.back().first;
          m.InsertRecord(r.span(), slot, deleted.back().second.span());
          deleted.pop_back();
          live.emplace(slot, r);
        } else {
          m.InsertRecord(r.span(), next_id);
          live.emplace(next_id, r);
        }
      } else {
        auto it = live.begin();
        std::advance(it, long(rng() % live.size()));
        if (what < 8) {
          TRecordImage changed = random_record(it->second.id());
          m.ChangeRecord(it->second.span(), changed.span(), it->first);
          it->second = changed;
        } else {
          m.DeleteRecord(it->second.span(), it->first);
          TRecordImage gone = it->second;
          gone.SetStatus(1);
          deleted.emplace_back(it->first, gone);
          live.erase(it);
        }
      }
    } catch (const ECairnEngineError& e) {
      ASSERT_EQ(e.code(), CAIRN_KEYVIOL);
      ++violations;
    }
  }
  EXPECT_GT(violations, 0) << "the random values should collide now and then";
  f->Flush();
  const TIndexCheckResult check = CheckIndexFile(*f);
  ASSERT_TRUE(check.ok()) << check.faults.front();
  EXPECT_EQ(f->active_count(), int32_t(live.size()));
  for (int index : {0, 1, 2}) {
    std::vector<std::pair<std::vector<uint8_t>, int32_t>> want;
    for (const auto& [slot, rec] : live) want.emplace_back(KeyFor(*f, index, rec), slot);
    const TKeyLayout& layout = f->Layout(index);
    std::sort(want.begin(), want.end(), [&](const auto& a, const auto& b) {
      return layout.Compare(a.first.data(), b.first.data()) < 0;
    });
    TIndexTree tree(*f, index);
    ASSERT_EQ(tree.Count(), want.size()) << index;
    TIndexEntry e;
    size_t n = 0;
    for (bool more = tree.First(e); more; more = tree.Next(e), ++n) {
      ASSERT_EQ(e.key, want[n].first) << "index " << index << " entry " << n;
      ASSERT_EQ(e.ref, want[n].second);
    }
  }
}

}  // namespace
}  // namespace cairn::testing
