// The in-memory database: a table created in "Memory" is edited through a
// live query, copied and sorted, shared by a second session of the process,
// outlives every close until it is deleted, and never reaches the disk.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "storage/access/data_table.h"
#include "storage/access/dataset_database.h"
#include "storage/access/dataset_query.h"
#include "storage/access/dataset_session.h"
#include "storage/access/query_statement.h"
#include "storage/base/engine_error.h"
#include "storage/files/file_faults.h"
#include "storage/files/file_handler.h"
#include "storage/files/file_list.h"
#include "tables_test_support.h"

namespace cairn {
namespace {

namespace fs = std::filesystem;
using testing::CodeOf;

std::vector<std::string> Column(TCairnQuery& query, const std::string& field) {
  std::vector<std::string> out;
  for (query.First(); !query.Eof(); query.Next()) out.push_back(query.FieldAsText(field));
  return out;
}

// Every file below `folder`, as one text for the failure message.
std::string FilesBelow(const std::string& folder) {
  std::string found;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (!entry.is_directory()) found += " " + entry.path().string();
  }
  return found;
}

class MemoryDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    old_cwd_ = fs::current_path();
    // With no "Memory" folder here, a write meant for memory that reached
    // the disk would fail, and one beside it would show.
    fs::current_path(cwd_.path());
    session_a_.SetSessionName("MemA");
    session_a_.SetPrivateDir(private_.path());
    session_b_.SetSessionName("MemB");
    session_b_.SetPrivateDir(private_.path());
    session_b_.SetLockRetryCount(2);
    session_b_.SetLockWaitTime(1);
    database_.SetSessionName("MemA");
    database_.SetDatabaseName("Scratchpad");
    database_.SetDirectory("memory");
  }
  void TearDown() override {
    fs::current_path(old_cwd_);
    // Memory tables outlive their sessions: leave none for the next test.
    TDataSession engine;
    TDataDirectory& memory = engine.OpenDirectory("Memory");
    if (memory.TableExists("Pal")) memory.DeleteTable("Pal");
  }
  void ExpectNothingOnDisk() {
    EXPECT_EQ(FilesBelow(cwd_.path()), "");
    EXPECT_EQ(FilesBelow(private_.path()), "");
  }
  void Use(TCairnQuery& query, const std::string& session, const std::string& database,
           const std::string& sql) {
    query.SessionName = session;
    query.DatabaseName = database;
    query.SQL = {sql};
    query.RequestLive = true;
  }
  void InsertRow(TCairnQuery& query, const std::string& item, const std::string& user) {
    query.Insert();
    query.SetFieldAsText("Item", item);
    query.SetFieldAsText("User", user);
    query.SetFieldAsDate("Date", TCairnDate{2024, 5, 1});
    query.SetFieldAsMemo("Details", "notes of " + item);
    query.Post();
  }

  fs::path old_cwd_;
  testing::TScratchDir cwd_, private_;
  int form_ = 0;
  TCairnSession session_a_{&form_, "SessionA"};
  TCairnSession session_b_{&form_, "SessionB"};
  TCairnDatabase database_{&form_, "Database1"};
};

TEST_F(MemoryDatabaseTest, TablesLiveInMemorySharedBySessionsAndNeverTouchTheDisk) {
  database_.Open();
  ASSERT_TRUE(database_.Engine().InMemory());
  database_.Engine().CreateTable("Pal", testing::PalDefinition("Hush"));
  session_a_.AddPassword("Hush");
  session_b_.AddPassword("Hush");

  TCairnQuery live(&form_, "Live");
  Use(live, "MemA", "Scratchpad", "SELECT * FROM Pal ORDER BY Item, Date");
  live.Open();
  ASSERT_TRUE(live.IsLive());
  ASSERT_TRUE(live.Cursor()->Table().Data().in_memory());
  for (const char* item : {"d", "b", "a", "c", "e"}) InsertRow(live, item, std::string("u-") + item);
  live.First();
  live.Next();
  live.Edit();
  live.SetFieldAsText("User", "z-edited");
  live.Post();
  live.Last();
  live.Delete();
  EXPECT_EQ(Column(live, "Item"), (std::vector<std::string>{"a", "b", "c", "d"}));
  ExpectNothingOnDisk();

  // A copied result of a memory table is made and sorted in memory too.
  const size_t registered = TFileList::Instance().Count();
  TCairnQuery copied(&form_, "Copied");
  Use(copied, "MemA", "Scratchpad", "SELECT Item, User, Details FROM Pal ORDER BY User DESC");
  copied.Open();
  ASSERT_FALSE(copied.IsLive());
  EXPECT_TRUE(copied.ReadOnly());
  EXPECT_TRUE(copied.Cursor()->Table().Data().in_memory());
  EXPECT_EQ(Column(copied, "Item"), (std::vector<std::string>{"b", "d", "c", "a"}));
  copied.First();
  EXPECT_EQ(copied.FieldAsMemo("Details"), "notes of b");
  ExpectNothingOnDisk();
  copied.Close();
  EXPECT_EQ(TFileList::Instance().Count(), registered);

  // Another session of the process reaches the same table through a
  // temporary database named "Memory", and sees the edit lock of the first.
  TCairnQuery other(&form_, "Other");
  Use(other, "MemB", "Memory", "SELECT * FROM Pal ORDER BY Item");
  other.Open();
  EXPECT_EQ(Column(other, "User"), (std::vector<std::string>{"u-a", "z-edited", "u-c", "u-d"}));
  live.First();
  live.Edit();
  other.First();
  const uint64_t refused = other.Cursor()->Table().RecordLockRefusals();
  EXPECT_EQ(CodeOf([&] { other.Edit(); }), CAIRN_RECLOCKFAILED);
  EXPECT_EQ(other.Cursor()->Table().RecordLockRefusals() - refused, 3u);
  live.SetFieldAsText("PW", "from-a");
  live.Post();
  other.Refresh();
  other.First();
  EXPECT_EQ(other.FieldAsText("PW"), "from-a");
  other.Edit();
  other.SetFieldAsText("PW", "from-b");
  other.Post();

  // Closed everywhere, the table is still there for the next user.
  live.Close();
  other.Close();
  database_.Close();
  session_a_.SetActive(false);
  session_b_.SetActive(false);
  TCairnQuery later(&form_, "Later");
  Use(later, "MemB", "Memory", "SELECT Item, PW FROM Pal");
  later.Open();
  EXPECT_EQ(later.RecordCount(), 4u);
  later.First();
  EXPECT_EQ(later.FieldAsText("PW"), "from-b");
  later.Close();
  ExpectNothingOnDisk();

  TDataSession engine;
  TDataDirectory& memory = engine.OpenDirectory("Memory/");
  memory.DeleteTable("Pal");
  EXPECT_FALSE(memory.TableExists("Pal"));
  EXPECT_EQ(CodeOf([&] { later.Open(); }), CAIRN_OSENOENT);
  EXPECT_FALSE(later.Active());
}

