// Bytes on disk: the header page, node page encodings of every compression,
// key encodings and their order.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "index_test_util.h"
#include "storage/base/engine_error.h"
#include "storage/access/index_key.h"
#include "storage/access/index_page.h"

namespace cairn::testing {
namespace {

std::vector<uint8_t> ReadAll(TIndexFile& f) {
  std::vector<uint8_t> out(size_t(f.Size()));
  f.ReadAt(0, out.data(), int64_t(out.size()));
  return out;
}

TEST(IndexHeaderTest, NewFileIsOneHeaderPageWithTheFixedDescriptors) {
  auto f = NewMemoryIndex(TestInfo());
  f->SetNoPrimaryKey(false);
  f->WriteHeader();
  const std::vector<uint8_t> b = ReadAll(*f);
  ASSERT_EQ(b.size(), 4096u);
  EXPECT_EQ(b[8], 5);
  EXPECT_EQ(le::I32(&b[9]), 1);
  EXPECT_EQ(b[13], 0);
  EXPECT_EQ(b[3734], 11);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[3735]), 11), "Sys Deleted");
  EXPECT_EQ(le::U16(&b[3734 + 31]), 5);
  EXPECT_EQ(b[3734 + 36], 0);
  EXPECT_EQ(b[3854], 8);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[3855]), 8), "Sys Text");
  EXPECT_EQ(le::U16(&b[3854 + 31]), 68);
  EXPECT_EQ(b[3854 + 36], 3);
  // Everything else is zero apart from the change counter.
  std::vector<uint8_t> expect(4096, 0);
  const auto fresh = NewIndexHeader();
  std::copy(fresh.begin(), fresh.end(), expect.begin());
  std::copy(b.begin(), b.begin() + 4, expect.begin());
  EXPECT_EQ(b, expect);
  EXPECT_GE(le::U32(&b[0]), 1u) << "each header write counts";
}

TEST(IndexHeaderTest, TemporaryDescriptorsNeverReachTheDisk) {
  TIndexTableInfo info = TestInfo();
  info.private_dir = ::testing::TempDir();
  auto f = NewMemoryIndex(info);
  f->AddSecondaryIndex(MakeIndex("ByName", {1}));
  TIndexDescriptor temp = MakeIndex("Scratch", {2});
  temp.temporary = true;
  const int t = f->AddSecondaryIndex(temp);
  EXPECT_EQ(t, 2);
  EXPECT_EQ(f->secondary_count(), 2);
  // A permanent index added later still goes before the temporary one.
  EXPECT_EQ(f->AddSecondaryIndex(MakeIndex("ByNum", {2})), 2);
  EXPECT_EQ(f->FindSecondary(" scratch "), 3);
  TRecordImage r(7);
  r.SetInt(TestFields()[1], 42);
  TIndexTree tree(*f, 3);
  std::vector<uint8_t> key(size_t(f->Shape(3).key_length));
  f->Layout(3).BuildKey(r.span(), key);
  tree.Insert(key, 1);
  f->Flush(true);
  f->WriteHeader(true);
  const std::vector<uint8_t> b = ReadAll(*f);
  EXPECT_EQ(b.size(), 4096u) << "temporary pages go to the scratch file";
  EXPECT_EQ(b[13], 2);
  EXPECT_TRUE(std::all_of(b.begin() + hdr::DescriptorOffset(3),
                          b.begin() + hdr::DescriptorOffset(4), [](uint8_t x) { return x == 0; }));
  EXPECT_EQ(tree.Count(), 1u);
  f->CloseIndexFile();
  EXPECT_EQ(f->secondary_count(), 2);
}

