// Edits through cursors: what a post compares, how keys with the record ID
// are checked, and where an empty table leaves the cursor.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "storage/base/engine_error.h"
#include "storage/files/data_endian.h"
#include "storage/files/field_codec.h"
#include "tables_test_support.h"

namespace cairn {
namespace {

using testing::FieldText;
using testing::Items;
using testing::PalDefinition;
using testing::PalRecord;
using testing::TScratchDir;

uint16_t CodeOf(const std::function<void()>& work) {
  try {
    work();
  } catch (const ECairnEngineError& error) {
    return error.code();
  }
  return 0;
}

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

}  // namespace
}  // namespace cairn
