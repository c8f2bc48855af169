// Randomised model test: every index configuration against an ordered
// in-memory model, with the whole-file checker and every ordinal verified
// after each batch. Scale with TARN_INDEX_MODEL_SCALE; replay a failure with
// the printed TARN_INDEX_MODEL_SEED.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <set>

#include "index_test_util.h"
#include "storage/access/index_check.h"
#include "storage/access/index_tree.h"

namespace cairn::testing {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr double kDefaultScale = 0.08;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr double kDefaultScale = 0.08;
#else
constexpr double kDefaultScale = 1.0;
#endif
#else
constexpr double kDefaultScale = 1.0;
#endif

double Scale() {
  const char* s = std::getenv("TARN_INDEX_MODEL_SCALE");
  return s ? std::max(0.001, std::atof(s)) : kDefaultScale;
}

uint32_t Seed() {
  const char* s = std::getenv("TARN_INDEX_MODEL_SEED");
  return s ? uint32_t(std::strtoul(s, nullptr, 10)) : std::random_device{}();
}

struct Config {
  bool unique;
  bool descending;
  bool locale;
  uint8_t compression;
  bool long_keys;
};

std::string Describe(const Config& c) {
  return std::string(c.unique ? "unique" : "nonunique") + (c.descending ? "_desc" : "_asc") +
         (c.locale ? "_locale" : "_bytes") + "_comp" + std::to_string(c.compression) +
         (c.long_keys ? "_long" : "_short");
}

class ModelRun {
 public:
  ModelRun(const Config& c, uint32_t seed) : cfg_(c), rng_(seed) {
    file_ = NewMemoryIndex(TestInfo(c.locale ? 0x040C : 0), "model");
    const std::vector<int16_t> fields =
        c.long_keys ? std::vector<int16_t>{4, 5, 2, 3, 6} : std::vector<int16_t>{1, 2};
    TIndexDescriptor d = MakeIndex("ByModel", fields, c.unique, c.descending, c.compression);
    if (!c.long_keys && !c.descending) d.field_descending[1] = 1;  // mixed field order
    index_ = file_->AddSecondaryIndex(d);
    fields_ = TestFields();
    layout_ = file_->Layout(index_);
    model_ = std::map<std::vector<uint8_t>, int32_t, Less>(Less{&layout_});
  }

  std::string RandomText(int max_len) {
    static const char* kPieces[] = {"a", "b", "ab", "A", "\xE9", "e", "E", "z", "0", "-"};
    std::string s;
    const int parts = std::uniform_int_distribution<int>(0, max_len)(rng_);
    for (int i = 0; i < parts; ++i) s += kPieces[rng_() % 10];
    return s;
  }

  TRecordImage RandomRecord() {
    TRecordImage r(++next_id_);
    if (rng_() % 10 != 0) r.SetString(fields_[0], RandomText(6));
    if (rng_() % 12 != 0)
      r.SetInt(fields_[1], std::uniform_int_distribution<int32_t>(-50, 50)(rng_));
    r.SetDouble(fields_[2], std::uniform_int_distribution<int>(-8, 8)(rng_) / 4.0);
    if (cfg_.long_keys) {
      // Long shared prefixes exercise the duplicate-byte compression; short
      // texts leave long zero tails for the trailing-byte compression.
      std::string a(size_t(rng_() % 3) * 100, 'x');
      r.SetString(fields_[3], a + RandomText(4));
      if (rng_() % 3 != 0) r.SetString(fields_[4], RandomText(3));
      r.SetSmall(fields_[5], int16_t(std::uniform_int_distribution<int>(-3, 3)(rng_)));
    }
    return r;
  }

