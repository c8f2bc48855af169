// The query subset: parser and resolution messages, the choice between a
// live result and a copied one, and the copied result's contents, rights
// and clean-up.
#include "storage/access/query_statement.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "storage/base/engine_error.h"
#include "storage/files/file_faults.h"
#include "tables_test_support.h"

namespace cairn {
namespace {

namespace fs = std::filesystem;
using testing::FieldText;
using testing::PalRecord;

std::string SqlMessage(const std::function<void()>& action) {
  try {
    action();
  } catch (const ECairnEngineError& e) {
    EXPECT_EQ(e.code(), CAIRN_SQLPARSE) << e.what();
    return e.text();
  }
  return "no error";
}

class QueryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    session_.Settings().private_directory = scratch_.path();
    TTableDefinition def = testing::PalDefinition();
    TIndexDefinition pw_nocase;
    pw_nocase.name = "ByPwNocase";
    pw_nocase.fields = {"PW"};
    pw_nocase.case_insensitive = true;
    TIndexDefinition web_desc;
    web_desc.name = "ByWebDesc";
    web_desc.fields = {"Web"};
    web_desc.descending = true;
    def.indexes.push_back(pw_nocase);
    def.indexes.push_back(web_desc);
    dir().CreateTable("Pal", def);
    TDataCursor cursor;
    cursor.Open(dir(), "Pal");
    const uint16_t details = testing::FieldNumber(cursor, "Details");
    const uint16_t web = testing::FieldNumber(cursor, "Web");
    struct Row {
      const char *item, *user, *pw;
      int32_t day;
    };
    for (const Row& r : {Row{"bank", "zoe", "b", 3}, Row{"Mail", "amy", "A", 1},
                         Row{"shop", "amy", "a", 2}, Row{"alpha", "max", "C", 5}}) {
      std::vector<uint8_t> record = PalRecord(cursor, r.item, r.user, 730000 + r.day, r.pw);
      PutString(cursor.Fields()[web - 1], record, std::string("w-") + r.item);
      const std::string note = std::string("note of ") + r.item;
      cursor.Append(record, {{details, std::vector<uint8_t>(note.begin(), note.end())}});
    }
    cursor.Close();
  }

  TDataDirectory& dir() { return session_.OpenDirectory(data_.path()); }
  std::vector<std::string> Column(TDataCursor& cursor, const std::string& name) {
    std::vector<std::string> out;
    std::vector<uint8_t> record;
    cursor.SetToBegin();
    while (cursor.Next(record) == CAIRN_NONE) out.push_back(FieldText(cursor, record, name));
    return out;
  }
  bool ScratchEmpty() { return fs::is_empty(scratch_.path()); }

  testing::TScratchDir data_, scratch_;
  TDataSession session_;
};

TEST(QueryParserTest, EveryParserMessageAndTheAcceptedForms) {
  const std::pair<const char*, const char*> cases[] = {
      {"UPSERT x",
       "SELECT, INSERT, UPDATE, DELETE, CREATE, ALTER, or DROP keyword expected, "
       "instead found 'UPSERT'"},
      {"",
       "SELECT, INSERT, UPDATE, DELETE, CREATE, ALTER, or DROP keyword expected, instead "
       "found ''"},
      {"SELECT * Pal", "FROM keyword expected, instead found 'Pal'"},
      {"SELECT * FROM ORDER BY Item",
       "Table name expected after FROM keyword, instead found 'ORDER'"},
      {"select * from Pal order Item",
       "BY keyword expected after ORDER keyword, instead found 'Item'"},
      {"SELECT * FROM Pal ORDER BY Item, DESC",
       "Column name or column number expected in ORDER BY clause, instead found 'DESC'"},
      {"SELECT * FROM Pal ORDER BY p.",
       "Column name or column number expected in ORDER BY "
       "clause, instead found ''"},
  };
  for (const auto& [text, message] : cases) {
    EXPECT_EQ(SqlMessage([&] { ParseQuery(text); }), std::string("SQL error - ") + message) << text;
  }
  // Statements and clauses outside the subset are refused, never half-run.
  for (const char* text : {"DELETE FROM Pal", "SELECT * FROM Pal WHERE Item = 'x'",
                           "SELECT DISTINCT Item FROM Pal", "SELECT * FROM Pal, Other"}) {
    EXPECT_EQ(SqlMessage([&] { ParseQuery(text); }).rfind("SQL error - ", 0), 0u) << text;
  }

  const TDataQuery q = ParseQuery(
      "select *\r\nFROM Pal p\norder   BY p.Item Descending, 2 ASC,\n\"Web\" desc nocase");
  EXPECT_TRUE(q.select_all);
  EXPECT_EQ(q.tables.at(0).name, "Pal");
  EXPECT_EQ(q.tables.at(0).correlation, "p");
  EXPECT_TRUE(q.nocase);
  ASSERT_EQ(q.order_by.size(), 3u);
  EXPECT_EQ(q.order_by[0].correlation, "p");
  EXPECT_EQ(q.order_by[0].name, "Item");
  EXPECT_TRUE(q.order_by[0].descending);
  EXPECT_EQ(q.order_by[1].number, 2);
  EXPECT_FALSE(q.order_by[1].descending);
  EXPECT_EQ(q.order_by[2].name, "Web");
  EXPECT_TRUE(q.order_by[2].descending);
}