TEST(IndexHeaderTest, EmptyResetsTreesAndTruncates) {
  auto f = NewMemoryIndex(TestInfo());
  const int i = f->AddSecondaryIndex(MakeIndex("ByNum", {2}, false));
  for (int n = 0; n < 2000; ++n) {
    TRecordImage r(n + 1);
    r.SetInt(TestFields()[1], n);
    std::vector<uint8_t> key(size_t(f->Shape(i).key_length));
    f->Layout(i).BuildKey(r.span(), key);
    TIndexTree(*f, i).Insert(key, n + 1);
  }
  f->SetActiveCount(2000);
  f->Flush();
  EXPECT_GT(f->Size(), 4096);
  f->EmptyIndexes();
  EXPECT_EQ(f->Size(), 4096);
  EXPECT_EQ(f->Root(i), 0);
  EXPECT_EQ(f->NextPage(i), 1);
  EXPECT_EQ(f->active_count(), 0);
  EXPECT_EQ(TIndexTree(*f, i).Count(), 0u);
}

// ---- page bodies ------------------------------------------------------------

TPageShape Shape(int k, bool unique, uint8_t comp) {
  TPageShape s;
  s.key_length = k;
  s.unique = unique;
  s.compression = comp;
  return s;
}

std::array<uint8_t, kIndexPageSize> EncodeLeaf(const TPageShape& shape,
                                               const std::vector<std::vector<uint8_t>>& keys) {
  TPage p;
  p.Reset(shape, 1, 5);
  p.set_type(kPageLeaf);
  for (size_t i = 0; i < keys.size(); ++i) p.Insert(int(i), keys[i].data(), int32_t(100 + i), 0);
  p.Recount();
  std::array<uint8_t, kIndexPageSize> out{};
  p.Encode(out);
  return out;
}

std::vector<uint8_t> Body(const std::array<uint8_t, kIndexPageSize>& page, size_t n) {
  return std::vector<uint8_t>(page.begin() + 13, page.begin() + 13 + long(n));
}

TEST(IndexPageTest, LeafBodiesOfEachCompression) {
  // Non-unique, k = 8: 4 value bytes then the record-ID suffix.
  const std::vector<std::vector<uint8_t>> keys = {{1, 2, 0, 0, 0x80, 0, 0, 0},
                                                  {1, 2, 3, 0, 0x80, 0, 0, 1}};
  auto none = EncodeLeaf(Shape(8, false, kCompressNone), keys);
  EXPECT_EQ(none[0], kPageLeaf);
  EXPECT_EQ(le::U16(&none[1]), 2);
  EXPECT_EQ(le::U16(&none[11]), 0) << "uncompressed pages store no body size";
  EXPECT_EQ(Body(none, 24), (std::vector<uint8_t>{1, 2, 0, 0, 0x80, 0, 0, 0, 100, 0, 0, 0,
                                                  1, 2, 3, 0, 0x80, 0, 0, 1, 101, 0, 0, 0}));

  auto dup = EncodeLeaf(Shape(8, false, kCompressDuplicate), keys);
  // First entry d = 0 even with nothing before it; second shares 2 bytes.
  EXPECT_EQ(Body(dup, 13 + 11),
            (std::vector<uint8_t>{0, 1, 2, 0, 0,    0x80, 0, 0, 0,   100, 0, 0,
                                  0, 2, 3, 0, 0x80, 0,    0, 1, 101, 0,   0, 0}));
  EXPECT_EQ(le::U16(&dup[11]), 24);

  auto trail = EncodeLeaf(Shape(8, false, kCompressTrailing), keys);
  // Trailing zeros counted before the suffix; the suffix is always stored.
  EXPECT_EQ(Body(trail, 11 + 12), (std::vector<uint8_t>{2, 1, 2, 0x80, 0, 0, 0, 100, 0, 0, 0, 1,
                                                        1, 2, 3, 0x80, 0, 0, 1, 101, 0, 0, 0}));

  auto full = EncodeLeaf(Shape(8, false, kCompressFull), keys);
  EXPECT_EQ(Body(full, 12 + 11), (std::vector<uint8_t>{0, 2, 1, 2,    0x80, 0, 0, 0,   100, 0, 0, 0,
                                                       2, 1, 3, 0x80, 0,    0, 1, 101, 0,   0, 0}));
  EXPECT_EQ(le::U16(&full[11]), 23);

  // Unique: trailing zeros of the whole key may be dropped.
  auto ut = EncodeLeaf(Shape(4, true, kCompressTrailing), {{7, 0, 0, 0}});
  EXPECT_EQ(Body(ut, 6), (std::vector<uint8_t>{3, 7, 100, 0, 0, 0}));
  // Full compression of a non-unique key whose duplicate run reaches the suffix.
  auto nf =
      EncodeLeaf(Shape(6, false, kCompressFull), {{9, 9, 0x80, 0, 0, 1}, {9, 9, 0x80, 0, 0, 2}});
  EXPECT_EQ(Body(nf, 12 + 7),
            (std::vector<uint8_t>{0, 0, 9, 9, 0x80, 0, 0, 1, 100, 0, 0, 0, 5, 0, 2, 101, 0, 0, 0}));
}

