// Edits through cursors: what a post compares, how keys with the record ID
// are checked, and where an empty table leaves the cursor.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "storage/access/index_tree.h"
#include "storage/base/engine_error.h"
#include "storage/files/data_endian.h"
#include "storage/files/field_codec.h"
#include "tables_test_support.h"

namespace cairn {
namespace {

using testing::FieldText;
using testing::Items;
using testing::CodeOf;
using testing::PalDefinition;
using testing::PalRecord;
using testing::TScratchDir;

class CursorEditTest : public ::testing::Test {
 protected:
  void SetUp() override { directory_ = &session_.OpenDirectory(dir_.path()); }

  TScratchDir dir_;
  TDataSession session_;
  TDataDirectory* directory_ = nullptr;
};

// Optimistic protocol: a post compares the stored record with the record as
// the edit saw it, even when the post itself catches up with the other
// cursor's change first.
TEST_F(CursorEditTest, OptimisticPostRefusesToOverwriteAnotherCursorsChange) {
  session_.Settings().lock_protocol = TLockProtocol::kOptimistic;
  directory_->CreateTable("Pal", PalDefinition());
  TDataCursor mine, theirs;
  mine.Open(*directory_, "Pal");
  theirs.Open(*directory_, "Pal");
  mine.Append(PalRecord(mine, "a", "u", 730120, "first"));
  std::vector<uint8_t> shown, record;
  ASSERT_EQ(mine.GetCurrent(shown), CAIRN_NONE);
  ASSERT_EQ(theirs.Next(record), CAIRN_NONE);
  theirs.Modify(PalRecord(theirs, "a", "u", 730120, "theirs"));

  EXPECT_EQ(CodeOf([&] { mine.Modify(PalRecord(mine, "a", "u", 730120, "mine")); }),
            CAIRN_KEYORRECDELETED);
  EXPECT_EQ(CodeOf([&] { mine.Modify(PalRecord(mine, "a", "u", 730120, "mine")); }),
            CAIRN_KEYORRECDELETED);
  ASSERT_EQ(mine.GetCurrent(record), CAIRN_NONE);
  EXPECT_EQ(FieldText(mine, record, "PW"), "theirs");
  // A new edit starts from what is stored now.
  ASSERT_EQ(mine.GetCurrent(record, true), CAIRN_NONE);
  mine.Modify(PalRecord(mine, "a", "u", 730120, "mine"));
  ASSERT_EQ(theirs.GetCurrent(record), CAIRN_NONE);
  EXPECT_EQ(FieldText(theirs, record, "PW"), "mine");
}

// A unique key holding the auto-increment field is checked with the record ID
// the new record gets, not with whatever the caller's image carried.
TEST_F(CursorEditTest, UniqueKeyWithTheAutoIncrementFieldUsesTheNewRecordId) {
  TTableDefinition def;
  def.fields = {TFieldDescriptor::Make("Item", kFldString, 0, 20),
                TFieldDescriptor::Make("Id", kFldInteger, kSubAutoInc)};
  LayoutFields(def.fields);
  TIndexDefinition primary;
  primary.primary = true;
  primary.unique = true;
  primary.fields = {"Id"};
  def.indexes = {primary};
  directory_->CreateTable("Ids", def);
  TDataCursor cursor;
  cursor.Open(*directory_, "Ids");
  const TFieldDescriptor& item = cursor.Fields()[0];
  const TFieldDescriptor& id = cursor.Fields()[1];
  std::vector<uint8_t> record = cursor.NewRecord();
  PutString(item, record, "first");
  cursor.Append(record);
  // A copy of the stored record, carrying its ID, appended as a new one.
  ASSERT_EQ(cursor.GetCurrent(record), CAIRN_NONE);
  PutString(item, record, "second");
  cursor.Append(record);
  ASSERT_EQ(cursor.GetCurrent(record), CAIRN_NONE);
  EXPECT_EQ(le::I32(GetField(id, record)->data()), 2);
  EXPECT_EQ(cursor.RecordCount(), 2u);
}

// An empty table or range has no current record at either end.
TEST_F(CursorEditTest, EmptyTableOrRangeHasNoCurrentRecordAtEitherEnd) {
  directory_->CreateTable("Pal", PalDefinition());
  TDataCursor cursor;
  cursor.Open(*directory_, "Pal");
  std::vector<uint8_t> record;
  cursor.SetToBegin();
  EXPECT_EQ(cursor.GetCurrent(record), CAIRN_NOCURRREC);
  cursor.SetToEnd();
  EXPECT_EQ(cursor.GetCurrent(record), CAIRN_NOCURRREC);
  EXPECT_EQ(cursor.Next(record), CAIRN_EOF);

  cursor.Append(PalRecord(cursor, "m", "u", 730120));
  const std::vector<uint8_t> low = cursor.BuildKey(PalRecord(cursor, "x", "", 730120));
  const std::vector<uint8_t> high = cursor.BuildKey(PalRecord(cursor, "y", "", 730120));
  cursor.SetRange(low, high);
  cursor.SetToEnd();
  EXPECT_EQ(cursor.GetCurrent(record), CAIRN_NOCURRREC);
  cursor.ResetRange();
  cursor.SetToBegin();
  EXPECT_EQ(cursor.GetCurrent(record), CAIRN_BOF);
  EXPECT_EQ(cursor.Next(record), CAIRN_NONE);
}

// Positions and counts in an index whose interior pages carry no subtree
// counts come from the leaf chain.
TEST_F(CursorEditTest, IndexWithoutSubtreeCountsGivesRightCountsAndPositions) {
  directory_->CreateTable("Pal", PalDefinition());
  TDataCursor cursor;
  cursor.Open(*directory_, "Pal");
  TDataTable& table = cursor.Table();
  table.WriteLock();
  TIndexDescriptor d;
  d.name = "NoCounts";
  d.no_counts = true;
  d.field_count = 1;
  d.fields[0] = int16_t(testing::FieldNumber(cursor, "User"));
  table.Index().AddSecondaryIndex(d);
  table.Flush();
  table.WriteUnlock();
  constexpr int kRecords = 150;  // several leaves under an interior root
  for (int n = 0; n < kRecords; ++n) {
    char user[16];
    std::snprintf(user, sizeof user, "user%03d", (n * 37) % kRecords);
    cursor.Append(PalRecord(cursor, "i" + std::to_string(n), user, 730120));
  }
  cursor.SetIndex("NoCounts");
  EXPECT_EQ(cursor.RecordCount(), uint32_t(kRecords));
  std::vector<uint8_t> record;
  for (uint32_t n : {1u, 57u, 100u, uint32_t(kRecords)}) {
    ASSERT_EQ(cursor.SetToRecordNumber(n), CAIRN_NONE);
    ASSERT_EQ(cursor.GetCurrent(record), CAIRN_NONE);
    char user[16];
    std::snprintf(user, sizeof user, "user%03u", n - 1);
    EXPECT_EQ(FieldText(cursor, record, "User"), user);
    EXPECT_EQ(cursor.RecordNumber(), n);
  }
  cursor.SetToEnd();
  ASSERT_EQ(cursor.Prior(record), CAIRN_NONE);
  EXPECT_EQ(cursor.RecordNumber(), uint32_t(kRecords));
  const std::vector<uint8_t> low = cursor.BuildKey(PalRecord(cursor, "", "user100", 730120));
  cursor.SetRange(low, {});
  EXPECT_EQ(cursor.RecordCount(), 50u);
}

// A leaf chain that loops back or links past the file is damage: the walk
// stops with 8965 instead of going round for ever or growing the file.
TEST_F(CursorEditTest, DamagedLeafChainIsReportedNotWalked) {
  directory_->CreateTable("Pal", PalDefinition());
  TDataCursor cursor;
  cursor.Open(*directory_, "Pal");
  for (int n = 0; n < 120; ++n) cursor.Append(PalRecord(cursor, "i" + std::to_string(n), "u", 1));
  TDataTable& table = cursor.Table();
  TIndexFile& index = table.Index();
  for (bool cycle : {true, false}) {
    SCOPED_TRACE(cycle ? "cycle" : "link past the end");
    table.WriteLock();
    TIndexEntry first, last;
    ASSERT_TRUE(TIndexTree(index, 0).First(first));
    ASSERT_TRUE(TIndexTree(index, 0).Last(last));
    ASSERT_NE(first.page, last.page);
    const int32_t pages = index.NextPage(0);
    {
      TPinnedPage tail(&index, index.GetPage(0, last.page));
      tail->set_next(cycle ? first.page : pages);
      index.MarkDirty(tail.get());
      if (cycle) {
        TPinnedPage head(&index, index.GetPage(0, first.page));
        head->set_prev(last.page);
        index.MarkDirty(head.get());
      }
    }
    table.Flush();
    table.WriteUnlock();
    cursor.SetToBegin();
    std::vector<uint8_t> record;
    int steps = 0;
    EXPECT_EQ(CodeOf([&] {
                while (cursor.Next(record) == CAIRN_NONE && ++steps < 1000) {
                }
              }),
              CAIRN_INDEXCORRUPT);
    EXPECT_EQ(steps, 120);  // every record, then the damage
    EXPECT_EQ(index.NextPage(0), pages);
    // Mend the chain for the next case.
    table.WriteLock();
    {
      TPinnedPage tail(&index, index.GetPage(0, last.page));
      tail->set_next(0);
      index.MarkDirty(tail.get());
      TPinnedPage head(&index, index.GetPage(0, first.page));
      head->set_prev(0);
      index.MarkDirty(head.get());
    }
    table.Flush();
    table.WriteUnlock();
  }
}

// A short key (the key fields without the record ID of a non-unique index)
// finds and bounds the same records in a descending index as in an
// ascending one.
TEST_F(CursorEditTest, ShortKeysFindAndBoundDescendingIndexes) {
  TTableDefinition def = PalDefinition();
  def.indexes[1].descending = true;  // ByUser
  directory_->CreateTable("Pal", def);
  TDataCursor cursor;
  cursor.Open(*directory_, "Pal");
  for (const char* user : {"a", "b", "c", "d", "e"})
    for (int n = 0; n < 2; ++n)
      cursor.Append(PalRecord(cursor, std::string(user) + std::to_string(n), user, 730120));
  cursor.SetIndex("ByUser");
  auto user_key = [&](const std::string& user) {
    std::vector<uint8_t> key = cursor.BuildKey(PalRecord(cursor, "", user, 730120));
    key.resize(key.size() - 4);  // without the record ID
    return key;
  };
  std::vector<uint8_t> record;
  ASSERT_EQ(cursor.FindKey(user_key("c"), false), CAIRN_NONE);
  ASSERT_EQ(cursor.GetCurrent(record), CAIRN_NONE);
  EXPECT_EQ(FieldText(cursor, record, "User"), "c");
  EXPECT_EQ(cursor.RecordNumber(), 5u);  // e e d d [c] c b b a a
  cursor.SetRange(user_key("d"), user_key("b"));
  EXPECT_EQ(cursor.RecordCount(), 6u);
  EXPECT_EQ(Items(cursor), (std::vector<std::string>{"d1", "d0", "c1", "c0", "b1", "b0"}));
}

}  // namespace
}  // namespace cairn
