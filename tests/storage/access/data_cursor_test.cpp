#include "storage/access/data_cursor.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>

#include "storage/base/engine_error.h"
#include "storage/access/index_tree.h"
#include "storage/access/table_check.h"
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

class CursorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    session_.Settings().lock_wait_time = 1;
    session_.Settings().lock_retry_count = 2;
    directory_ = &session_.OpenDirectory(dir_.path());
    directory_->CreateTable("Pal", PalDefinition());
    cursor_.Open(*directory_, "Pal");
  }
  void Add(TDataCursor& cursor, const std::string& item, const std::string& user = "u",
           int32_t day = 730120) {
    cursor.Append(PalRecord(cursor, item, user, day));
  }
  std::vector<uint8_t> Current(TDataCursor& cursor) {
    std::vector<uint8_t> record;
    EXPECT_EQ(cursor.GetCurrent(record), CAIRN_NONE);
    return record;
  }

  TScratchDir dir_;
  TDataSession session_;
  TDataDirectory* directory_ = nullptr;
  TDataCursor cursor_;
};

TEST_F(CursorTest, EmptyTableHasNoCurrentRecordInEitherDirection) {
  std::vector<uint8_t> record;
  EXPECT_EQ(cursor_.Next(record), CAIRN_EOF);
  EXPECT_EQ(cursor_.GetCurrent(record), CAIRN_NOCURRREC);
  EXPECT_EQ(cursor_.CurrentSlot(), 0u);
  EXPECT_EQ(cursor_.RecordNumber(), 0u);
  cursor_.SetToEnd();
  EXPECT_EQ(cursor_.Prior(record), CAIRN_BOF);
  EXPECT_EQ(cursor_.SetToRecordNumber(1), CAIRN_EOF);
  EXPECT_EQ(cursor_.RecordCount(), 0u);
  EXPECT_EQ(CodeOf([&] { cursor_.Modify(cursor_.NewRecord()); }), CAIRN_NOCURRREC);
  EXPECT_EQ(CodeOf([&] { cursor_.Delete(cursor_.NewRecord()); }), CAIRN_NOCURRREC);
}

TEST_F(CursorTest, WalksInKeyOrderBothWaysAndAcrossManyLeaves) {
  // Enough records for a tree of several levels; inserted out of order.
  std::vector<std::string> expected;
  for (int i = 0; i < 600; ++i) {
    char item[16];
    std::snprintf(item, sizeof item, "k%04d", (i * 7919) % 600);
    Add(cursor_, item);
    expected.push_back(item);
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Items(cursor_), expected);
  EXPECT_EQ(cursor_.RecordCount(), 600u);

  std::vector<std::string> backwards;
  std::vector<uint8_t> record;
  cursor_.SetToEnd();
  while (cursor_.Prior(record) == CAIRN_NONE)
    backwards.push_back(FieldText(cursor_, record, "Item"));
  std::reverse(backwards.begin(), backwards.end());
  EXPECT_EQ(backwards, expected);

  // Record numbers come from the tree and match the walk.
  EXPECT_EQ(cursor_.SetToRecordNumber(0), CAIRN_BOF);
  EXPECT_EQ(cursor_.Next(record), CAIRN_NONE);
  EXPECT_EQ(FieldText(cursor_, record, "Item"), expected[0]);
  EXPECT_EQ(cursor_.SetToRecordNumber(601), CAIRN_EOF);
  EXPECT_EQ(cursor_.Prior(record), CAIRN_NONE);
  EXPECT_EQ(FieldText(cursor_, record, "Item"), expected[599]);
  for (uint32_t n : {1u, 2u, 299u, 300u, 301u, 599u, 600u}) {
    ASSERT_EQ(cursor_.SetToRecordNumber(n), CAIRN_NONE) << n;
    EXPECT_EQ(FieldText(cursor_, Current(cursor_), "Item"), expected[n - 1]) << n;
    EXPECT_EQ(cursor_.RecordNumber(), n);
  }
  // Stepping past the end stays at the end; prior from there is the last record.
  ASSERT_EQ(cursor_.SetToRecordNumber(600), CAIRN_NONE);
  EXPECT_EQ(cursor_.Next(record), CAIRN_EOF);
  EXPECT_EQ(cursor_.Next(record), CAIRN_EOF);
  EXPECT_EQ(cursor_.Prior(record), CAIRN_NONE);
  EXPECT_EQ(FieldText(cursor_, record, "Item"), expected[599]);

  // An append leaves the cursor on the new record, in its key position, also
  // when another cursor changes the table before the next step.
  Add(cursor_, "k0299x");
  EXPECT_EQ(cursor_.RecordNumber(), 301u);
  ASSERT_EQ(cursor_.Next(record), CAIRN_NONE);
  EXPECT_EQ(FieldText(cursor_, record, "Item"), "k0300");
  Add(cursor_, "k0450x");
  TDataCursor other;
  other.Open(*directory_, "Pal");
  Add(other, "k0450y");
  ASSERT_EQ(cursor_.Prior(record), CAIRN_NONE);
  EXPECT_EQ(FieldText(cursor_, record, "Item"), "k0450");
  for (const char* item : {"k0450x", "k0450y", "k0451"}) {
    ASSERT_EQ(cursor_.Next(record), CAIRN_NONE);
    EXPECT_EQ(FieldText(cursor_, record, "Item"), item);
  }
}

