// The file layer's power-loss recorder: what it keeps of writes, creations
// and removals made since the last flush of a file or of its folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "io_test_util.h"
#include "storage/files/file_faults.h"
#include "storage/files/file_handler.h"
#include "storage/files/physical_file.h"

namespace cairn {
namespace {

using testing::ReadFile;
using testing::TScratchDir;
using testing::WriteFile;
using TPowerLoss = TFileFaults::TPowerLoss;

TEST(PowerLossRecorderTest, KeepsWhatWasFlushedAndLosesOrKeepsSomeOfTheRest) {
  TScratchDir dir, out;
  WriteFile(dir.File("A"), "A0");
  WriteFile(dir.File("B"), "B0");
  TFileFaults::TScope faults(dir.path() + "/");
  TFileFaults& recorder = TFileFaults::Instance();
  recorder.RecordForPowerLoss();

  TFileHandler a(dir.File("A"));
  a.Open();
  a.WriteAt(0, "A1", 2);
  a.Flush();
  a.WriteAt(0, "A2", 2);
  a.WriteAt(6, "tail", 4);
  TFileHandler c(dir.File("C"));
  c.Create();  // puts its folder on disk
  c.WriteAt(0, "C1", 2);
  TFileHandler(dir.File("B")).Delete();

  recorder.PowerOff(out.path(), TPowerLoss::kLoseUnflushed, 0);
  EXPECT_EQ(ReadFile(out.File("A")), "A1");
  EXPECT_EQ(ReadFile(out.File("B")), "B0") << "a removal the folder did not keep";
  EXPECT_TRUE(std::filesystem::exists(out.File("C")));
  EXPECT_EQ(ReadFile(out.File("C")), "");

  // Some of the unflushed writes, in order: never bytes nobody wrote.
  std::set<std::string> seen;
  for (uint32_t seed = 0; seed < 64; ++seed) {
    recorder.PowerOff(out.path(), TPowerLoss::kKeepSome, seed);
    const std::string image = ReadFile(out.File("A"));
    EXPECT_TRUE(image == "A1" || image == "A2" || image == std::string("A1\0\0\0\0tail", 10) ||
                image == std::string("A2\0\0\0\0tail", 10))
        << image;
    seen.insert(image);
  }
  EXPECT_EQ(seen.size(), 4u);

  TPhysicalFile::SyncFolderOf(dir.File("B"));
  c.Flush();
  recorder.PowerOff(out.path(), TPowerLoss::kLoseUnflushed, 0);
  EXPECT_FALSE(std::filesystem::exists(out.File("B")));
  EXPECT_EQ(ReadFile(out.File("C")), "C1");
  EXPECT_EQ(ReadFile(out.File("A")), "A1");
  // The live files hold every write.
  EXPECT_EQ(ReadFile(dir.File("A")), std::string("A2\0\0\0\0tail", 10));
  c.Close();
  a.Close();
}

}  // namespace
}  // namespace cairn
