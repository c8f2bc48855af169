#include "storage/access/data_table.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "storage/base/engine_error.h"
#include "tables_test_support.h"

namespace cairn {
namespace {

using testing::CodeOf;
using testing::PalDefinition;
using testing::PalRecord;
using testing::TScratchDir;

TEST(DataTableTest, CreateMakesThreeFilesAndRefusesToOverwrite) {
  TScratchDir dir;
  TDataSession session;
  TDataDirectory& directory = session.OpenDirectory(dir.path());
  EXPECT_FALSE(directory.TableExists("Pal"));
  directory.CreateTable("Pal", PalDefinition());
  EXPECT_TRUE(directory.TableExists("Pal"));
  EXPECT_EQ(std::filesystem::file_size(dir.path() + "/Pal.IDX") % 4096, 0u);
  EXPECT_TRUE(std::filesystem::exists(dir.path() + "/Pal.BLB"));
  EXPECT_EQ(std::filesystem::file_size(dir.path() + "/Pal.DAT"), 127u + 6 * 768);
  EXPECT_EQ(CodeOf([&] { directory.CreateTable("Pal", PalDefinition()); }), CAIRN_TABLEEXISTS);

  TDataCursor cursor;
  cursor.Open(directory, "Pal");
  EXPECT_EQ(cursor.RecordSize(), 581u);
  EXPECT_EQ(cursor.RecordCount(), 0u);
}

TEST(DataTableTest, EncryptedTableNeedsTheExactPassword) {
  TScratchDir dir;
  {
    TDataSession session;
    session.OpenDirectory(dir.path()).CreateTable("Pal", PalDefinition("Secret"));
  }
  TDataSession session;
  TDataDirectory& directory = session.OpenDirectory(dir.path());
  TDataCursor cursor;
  EXPECT_EQ(CodeOf([&] { cursor.Open(directory, "Pal"); }), CAIRN_NOTSUFFTABLERIGHTS);
  EXPECT_EQ(directory.OpenTableCount(), 0u);  // a refused open leaves nothing open
  session.AddPassword("secret");
  EXPECT_EQ(CodeOf([&] { cursor.Open(directory, "Pal"); }), CAIRN_NOTSUFFTABLERIGHTS);

  // The password callback may supply the password and retry.
  session.SetPasswordEvent([](TDataSession& s, std::string_view) {
    s.AddPassword("Secret");
    return true;
  });
  cursor.Open(directory, "Pal");
  cursor.Append(PalRecord(cursor, "bank", "me", 730120));
  cursor.Close();

  // The rows are scrambled on disk: the item text is not there in clear.
  std::string bytes;
  {
    std::FILE* f = std::fopen((dir.path() + "/Pal.DAT").c_str(), "rb");
    ASSERT_NE(f, nullptr);
    char buffer[8192];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
    std::fclose(f);
  }
  EXPECT_EQ(bytes.find("bank"), std::string::npos);
  TDataSession other;
  other.AddPassword("Secret");
  TDataCursor reader;
  reader.Open(other.OpenDirectory(dir.path()), "Pal");
  EXPECT_EQ(testing::Items(reader), std::vector<std::string>{"bank"});
}

TEST(DataTableTest, MissingIndexFileIsRecreatedAndRebuiltFromTheData) {
  TScratchDir dir;
  {
    TDataSession session;
    TDataDirectory& directory = session.OpenDirectory(dir.path());
    directory.CreateTable("Pal", PalDefinition());
    TDataCursor cursor;
    cursor.Open(directory, "Pal");
    for (const char* item : {"c", "a", "b"}) cursor.Append(PalRecord(cursor, item, "u", 730120));
    std::vector<uint8_t> record;
    cursor.SetToRecordNumber(2);  // "b"
    cursor.GetCurrent(record);
    cursor.Delete(record);
  }
  std::filesystem::remove(dir.path() + "/Pal.IDX");
  TDataSession session;
  TDataCursor cursor;
  cursor.Open(session.OpenDirectory(dir.path()), "Pal");
  EXPECT_TRUE(cursor.Table().IndexRecreated());
  EXPECT_FALSE(cursor.Table().HasPrimaryKey());
  // The header page with no index, and one leaf of rebuilt record-status
  // entries (one per slot, deleted ones included).
  EXPECT_EQ(std::filesystem::file_size(dir.path() + "/Pal.IDX"), 2u * 4096);
  EXPECT_EQ(cursor.Table().Index().active_count(), 2);
  // Record-ID order: the order of insertion.
  EXPECT_EQ(testing::Items(cursor), (std::vector<std::string>{"c", "a"}));
  EXPECT_EQ(cursor.RecordCount(), 2u);
  EXPECT_EQ(CodeOf([&] { cursor.SetIndex("ByUser"); }), CAIRN_INVALIDINDEXNAME);
}

TEST(DataTableTest, RecordLocksFollowTheProtocolAndCloseReleasesThem) {
  TScratchDir dir;
  TDataSession session_a, session_b;
  session_b.Settings().lock_retry_count = 3;
  session_b.Settings().lock_wait_time = 1;
  TDataDirectory& a = session_a.OpenDirectory(dir.path());
  a.CreateTable("Pal", PalDefinition());
  TDataTable& table_a = a.OpenTable("Pal", false, false);
  TDataTable& table_b = session_b.OpenDirectory(dir.path()).OpenTable("Pal", false, false);

  EXPECT_EQ(CodeOf([&] { table_a.LockRecord(0); }), CAIRN_RECLOCKFAILED);
  table_a.LockRecord(7);
  EXPECT_TRUE(table_a.RecordLockedHere(7));
  // The other session sees the byte held: retried, then refused.
  EXPECT_EQ(CodeOf([&] { table_b.LockRecord(7); }), CAIRN_RECLOCKFAILED);
  table_b.LockRecord(8);
  EXPECT_EQ(CodeOf([&] { table_b.UnlockRecord(7); }), CAIRN_UNLOCKFAILED);

  // The write lock excludes a second writer (and its readers) until
  // released; the refused side tries as often as its session says.
  session_b.Settings().table_lock_attempts = 3;
  session_b.Settings().table_lock_wait_time = 0;
  table_a.WriteLock();
  EXPECT_TRUE(table_a.WriteLockHeld());
  EXPECT_EQ(CodeOf([&] { table_b.WriteLock(); }), CAIRN_LOCKTIMEOUT);
  EXPECT_FALSE(table_b.WriteLockHeld());
  EXPECT_EQ(CodeOf([&] { table_b.ReadLock(); }), CAIRN_LOCKTIMEOUT);
  EXPECT_FALSE(table_b.ReadLockHeld());
  table_a.WriteUnlock();
  table_b.WriteLock();
  EXPECT_TRUE(table_b.WriteLockHeld());
  table_b.WriteUnlock();

  // Closing the table releases every record lock it held.
  a.CloseTable(table_a);
  table_b.LockRecord(7);
  table_b.UnlockAllRecords();
  EXPECT_FALSE(table_b.RecordLockedHere(8));
  TDataTable& again = a.OpenTable("Pal", false, false);
  again.LockRecord(8);
  again.UnlockRecord(8);
  EXPECT_EQ(CodeOf([&] { again.UnlockRecord(8); }), CAIRN_UNLOCKFAILED);
}

TEST(DataTableTest, ExclusiveOpenIsRefusedWhileOthersUseTheTable) {
  TScratchDir dir;
  TDataSession session;
  TDataDirectory& directory = session.OpenDirectory(dir.path());
  directory.CreateTable("Pal", PalDefinition());
  TDataCursor shared;
  shared.Open(directory, "Pal");
  TDataCursor exclusive;
  EXPECT_EQ(CodeOf([&] { exclusive.Open(directory, "Pal", "", true); }), CAIRN_TABLEOPEN);
  EXPECT_EQ(CodeOf([&] { session.CloseDirectory(dir.path()); }), CAIRN_TABLEOPEN);
  TDataSession other;
  EXPECT_EQ(CodeOf([&] { exclusive.Open(other.OpenDirectory(dir.path()), "Pal", "", true); }),
            CAIRN_OSEACCES);
  shared.Close();
  session.CloseDirectory(dir.path());
  EXPECT_NO_THROW(exclusive.Open(session.OpenDirectory(dir.path()), "Pal", "", true));
}

// A table that finds the journal as it last left it keeps its headers
// unread; every change made elsewhere must still be seen: a record rewritten
// in place (a journal of the same size each time), between changes of our
// own, and changes of sessions that closed and took the journal file with
// them, before and after we made a new one.
TEST(DataTableTest, ChangesOfOtherSessionsAreSeenWhateverBecameOfTheJournal) {
  TScratchDir dir;
  TDataSession session;
  // Each read takes the read lock, and with it change detection.
  session.Settings().strict_change_detection = true;
  TDataDirectory& directory = session.OpenDirectory(dir.path());
  directory.CreateTable("Pal", PalDefinition());
  TDataCursor reader;
  reader.Open(directory, "Pal");
  reader.Append(PalRecord(reader, "a", "u", 730120));
  std::vector<uint8_t> record;
  auto find = [&record](TDataCursor& cursor, const std::string& item) {
    EXPECT_EQ(cursor.FindKey(cursor.BuildKey(PalRecord(cursor, item, "", 730120)), false),
              CAIRN_NONE);
    cursor.GetCurrent(record);
    return testing::FieldText(cursor, record, "PW");
  };
  ASSERT_EQ(find(reader, "a"), "pw");
  {
    TDataSession other;
    TDataCursor writer;
    writer.Open(other.OpenDirectory(dir.path()), "Pal");
    for (int round = 0; round < 3; ++round) {
      const std::string pw = "pw" + std::to_string(round);
      find(writer, "a");
      writer.GetCurrent(record, true);
      writer.Modify(PalRecord(writer, "a", "u", 730120, pw));
      EXPECT_EQ(find(reader, "a"), pw);
      reader.Append(PalRecord(reader, "r" + std::to_string(round), "u", 730120));
    }
  }
  for (const char* item : {"b", "c"}) {
    {
      TDataSession passing;
      TDataCursor cursor;
      cursor.Open(passing.OpenDirectory(dir.path()), "Pal");
      cursor.Append(PalRecord(cursor, item, "u", 730120, item));
    }
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "/Pal.JNL"));
    EXPECT_EQ(find(reader, item), item);
    reader.Append(PalRecord(reader, std::string(item) + "2", "u", 730120));
  }
  EXPECT_EQ(testing::Items(reader),
            (std::vector<std::string>{"a", "b", "b2", "c", "c2", "r0", "r1", "r2"}));
}

}  // namespace
}  // namespace cairn
