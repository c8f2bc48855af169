// `cairn create`, `apply`, `dump` and `check` end to end, through the same
// functions the tool dispatches to.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "storage/access/data_cursor.h"
#include "storage/access/data_directory.h"
#include "storage/access/data_session.h"
#include "storage/access/index_tree.h"
#include "tools/cairn/tables_commands.h"

namespace cairn::tool {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSchema = R"({
  "fields":[{"name":"Item","type":"string","size":100},{"name":"User","type":"string","size":100},
            {"name":"PW","type":"string","size":100},{"name":"Details","type":"memo"},
            {"name":"Web","type":"string","size":250},{"name":"Date","type":"date"},
            {"name":"Logo","type":"graphic"},{"name":"Amount","type":"bcd","scale":2}],
  "indexes":[{"name":"","primary":true,"fields":["Item","Date"]},
             {"name":"ByUser","fields":["User"],"compression":"full"}],
  "password":"Key"})";

using TCommandFn = int (*)(std::span<const std::string>, std::ostream&, std::ostream&);

class CairnTables : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "cairn-tables-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    table_ = (dir_ / "Pal").string();
    std::ofstream(dir_ / "schema.json") << kSchema;
    ASSERT_EQ(Run(RunCreate, {table_, "--schema", (dir_ / "schema.json").string()}), 0)
        << err_.str();
  }
  void TearDown() override { fs::remove_all(dir_); }

  int Run(TCommandFn fn, std::vector<std::string> args) {
    out_.str("");
    err_.str("");
    return fn(args, out_, err_);
  }
  int Apply(const std::string& ops, std::vector<std::string> extra = {"--password", "Key"}) {
    out_.str("");
    err_.str("");
    std::vector<std::string> args{table_};
    args.insert(args.end(), extra.begin(), extra.end());
    std::istringstream in(ops);
    return ApplyOperations(args, in, out_, err_);
  }
  std::string Dump(std::vector<std::string> extra = {}) {
    std::vector<std::string> args{table_, "--password", "Key"};
    args.insert(args.end(), extra.begin(), extra.end());
    EXPECT_EQ(Run(RunDump, args), 0) << err_.str();
    return out_.str();
  }

  fs::path dir_;
  std::string table_;
  std::ostringstream out_, err_;
};

TEST_F(CairnTables, ApplyThenDumpInEitherOrderAndCheckIsClean) {
  ASSERT_EQ(
      Apply(
          R"({"op":"insert","row":{"Item":"mail","User":"zed","Date":"2021-05-01","Details":"notes","Logo":"AAEC","Amount":"-1.50"}}
{"op":"insert","row":{"Item":"bank","User":"amy","Date":"2020-01-02"}}

{"op":"update","at":2,"row":{"PW":"secret","Details":null}}
{"op":"insert","row":{"Item":"shop","User":"bob","Date":"2019-12-31"}}
{"op":"delete","at":1}
)"),
      0)
      << err_.str();
  EXPECT_EQ(out_.str(), "applied 5 operation(s)\n");
  const std::string dump = Dump();
  EXPECT_EQ(
      dump,
      R"({"slot":1,"id":1,"Item":"mail","User":"zed","PW":"secret","Details":null,"Web":null,"Date":"2021-05-01","Logo":"AAEC","Amount":"-1.50"})"
      "\n"
      R"({"slot":3,"id":3,"Item":"shop","User":"bob","PW":null,"Details":null,"Web":null,"Date":"2019-12-31","Logo":null,"Amount":null})"
      "\n");
  const std::string by_user = Dump({"--index", "byuser"});
  EXPECT_LT(by_user.find("\"shop\""), by_user.find("\"mail\""));
  EXPECT_EQ(Run(RunTableCheck, {table_}), 0) << out_.str();
  EXPECT_NE(out_.str().find("ok (2 records"), std::string::npos);
  EXPECT_EQ(Run(RunDump, {table_, "--index", "Nope", "--password", "Key"}), 1);
  EXPECT_NE(err_.str().find("Invalid secondary index name 'Nope'"), std::string::npos);
}

