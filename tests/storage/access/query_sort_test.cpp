// Sorting a data file in place: order (nulls first, equal keys by record ID,
// descending, case), distinct, grouping, the row limit and truncation, both
// in memory and through run files, which never outlive the sort.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "storage/access/query_sort_keys.h"
#include "storage/base/engine_error.h"
#include "storage/files/data_endian.h"
#include "storage/files/data_file.h"
#include "storage/files/file_faults.h"

namespace cairn {
namespace {

namespace fs = std::filesystem;

struct TRow {
  std::optional<int32_t> n;
  std::string s;
  int32_t id = 0;
  bool operator==(const TRow&) const = default;
};

class SortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "cairn-sort-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    runs_ = dir_ / "runs";
    fs::create_directory(runs_);
  }
  void TearDown() override {
    file_.Close();
    fs::remove_all(dir_);
  }

  // Fields N (integer) and S (string), plus `padding` bytes of string
  // fields so that few records fit the cache.
  void Create(bool encrypted = false, int padding = 0) {
    TDataCreateParams p;
    p.fields = {TFieldDescriptor::Make("N", kFldInteger),
                TFieldDescriptor::Make("S", kFldString, 0, 20)};
    for (int i = 0; padding > 0; ++i, padding -= 250) {
      p.fields.push_back(TFieldDescriptor::Make("P" + std::to_string(i), kFldString, 0, 250));
    }
    p.encrypted = encrypted;
    if (encrypted) p.password = "pw";
    file_.set_file_name((dir_ / "T.DAT").string());
    file_.CreateHeader(p);
  }
  void Add(std::optional<int32_t> n, const std::string& s) {
    TPinnedRecord record(file_, file_.AllocateSlot(false));
    if (n) {
      uint8_t v[4];
      le::PutI32(v, *n);
      file_.PutField(1, *record.get(), v);
    }
    file_.PutString(2, *record.get(), s);
  }
  uint32_t Sort(std::vector<TSortField> fields, TSortRequest request = {}, bool nocase = false) {
    keys_ = TQuerySortKeys::Make(file_, fields, nocase);
    EXPECT_TRUE(keys_.has_value());
    request.keys = &*keys_;
    request.run_directory = runs_.string();
    request.run_created = [&](const std::string& name) { run_files_.push_back(name); };
    const uint32_t rows = file_.SortRecords(request);
    file_.FlushBuffers();
    return rows;
  }
  // Every slot as stored, read through a fresh open.
  std::vector<TRow> Rows() {
    file_.Close();
    file_.Open();
    std::vector<TRow> rows;
    for (uint32_t slot = 1; slot < file_.NextRecordNumber(); ++slot) {
      TPinnedRecord record(file_, file_.GetRecord(slot));
      EXPECT_EQ(record->ImageSlotNumber(), slot);
      TRow row;
      if (auto v = file_.GetField(1, *record.get())) row.n = le::I32(v->data());
      row.s = file_.GetString(2, *record.get()).value_or("");
      row.id = record->RecordId();
      rows.push_back(row);
    }
    return rows;
  }
  uint64_t FileSize() { return fs::file_size(dir_ / "T.DAT"); }
  bool AnyRunFileLeft() {
    for (const std::string& name : run_files_) {
      TFileHandler probe(name);
      if (probe.Exists()) return true;
    }
    return !fs::is_empty(runs_);
  }

  fs::path dir_, runs_;
  TDataFile file_{"T"};
  std::optional<TQuerySortKeys> keys_;
  std::vector<std::string> run_files_;
};

// The same order must come out of the in-memory path and the run files,
// plain and scrambled.
class SortPathTest : public SortTest,
                     public ::testing::WithParamInterface<std::tuple<bool, bool>> {};