// A walk reads records leaves ahead of its position; whatever changes meanwhile
// (by another cursor at once, by another session once the walk takes a lock)
// must show in the rest of the walk, in either direction.
TEST_F(CursorTest, AWalkSeesChangesAheadOfIt) {
  std::vector<std::string> items;
  for (int i = 0; i < 600; ++i) {
    char item[16];
    std::snprintf(item, sizeof item, "k%04d", (i * 7919) % 600);
    Add(cursor_, item);
    items.push_back(item);
  }
  std::sort(items.begin(), items.end());
  // The walk's view: item -> password, in key order.
  std::vector<std::pair<std::string, std::string>> expected;
  for (const std::string& item : items) expected.emplace_back(item, "pw");

  auto walk = [&](TDataCursor& cursor, size_t from, size_t to) {
    std::vector<uint8_t> record;
    for (size_t i = from; i < to; ++i) {
      ASSERT_EQ(cursor.Next(record), CAIRN_NONE) << i;
      ASSERT_EQ(FieldText(cursor, record, "Item"), expected[i].first) << i;
      ASSERT_EQ(FieldText(cursor, record, "PW"), expected[i].second) << i;
    }
  };
  auto change_at = [&](TDataCursor& other, size_t i, const char* pw) {
    ASSERT_EQ(other.FindKey(other.BuildKey(PalRecord(other, expected[i].first, "u", 730120)),
                            false),
              CAIRN_NONE);
    other.Modify(PalRecord(other, expected[i].first, "u", 730120, pw));
    expected[i].second = pw;
  };
  cursor_.SetToBegin();
  walk(cursor_, 0, 50);
  // The walker moves its own record ahead; stepping back onto it gives the
  // record as changed, not as read ahead before.
  const std::string moved = expected[79].first + "m";
  cursor_.Modify(PalRecord(cursor_, moved, "u", 730120, "moved"));
  expected.erase(expected.begin() + 49);
  expected.insert(expected.begin() + 79, {moved, "moved"});
  std::vector<uint8_t> record;
  ASSERT_EQ(cursor_.Next(record), CAIRN_NONE);
  ASSERT_EQ(cursor_.Prior(record), CAIRN_NONE);
  EXPECT_EQ(FieldText(cursor_, record, "Item"), moved);
  EXPECT_EQ(FieldText(cursor_, record, "PW"), "moved");
  cursor_.SetToBegin();
  walk(cursor_, 0, 50);

  TDataCursor other;
  other.Open(*directory_, "Pal");
  for (size_t i : {60u, 120u, 200u}) change_at(other, i, "near");
  ASSERT_EQ(other.FindKey(other.BuildKey(PalRecord(other, expected[90].first, "u", 730120)),
                          false),
            CAIRN_NONE);
  other.Delete(Current(other));
  expected.erase(expected.begin() + 90);
  walk(cursor_, 50, 250);

  // Another session: seen once the walk checks the disk again.
  TDataSession writer_session;
  TDataCursor writer;
  writer.Open(writer_session.OpenDirectory(dir_.path()), "Pal");
  change_at(writer, 300, "far");
  change_at(writer, 100, "back");
  cursor_.Refresh();
  walk(cursor_, 250, expected.size());
  EXPECT_EQ(cursor_.Next(record), CAIRN_EOF);

  std::vector<std::pair<std::string, std::string>> backwards;
  cursor_.SetToEnd();
  while (cursor_.Prior(record) == CAIRN_NONE)
    backwards.emplace_back(FieldText(cursor_, record, "Item"), FieldText(cursor_, record, "PW"));
  std::reverse(backwards.begin(), backwards.end());
  EXPECT_EQ(backwards, expected);
}