TEST_F(CairnTables, BadInputNamesTheProblemAndChangesNothing) {
  ASSERT_EQ(Apply(R"({"op":"insert","row":{"Item":"bank","User":"amy","Date":"2020-01-02"}})"), 0);
  const std::string before = Dump();
  const auto data_size = fs::file_size(dir_ / "Pal.DAT");
  struct TCase {
    const char* ops;
    const char* message;
  };
  const TCase cases[] = {
      {R"({"op":"insert","row":{"Item":"x","Colour":"red"}})", "line 1: unknown field \"Colour\""},
      {R"({"op":"insert","row":{"Item":42}})", "field \"Item\": expected a string"},
      {R"({"op":"insert","row":{"Item":"x","Date":"2020-02-30"}})",
       "date \"2020-02-30\" is out of range"},
      {R"({"op":"insert","row":{"Item":"x","Date":"10000-01-01"}})", "not a date"},
      {R"({"op":"update","at":2,"row":{"PW":"y"}})", "record number 2 is out of range"},
      {R"({"op":"delete","at":0})", "record number 0 is out of range"},
      {R"({"op":"insert","row":{"Item":"bank","Date":"2020-01-02"}})", "Duplicate key found"},
      {R"({"op":"upsert","row":{}})", "unknown op \"upsert\""},
      {R"({"op":"insert","row":{"Item":"x"})", "not valid JSON"},
      {R"({"op":"insert","row":{"Amount":"1.234"}})", "more than 2 decimals"},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(Apply(c.ops), 1) << c.ops;
    EXPECT_NE(err_.str().find(c.message), std::string::npos) << c.ops << " -> " << err_.str();
  }
  EXPECT_EQ(Dump(), before);
  EXPECT_EQ(fs::file_size(dir_ / "Pal.DAT"), data_size);

  // The operations before a failure stay applied; the ones after never run.
  EXPECT_EQ(
      Apply(
          "{\"op\":\"insert\",\"row\":{\"Item\":\"a\"}}\n{\"op\":\"insert\",\"row\":{\"Item\":7}}\n"
          "{\"op\":\"insert\",\"row\":{\"Item\":\"z\"}}\n"),
      1);
  EXPECT_NE(err_.str().find("line 2:"), std::string::npos);
  const std::string after = Dump();
  EXPECT_NE(after.find("\"a\""), std::string::npos);
  EXPECT_EQ(after.find("\"z\""), std::string::npos);

  // No password, or the wrong one: refused with the engine's message.
  EXPECT_EQ(Apply(R"({"op":"delete","at":1})", {"--password", "key"}), 1);
  EXPECT_NE(err_.str().find("10498"), std::string::npos);

  // A bad schema creates nothing.
  std::ofstream(dir_ / "bad.json")
      << R"({"fields":[{"name":"A","type":"date"}],"indexes":[{"name":"X","fields":["B"]}]})";
  EXPECT_EQ(Run(RunCreate, {(dir_ / "T").string(), "--schema", (dir_ / "bad.json").string()}), 1);
  EXPECT_NE(err_.str().find("unknown field \"B\""), std::string::npos);
  EXPECT_FALSE(fs::exists(dir_ / "T.DAT"));
  std::ofstream(dir_ / "broken.json") << "{\"fields\":[";
  EXPECT_EQ(Run(RunCreate, {(dir_ / "T").string(), "--schema", (dir_ / "broken.json").string()}),
            1);
  EXPECT_NE(err_.str().find("not valid JSON"), std::string::npos);
  EXPECT_EQ(Run(RunCreate, {table_, "--schema", (dir_ / "schema.json").string()}), 1);
  EXPECT_NE(err_.str().find("already exists"), std::string::npos);
}

