#include "storage/files/known_bytes.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "io_test_util.h"
#include "storage/files/file_handler.h"

namespace cairn {
namespace {

using testing::ReadFile;
using testing::TScratchDir;
using testing::WriteFile;

constexpr int64_t kPage = 4096;

void Write(TFileHandler& h, int64_t offset, const std::string& bytes) {
  h.WriteAt(uint64_t(offset), bytes.data(), int64_t(bytes.size()));
}

// The undo takes what a write replaces from the bytes the handler last read
// or wrote where it has them (within its budget, in pieces that writes split
// or drop) and from the file elsewhere: a rollback gives back the file
// exactly, also from the size it last saw or made. Bytes another writer
// changed count once forgotten.
TEST(KnownBytesTest, RollbackFromKnownBytesRestoresTheFileExactly) {
  TScratchDir dir;
  const std::string path = dir.File("k.IDX");
  std::string initial;
  for (char c : {'a', 'b', 'c', 'd', 'e'}) initial += std::string(kPage, c);
  WriteFile(path, initial);
  TFileHandler h(path);
  h.Open();
  h.KeepKnownBytes(2 * kPage + 100);  // the last two pages read stay
  std::string page(kPage, '\0');
  for (int64_t p = 0; p < 4; ++p) h.ReadAt(uint64_t(p * kPage), page.data(), kPage);
  Write(h, 3 * kPage + 10, "XY");  // the known page 3 gives way to "XY"
  const std::string before = ReadFile(path);

  h.BeginUndo();
  Write(h, 2 * kPage - 5, std::string(10, '1'));  // half known, half not
  Write(h, 3 * kPage + 10, "ZW");
  Write(h, 3 * kPage, std::string(kPage, '2'));
  h.Truncate(3 * kPage + 100);
  Write(h, 5 * kPage, "grow");
  h.RollBackUndo();
  EXPECT_EQ(ReadFile(path), before);

  // The size a change starts from is the one the handler last saw or made.
  h.BeginUndo();
  Write(h, 6 * kPage, "end");
  h.Truncate(6 * kPage + 2);
  Write(h, 6 * kPage + 2, "nd");
  h.EndUndo();
  const std::string grown = ReadFile(path);
  h.BeginUndo();
  Write(h, 7 * kPage, "more");
  Write(h, kPage, "x");
  h.RollBackUndo();
  EXPECT_EQ(ReadFile(path), grown);

  h.ReadAt(2 * kPage, page.data(), kPage);
  {
    std::fstream other(path, std::ios::in | std::ios::out | std::ios::binary);
    other.seekp(2 * kPage + 7);
    other.write("other", 5);
  }
  h.ForgetKnownBytes();
  const std::string theirs = ReadFile(path);
  h.BeginUndo();
  Write(h, 2 * kPage, std::string(kPage, '3'));
  h.RollBackUndo();
  EXPECT_EQ(ReadFile(path), theirs);
}

// What reaches a write observer: "offset+length " per write.
struct TLog : TWriteObserver {
  std::string log;
  void BeforeWrite(TFileHandler&, uint64_t offset, int64_t length, std::span<const uint8_t>,
                   std::span<const uint8_t>) override {
    log += std::to_string(offset) + "+" + std::to_string(length) + " ";
  }
};

// A write over known bytes passes on only the part that differs, to the
// journal and the file, and nothing when none does; while an earlier write
// to the same place waits (held), the known bytes are not the file's, so
// the write goes whole: here it takes back what the held one changed.
TEST(KnownBytesTest, OnlyTheBytesThatChangeAreWritten) {
  TLog writes;
  TScratchDir dir;
  const std::string path = dir.File("k.IDX");
  WriteFile(path, std::string(2 * kPage, 'a'));
  TFileHandler h(path);
  h.Open();
  h.KeepKnownBytes(4 * kPage);
  h.SetWriteObserver(&writes);
  std::string page(kPage, '\0');
  h.ReadAt(kPage, page.data(), kPage);
  page[10] = 'b';
  page[12] = 'c';
  Write(h, kPage, page);
  Write(h, kPage, page);
  EXPECT_EQ(writes.log, std::to_string(kPage + 10) + "+3 ");
  h.HoldWrites();
  page[100] = 'd';
  Write(h, kPage, page);
  page[100] = 'a';
  Write(h, kPage, page);
  h.ReleaseWrites();
  EXPECT_EQ(ReadFile(path), std::string(kPage + 10, 'a') + "bac" + std::string(kPage - 13, 'a'));
}

// Neighbouring pages read one by one and written in one go (as the index
// writes a run of dirty pages) are compared piece by piece: parts far apart
// go as writes of their own, a part across the two pages as one; the pieces
// take the long write in place, so writing it again passes on nothing; and
// the undo's copies, one of them from both pieces, restore the file.
TEST(KnownBytesTest, PagesWrittenTogetherPassOnTheirChangedPartsApart) {
  TLog writes;
  TScratchDir dir;
  const std::string path = dir.File("k.IDX");
  const std::string initial(3 * kPage, 'a');
  WriteFile(path, initial);
  TFileHandler h(path);
  h.Open();
  h.KeepKnownBytes(4 * kPage);
  h.SetWriteObserver(&writes);
  std::string two(2 * kPage, '\0');
  h.ReadAt(0, two.data(), kPage);
  h.ReadAt(kPage, two.data() + kPage, kPage);
  for (int64_t at : {int64_t{5}, int64_t{7}, kPage - 10, kPage + 10, 2 * kPage - 1}) two[at] = 'x';
  h.BeginUndo();
  Write(h, 0, two);
  Write(h, 0, two);
  EXPECT_EQ(writes.log, "5+3 " + std::to_string(kPage - 10) + "+21 " +
                            std::to_string(2 * kPage - 1) + "+1 ");
  EXPECT_EQ(ReadFile(path), two + std::string(kPage, 'a'));
  h.RollBackUndo();
  EXPECT_EQ(ReadFile(path), initial);
}

}  // namespace
}  // namespace cairn