TEST(IndexPageTest, InteriorEntriesCarryCountsUnlessTold) {
  TPageShape s = Shape(3, true, kCompressFull);
  TPage p;
  p.Reset(s, 1, 2);
  p.set_type(kPageRootInterior);
  const uint8_t k[3] = {1, 2, 3};
  p.Insert(0, k, 9, 77);
  std::array<uint8_t, kIndexPageSize> out{};
  p.Encode(out);
  EXPECT_EQ(Body(out, 11), (std::vector<uint8_t>{1, 2, 3, 9, 0, 0, 0, 77, 0, 0, 0}));
  s.no_counts = true;
  p.Reset(s, 1, 2);
  p.set_type(kPageInterior);
  p.Insert(0, k, 9, 77);
  p.Encode(out);
  EXPECT_EQ(Body(out, 9), (std::vector<uint8_t>{1, 2, 3, 9, 0, 0, 0, 0, 0}));
  EXPECT_EQ(s.MaxInteriorEntries(), 4083 / 7);
}

TEST(IndexPageTest, EncodeDecodeRoundTripsAndCapsAt254) {
  std::mt19937 rng(17);
  for (uint8_t comp = 0; comp < 4; ++comp) {
    for (bool unique : {true, false}) {
      for (int k : {5, 9, 300, 522}) {
        const TPageShape shape = Shape(k, unique, comp);
        TPage p;
        p.Reset(shape, 3, 8);
        p.set_type(kPageLeaf);
        std::vector<uint8_t> key(size_t(k), 0);
        for (int i = 0; i < 40; ++i) {
          // Mostly shared prefixes and zero tails, sometimes none.
          for (int j = 0; j < k; ++j)
            if (rng() % 7 == 0) key[size_t(j)] = uint8_t(rng() % 3);
          std::sort(key.begin(), key.end() - (unique ? 0 : 4));
          p.Insert(p.count(), key.data(), int32_t(i), 0);
          p.Recount();
          if (p.OverFull()) {
            p.Remove(p.count() - 1);
            p.Recount();
            break;
          }
        }
        for (int i = 0; i < p.count(); ++i) {
          EXPECT_LE(p.Dup(i), 254);
          EXPECT_LE(p.Trail(i), 254);
          if (i == 0) EXPECT_EQ(p.Dup(i), 0);
        }
        std::array<uint8_t, kIndexPageSize> img{};
        p.Encode(img);
        TPage q;
        q.Reset(shape, 3, 8);
        ASSERT_TRUE(q.Decode(img)) << "comp " << int(comp) << " k " << k;
        ASSERT_EQ(q.count(), p.count());
        for (int i = 0; i < p.count(); ++i) {
          ASSERT_EQ(std::memcmp(q.Key(i), p.Key(i), size_t(k)), 0);
          ASSERT_EQ(q.Ref(i), p.Ref(i));
        }
        std::array<uint8_t, kIndexPageSize> again{};
        q.Encode(again);
        EXPECT_EQ(img, again);
      }
    }
  }
}

