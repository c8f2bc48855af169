// `cairn sql`: rows as JSON lines with their record numbers, the live or
// copied verdict with the row count, and exact engine messages for bad
// statements, with no result table left behind.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tables_test_support.h"

namespace cairn::tool {
int RunSql(std::span<const std::string> args, std::ostream& out, std::ostream& err);
}

namespace cairn {
namespace {

namespace fs = std::filesystem;

class CairnSqlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TMPDIR", temp_.path().c_str(), 1);
    TDataSession session;
    TDataDirectory& dir = session.OpenDirectory(data_.path());
    dir.CreateTable("Pal", testing::PalDefinition());
    TDataCursor cursor;
    cursor.Open(dir, "Pal");
    const uint16_t details = testing::FieldNumber(cursor, "Details");
    for (const char* item : {"b", "c", "a"}) {
      const std::string note = std::string("about ") + item;
      cursor.Append(testing::PalRecord(cursor, item, "u", 730120),
                    {{details, std::vector<uint8_t>(note.begin(), note.end())}});
    }
  }
  void TearDown() override { unsetenv("TMPDIR"); }

  int Run(std::vector<std::string> args) {
    out_.str({});
    err_.str({});
    args.insert(args.begin(), data_.path());
    return tool::RunSql(args, out_, err_);
  }
  std::vector<std::string> Lines() {
    std::vector<std::string> lines;
    std::istringstream in(out_.str());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  testing::TScratchDir data_, temp_;
  std::ostringstream out_, err_;
};

TEST_F(CairnSqlTest, LiveAndCopiedResultsPrintRowsInResultOrder) {
  ASSERT_EQ(Run({"SELECT * FROM Pal\nORDER BY Item"}), 0) << err_.str();
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0],
            R"({"recno":1,"Item":"a","User":"u","PW":"pw","Details":"about a","Web":null,)"
            R"("Date":"2000-01-01"})");
  EXPECT_NE(lines[2].find(R"("recno":3,"Item":"c")"), std::string::npos);
  EXPECT_EQ(err_.str(), "live 3 rows\n");

  ASSERT_EQ(Run({"select Item, Details from Pal order by 1 desc", "--max-rows", "2"}), 0);
  lines = Lines();
  EXPECT_EQ(lines, (std::vector<std::string>{R"({"recno":1,"Item":"c","Details":"about c"})",
                                             R"({"recno":2,"Item":"b","Details":"about b"})"}));
  EXPECT_EQ(err_.str(), "copied 2 rows\n");
  EXPECT_TRUE(fs::is_empty(temp_.path()));
}

TEST_F(CairnSqlTest, BadStatementsGiveTheEngineMessageAndLeaveNothing) {
  // Opening the table would recreate its missing index file: statements the
  // parser refuses must not get that far.
  const fs::path index = fs::path(data_.path()) / "Pal.IDX";
  ASSERT_TRUE(fs::remove(index));
  const std::pair<const char*, const char*> refused[] = {
      {"SELECT * FROM Pal ORDER Item",
       "BY keyword expected after ORDER keyword, instead found 'Item'"},
      {"DELETE FROM Pal", "DELETE statements are not supported"},
  };
  for (const auto& [statement, message] : refused) {
    EXPECT_EQ(Run({statement}), 1);
    EXPECT_EQ(err_.str(),
              std::string("cairn: Cairn Engine Error # 11949 SQL error - ") + message + "\n");
    EXPECT_TRUE(out_.str().empty());
  }
  EXPECT_FALSE(fs::exists(index));
  EXPECT_FALSE(fs::exists(fs::path(data_.path()) / "Pal.JNL"));

  const std::pair<const char*, const char*> cases[] = {
      {"SELECT * FROM Pal ORDER BY Colour",
       "Invalid column name 'Colour' or table correlation name '' specified in ORDER BY clause"},
  };
  for (const auto& [statement, message] : cases) {
    EXPECT_EQ(Run({statement}), 1);
    EXPECT_EQ(err_.str(),
              std::string("cairn: Cairn Engine Error # 11949 SQL error - ") + message + "\n");
    EXPECT_TRUE(out_.str().empty());
  }
  EXPECT_EQ(Run({"SELECT * FROM Missing"}), 1);
  EXPECT_EQ(err_.str().rfind("cairn: Cairn Engine Error # 11010 ", 0), 0u) << err_.str();
  EXPECT_EQ(Run({"SELECT * FROM Pal", "--max-rows", "many"}), 2);
  EXPECT_TRUE(fs::is_empty(temp_.path()));
}

}  // namespace
}  // namespace cairn
