// `cairn info`: the text and JSON reports of a table's data file, and the
// dispatcher's handling of bad command lines.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "storage/files/data_file.h"
#include "tools/cairn/command.h"
#include "tools/cairn/info.h"

namespace cairn::tool {
int RunInfo(std::span<const std::string> args, std::ostream& out, std::ostream& err);
namespace {

namespace fs = std::filesystem;

class CairnInfo : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "cairn-info-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    TDataCreateParams p;
    p.fields = {TFieldDescriptor::Make("Item", kFldString, 0, 100),
                TFieldDescriptor::Make("Id", kFldInteger, kSubAutoInc),
                TFieldDescriptor::Make("Details", kFldBlob, kSubMemo),
                TFieldDescriptor::Make("Date", kFldDate)};
    p.fields[3].SetMinValue("01/01/2000");
    p.description = "Test table";
    p.encrypted = true;
    p.password = "pw";
    TDataFile file("Pal");
    file.set_file_name((dir_ / "Pal.DAT").string());
    file.CreateHeader(p);
    for (int i = 0; i < 3; ++i) file.ReleaseRecord(file.AllocateSlot(false));
    file.FlushBuffers();
  }
  void TearDown() override { fs::remove_all(dir_); }

  int Run(std::vector<std::string> args) {
    out_.str("");
    err_.str("");
    return RunInfo(args, out_, err_);
  }

  fs::path dir_;
  std::ostringstream out_, err_;
};

TEST_F(CairnInfo, JsonReportsHeaderAndFields) {
  ASSERT_EQ(Run({(dir_ / "Pal").string(), "--json"}), 0) << err_.str();
  auto j = nlohmann::json::parse(out_.str());
  EXPECT_EQ(j["table"], "Pal");
  const auto& h = j["data"]["header"];
  EXPECT_EQ(h["signature"], 5);
  EXPECT_EQ(h["recordSize"], 9 + 102 + 9 + 5);
  EXPECT_EQ(h["fieldCount"], 4);
  EXPECT_EQ(h["blobFieldCount"], 1);
  EXPECT_EQ(h["blobBlockSize"], 512);
  EXPECT_EQ(h["slots"], 3);
  EXPECT_EQ(h["nextRecordNumber"], 4);
  EXPECT_EQ(h["lastAutoInc"], 3);
  EXPECT_EQ(h["changeCounter"], 1);
  EXPECT_EQ(h["description"], "Test table") << "shown unscrambled";
  EXPECT_EQ(h["encrypted"], true);
  EXPECT_EQ(h["writerVersion"], 33000);
  EXPECT_FALSE(out_.str().find("\"pw\"") != std::string::npos) << "the password is not shown";
  EXPECT_EQ(j["data"]["check"], "ok");
  const auto& f = j["data"]["fields"];
  ASSERT_EQ(f.size(), 4u);
  EXPECT_EQ(f[0]["name"], "Item");
  EXPECT_EQ(f[0]["type"], "string");
  EXPECT_EQ(f[0]["size"], 100);
  EXPECT_EQ(f[1]["type"], "autoinc");
  EXPECT_EQ(f[1]["offset"], 5);
  EXPECT_EQ(f[2]["type"], "memo");
  EXPECT_EQ(f[2]["offset"], 111);
  EXPECT_EQ(f[3]["offset"], 120);
  EXPECT_EQ(f[3]["min"], "01/01/2000");
}

TEST_F(CairnInfo, TextReportAndAcceptedTableNames) {
  ASSERT_EQ(Run({(dir_ / "Pal.dat").string()}), 0) << err_.str();
  const std::string text = out_.str();
  for (const char* expected :
       {"Table Pal", "record size:", "125", "encrypted:", "yes", "description:", "Test table",
        "check:", "ok", "Item", "memo", "01/01/2000 /  / "}) {
    EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
  }
  EXPECT_EQ(ParseTablePath("a/b/T.IDX").base, "a/b/T");
  EXPECT_EQ(ParseTablePath("a/b/T.IDX").name, "T");
  EXPECT_EQ(ParseTablePath("T.txt").base, "T.txt");
}

TEST_F(CairnInfo, DamagedOrMissingTablesFailWithTheEngineMessage) {
  EXPECT_EQ(Run({(dir_ / "Nope").string()}), 1);
  EXPECT_NE(out_.str().find("11010"), std::string::npos) << out_.str();

  // A broken descriptor still shows the header, with the check's verdict.
  const std::string path = (dir_ / "Pal.DAT").string();
  std::FILE* f = std::fopen(path.c_str(), "r+b");
  ASSERT_NE(f, nullptr);
  std::fseek(f, 21, SEEK_SET);
  std::fputc(0x7F, f);  // record size no longer matches the fields
  std::fclose(f);
  ASSERT_EQ(Run({(dir_ / "Pal").string(), "--json"}), 0);
  auto j = nlohmann::json::parse(out_.str());
  EXPECT_NE(j["data"]["check"].get<std::string>().find("8961"), std::string::npos);

  EXPECT_EQ(Run({}), 2);
  EXPECT_EQ(Run({"a", "b"}), 2);
  EXPECT_EQ(Run({"a", "--bogus"}), 2);
}

TEST(CairnDispatcher, UnknownCommandsAndHelp) {
  auto status = [](const std::string& args) {
    int rc = std::system((std::string(CAIRN_BIN) + " " + args + " >/dev/null 2>&1").c_str());
    return WEXITSTATUS(rc);
  };
  EXPECT_EQ(status(""), 2);
  EXPECT_EQ(status("frobnicate"), 2);
  EXPECT_EQ(status("--help"), 0);
  EXPECT_EQ(status("info"), 2);
}

}  // namespace
}  // namespace cairn::tool