TEST(IndexPageTest, DecodeRejectsMalformedBodies) {
  const TPageShape shape = Shape(8, false, kCompressFull);
  auto img = EncodeLeaf(shape, {{1, 2, 0, 0, 0x80, 0, 0, 0}, {1, 2, 3, 0, 0x80, 0, 0, 1}});
  TPage p;
  p.Reset(shape, 1, 5);
  ASSERT_TRUE(p.Decode(img));
  auto bad = img;
  bad[13] = 1;  // first entry claims a shared prefix
  EXPECT_FALSE(p.Decode(bad));
  bad = img;
  le::PutU16(&bad[1], 3);  // more entries than the body holds
  EXPECT_FALSE(p.Decode(bad));
  bad = img;
  le::PutU16(&bad[11], 5000);
  EXPECT_FALSE(p.Decode(bad));
  bad = img;
  bad[0] = 9;
  EXPECT_FALSE(p.Decode(bad));
  const TPageShape plain = Shape(8, true, kCompressNone);
  auto img2 = EncodeLeaf(plain, {{1, 2, 3, 4, 5, 6, 7, 8}});
  le::PutU16(&img2[1], 400);  // beyond floor(4083 / 12)
  p.Reset(plain, 1, 5);
  EXPECT_FALSE(p.Decode(img2));
}

// ---- keys -------------------------------------------------------------------

class KeyOrderTest : public ::testing::Test {
 protected:
  std::vector<uint8_t> Key(const TKeyLayout& l, const TRecordImage& r) {
    std::vector<uint8_t> k(size_t(l.key_length()));
    l.BuildKey(r.span(), k);
    return k;
  }
  TKeyLayout Layout(TIndexDescriptor d, uint32_t lcid = 0) {
    TKeyLayout l;
    EXPECT_TRUE(TKeyLayout::Build(1, d, fields_, lcid ? TTableLocale::ForLcid(lcid) : nullptr, l));
    return l;
  }
  std::vector<TKeyField> fields_ = TestFields();
};

TEST_F(KeyOrderTest, NumbersSortByValueAndNullsFirst) {
  const TKeyLayout num = Layout(MakeIndex("N", {2}));
  const TKeyLayout real = Layout(MakeIndex("R", {3}));
  std::vector<std::vector<uint8_t>> ints, reals;
  TRecordImage null_rec;
  ints.push_back(Key(num, null_rec));
  reals.push_back(Key(real, null_rec));
  for (int v : {-2147483647 - 1, -300, -1, 0, 1, 255, 256, 2147483647}) {
    TRecordImage r;
    r.SetInt(fields_[1], v);
    ints.push_back(Key(num, r));
  }
  for (double v : {-double(INFINITY), -1e9, -0.5, -0.25, 0.0, 0.25, 0.5, 1e300}) {
    TRecordImage r;
    r.SetDouble(fields_[2], v);
    reals.push_back(Key(real, r));
  }
  for (size_t i = 1; i < ints.size(); ++i)
    EXPECT_LT(num.Compare(ints[i - 1].data(), ints[i].data()), 0) << i;
  for (size_t i = 1; i < reals.size(); ++i)
    EXPECT_LT(real.Compare(reals[i - 1].data(), reals[i].data()), 0) << i;
  EXPECT_EQ(ints[0], (std::vector<uint8_t>{0, 0, 0, 0, 0}));
  TRecordImage m;
  m.SetInt(fields_[1], -1);
  EXPECT_EQ(Key(num, m), (std::vector<uint8_t>{1, 0x7F, 0xFF, 0xFF, 0xFF}));
  TRecordImage z;
  z.SetDouble(fields_[2], -0.0);
  TRecordImage pz;
  pz.SetDouble(fields_[2], 0.0);
  EXPECT_EQ(Key(real, z), Key(real, pz)) << "minus zero is zero";
}