TEST_F(CursorTest, DeletingTheCurrentRecordMovesOnToItsNeighbours) {
  for (const char* item : {"a", "b", "c", "d"}) Add(cursor_, item);
  ASSERT_EQ(cursor_.SetToRecordNumber(2), CAIRN_NONE);
  cursor_.Delete(Current(cursor_));
  std::vector<uint8_t> record;
  EXPECT_EQ(cursor_.Next(record), CAIRN_NONE);
  EXPECT_EQ(FieldText(cursor_, record, "Item"), "c");
  cursor_.Delete(record);
  EXPECT_EQ(cursor_.Prior(record), CAIRN_NONE);
  EXPECT_EQ(FieldText(cursor_, record, "Item"), "a");
  EXPECT_EQ(Items(cursor_), (std::vector<std::string>{"a", "d"}));
  EXPECT_EQ(cursor_.RecordCount(), 2u);
  EXPECT_EQ(cursor_.Table().Index().active_count(), 2);

  // Deleting the last record leaves the cursor at the end.
  ASSERT_EQ(cursor_.SetToRecordNumber(2), CAIRN_NONE);
  cursor_.Delete(Current(cursor_));
  EXPECT_EQ(cursor_.Next(record), CAIRN_EOF);
  // Deleted slots are reused by the next inserts, newest first.
  const uint32_t slots_before = cursor_.Table().Data().RecordCount();
  Add(cursor_, "e");
  Add(cursor_, "f");
  EXPECT_EQ(cursor_.Table().Data().RecordCount(), slots_before);
  EXPECT_EQ(Items(cursor_), (std::vector<std::string>{"a", "e", "f"}));
}

TEST_F(CursorTest, DuplicateKeyLeavesTableAndIndexesUnchanged) {
  Add(cursor_, "bank", "joe");
  Add(cursor_, "mail", "ann");
  TIndexFile& index = cursor_.Table().Index();
  const auto header_before = index.header();
  const auto data_before = cursor_.Table().Data().Header().NextRecordNumber();
  EXPECT_EQ(CodeOf([&] { Add(cursor_, "bank", "zed"); }), CAIRN_KEYVIOL);
  EXPECT_EQ(index.header(), header_before);
  EXPECT_EQ(cursor_.Table().Data().Header().NextRecordNumber(), data_before);
  cursor_.SetIndex("byuser");
  EXPECT_EQ(Items(cursor_), (std::vector<std::string>{"mail", "bank"}));
  EXPECT_EQ(cursor_.RecordCount(), 2u);

  // Changing a record onto another's key fails the same way and changes nothing.
  cursor_.SetIndex("");
  ASSERT_EQ(cursor_.SetToRecordNumber(2), CAIRN_NONE);  // mail
  std::vector<uint8_t> record = Current(cursor_);
  std::vector<uint8_t> changed = PalRecord(cursor_, "bank", "ann", 730120);
  EXPECT_EQ(CodeOf([&] { cursor_.Modify(changed); }), CAIRN_KEYVIOL);
  EXPECT_EQ(Current(cursor_), record);
  EXPECT_EQ(Items(cursor_), (std::vector<std::string>{"bank", "mail"}));
  EXPECT_EQ(cursor_.LockedSlot(), 0u);
  TDataCursor other;
  other.Open(*directory_, "Pal");
  EXPECT_EQ(Items(other), (std::vector<std::string>{"bank", "mail"}));
}

