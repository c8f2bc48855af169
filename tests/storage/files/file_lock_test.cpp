// Byte-range locks between processes (a real second process, sequenced
// through pipes) and between handlers of one process.
#include <gtest/gtest.h>

#include "io_test_util.h"
#include "storage/base/engine_error.h"
#include "storage/files/file_handler.h"

namespace cairn {
namespace {

using testing::TOtherProcess;
using testing::TScratchDir;
using testing::WriteFile;

const TLockRetry kQuick{3, std::chrono::milliseconds(0)};

std::string Lock(uint64_t offset, uint64_t length) {
  return "lock " + std::to_string(offset) + " " + std::to_string(length);
}

class FileLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("Pal.DAT");
    WriteFile(path_, std::string(512, 'x'));
  }
  TScratchDir dir_;
  std::string path_;
};

TEST_F(FileLockTest, LockBytesSitWhereEveryProcessExpectsThem) {
  EXPECT_EQ(RecordLockOffset(1), 4294967293u);
  EXPECT_EQ(RecordLockOffset(200000001), kAllRecordLocksOffset);
  EXPECT_EQ(ReadLockOffset(1), 4294967294u);
  EXPECT_EQ(ReadLockOffset(65535), kAreaWriteLockOffset + 1);
  EXPECT_EQ(kAreaWriteLockOffset + kAreaWriteLockLength, kTableWriteLockOffset);

  // Checked against another process through the raw bytes.
  TFileHandler h(path_);
  h.Open();
  ASSERT_TRUE(h.LockRecord(1));
  TOtherProcess other;
  ASSERT_EQ(other.Ask("open " + path_), "ok");
  EXPECT_EQ(other.Ask(Lock(4294967293, 1)), "refused");
  EXPECT_EQ(other.Ask(Lock(4294967294, 1)), "ok");  // slot 0's byte is nobody's
  EXPECT_EQ(other.Ask("table_write"), "ok");        // never collides with slot 1
}

TEST_F(FileLockTest, RecordLockHeldByOneProcessIsRefusedToAnother) {
  TFileHandler h(path_);
  h.Open();
  TOtherProcess other;
  ASSERT_EQ(other.Ask("open " + path_), "ok");
  ASSERT_EQ(other.Ask("record 7"), "ok");
  EXPECT_FALSE(h.LockRecord(7));
  EXPECT_TRUE(h.LockRecord(8));
  EXPECT_EQ(other.Ask("record 8"), "refused");
  EXPECT_FALSE(h.UnlockRecord(7));  // not ours to release
  EXPECT_EQ(other.Ask("record 8"), "refused");
  ASSERT_EQ(other.Ask("unrecord 7"), "ok");
  EXPECT_TRUE(h.LockRecord(7));
  EXPECT_FALSE(h.LockRecord(0));
}

TEST_F(FileLockTest, ReadLocksAndTheWriteLockExcludeEachOther) {
  std::string idx = dir_.File("Pal.IDX");
  WriteFile(idx, std::string(4096, '\0'));
  TFileHandler h(idx);
  h.Open();
  TOtherProcess other;
  ASSERT_EQ(other.Ask("open " + idx), "ok");

  // Readers share: both get a read lock.
  uint16_t r = 0;
  ASSERT_TRUE(h.LockRead(r, kQuick));
  EXPECT_GE(r, 1);
  std::string answer = other.Ask("read");
  ASSERT_EQ(answer.substr(0, 3), "ok ");
  // A reader keeps the writer out, in both directions.
  EXPECT_EQ(other.Ask("write_area"), "refused");
  EXPECT_FALSE(h.LockAreaWrite(kQuick));
  ASSERT_TRUE(h.UnlockRead(r));
  uint16_t other_r = uint16_t(std::stoi(answer.substr(3)));
  ASSERT_EQ(other.Ask("unlock " + std::to_string(ReadLockOffset(other_r)) + " 1"), "ok");

  // A writer keeps every reader and the other writer out.
  ASSERT_TRUE(h.LockAreaWrite(kQuick));
  EXPECT_EQ(other.Ask("read"), "refused");
  EXPECT_EQ(other.Ask("write_area"), "refused");
  ASSERT_TRUE(h.UnlockAreaWrite());
  EXPECT_EQ(other.Ask("write_area"), "ok");
  EXPECT_FALSE(h.LockRead(r, kQuick));
}

TEST_F(FileLockTest, TableWriteLockIsOneByteHeldByOneProcess) {
  TFileHandler h(path_);
  h.Open();
  TOtherProcess other;
  ASSERT_EQ(other.Ask("open " + path_), "ok");
  ASSERT_TRUE(h.LockTableWrite(kQuick));
  EXPECT_EQ(other.Ask("table_write"), "refused");
  EXPECT_EQ(other.Ask("record 1"), "ok");
  ASSERT_TRUE(h.UnlockTableWrite());
  EXPECT_EQ(other.Ask("table_write"), "ok");
  EXPECT_FALSE(h.LockTableWrite(kQuick));
}