TEST_F(KeyOrderTest, DescendingPutsNullsLastAndPerFieldInvertsBytes) {
  const TKeyLayout desc = Layout(MakeIndex("D", {2}, true, true));
  TRecordImage null_rec, five;
  five.SetInt(fields_[1], 5);
  EXPECT_GT(desc.Compare(Key(desc, null_rec).data(), Key(desc, five).data()), 0);
  TIndexDescriptor d = MakeIndex("F", {1, 2});
  d.field_descending[1] = 1;
  const TKeyLayout mixed = Layout(d);
  TRecordImage a, b;
  a.SetString(fields_[0], "x");
  b.SetString(fields_[0], "x");
  a.SetInt(fields_[1], 1);
  b.SetInt(fields_[1], 2);
  EXPECT_GT(mixed.Compare(Key(mixed, a).data(), Key(mixed, b).data()), 0);
  const auto ka = Key(mixed, a);
  EXPECT_EQ(ka[22], 254) << "presence byte inverted";
  // A descending string keeps its terminating position as is.
  TIndexDescriptor s = MakeIndex("S", {1});
  s.field_descending[0] = 1;
  const auto ks = Key(Layout(s), a);
  EXPECT_EQ(ks[0], 254);
  EXPECT_EQ(ks[1], 255 - 'x');
  EXPECT_EQ(ks[2], 255);
  EXPECT_EQ(ks[21], 0);
}

TEST_F(KeyOrderTest, EqualValuesOrderByRecordId) {
  const TKeyLayout l = Layout(MakeIndex("N", {1}, false));
  EXPECT_EQ(l.key_length(), 22 + 4);
  TRecordImage a(300), b(-5), c(7);
  for (auto* r : {&a, &b, &c}) r->SetString(fields_[0], "same");
  EXPECT_LT(l.Compare(Key(l, b).data(), Key(l, c).data()), 0);
  EXPECT_LT(l.Compare(Key(l, c).data(), Key(l, a).data()), 0);
  const auto kc = Key(l, c);
  EXPECT_EQ(std::vector<uint8_t>(kc.end() - 4, kc.end()), (std::vector<uint8_t>{0x80, 0, 0, 7}));
}

TEST_F(KeyOrderTest, CaseInsensitiveKeysAreEqual) {
  TIndexDescriptor d = MakeIndex("C", {1});
  d.case_insensitive = true;
  TRecordImage a, b;
  a.SetString(fields_[0], "Caf\xE9");
  b.SetString(fields_[0], "CAF\xC9");
  for (uint32_t lcid : {0u, 0x040Cu}) {
    const TKeyLayout l = Layout(d, lcid);
    EXPECT_EQ(Key(l, a), Key(l, b)) << lcid;
  }
  const TKeyLayout turkish = Layout(d, 0x041F);
  TRecordImage i;
  i.SetString(fields_[0], "i");
  EXPECT_EQ(Key(turkish, i)[1], 0xDD) << "dotted capital I of code page 1254";
}

TEST_F(KeyOrderTest, LocaleOrderIgnoresAccentsButNotCase) {
  const TKeyLayout l = Layout(MakeIndex("L", {1}), 0x040C);
  auto key = [&](const char* s) {
    TRecordImage r;
    r.SetString(fields_[0], s);
    return Key(l, r);
  };
  EXPECT_EQ(l.Compare(key("resume").data(), key("r\xE9sum\xE9").data()), 0);
  EXPECT_LT(l.Compare(key("cote").data(), key("Cote").data()), 0);
  EXPECT_LT(l.Compare(key("\xE9t\xE9").data(), key("f").data()), 0) << "bytes would say otherwise";
  TIndexDescriptor d = MakeIndex("LD", {1});
  d.field_descending[0] = 1;
  const TKeyLayout ld = Layout(d, 0x040C);
  TRecordImage a, b;
  a.SetString(fields_[0], "a");
  b.SetString(fields_[0], "b");
  EXPECT_GT(ld.Compare(Key(ld, a).data(), Key(ld, b).data()), 0);
  EXPECT_EQ(Key(ld, a)[1], 'a') << "with a locale the bytes stay as they are";
}