TEST_P(SortPathTest, NullsFirstEqualKeysKeepRecordIdOrderAndSlotsAreRenumbered) {
  const auto [external, encrypted] = GetParam();
  Create(encrypted, external ? 1000 : 0);
  // Enough records that the cache cannot hold them all on the external path.
  const int copies = external ? 700 : 1;
  for (int c = 0; c < copies; ++c) {
    Add(3, "a" + std::to_string(c));
    Add(std::nullopt, "b" + std::to_string(c));
    Add(-7, "c" + std::to_string(c));
    Add(3, "d" + std::to_string(c));
  }
  file_.FlushBuffers();
  if (!external) {
    ASSERT_GE(file_.Cache().Count(), 4u);
  }
  const uint32_t slots = 4 * copies;
  EXPECT_EQ(Sort({{1, false}}), slots);
  if (external) {
    const uint32_t capacity = file_.SortChunkCapacity();
    EXPECT_EQ(run_files_.size(), (slots + capacity - 1) / capacity);
  } else {
    EXPECT_TRUE(run_files_.empty());
  }
  EXPECT_FALSE(AnyRunFileLeft());
  const std::vector<TRow> rows = Rows();
  ASSERT_EQ(rows.size(), slots);
  for (uint32_t i = 0; i < slots; ++i) EXPECT_EQ(rows[i].id, int32_t(i + 1));
  // Nulls first, then -7, then the 3s; within each, the old record-ID order.
  for (int c = 0; c < copies; ++c) {
    EXPECT_EQ(rows[c].n, std::nullopt);
    EXPECT_EQ(rows[c].s, "b" + std::to_string(c));
    EXPECT_EQ(rows[copies + c].n, -7);
    EXPECT_EQ(rows[copies + c].s, "c" + std::to_string(c));
    EXPECT_EQ(rows[2 * copies + 2 * c].s, "a" + std::to_string(c));
    EXPECT_EQ(rows[2 * copies + 2 * c + 1].s, "d" + std::to_string(c));
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, SortPathTest,
                         ::testing::Combine(::testing::Bool(), ::testing::Bool()));

TEST_F(SortTest, DistinctKeepsOneRowPerKeyAndTruncatesAfterIt) {
  Create();
  Add(2, "x");
  Add(1, "y");
  Add(2, "z");
  Add(1, "w");
  file_.FlushBuffers();
  TSortRequest request;
  request.distinct = true;
  EXPECT_EQ(Sort({{1, false}}, request), 2u);
  EXPECT_EQ(Rows(), (std::vector<TRow>{{1, "y", 1}, {2, "x", 2}}));
  EXPECT_EQ(FileSize(), file_.SlotOffset(3));
  EXPECT_EQ(file_.NextRecordNumber(), 3u);
}

TEST_F(SortTest, RowLimitAndDescendingAndCaseInsensitiveOrder) {
  Create();
  Add(1, "b");
  Add(2, "A");
  Add(3, "a");
  Add(4, "B");
  file_.FlushBuffers();
  // Ignoring case, "A" and "a" tie and keep their record-ID order.
  EXPECT_EQ(Sort({{2, true}}, {}, true), 4u);
  EXPECT_EQ(Rows(), (std::vector<TRow>{{1, "b", 1}, {4, "B", 2}, {2, "A", 3}, {3, "a", 4}}));
  TSortRequest one;
  one.max_rows = 1;
  EXPECT_EQ(Sort({{2, false}}, one), 1u);
  // Case-sensitive: "A" < "B" < "a" < "b" in byte order.
  EXPECT_EQ(Rows(), (std::vector<TRow>{{2, "A", 1}}));
  EXPECT_EQ(FileSize(), file_.SlotOffset(2));
}

TEST_F(SortTest, GroupingFoldsFinishesAndDropsRowsThatFailKeep) {
  Create();
  for (int32_t v : {3, 1, 2, 3, 1, 3}) Add(v, "");
  file_.FlushBuffers();
  // S collects one '+' per record of the group; finish appends '!';
  // keep wants at least two records.
  std::vector<std::string> calls;
  const size_t at = file_.Field(2).Offset();  // presence byte; the characters follow
  auto text = [&](std::span<const uint8_t> row) {
    return std::string(reinterpret_cast<const char*>(row.data()) + at + 1);
  };
  TSortRequest request;
  request.group = true;
  request.grouping.accumulate = [&](std::span<uint8_t> row, std::span<uint8_t> current,
                                    bool start) {
    if (start) {
      calls.push_back("start");
      std::strcpy(reinterpret_cast<char*>(row.data()) + at + 1, "+");
      row[at] = 1;
    } else {
      calls.push_back("fold");
      std::strcat(reinterpret_cast<char*>(current.data()) + at + 1, "+");
    }
  };
  request.grouping.finish = [&](std::span<uint8_t> row) {
    calls.push_back("finish");
    std::strcat(reinterpret_cast<char*>(row.data()) + at + 1, "!");
  };
  request.grouping.keep = [&](std::span<const uint8_t> row) {
    calls.push_back("keep");
    return text(row).size() >= 3;
  };
  EXPECT_EQ(Sort({{1, false}}, request), 2u);
  EXPECT_EQ(Rows(), (std::vector<TRow>{{1, "++!", 1}, {3, "+++!", 2}}));
  EXPECT_EQ(calls, (std::vector<std::string>{"start", "fold", "start", "finish", "keep", "start",
                                             "finish", "keep", "fold", "fold", "finish", "keep"}));
}

// Deleted slots inside the chunks of the external path: the active rows
// close up over them before the chunk is sorted in place, and only they
// come out, scrambled runs included.
TEST_F(SortTest, ExternalSortSkipsDeletedSlotsInsideChunks) {
  Create(true, 1000);
  const int count = 2500;
  for (int i = 0; i < count; ++i) Add((i * 7919) % count, "r" + std::to_string(i));
  for (uint32_t slot = 1; slot <= uint32_t(count); slot += 3) {
    TPinnedRecord record(file_, file_.GetRecord(slot));
    file_.DeleteSlot(*record.get(), false);
  }
  file_.FlushBuffers();
  const uint32_t kept = count - (count + 2) / 3;
  EXPECT_EQ(Sort({{1, true}}), kept);
  EXPECT_EQ(run_files_.size(), 3u);
  EXPECT_FALSE(AnyRunFileLeft());
  const std::vector<TRow> rows = Rows();
  ASSERT_EQ(rows.size(), kept);
  // The values are distinct, so descending order decides every position.
  std::vector<std::pair<int32_t, std::string>> expected;
  for (int i = 0; i < count; ++i) {
    if (i % 3 != 0) expected.emplace_back((i * 7919) % count, "r" + std::to_string(i));
  }
  std::sort(expected.rbegin(), expected.rend());
  for (uint32_t i = 0; i < kept; ++i) {
    ASSERT_EQ(rows[i], (TRow{expected[i].first, expected[i].second, int32_t(i + 1)})) << i;
  }
}

TEST_F(SortTest, FailedMergeWriteLeavesNoRunFileBehind) {
  Create(false, 1000);
  for (int i = 0; i < 2500; ++i) Add(2500 - i, "r");
  file_.FlushBuffers();
  TFileFaults::TScope faults((dir_ / "T.DAT").string());
  TFileFaults::Instance().FailWriteCall(1);
  try {
    Sort({{1, false}});
    FAIL() << "the failed write was not reported";
  } catch (const ECairnEngineError& e) {
    EXPECT_EQ(e.code(), CAIRN_WRITEERR);
  }
  EXPECT_EQ(run_files_.size(), 3u);
  EXPECT_FALSE(AnyRunFileLeft());
}

}  // namespace
}  // namespace cairn