TEST_F(FileLockTest, ReadLockRetriesWithAFreshRandomByte) {
  std::string idx = dir_.File("Pal.IDX");
  WriteFile(idx, std::string(4096, '\0'));
  TOtherProcess other;
  ASSERT_EQ(other.Ask("open " + idx), "ok");
  // The other process holds every read-lock byte but those of r = 1 ... 256.
  ASSERT_EQ(other.Ask(Lock(ReadLockOffset(65535), ReadLockOffset(257) - ReadLockOffset(65535) + 1)),
            "ok");
  TFileHandler h(idx);
  h.Open();
  for (int i = 0; i < 5; ++i) {
    uint16_t r = 0;
    ASSERT_TRUE(h.LockRead(r, TLockRetry{32767, std::chrono::milliseconds(0)}));
    EXPECT_GE(r, 1);
    EXPECT_LE(r, 256);
    EXPECT_TRUE(h.UnlockRead(r));
  }
}

TEST_F(FileLockTest, ClosingOneHandlerKeepsTheOtherHandlersLocks) {
  TFileHandler a(path_);
  TFileHandler b(path_);
  a.Open();
  b.Open();
  ASSERT_TRUE(a.LockRecord(3));
  ASSERT_TRUE(b.LockRecord(4));
  b.Close();
  // A descriptor of the same file opened and closed elsewhere in the process
  // must not drop the locks either.
  ::close(::open(path_.c_str(), O_RDONLY));
  TOtherProcess other;
  ASSERT_EQ(other.Ask("open " + path_), "ok");
  EXPECT_EQ(other.Ask("record 3"), "refused");
  EXPECT_EQ(other.Ask("record 4"), "ok");  // the closed handler's lock went with it
  a.Close();
  EXPECT_EQ(other.Ask("record 3"), "ok");
}

TEST_F(FileLockTest, HandlersOfOneProcessRefuseEachOthersOverlappingLocks) {
  TFileHandler a(path_);
  TFileHandler b(path_);
  a.Open();
  b.Open();
  ASSERT_EQ(a.file(), b.file());
  ASSERT_TRUE(a.LockRecord(9));
  EXPECT_FALSE(b.LockRecord(9));
  EXPECT_FALSE(b.UnlockRecord(9));
  EXPECT_FALSE(a.LockRecord(9));  // not even twice by the same handler
  // Record bytes of low slots lie inside the index lock area; those locks
  // belong to the data file, so clear them before using this file as one.
  ASSERT_TRUE(a.UnlockRecord(9));
  uint16_t r = 0;
  ASSERT_TRUE(a.LockRead(r, kQuick));
  EXPECT_FALSE(b.LockAreaWrite(kQuick));
  ASSERT_TRUE(a.UnlockRead(r));
  ASSERT_TRUE(b.LockAreaWrite(kQuick));
  EXPECT_FALSE(a.LockRead(r, kQuick));
  EXPECT_FALSE(a.LockRange(4294901700, 100));  // partial overlap
  EXPECT_TRUE(a.LockRange(4294901700, 59));
}

TEST_F(FileLockTest, ReleasingAllRecordLocksReleasesEachOfThem) {
  TFileHandler h(path_);
  h.Open();
  for (uint32_t slot : {1u, 2u, 5000u, 200000001u, 200000002u}) ASSERT_TRUE(h.LockRecord(slot));
  ASSERT_TRUE(h.LockTableWrite(kQuick));
  ASSERT_TRUE(h.UnlockAllRecords());
  TOtherProcess other;
  ASSERT_EQ(other.Ask("open " + path_), "ok");
  for (uint32_t slot : {1u, 2u, 5000u, 200000001u}) {
    EXPECT_EQ(other.Ask("record " + std::to_string(slot)), "ok") << slot;
  }
  EXPECT_EQ(other.Ask("record 200000002"), "refused");  // outside the range
  EXPECT_EQ(other.Ask("table_write"), "refused");
  EXPECT_FALSE(h.UnlockAllRecords());  // nothing left to release
}

TEST_F(FileLockTest, MemoryFilesKeepTheSameRulesInTheirRangeList) {
  TFileHandler a("locks.DAT");
  a.set_in_memory(true);
  a.Create();
  TFileHandler b("locks.DAT");
  b.set_in_memory(true);
  a.Close();
  a.Open();
  b.Open();
  ASSERT_TRUE(a.LockRecord(1));
  ASSERT_TRUE(a.LockRecord(2));
  EXPECT_FALSE(b.LockRecord(1));
  EXPECT_TRUE(a.UnlockAllRecords());
  EXPECT_TRUE(b.LockRecord(1));
  EXPECT_TRUE(b.LockRecord(2));
  b.Close();
  EXPECT_TRUE(a.LockRecord(1));
  a.Close();
  a.Delete();
}

TEST_F(FileLockTest, ExclusiveOpenKeepsOtherProcessesOut) {
  TOtherProcess other;
  ASSERT_EQ(other.Ask("open_excl " + path_), "ok");
  TFileHandler h(path_);
  try {
    h.Open();
    FAIL() << "opened a file another process holds exclusively";
  } catch (const ECairnEngineError& e) {
    EXPECT_EQ(e.code(), CAIRN_OSEACCES);
  }
  ASSERT_EQ(other.Ask("close"), "ok");
  h.Open();
  EXPECT_EQ(other.Ask("open_excl " + path_), "error 11013");
  EXPECT_EQ(other.Ask("open " + path_), "ok");
  h.Close();
  // Creating a file another process has open must not truncate it.
  try {
    h.Create();
    FAIL() << "created over a file another process holds";
  } catch (const ECairnEngineError& e) {
    EXPECT_EQ(e.code(), CAIRN_OSEACCES);
  }
  EXPECT_EQ(testing::ReadFile(path_), std::string(512, 'x'));
}

}  // namespace
}  // namespace cairn