  void Run(int batches, int batch_ops) {
    for (int b = 0; b < batches; ++b) {
      // Grow for the first two thirds, then shrink to nothing.
      const int insert_pct = b < batches * 2 / 3 ? 65 : 20;
      for (int i = 0; i < batch_ops; ++i) {
        if (int(rng_() % 100) < insert_pct || keys_.empty())
          Insert();
        else
          Delete();
      }
      Verify();
      if (::testing::Test::HasFailure()) return;
      if (b % 4 == 3) Reopen();
    }
    while (!keys_.empty()) Delete();
    Verify();
    EXPECT_EQ(file_->Root(index_), 0) << "the last delete leaves root 0";
    Insert();
    TPinnedPage root(file_.get(), file_->GetPage(index_, file_->Root(index_)));
    EXPECT_EQ(root->type(), kPageRootLeaf) << "the next insert makes a one-level tree";
  }

 private:
  struct Less {
    const TKeyLayout* layout;
    bool operator()(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) const {
      return layout->Compare(a.data(), b.data()) < 0;
    }
  };

  void Insert() {
    const TRecordImage r = RandomRecord();
    std::vector<uint8_t> key(size_t(file_->Shape(index_).key_length));
    file_->Layout(index_).BuildKey(r.span(), key);
    if (model_.count(key)) {
      ASSERT_TRUE(cfg_.unique) << "non-unique keys carry the record ID and never collide";
      return;
    }
    const int32_t slot = r.id();
    TIndexTree(*file_, index_).Insert(key, slot);
    model_.emplace(key, slot);
    keys_.push_back(key);
  }

  void Delete() {
    const size_t i = rng_() % keys_.size();
    TIndexTree(*file_, index_).Delete(keys_[i]);
    model_.erase(keys_[i]);
    keys_[i] = keys_.back();
    keys_.pop_back();
  }

  void Reopen() {
    file_->WriteHeader();
    file_->Flush();
    file_->CloseIndexFile();
    // Temporary-free file: reopening must find exactly what was written.
    const std::string name = file_->file_name();
    auto again = std::make_unique<TIndexFile>(TestInfo(cfg_.locale ? 0x040C : 0));
    again->set_file_name(name);
    again->set_in_memory(true);
    again->OpenIndexFile();
    file_ = std::move(again);
  }

  void Verify() {
    file_->Flush();
    file_->TrimCache();
    const TIndexCheckResult check = CheckIndexFile(*file_);
    ASSERT_TRUE(check.ok()) << check.faults.front() << " (" << check.faults.size() << " faults)";
    TIndexTree tree(*file_, index_);
    ASSERT_EQ(tree.Count(), model_.size());
    // Walk forward: every key, slot and ordinal in model order.
    TIndexEntry e;
    bool more = tree.First(e);
    uint32_t n = 0;
    std::vector<const std::vector<uint8_t>*> order;
    for (const auto& [key, slot] : model_) {
      ASSERT_TRUE(more) << "tree ends early at " << n;
      ++n;
      ASSERT_EQ(e.key, key) << "key " << n;
      ASSERT_EQ(e.ref, slot);
      ASSERT_EQ(e.ordinal, n);
      order.push_back(&key);
      more = tree.Next(e);
    }
    ASSERT_FALSE(more);
    // Backward from the end.
    if (!model_.empty()) {
      ASSERT_TRUE(tree.Last(e));
      ASSERT_EQ(e.ordinal, model_.size());
      for (uint32_t back = uint32_t(model_.size()); back > 1; --back) {
        ASSERT_TRUE(tree.Prior(e));
        ASSERT_EQ(e.ordinal, back - 1);
        ASSERT_EQ(e.key, *order[back - 2]);
      }
      ASSERT_FALSE(tree.Prior(e));
    }
    // Positioning by ordinal and by key.
    for (int probe = 0; probe < 50 && !model_.empty(); ++probe) {
      const uint32_t want = uint32_t(rng_() % model_.size()) + 1;
      ASSERT_TRUE(tree.SeekOrdinal(want, e));
      ASSERT_EQ(e.key, *order[want - 1]);
      const TRecordImage r = RandomRecord();
      std::vector<uint8_t> key(size_t(file_->Shape(index_).key_length));
      file_->Layout(index_).BuildKey(r.span(), key);
      const auto it = model_.lower_bound(key);
      const bool found = tree.SeekGE(key, e);
      ASSERT_EQ(found, it != model_.end());
      if (found) {
        ASSERT_EQ(e.key, it->first);
        ASSERT_EQ(e.ordinal, uint32_t(std::distance(model_.begin(), it)) + 1);
      }
    }
    ASSERT_FALSE(tree.SeekOrdinal(uint32_t(model_.size()) + 1, e));
    ASSERT_FALSE(tree.SeekOrdinal(0, e));
  }

