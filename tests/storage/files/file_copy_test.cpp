#include <gtest/gtest.h>

#include <random>

#include "io_test_util.h"
#include "storage/base/engine_error.h"
#include "storage/files/file_handler.h"

namespace cairn {
namespace {

using testing::ReadFile;
using testing::TScratchDir;
using testing::WriteFile;

// Mixed content: a compressible stretch and a random one, over several chunks.
std::string SampleContent(size_t n) {
  std::mt19937 rng(11);
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = (i / 1000) % 2 ? char(rng()) : char('a' + i % 7);
  return s;
}

uint16_t CodeOf(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const ECairnEngineError& e) {
    return e.code();
  }
  return 0;
}

TEST(FileCopyTest, RoundTripsPlainAndCompressed) {
  TScratchDir dir;
  for (size_t size : {size_t(0), size_t(65536), size_t(200001)}) {
    for (bool compress : {false, true}) {
      std::string content = SampleContent(size);
      WriteFile(dir.File("a.DAT"), content);
      WriteFile(dir.File("b.DAT"), "old contents that are longer than nothing");
      TFileHandler source(dir.File("a.DAT"));
      source.Open();
      source.CopyToFile(dir.File("copy.bin"), {}, 5, compress);
      TFileHandler target(dir.File("b.DAT"));
      target.Open();
      target.CopyFromFile(dir.File("copy.bin"), {}, 5, compress);
      target.Close();
      EXPECT_EQ(ReadFile(dir.File("b.DAT")), content) << size << " " << compress;
      if (compress && size > 0) {
        EXPECT_NE(ReadFile(dir.File("copy.bin")), content);
      }
    }
  }
}

TEST(FileCopyTest, ProgressRisesByTheStepAndReachesTheEnd) {
  TScratchDir dir;
  WriteFile(dir.File("a.DAT"), SampleContent(65536 * 10));
  TFileHandler source(dir.File("a.DAT"));
  std::vector<int> seen;
  source.CopyToFile(
      dir.File("c.bin"), [&](int p) { seen.push_back(p); }, 20, true);
  EXPECT_FALSE(source.is_open());  // opened only for the copy
  EXPECT_EQ(seen, (std::vector<int>{20, 40, 60, 80, 100}));

  seen.clear();
  TFileHandler target(dir.File("b.DAT"));
  target.Create();
  target.CopyFromFile(
      dir.File("c.bin"), [&](int p) { seen.push_back(p); }, 30, true);
  ASSERT_FALSE(seen.empty());
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  for (size_t i = 1; i < seen.size(); ++i) EXPECT_GE(seen[i] - seen[i - 1], 30);
}

TEST(FileCopyTest, CorruptCompressedInputIsRefusedAndLosesNothing) {
  TScratchDir dir;
  std::string content = SampleContent(150000);
  WriteFile(dir.File("a.DAT"), content);
  TFileHandler source(dir.File("a.DAT"));
  source.CopyToFile(dir.File("good.bin"), {}, 5, true);
  std::string good = ReadFile(dir.File("good.bin"));

  std::string flipped = good;
  flipped[good.size() - 20] ^= 0x55;  // damage the last chunk's stream
  std::string cut = good.substr(0, good.size() - 3);
  std::string bad_header = good;
  bad_header[6] = 0x7F;         // claims far more than one chunk
  std::string plain = content;  // not compressed at all

  WriteFile(dir.File("b.DAT"), "keep me");
  TFileHandler target(dir.File("b.DAT"));
  target.Open();
  for (const std::string& input : {flipped, cut, bad_header, plain}) {
    WriteFile(dir.File("bad.bin"), input);
    EXPECT_EQ(CodeOf([&] { target.CopyFromFile(dir.File("bad.bin"), {}, 5, true); }),
              CAIRN_UNCOMPRESS);
  }
  target.Close();
  EXPECT_EQ(ReadFile(dir.File("b.DAT")), "keep me");
}

TEST(FileCopyTest, FailedCopyLeavesNoPartialFile) {
  TScratchDir dir;
  WriteFile(dir.File("a.DAT"), "abc");
  TFileHandler source(dir.File("a.DAT"));
  EXPECT_EQ(CodeOf([&] { source.CopyToFile(dir.File("missing/out.bin")); }), CAIRN_OSENOENT);
  {
    TFileHandler open_target(dir.File("a.DAT"));
    open_target.Open();
    EXPECT_EQ(CodeOf([&] { source.CopyToFile(dir.File("a.DAT")); }), CAIRN_OSEACCES);
  }
  TFileHandler target(dir.File("a.DAT"));
  EXPECT_EQ(CodeOf([&] { target.CopyFromFile(dir.File("nothing.bin")); }), CAIRN_OSENOENT);
  EXPECT_EQ(ReadFile(dir.File("a.DAT")), "abc");
  int entries = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 1);
}

}  // namespace
}  // namespace cairn