TEST_F(CursorTest, ModifyMovesTheRecordInEveryIndexAndKeepsItCurrent) {
  Add(cursor_, "a", "zed");
  Add(cursor_, "b", "amy");
  cursor_.SetIndex("ByUser");
  EXPECT_EQ(FieldText(cursor_, Current(cursor_), "Item"), "b");  // still current
  cursor_.SetToBegin();
  std::vector<uint8_t> record;
  ASSERT_EQ(cursor_.Next(record), CAIRN_NONE);  // b/amy
  cursor_.Modify(PalRecord(cursor_, "c", "zoe", 730121));
  EXPECT_EQ(FieldText(cursor_, Current(cursor_), "Item"), "c");
  EXPECT_EQ(cursor_.RecordNumber(), 2u);  // zed < zoe
  EXPECT_EQ(cursor_.Prior(record), CAIRN_NONE);
  EXPECT_EQ(FieldText(cursor_, record, "User"), "zed");
  cursor_.SetIndex("");
  EXPECT_EQ(Items(cursor_), (std::vector<std::string>{"a", "c"}));
  EXPECT_EQ(CodeOf([&] { cursor_.SetIndex("Nope"); }), CAIRN_INVALIDINDEXNAME);
}

TEST_F(CursorTest, BookmarksSurviveOtherCursorsChanges) {
  for (const char* item : {"b", "d", "f"}) Add(cursor_, item);
  ASSERT_EQ(cursor_.SetToRecordNumber(2), CAIRN_NONE);  // d
  const std::vector<uint8_t> bookmark = cursor_.GetBookmark();

  TDataCursor other;
  other.Open(*directory_, "Pal");
  Add(other, "a");
  Add(other, "c");
  // The first cursor still has "d" and now sees it as record 4.
  EXPECT_EQ(FieldText(cursor_, Current(cursor_), "Item"), "d");
  EXPECT_EQ(cursor_.RecordNumber(), 4u);
  cursor_.SetToBegin();
  EXPECT_EQ(cursor_.SetToBookmark(bookmark), CAIRN_NONE);
  EXPECT_EQ(cursor_.RecordNumber(), 4u);

  // The bookmarked record deleted elsewhere: the cursor continues after it.
  ASSERT_EQ(other.SetToBookmark(bookmark), CAIRN_NONE);
  other.Delete(Current(other));
  EXPECT_EQ(cursor_.SetToBookmark(bookmark), CAIRN_RECNOTFOUND);
  std::vector<uint8_t> record;
  EXPECT_EQ(cursor_.Next(record), CAIRN_NONE);
  EXPECT_EQ(FieldText(cursor_, record, "Item"), "f");
  EXPECT_LT(cursor_.CompareBookmarks(bookmark, cursor_.GetBookmark()), 0);
}