TEST_F(QueryTest, ResolutionMessagesOpenNothing) {
  std::string many = "SELECT * FROM Pal ORDER BY Item";
  for (int i = 0; i < 1024; ++i) many += ", Item";
  const std::pair<std::string, std::string> cases[] = {
      {"SELECT Item, User, PW FROM Pal ORDER BY 5",
       "Invalid column number '5' specified in ORDER BY clause"},
      {"SELECT * FROM Pal ORDER BY 4", "Invalid column number '4' specified in ORDER BY clause"},
      {"SELECT * FROM Pal ORDER BY Colour",
       "Invalid column name 'Colour' or table correlation name '' specified in ORDER BY clause"},
      {"SELECT * FROM Pal p ORDER BY x.Item",
       "Invalid column name 'Item' or table correlation name 'x' specified in ORDER BY clause"},
      {"SELECT * FROM Pal ORDER BY 0",
       "Invalid column name '' or table correlation name '' specified in ORDER BY clause"},
      {many, "Maximum number of columns (1024) in ORDER BY clause exceeded"},
  };
  TQueryStatement statement(session_, dir());
  for (const auto& [text, message] : cases) {
    statement.SetText(text);
    EXPECT_EQ(SqlMessage([&] { statement.Execute(true); }), "SQL error - " + message);
    EXPECT_FALSE(statement.IsOpen());
    EXPECT_EQ(dir().OpenTableCount(), 0u);
    EXPECT_TRUE(ScratchEmpty());
  }
  // A correlation name of its own table resolves.
  statement.SetText("SELECT * FROM Pal p ORDER BY p.Item");
  statement.Execute(true);
  EXPECT_TRUE(statement.IsLive());
}

TEST_F(QueryTest, IndexMatchingDecidesLiveOrCopiedAtEveryExecution) {
  struct Case {
    const char* order;
    bool live;
    int index;
  };
  const Case cases[] = {
      {"Order by Item, Date", true, 0},  // the primary index
      {"ORDER BY Item", true, 0},        // leading field of a longer index
      {"ORDER BY 1", true, 0},           // column number of the first field
      {"ORDER BY User", true, 1},
      {"ORDER BY Item DESC", false, -1},  // no descending index on Item
      {"ORDER BY Web DESC", true, 3},     // the descending index
      {"ORDER BY Web", false, -1},
      {"ORDER BY PW NOCASE", true, 2},  // needs the case-insensitive index
      {"ORDER BY PW", false, -1},
      {"ORDER BY Date", false, -1},
      {"ORDER BY Date, Item", false, -1},
      {"", true, -1},  // no order: the table's own order
  };
  TQueryStatement statement(session_, dir());
  for (const Case& c : cases) {
    statement.SetText(std::string("SELECT * FROM Pal ") + c.order);
    statement.Execute(true);
    EXPECT_EQ(statement.IsLive(), c.live) << c.order;
    EXPECT_EQ(statement.Query().index_number, c.index) << c.order;
    EXPECT_EQ(statement.Cursor().RecordCount(), 4u);
    EXPECT_EQ(ScratchEmpty(), c.live) << c.order;
  }
  statement.SetText("SELECT * FROM Pal ORDER BY Item");
  statement.Execute(false);
  EXPECT_FALSE(statement.IsLive());
  statement.Execute(true, 2);
  EXPECT_FALSE(statement.IsLive());
  EXPECT_EQ(statement.Cursor().RecordCount(), 2u);
  // The same statement executed again is planned again: live, the copy gone.
  statement.Execute(true);
  EXPECT_TRUE(statement.IsLive());
  EXPECT_EQ(statement.Cursor().RecordCount(), 4u);
  EXPECT_TRUE(ScratchEmpty());
  statement.Close();
  EXPECT_TRUE(ScratchEmpty());
}