TEST_F(CairnTables, ApplyWithTransactionIsAllOrNothing) {
  ASSERT_EQ(Apply(R"({"op":"insert","row":{"Item":"bank","User":"amy","Details":"old notes"}})"),
            0);
  auto files = [&] {
    std::string all;
    for (const char* ext : {".DAT", ".IDX", ".BLB"}) {
      std::ifstream in(dir_ / (std::string("Pal") + ext), std::ios::binary);
      all += std::string(std::istreambuf_iterator<char>(in), {}) + "|";
    }
    return all;
  };
  const std::string before = files();
  const std::string good =
      R"({"op":"insert","row":{"Item":"mail","User":"bob","Details":"new notes"}}
{"op":"update","at":1,"row":{"PW":"secret","Details":"changed notes"}}
{"op":"insert","row":{"Item":"shop","User":"cy"}}
)";
  const std::vector<std::string> with_transaction{"--password", "Key", "--transaction"};
  // The engine refusing the last line, and a line the tool refuses.
  for (const char* bad : {R"({"op":"insert","row":{"Item":"bank"}})", R"({"op":"delete"})"}) {
    EXPECT_EQ(Apply(good + bad, with_transaction), 1) << bad;
    EXPECT_NE(err_.str().find("line 4: "), std::string::npos) << err_.str();
    EXPECT_NE(err_.str().find("; nothing was applied"), std::string::npos) << err_.str();
    EXPECT_EQ(files(), before);
  }
  ASSERT_EQ(Apply(good, with_transaction), 0) << err_.str();
  EXPECT_EQ(out_.str(), "applied 3 operation(s) in one transaction\n");
  const std::string dump = Dump();
  EXPECT_NE(dump.find("\"PW\":\"secret\",\"Details\":\"changed notes\""), std::string::npos)
      << dump;
  EXPECT_NE(dump.find("\"shop\""), std::string::npos);
  EXPECT_EQ(Run(RunTableCheck, {table_}), 0) << out_.str();
  EXPECT_NE(out_.str().find("ok (3 records"), std::string::npos);
}

TEST_F(CairnTables, CheckFindsAnIndexEntryMissingForARecord) {
  ASSERT_EQ(Apply(R"({"op":"insert","row":{"Item":"bank","User":"amy","Date":"2020-01-02"}}
{"op":"insert","row":{"Item":"mail","User":"bob","Date":"2020-01-02"}})"),
            0);
  {
    // Remove one record's entry from the secondary index behind the table's back.
    TDataSession session;
    session.AddPassword("Key");
    TDataCursor cursor;
    cursor.Open(session.OpenDirectory(dir_.string()), "Pal", "ByUser");
    std::vector<uint8_t> record;
    ASSERT_EQ(cursor.Next(record), CAIRN_NONE);
    cursor.Table().WriteLock();
    TIndexTree(cursor.Table().Index(), 1).Delete(cursor.BuildKey(record));
    cursor.Table().Flush();
    cursor.Table().WriteUnlock();
  }
  EXPECT_EQ(Run(RunTableCheck, {table_}), 1);
  EXPECT_NE(out_.str().find("index 'ByUser' has no entry for slot 1"), std::string::npos)
      << out_.str();
}

TEST_F(CairnTables, CheckFindsADamagedBlobChain) {
  std::ofstream(dir_ / "plain.json")
      << R"({"fields":[{"name":"Item","type":"string","size":10},{"name":"Notes","type":"memo"}],
             "indexes":[{"primary":true,"fields":["Item"]}]})";
  const std::string plain = (dir_ / "Plain").string();
  ASSERT_EQ(Run(RunCreate, {plain, "--schema", (dir_ / "plain.json").string()}), 0);
  std::istringstream ops(R"({"op":"insert","row":{"Item":"a","Notes":"some notes"}})");
  const std::vector<std::string> args{plain};
  ASSERT_EQ(ApplyOperations(args, ops, out_, err_), 0) << err_.str();
  ASSERT_EQ(Run(RunTableCheck, {plain}), 0) << out_.str();
  {
    // Block 1 starts after the 512-byte header; its stamp is at offset 10.
    std::fstream blob(dir_ / "Plain.BLB", std::ios::in | std::ios::out | std::ios::binary);
    blob.seekp(512 + 10);
    blob.put(char(0x7F));
  }
  EXPECT_EQ(Run(RunTableCheck, {plain}), 1);
  EXPECT_NE(out_.str().find("block 1 has another stamp"), std::string::npos) << out_.str();
}

}  // namespace
}  // namespace cairn::tool