TEST(KeyEncodingTest, OtherTypes) {
  uint8_t out[8];
  TKeyField small{1, "S", 5, 0, 2, 9};
  const uint8_t minus_two[2] = {0xFE, 0xFF};
  EncodeKeyValue(small, minus_two, out);
  EXPECT_EQ(out[0], 0x7F);
  EXPECT_EQ(out[1], 0xFE);
  TKeyField word{1, "W", 12, 0, 2, 9};
  const uint8_t w[2] = {0x34, 0x12};
  EncodeKeyValue(word, w, out);
  EXPECT_EQ(out[0], 0x12);
  EXPECT_EQ(out[1], 0x34);
  TKeyField large{1, "L", 18, 0, 8, 9};
  const uint8_t one[8] = {1, 0, 0, 0, 0, 0, 0, 0};
  EncodeKeyValue(large, one, out);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 8), (std::vector<uint8_t>{0x80, 0, 0, 0, 0, 0, 0, 1}));
  // BCD: 12.345 (precision 5, scale 3) is 123450 ten-thousandths.
  uint8_t bcd[34] = {5, 3, 0x12, 0x34, 0x50};
  EXPECT_EQ(BcdToTenThousandths(bcd), 123450);
  bcd[1] = 0x80 | 3;
  EXPECT_EQ(BcdToTenThousandths(bcd), -123450);
  uint8_t fine[34] = {6, 6, 0x12, 0x34, 0x56};  // 0.123456 rounds to 1235
  EXPECT_EQ(BcdToTenThousandths(fine), 1235);
  uint8_t empty[34] = {};
  EXPECT_EQ(BcdToTenThousandths(empty), 0);
  TKeyField b{1, "B", 8, 0, 34, 9};
  EXPECT_EQ(b.KeySize(), 8);
  EncodeKeyValue(b, bcd, out);
  EXPECT_LT(out[0], 0x80);
}

TEST(KeyEncodingTest, StatusKeysListActiveBeforeDeleted) {
  uint8_t a[5], d[5];
  MakeStatusKey(0, 900, a);
  MakeStatusKey(1, 2, d);
  EXPECT_LT(TKeyLayout::ForStatus().Compare(a, d), 0);
  EXPECT_EQ(std::vector<uint8_t>(a, a + 5), (std::vector<uint8_t>{0, 0x80, 0, 3, 0x84}));
}

TEST(TableLocaleTest, InstalledLocales) {
  EXPECT_TRUE(TTableLocale::IsInstalled(0x0409));
  EXPECT_TRUE(TTableLocale::IsInstalled(0x10407)) << "German phone book order";
  EXPECT_FALSE(TTableLocale::IsInstalled(0x00FF));
  EXPECT_FALSE(TTableLocale::IsInstalled(0x1234));
  EXPECT_EQ(CodePageForLanguage(0x0419), 1251);
  EXPECT_EQ(CodePageForLanguage(0x0405), 1250);
  EXPECT_EQ(CodePageForLanguage(0x0409), 1252);
}

TEST(TableLocaleTest, CaseMappingFollowsTheLocaleAndItsCodePage) {
  uint8_t turkish[] = "I\xDD";
  TTableLocale::ForLcid(0x041F)->Lower(turkish);
  EXPECT_EQ(turkish[0], 0xFD) << "dotless small i of code page 1254";
  EXPECT_EQ(turkish[1], 'i');
  uint8_t french[] = "\xC9t\xE9";
  TTableLocale::ForLcid(0x040C)->Lower(french);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(french)), "\xE9t\xE9");
  TTableLocale::ForLcid(0x040C)->Upper(french);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(french)), "\xC9T\xC9");
  uint8_t russian[] = "\xE0\xE1";  // a, be in code page 1251
  TTableLocale::ForLcid(0x0419)->Upper(russian);
  EXPECT_EQ(russian[0], 0xC0);
  EXPECT_EQ(russian[1], 0xC1);
}

}  // namespace
}  // namespace cairn::testing