TEST_F(CursorTest, SecondCursorIsRefusedALockedRecordAtOnce) {
  // Retries would be counted as refusals of the record's lock byte.
  session_.Settings().lock_retry_count = 200;
  session_.Settings().lock_wait_time = 0;
  Add(cursor_, "a");
  std::vector<uint8_t> record = Current(cursor_);
  EXPECT_EQ(cursor_.GetCurrent(record, true), CAIRN_NONE);
  EXPECT_NE(cursor_.LockedSlot(), 0u);

  TDataCursor other;
  other.Open(*directory_, "Pal");
  std::vector<uint8_t> theirs;
  ASSERT_EQ(other.Next(theirs), CAIRN_NONE);
  const uint64_t refusals = cursor_.Table().RecordLockRefusals();
  EXPECT_EQ(CodeOf([&] { other.GetCurrent(theirs, true); }), CAIRN_RECLOCKFAILED);
  EXPECT_EQ(CodeOf([&] { other.Delete(theirs); }), CAIRN_RECLOCKFAILED);
  EXPECT_EQ(cursor_.Table().RecordLockRefusals(), refusals) << "no attempt at the lock byte";
  EXPECT_EQ(other.LockedSlot(), 0u);

  // The owner may lock again, edit and post; then the other may lock.
  EXPECT_EQ(cursor_.GetCurrent(record, true), CAIRN_NONE);
  cursor_.Modify(PalRecord(cursor_, "a", "new", 730120));
  EXPECT_EQ(cursor_.LockedSlot(), 0u);
  EXPECT_EQ(other.GetCurrent(theirs, false), CAIRN_NONE);
  EXPECT_EQ(FieldText(other, theirs, "User"), "new");
  EXPECT_EQ(other.GetCurrent(theirs, true), CAIRN_NONE);
  other.Unlock();
  EXPECT_EQ(CodeOf([&] { other.Unlock(); }), CAIRN_UNLOCKFAILED);
}

TEST_F(CursorTest, EditOfARecordChangedElsewhereFailsAndLeavesNoLock) {
  Add(cursor_, "a");
  std::vector<uint8_t> shown = Current(cursor_);

  // Another session (standing in for another process) changes the record.
  TDataSession other_session;
  TDataCursor other;
  other.Open(other_session.OpenDirectory(dir_.path()), "Pal");
  std::vector<uint8_t> record;
  ASSERT_EQ(other.Next(record), CAIRN_NONE);
  other.Modify(PalRecord(other, "a", "changed", 730120));

  EXPECT_EQ(CodeOf([&] { cursor_.GetCurrent(shown, true); }), CAIRN_KEYORRECDELETED);
  EXPECT_EQ(cursor_.LockedSlot(), 0u);
  EXPECT_FALSE(cursor_.Table().RecordLockedHere(cursor_.CurrentSlot()));
  // The other session can lock it: nothing was left behind.
  record = Current(other);
  EXPECT_EQ(other.GetCurrent(record, true), CAIRN_NONE);
  other.Unlock();
  // Refreshed, the cursor shows the new values and may edit.
  cursor_.Refresh();
  shown = Current(cursor_);
  EXPECT_EQ(FieldText(cursor_, shown, "User"), "changed");
  EXPECT_EQ(cursor_.GetCurrent(shown, true), CAIRN_NONE);
  EXPECT_EQ(CodeOf([&] { cursor_.Modify(PalRecord(cursor_, "a", "mine", 730120)); }), 0);
  EXPECT_EQ(cursor_.LockedSlot(), 0u);
}