TEST_F(QueryTest, CopiedResultIsSortedReadOnlyAndGoneOnClose) {
  TQueryStatement statement(session_, dir());
  statement.SetText("SELECT Item, Details, User FROM Pal ORDER BY User DESC, Date");
  int last_percent = -1;
  statement.Execute(true, -1, [&](int percent) { last_percent = percent; });
  EXPECT_EQ(last_percent, 100);
  ASSERT_FALSE(statement.IsLive());
  TDataCursor& cursor = statement.Cursor();
  ASSERT_EQ(statement.ResultFields().size(), 3u);
  EXPECT_EQ(statement.ResultFields()[1].name, "Details");
  EXPECT_EQ(Column(cursor, "Item"), (std::vector<std::string>{"bank", "alpha", "Mail", "shop"}));
  std::vector<uint8_t> record;
  cursor.SetToRecordNumber(3);
  ASSERT_EQ(cursor.GetCurrent(record), CAIRN_NONE);
  const std::vector<uint8_t> note = cursor.ReadBlob(record, statement.ResultFields()[1].field);
  EXPECT_EQ(std::string(note.begin(), note.end()), "note of Mail");
  EXPECT_THROW(cursor.Append(record), ECairnEngineError);
  EXPECT_THROW(cursor.Modify(record), ECairnEngineError);
  EXPECT_FALSE(ScratchEmpty());
  statement.Close();
  EXPECT_TRUE(ScratchEmpty());
  // The source table was not touched.
  TDataCursor source;
  source.Open(dir(), "Pal");
  EXPECT_EQ(Column(source, "Item"), (std::vector<std::string>{"Mail", "alpha", "bank", "shop"}));
}

TEST_F(QueryTest, AFailedWriteAnywhereInACopyLeavesNothingOpenOrBehind) {
  TQueryStatement statement(session_, dir());
  statement.SetText("SELECT * FROM Pal ORDER BY Date DESC");
  int failures = 0;
  for (int64_t n = 1; n < 500; ++n) {
    TFileFaults::TScope faults(scratch_.path());
    TFileFaults::Instance().FailWriteCall(n);
    try {
      statement.Execute(true);
    } catch (const ECairnEngineError& e) {
      ++failures;
      EXPECT_FALSE(statement.IsOpen());
      EXPECT_EQ(dir().OpenTableCount(), 0u) << "write " << n;
      std::string left;
      for (const auto& entry : fs::directory_iterator(scratch_.path())) {
        left += " " + entry.path().filename().string();
      }
      EXPECT_TRUE(left.empty()) << "write " << n << ": " << e.what() << "; left:" << left;
      continue;
    }
    break;
  }
  EXPECT_GT(failures, 3);
  ASSERT_TRUE(statement.IsOpen());
  EXPECT_EQ(Column(statement.Cursor(), "Item"),
            (std::vector<std::string>{"alpha", "bank", "shop", "Mail"}));
}

TEST_F(QueryTest, LiveResultEditsTheTable) {
  TQueryStatement statement(session_, dir());
  statement.SetText("SELECT * FROM Pal ORDER BY User");
  statement.Execute(true);
  ASSERT_TRUE(statement.IsLive());
  TDataCursor& cursor = statement.Cursor();
  EXPECT_EQ(Column(cursor, "Item"), (std::vector<std::string>{"Mail", "shop", "alpha", "bank"}));
  cursor.Append(PalRecord(cursor, "new", "bob", 730100));
  EXPECT_EQ(Column(cursor, "Item"),
            (std::vector<std::string>{"Mail", "shop", "new", "alpha", "bank"}));
  statement.Close();
  TDataCursor source;
  source.Open(dir(), "Pal");
  EXPECT_EQ(source.RecordCount(), 5u);
}

TEST_F(QueryTest, ResultTablesOfDeadProcessesAreRemovedOthersKept) {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  ASSERT_GT(child, 0);
  int status = 0;
  waitpid(child, &status, 0);
  const std::string dead = scratch_.path() + "/_QR" + std::to_string(child) + "_0";
  const std::string alive = scratch_.path() + "/_QR" + std::to_string(getppid()) + "_0.DAT";
  const std::string other = scratch_.path() + "/notes.DAT";
  for (const std::string& name : {dead + ".DAT", dead + ".IDX", dead + ".BLB", alive, other}) {
    std::ofstream(name) << "x";
  }
  TQueryStatement statement(session_, dir());
  statement.SetText("SELECT * FROM Pal ORDER BY Date");
  statement.Execute(true);
  EXPECT_FALSE(fs::exists(dead + ".DAT"));
  EXPECT_FALSE(fs::exists(dead + ".IDX"));
  EXPECT_FALSE(fs::exists(dead + ".BLB"));
  EXPECT_TRUE(fs::exists(alive));
  EXPECT_TRUE(fs::exists(other));
}

}  // namespace
}  // namespace cairn
