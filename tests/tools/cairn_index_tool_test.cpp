// `cairn info` for the index file and `cairn check` on a table on disk: a
// sound table checks clean; damaged index files give their faults and exit 1.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include "storage/access/index_maintenance.h"
#include "storage/access/index_table_info.h"
#include "storage/files/data_file.h"

namespace cairn::tool {
int RunInfo(std::span<const std::string> args, std::ostream& out, std::ostream& err);
int RunCheck(std::span<const std::string> args, std::ostream& out, std::ostream& err);
namespace {

namespace fs = std::filesystem;

class CairnIndexTool : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "cairn-index-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    base_ = (dir_ / "Pal").string();
    TDataCreateParams p;
    p.fields = {TFieldDescriptor::Make("Item", kFldString, 0, 100),
                TFieldDescriptor::Make("Num", kFldInteger)};
    TDataFile data("Pal");
    data.set_file_name(base_ + ".DAT");
    data.CreateHeader(p);
    TIndexFile index(IndexTableInfoOf(data));
    index.set_file_name(base_ + ".IDX");
    index.CreateIndexFile();
    TIndexDescriptor pk;
    pk.field_count = 1;
    pk.fields[0] = 1;
    pk.compression = kCompressFull;
    index.AddPrimaryIndex(pk);
    TIndexDescriptor by_num;
    by_num.name = "ByNum";
    by_num.field_count = 1;
    by_num.fields[0] = 2;
    index.AddSecondaryIndex(by_num);
    TIndexMaintainer m(index);
    for (int i = 0; i < 2000; ++i) {
      TRecord* r = data.AllocateSlot(true);
      data.PutString(1, *r, "item " + std::to_string(i));
      const int32_t v = i % 17;
      data.PutField(2, *r, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(&v), 4));
      std::vector<uint8_t> image(r->Image().begin(), r->Image().end());
      m.InsertRecord(image, int32_t(i + 1));
      data.ReleaseRecord(r);
    }
    data.FlushBuffers();
    index.WriteHeader();
    index.Flush();
    index.CloseIndexFile();
  }
  void TearDown() override { fs::remove_all(dir_); }

  int Run(int (*fn)(std::span<const std::string>, std::ostream&, std::ostream&),
          std::vector<std::string> args) {
    out_.str("");
    err_.str("");
    return fn(args, out_, err_);
  }
  void Poke(uint64_t offset, std::vector<uint8_t> bytes) {
    std::FILE* f = std::fopen((base_ + ".IDX").c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    std::fseek(f, long(offset), SEEK_SET);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }

  fs::path dir_;
  std::string base_;
  std::ostringstream out_, err_;
};

TEST_F(CairnIndexTool, InfoShowsTheDescriptors) {
  ASSERT_EQ(Run(RunInfo, {base_, "--json"}), 0) << err_.str();
  const auto j = nlohmann::json::parse(out_.str())["index"];
  EXPECT_EQ(j["activeRecords"], 2000);
  EXPECT_EQ(j["secondaryIndexes"], 1);
  ASSERT_EQ(j["indexes"].size(), 4u);
  EXPECT_EQ(j["indexes"][0]["fields"][0], "Item");
  EXPECT_EQ(j["indexes"][0]["compression"], "full");
  EXPECT_EQ(j["indexes"][0]["keyLength"], 102);
  EXPECT_EQ(j["indexes"][1]["name"], "ByNum");
  EXPECT_EQ(j["indexes"][1]["keyLength"], 5 + 4) << "non-unique: record-ID suffix";
  EXPECT_EQ(j["indexes"][2]["name"], "Sys Deleted");
  ASSERT_EQ(Run(RunInfo, {base_}), 0);
  EXPECT_NE(out_.str().find("Index file"), std::string::npos);
}

TEST_F(CairnIndexTool, CheckPassesASoundTableAndFindsDamage) {
  ASSERT_EQ(Run(RunCheck, {base_}), 0) << out_.str() << err_.str();
  EXPECT_NE(out_.str().find("ok"), std::string::npos);
  // A separator key that no longer matches its child (page 3 is the root of
  // the primary index after its first split).
  TDataFile data("Pal");
  data.set_file_name(base_ + ".DAT");
  data.Open();
  TIndexFile index(IndexTableInfoOf(data));
  index.set_file_name(base_ + ".IDX");
  index.OpenIndexFile();
  const int32_t root = index.Root(0);
  index.CloseIndexFile();
  Poke(uint64_t(root) * 4096 + 13 + 102 + 8 + 1, {'Z'});  // second entry's key
  EXPECT_EQ(Run(RunCheck, {base_}), 1);
  EXPECT_NE(out_.str().find("separator"), std::string::npos) << out_.str();
  // A wrong signature is reported with its engine message.
  Poke(8, {4});
  EXPECT_EQ(Run(RunCheck, {base_}), 1);
  EXPECT_NE(out_.str().find("12035"), std::string::npos) << out_.str();
  EXPECT_EQ(Run(RunCheck, {}), 2);
}

}  // namespace
}  // namespace cairn::tool