TEST_F(CursorTest, OptimisticPostOfAStaleRecordFailsWithoutChangingIt) {
  session_.Settings().lock_protocol = TLockProtocol::kOptimistic;
  Add(cursor_, "a", "first");
  TDataCursor other;
  other.Open(*directory_, "Pal");
  std::vector<uint8_t> record;
  ASSERT_EQ(other.Next(record), CAIRN_NONE);
  // Same session, different cursor: the change is seen at the next operation.
  cursor_.Modify(PalRecord(cursor_, "a", "second", 730120));
  TDataSession third;
  third.Settings().lock_protocol = TLockProtocol::kOptimistic;
  TDataCursor stale;
  stale.Open(third.OpenDirectory(dir_.path()), "Pal");
  ASSERT_EQ(stale.Next(record), CAIRN_NONE);
  cursor_.Modify(PalRecord(cursor_, "a", "third", 730120));
  EXPECT_EQ(CodeOf([&] { stale.Modify(PalRecord(stale, "a", "lost", 730120)); }),
            CAIRN_KEYORRECDELETED);
  // A second post of the same edit fails the same way.
  EXPECT_EQ(CodeOf([&] { stale.Modify(PalRecord(stale, "a", "lost", 730120)); }),
            CAIRN_KEYORRECDELETED);
  ASSERT_EQ(cursor_.GetCurrent(record), CAIRN_NONE);
  EXPECT_EQ(FieldText(cursor_, record, "User"), "third");
  // Shown the new values, the user may edit again.
  stale.Refresh();
  ASSERT_EQ(stale.GetCurrent(record), CAIRN_NONE);
  EXPECT_EQ(FieldText(stale, record, "User"), "third");
  EXPECT_EQ(CodeOf([&] { stale.Modify(PalRecord(stale, "a", "fourth", 730120)); }), 0);
}

TEST_F(CursorTest, RangesFiltersAndFindKey) {
  for (const char* item : {"a", "b", "c", "d", "e"}) Add(cursor_, item);
  auto key_of = [&](const char* item) {
    return cursor_.BuildKey(PalRecord(cursor_, item, "u", 730120));
  };
  EXPECT_EQ(cursor_.FindKey(key_of("c"), false), CAIRN_NONE);
  EXPECT_EQ(cursor_.RecordNumber(), 3u);
  EXPECT_EQ(cursor_.FindKey(key_of("cc"), false), CAIRN_RECNOTFOUND);
  EXPECT_EQ(cursor_.FindKey(key_of("cc"), true), CAIRN_NONE);
  EXPECT_EQ(FieldText(cursor_, Current(cursor_), "Item"), "d");
  EXPECT_EQ(cursor_.FindKey(key_of("z"), true), CAIRN_EOF);

  cursor_.SetRange(key_of("b"), key_of("d"));
  EXPECT_EQ(Items(cursor_), (std::vector<std::string>{"b", "c", "d"}));
  EXPECT_EQ(cursor_.RecordCount(), 3u);
  ASSERT_EQ(cursor_.SetToRecordNumber(1), CAIRN_NONE);
  EXPECT_EQ(FieldText(cursor_, Current(cursor_), "Item"), "b");
  EXPECT_EQ(cursor_.SetToRecordNumber(4), CAIRN_EOF);

  TRecordsBitmap filter;
  for (uint32_t slot : {1u, 3u, 4u}) filter.Set(slot);  // a, c, d
  cursor_.SetFilter(filter);
  EXPECT_EQ(Items(cursor_), (std::vector<std::string>{"c", "d"}));
  EXPECT_EQ(cursor_.RecordCount(), 2u);
  ASSERT_EQ(cursor_.SetToRecordNumber(2), CAIRN_NONE);
  EXPECT_EQ(FieldText(cursor_, Current(cursor_), "Item"), "d");
  EXPECT_EQ(cursor_.RecordNumber(), 2u);
  cursor_.ResetRange();
  EXPECT_EQ(Items(cursor_), (std::vector<std::string>{"a", "c", "d"}));
  cursor_.ClearFilter();
  EXPECT_EQ(cursor_.RecordCount(), 5u);
}