// More rows than the record cache holds by default, which would send the
// sort to run files: every write below the private folder fails here.
TEST_F(MemoryDatabaseTest, LargeCopiedResultIsSortedWithoutScratchFiles) {
  TDataSession engine;
  engine.Settings().private_directory = private_.path();
  TDataDirectory& memory = engine.OpenDirectory("Memory");
  memory.CreateTable("Pal", testing::PalDefinition());
  const int rows = 400;
  {
    TDataCursor cursor;
    cursor.Open(memory, "Pal");
    for (int i = 0; i < rows; ++i) {
      cursor.Append(testing::PalRecord(cursor, "item" + std::to_string(i),
                                       "user" + std::to_string(1000 + (i * 7) % rows), 730120));
    }
    ASSERT_LT(cursor.Table().Data().Cache().Count(), uint32_t(rows));
  }
  TFileFaults::TScope faults(private_.path());
  TFileFaults::Instance().FailWriteCall(1);
  TQueryStatement statement(engine, memory);
  statement.SetText("SELECT Item, User FROM Pal ORDER BY User DESC");
  statement.Execute(true);
  ASSERT_FALSE(statement.IsLive());
  TDataCursor& result = statement.Cursor();
  EXPECT_EQ(result.RecordCount(), uint32_t(rows));
  std::vector<uint8_t> record;
  std::string previous = "~";
  int seen = 0;
  result.SetToBegin();
  while (result.Next(record) == CAIRN_NONE) {
    const std::string user = testing::FieldText(result, record, "User");
    EXPECT_LT(user, previous);
    previous = user;
    ++seen;
  }
  EXPECT_EQ(seen, rows);
  EXPECT_EQ(previous, "user1000");
  statement.Close();
  ExpectNothingOnDisk();
}

TEST_F(MemoryDatabaseTest, FailuresLeaveNoMemoryFileBehind) {
  TDataSession engine;
  TDataDirectory& memory = engine.OpenDirectory("MEMORY");
  ASSERT_TRUE(memory.InMemory());
  const size_t registered = TFileList::Instance().Count();
  TDataCursor cursor;
  EXPECT_EQ(CodeOf([&] { cursor.Open(memory, "Pal"); }), CAIRN_OSENOENT);
  EXPECT_EQ(TFileList::Instance().Count(), registered);

  // The index names a field the table lacks: the data file was made first.
  TTableDefinition bad = testing::PalDefinition();
  bad.indexes.back().fields = {"Colour"};
  EXPECT_EQ(CodeOf([&] { memory.CreateTable("Pal", bad); }), CAIRN_SEARCHCOLREQD);
  EXPECT_FALSE(memory.TableExists("Pal"));
  EXPECT_EQ(TFileList::Instance().Count(), registered);

  memory.CreateTable("Pal", testing::PalDefinition());
  EXPECT_EQ(CodeOf([&] { memory.CreateTable("pal", testing::PalDefinition()); }),
            CAIRN_TABLEEXISTS);
  cursor.Open(memory, "Pal");
  EXPECT_EQ(CodeOf([&] { memory.DeleteTable("Pal"); }), CAIRN_TABLEOPEN);
  cursor.Close();
  memory.DeleteTable("Pal");
  EXPECT_EQ(TFileList::Instance().Count(), registered);

  // A memory file has a length limit of its own; a write past it changes
  // nothing.
  TFileHandler huge("Memory/Huge.DAT");
  huge.set_in_memory(true);
  huge.Create();
  huge.WriteAt(0, "abc", 3);
  try {
    huge.WriteAt(uint64_t(1) << 41, "x", 1);
    ADD_FAILURE() << "a write past the limit was accepted";
  } catch (const ECairnEngineError& e) {
    EXPECT_EQ(e.code(), CAIRN_OSEINVMEM);
    EXPECT_EQ(e.text(), "Invalid length for the in-memory table 'Memory/Huge.DAT'");
  }
  EXPECT_EQ(huge.Size(), 3);
  huge.Close();
  huge.Delete();
  EXPECT_EQ(TFileList::Instance().Count(), registered);
  ExpectNothingOnDisk();
}

}  // namespace
}  // namespace cairn