  Config cfg_;
  std::mt19937 rng_;
  std::unique_ptr<TIndexFile> file_;
  int index_ = 0;
  std::vector<TKeyField> fields_;
  int32_t next_id_ = 0;
  std::map<std::vector<uint8_t>, int32_t, Less> model_{Less{nullptr}};
  std::vector<std::vector<uint8_t>> keys_;
  TKeyLayout layout_;
};

class IndexModelTest : public ::testing::TestWithParam<Config> {};

TEST_P(IndexModelTest, MatchesOrderedModel) {
  const uint32_t seed = Seed();
  SCOPED_TRACE("replay with TARN_INDEX_MODEL_SEED=" + std::to_string(seed) + " (" +
               Describe(GetParam()) + ")");
  ModelRun run(GetParam(), seed);
  const double scale = Scale();
  const int batch_ops = std::max(20, int(900 * scale));
  run.Run(12, batch_ops);
}

std::vector<Config> AllConfigs() {
  std::vector<Config> out;
  for (bool unique : {true, false})
    for (bool desc : {false, true})
      for (bool locale : {false, true})
        for (uint8_t comp = 0; comp < 4; ++comp)
          for (bool long_keys : {false, true})
            out.push_back({unique, desc, locale, comp, long_keys});
  return out;
}

INSTANTIATE_TEST_SUITE_P(All, IndexModelTest, ::testing::ValuesIn(AllConfigs()),
                         [](const ::testing::TestParamInfo<Config>& info) {
                           return Describe(info.param);
                         });

// With full compression an entry shares its prefix with the one before it.
// Removing a short entry (all trailing zeros) between two long ones that
// share a long prefix makes the next entry store that prefix again: the
// leaf grows on a removal and must split, never be written past its page.
TEST(IndexCompressionTest, RemovalThatGrowsAFullyCompressedLeafSplitsIt) {
  auto file = NewMemoryIndex(TestInfo(), "grow");
  const int index = file->AddSecondaryIndex(MakeIndex("Grow", {4, 2}, true, false, kCompressFull));
  const std::vector<TKeyField> fields = TestFields();
  const TKeyLayout& layout = file->Layout(index);
  auto key_of = [&](int j, bool with_number) {
    TRecordImage r(j);
    char text[8];
    std::snprintf(text, sizeof text, "k%03d", j);
    r.SetString(fields[3], text);
    if (with_number) r.SetInt(fields[1], 7);
    std::vector<uint8_t> key(size_t(layout.key_length()));
    layout.BuildKey(r.span(), key);
    return key;
  };
  constexpr int kPairs = 120;
  TIndexTree tree(*file, index);
  for (int j = 0; j < kPairs; ++j) {
    tree.Insert(key_of(j, false), 2 * j + 1);
    tree.Insert(key_of(j, true), 2 * j + 2);
  }
  file->Flush();
  for (int j = 0; j < kPairs; ++j) tree.Delete(key_of(j, false));
  file->Flush();
  const TIndexCheckResult check = CheckIndexFile(*file);
  for (const std::string& fault : check.faults) ADD_FAILURE() << fault;
  EXPECT_EQ(tree.Count(), uint32_t(kPairs));
  for (int j = 0; j < kPairs; ++j) EXPECT_EQ(tree.Find(key_of(j, true)), 2 * j + 2) << j;
}

}  // namespace
}  // namespace cairn::testing