TEST_F(CursorTest, BlobsAreWrittenWithFreshStampsAndFreedWithTheirRecord) {
  const uint16_t details = testing::FieldNumber(cursor_, "Details");
  std::vector<uint8_t> long_text(2000, 'x');
  cursor_.Append(PalRecord(cursor_, "a", "u", 730120), {{details, long_text}});
  std::vector<uint8_t> record = Current(cursor_);
  EXPECT_EQ(cursor_.ReadBlob(record, details), long_text);
  const auto stamp_before = GetBlobRevision(cursor_.Fields()[details - 1], record);

  // Changing other fields keeps the blob; changing the blob takes a new stamp.
  cursor_.Modify(PalRecord(cursor_, "a", "v", 730120));
  record = Current(cursor_);
  EXPECT_EQ(cursor_.ReadBlob(record, details), long_text);
  cursor_.Modify(record, true, {{details, std::vector<uint8_t>{'s', 'h', 'o', 'r', 't'}}});
  record = Current(cursor_);
  EXPECT_NE(GetBlobRevision(cursor_.Fields()[details - 1], record), stamp_before);
  EXPECT_EQ(cursor_.ReadBlob(record, details), (std::vector<uint8_t>{'s', 'h', 'o', 'r', 't'}));
  const uint32_t blocks = cursor_.Table().Blob()->NextBlockNumber();

  // A deleted record's blocks go back to the free list and are reused.
  cursor_.Delete(record);
  cursor_.Append(PalRecord(cursor_, "b", "u", 730120), {{details, long_text}});
  EXPECT_EQ(cursor_.Table().Blob()->NextBlockNumber(), blocks);
  EXPECT_EQ(cursor_.ReadBlob(Current(cursor_), details), long_text);
  // Emptying a blob makes the field null.
  cursor_.Modify(Current(cursor_), true, {{details, {}}});
  EXPECT_TRUE(cursor_.ReadBlob(Current(cursor_), details).empty());
}

TEST_F(CursorTest, AFailedWriteRollsBackEverythingAndReleasesItsLocks) {
  for (const char* item : {"a", "b"}) Add(cursor_, item);
  const std::string dat = dir_.path() + "/Pal.DAT";
  const auto size = std::filesystem::file_size(dat);
  // The next slot cannot be written: the file may not grow.
  struct rlimit old_limit {};
  getrlimit(RLIMIT_FSIZE, &old_limit);
  auto old_handler = signal(SIGXFSZ, SIG_IGN);
  struct rlimit limit = old_limit;
  limit.rlim_cur = size;
  setrlimit(RLIMIT_FSIZE, &limit);
  const uint16_t code = CodeOf([&] { Add(cursor_, "c"); });
  setrlimit(RLIMIT_FSIZE, &old_limit);
  signal(SIGXFSZ, old_handler);
  EXPECT_EQ(code, CAIRN_WRITEERR);

  EXPECT_FALSE(cursor_.Table().WriteLockHeld());
  EXPECT_EQ(cursor_.Table().Index().active_count(), 2);
  EXPECT_EQ(cursor_.Table().Data().RecordCount(), 2u);
  EXPECT_EQ(Items(cursor_), (std::vector<std::string>{"a", "b"}));
  const TTableCheckResult check = CheckTableFiles(cursor_.Table());
  for (const auto& fault : check.faults) ADD_FAILURE() << fault;
  // Another session can write at once, and so can this one.
  TDataSession other_session;
  TDataCursor other;
  other.Open(other_session.OpenDirectory(dir_.path()), "Pal");
  Add(other, "c");
  Add(cursor_, "d");
  EXPECT_EQ(Items(cursor_), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_TRUE(CheckTableFiles(cursor_.Table()).ok());
}

TEST_F(CursorTest, ChangesReachTheDiskAndAnotherSessionSeesThem) {
  Add(cursor_, "a");
  TDataSession reader_session;
  TDataCursor reader;
  reader.Open(reader_session.OpenDirectory(dir_.path()), "Pal");
  EXPECT_EQ(Items(reader), std::vector<std::string>{"a"});
  Add(cursor_, "b");
  // Normal mode: visible once the reader goes to disk (here: a fresh walk
  // finds its cached pages stale only after a refresh).
  reader.Refresh();
  EXPECT_EQ(Items(reader), (std::vector<std::string>{"a", "b"}));
  // Strict mode notices at the very next navigation.
  reader_session.Settings().strict_change_detection = true;
  Add(cursor_, "c");
  EXPECT_EQ(Items(reader), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(reader.RecordCount(), 3u);
}

}  // namespace
}  // namespace cairn
