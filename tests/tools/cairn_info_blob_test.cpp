// `cairn info`: the blob file's section.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include "storage/files/blob_file.h"
#include "storage/files/data_file.h"
#include "tools/cairn/info.h"

namespace cairn::tool {
namespace {

namespace fs = std::filesystem;

class CairnInfoBlob : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "cairn-info-blob-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    table_ = ParseTablePath((dir_ / "Pal").string());
    TDataCreateParams p;
    p.fields = {TFieldDescriptor::Make("Item", kFldString, 0, 100),
                TFieldDescriptor::Make("Details", kFldBlob, kSubMemo)};
    p.blob_block_size = 128;
    p.encrypted = true;
    p.password = "pw";
    TDataFile data("Pal");
    data.set_file_name(table_.DataFile());
    data.CreateHeader(p);
    data.FlushBuffers();
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Three values of 1, 2 and 3 blocks; the second is then freed.
  void MakeBlobs() {
    {
      TBlobFile f("Pal", table_.BlobFile(), 128, true);
      f.Create();
    }
    TBlobFile f("Pal", table_.BlobFile(), 128, true);
    f.Open();
    int32_t stamp = 0;
    uint32_t second = 0;
    for (size_t blocks : {1, 2, 3}) {
      TBlobBuffer b(2, 1, 0, 0, TBlobOpenMode::kReadWrite);
      b.SetContents(std::vector<uint8_t>(blocks * 110, 'x'));
      f.WriteBlobValue(b, ++stamp);
      if (blocks == 2) second = b.FirstBlock();
    }
    f.FreeBlobChain(second, 2, false);
    f.FlushAll(false);
  }

  nlohmann::ordered_json Info(bool expect_failed = false) {
    std::ostringstream text;
    TInfoReport report{nlohmann::ordered_json::object(), text};
    InfoBlob(table_, report);
    text_ = text.str();
    EXPECT_EQ(report.failed, expect_failed) << text_;
    return report.json["blob"];
  }

  fs::path dir_;
  TTablePath table_;
  std::string text_;
};

TEST_F(CairnInfoBlob, ReportsHeaderSizeAndFreeList) {
  MakeBlobs();
  const auto j = Info();
  EXPECT_EQ(j["header"]["signature"], 5);
  EXPECT_EQ(j["header"]["blockSize"], 128);
  EXPECT_EQ(j["header"]["nextBlock"], 7);
  EXPECT_EQ(j["header"]["freeListHead"], 3);
  EXPECT_EQ(j["blocks"], 6);
  EXPECT_EQ(j["freeBlocks"], 2);
  EXPECT_EQ(j["fileSize"], 512 + 6 * 128);
  EXPECT_EQ(j["check"], "ok");
  EXPECT_NE(text_.find("free blocks:"), std::string::npos) << text_;
}

TEST_F(CairnInfoBlob, AFreeListThatLoopsIsReportedNotFollowed) {
  MakeBlobs();
  {
    TBlobFile f("Pal", table_.BlobFile(), 128, true);
    f.Open();
    TBlock* b = f.ReadBlock(2, 1);
    b->SetNext(3);  // 3 -> 2 -> 3 ...
    f.ReleaseBlock(b);
    f.FlushAll(false);
  }
  const auto j = Info();
  EXPECT_NE(j["check"].get<std::string>().find("free list"), std::string::npos) << j.dump();
}

TEST_F(CairnInfoBlob, NoBlobFileAndUnreadableOnes) {
  EXPECT_TRUE(Info().is_null());
  EXPECT_NE(text_.find("Blob file: none"), std::string::npos);
  MakeBlobs();
  fs::resize_file(table_.BlobFile(), 10);
  const auto j = Info(true);
  EXPECT_TRUE(j.contains("error"));
}

}  // namespace
}  // namespace cairn::tool
