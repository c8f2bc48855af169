#include "storage/files/file_handler.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstring>

#include "io_test_util.h"
#include "storage/base/engine_error.h"
#include "storage/files/file_faults.h"
#include "storage/files/file_list.h"
#include "storage/files/memory_file.h"

namespace cairn {
namespace {

using testing::ReadFile;
using testing::RunInChild;
using testing::TScratchDir;
using testing::WriteFile;

// The code and message of what `fn` raises; code 0 when it raises nothing.
template <typename Fn>
ECairnEngineError Caught(Fn fn) {
  try {
    fn();
  } catch (const ECairnEngineError& e) {
    return e;
  }
  return ECairnEngineError(0);
}

TEST(FileHandlerTest, MissingFileOrFolderIsReportedAndLeavesHandlerClosed) {
  TScratchDir dir;
  for (std::string name : {dir.File("none.DAT"), dir.File("nofolder/none.DAT")}) {
    TFileHandler h(name);
    auto e = Caught([&] { h.Open(); });
    EXPECT_EQ(e.code(), CAIRN_OSENOENT);
    EXPECT_EQ(e.message(), "Cairn Engine Error # 11010 Table '" + name + "' does not exist");
    EXPECT_FALSE(h.is_open());
    EXPECT_FALSE(h.Exists());
  }
}

TEST(FileHandlerTest, OtherOperatingSystemFailuresMapToEngineCodes) {
  TScratchDir dir;
  TFileHandler folder(dir.path());
  EXPECT_EQ(Caught([&] { folder.Open(); }).code(), CAIRN_OSEACCES);
  EXPECT_FALSE(folder.Exists());  // a folder is not a table file
  // Nor is a pipe, which must be refused rather than block the open.
  ASSERT_EQ(::mkfifo(dir.File("pipe").c_str(), 0644), 0);
  TFileHandler pipe(dir.File("pipe"));
  EXPECT_EQ(Caught([&] { pipe.Open(); }).code(), CAIRN_OSEACCES);

  // A name the file system cannot hold has no engine code of its own: the
  // message carries the operating system's number.
  TFileHandler long_name(dir.File(std::string(300, 'x')));
  auto e = Caught([&] { long_name.Open(); });
  EXPECT_EQ(e.code(), CAIRN_OSUNKNOWN);
  EXPECT_EQ(e.text(), "An unknown operating system error " + std::to_string(ENAMETOOLONG) +
                          " occurred with the table '" + long_name.file_name() + "'");

  // Out of descriptors: checked in a child whose descriptor limit is used up.
  std::string path = dir.File("t.DAT");
  WriteFile(path, "abc");
  int rc = RunInChild([&] {
    int next = ::open("/dev/null", O_RDONLY);  // the lowest free descriptor
    if (next < 0) return 2;
    ::close(next);
    rlimit limit{rlim_t(next), rlim_t(next)};
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) return 2;
    TFileHandler h(path);
    return Caught([&] { h.Open(); }).code() == CAIRN_OSEMFILE ? 0 : 1;
  });
  EXPECT_EQ(rc, 0);
}

TEST(FileHandlerTest, ReadOnlyAttributeOpensReadOnlyAndRefusesWrites) {
  TScratchDir dir;
  std::string path = dir.File("ro.DAT");
  WriteFile(path, "abcdef", 0444);
  TFileHandler h(path);
  h.Open();
  EXPECT_TRUE(h.read_only());
  EXPECT_TRUE(h.read_only_attribute());
  char buf[6];
  EXPECT_EQ(h.ReadAt(0, buf, 6), 6);
  EXPECT_EQ(Caught([&] { h.WriteAt(0, "x", 1); }).code(), CAIRN_WRITEERR);
  EXPECT_EQ(ReadFile(path), "abcdef");
}

TEST(FileHandlerTest, RefusedReadWriteOpenFallsBackToReadOnly) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  TScratchDir dir;
  std::string path = dir.File("theirs.DAT");
  WriteFile(path, "abcdef", 0644);  // writable, but only by its owner
  std::string secret = dir.File("secret.DAT");
  WriteFile(secret, "x", 0000);
  int rc = RunInChild(
      [&] {
        TFileHandler h(path);
        h.Open();
        if (!h.read_only() || h.read_only_attribute()) return 1;
        char buf[6];
        if (h.ReadAt(0, buf, 6) != 6 || std::memcmp(buf, "abcdef", 6) != 0) return 2;
        if (Caught([&] { h.WriteAt(0, "x", 1); }).code() != CAIRN_WRITEERR) return 3;
        TFileHandler denied(secret);
        if (Caught([&] { denied.Open(); }).code() != CAIRN_OSEACCES) return 4;
        return 0;
      },
      /*unprivileged=*/true);
  if (rc == 126) GTEST_SKIP() << "cannot act as another user here";
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(ReadFile(path), "abcdef");
}

TEST(FileHandlerTest, ShortReadsRaiseUnlessAllowed) {
  TScratchDir dir;
  std::string path = dir.File("s.DAT");
  WriteFile(path, "0123456789");
  TFileHandler h(path);
  h.Open();
  char buf[16] = {};
  auto e = Caught([&] { h.ReadAt(4, buf, 10); });
  EXPECT_EQ(e.code(), CAIRN_READERR);
  EXPECT_EQ(e.text(), "Error reading from the table '" + path + "'");
  EXPECT_EQ(h.ReadAt(4, buf, 10, /*allow_short=*/true), 6);
  EXPECT_EQ(std::string(buf, 6), "456789");
  EXPECT_EQ(h.ReadAt(20, buf, 4, true), 0);
}

TEST(FileHandlerTest, SeekSizeWriteAndTruncate) {
  TScratchDir dir;
  std::string path = dir.File("w.DAT");
  TFileHandler h(path);
  h.Create();
  h.Write("abcdef", 6);
  EXPECT_EQ(h.Seek(0, kSeekCurrent), 6);
  EXPECT_EQ(h.Seek(-2, kSeekEnd), 4);
  h.Write("XY", 2);
  EXPECT_EQ(h.Size(), 6);
  h.Seek(3);
  h.Write(nullptr, 0);  // a zero-length write truncates at the position
  EXPECT_EQ(h.Size(), 3);
  h.Flush();
  h.Close();
  EXPECT_EQ(ReadFile(path), "abc");
}

// Held writes reach the file only after the observer is told, in order, and
// the undo still takes back every byte of them.
TEST(FileHandlerTest, HeldWritesWaitForTheObserverAndRollBackWithTheUndo) {
  struct TEvents : TWriteObserver {
    std::string log;
    void BeforeWrite(TFileHandler&, uint64_t offset, int64_t length, std::span<const uint8_t>,
                     std::span<const uint8_t>) override {
      log += "w" + std::to_string(offset) + "+" + std::to_string(length) + " ";
    }
    void BeforeHeldWrites() override { log += "go "; }
  } events;
  TScratchDir dir;
  std::string path = dir.File("h.DAT");
  WriteFile(path, "0123456789");
  TFileHandler h(path);
  h.Open();
  h.SetWriteObserver(&events);
  h.BeginUndo();
  h.HoldWrites();
  h.WriteAt(2, "ab", 2);
  h.WriteAt(9, "XYZ", 3);  // extends the file
  h.WriteAt(3, "c", 1);    // over a held write: the later one wins
  EXPECT_EQ(ReadFile(path), "0123456789");
  EXPECT_EQ(events.log, "w2+2 w9+3 w3+1 ");
  // A read sees what was written, so the held writes go first.
  char buf[4] = {};
  h.ReadAt(1, buf, 3);
  EXPECT_EQ(std::string(buf, 3), "1ac");
  EXPECT_EQ(ReadFile(path), "01ac45678XYZ");
  EXPECT_EQ(events.log, "w2+2 w9+3 w3+1 go ");
  h.WriteAt(0, "Q", 1);
  EXPECT_TRUE(h.ReleaseWrites());
  EXPECT_FALSE(h.HoldingWrites());
  EXPECT_EQ(ReadFile(path), "Q1ac45678XYZ");
  EXPECT_FALSE(h.ReleaseWrites());
  // Dropped writes never arrive; the undo restores those that did.
  h.HoldWrites();
  h.WriteAt(5, "dropped", 7);
  h.DropHeldWrites();
  EXPECT_EQ(ReadFile(path), "Q1ac45678XYZ");
  h.RollBackUndo();
  EXPECT_EQ(ReadFile(path), "0123456789");
  // Held writes past the limit go out early, the observer told first, and
  // the holding goes on.
  events.log.clear();
  h.HoldWrites();
  const std::string big(TFileHandler::kHeldBytesLimit / 2 + 1, 'b');
  h.WriteAt(0, big.data(), int64_t(big.size()));
  EXPECT_EQ(ReadFile(path), "0123456789");
  h.WriteAt(big.size(), big.data(), int64_t(big.size()));
  EXPECT_EQ(ReadFile(path), big + big);
  h.WriteAt(1, "h", 1);
  EXPECT_TRUE(h.HoldingWrites());
  EXPECT_EQ(ReadFile(path).substr(0, 2), "bb");
  EXPECT_TRUE(h.ReleaseWrites());
  EXPECT_EQ(ReadFile(path).substr(0, 2), "bh");
  EXPECT_EQ(events.log, "w0+" + std::to_string(big.size()) + " w" + std::to_string(big.size()) +
                            "+" + std::to_string(big.size()) + " go w1+1 go ");
  h.SetWriteObserver(nullptr);
}

TEST(FileHandlerTest, HandlersOfOneFileShareOneObjectButKeepTheirOwnPosition) {
  TScratchDir dir;
  std::string path = dir.File("p.DAT");
  WriteFile(path, "0123456789");
  TFileHandler a(path);
  TFileHandler b("  " + path + " ");  // blanks around the name are ignored
  a.Open();
  b.Open();
  EXPECT_EQ(a.file(), b.file());
  EXPECT_NE(a.handle_id(), b.handle_id());
  EXPECT_EQ(a.file()->open_count(), 2);
  a.Seek(7);
  char c;
  b.Read(&c, 1);
  EXPECT_EQ(c, '0');
  a.Close();
  EXPECT_TRUE(TFileList::Instance().Contains(path, false));
  b.Read(&c, 1);
  EXPECT_EQ(c, '1');
  b.Close();
  EXPECT_FALSE(TFileList::Instance().Contains(path, false));
}

TEST(FileHandlerTest, ExclusiveOpensExcludeEveryOtherOpen) {
  TScratchDir dir;
  std::string path = dir.File("x.DAT");
  WriteFile(path, "data");
  TFileHandler shared(path);
  shared.Open();
  TFileHandler excl(path);
  excl.set_exclusive(true);
  EXPECT_EQ(Caught([&] { excl.Open(); }).code(), CAIRN_OSEACCES);
  shared.Close();
  excl.Open();
  TFileHandler again(path);
  EXPECT_EQ(Caught([&] { again.Open(); }).code(), CAIRN_OSEACCES);
  again.set_exclusive(true);
  EXPECT_EQ(Caught([&] { again.Open(); }).code(), CAIRN_OSEACCES);
  // Creating over a file that is open is refused without truncating it.
  EXPECT_EQ(Caught([&] { again.Create(); }).code(), CAIRN_OSEACCES);
  excl.Close();
  EXPECT_EQ(ReadFile(path), "data");
}

TEST(FileHandlerTest, DeleteAndRenameRefuseOpenFilesAndNeverReplace) {
  TScratchDir dir;
  std::string path = dir.File("d.DAT");
  std::string other = dir.File("e.DAT");
  WriteFile(path, "one");
  WriteFile(other, "two");
  TFileHandler h(path);
  TFileHandler holder(path);
  holder.Open();
  EXPECT_EQ(Caught([&] { h.Delete(); }).code(), CAIRN_OSEACCES);
  EXPECT_EQ(Caught([&] { h.Rename(dir.File("f.DAT")); }).code(), CAIRN_OSEACCES);
  holder.Close();

  auto e = Caught([&] { h.Rename(other); });
  EXPECT_EQ(e.code(), CAIRN_TABLEEXISTS);
  EXPECT_EQ(ReadFile(other), "two");
  EXPECT_EQ(h.file_name(), path);

  h.Rename(dir.File("f.DAT"));
  EXPECT_EQ(h.file_name(), dir.File("f.DAT"));
  EXPECT_EQ(ReadFile(dir.File("f.DAT")), "one");
  h.Delete();
  EXPECT_FALSE(h.Exists());
  EXPECT_EQ(Caught([&] { h.Delete(); }).code(), CAIRN_OSENOENT);
}

TEST(FileHandlerTest, TemporaryFilesLeaveNothingBehind) {
  TScratchDir dir;
  std::string path = dir.File("run0.TMP");
  TFileHandler h(path);
  h.set_temporary(true);
  h.Create();
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_TRUE(h.Exists());  // the registry still knows it
  h.WriteAt(0, "scratch", 7);
  char buf[7];
  h.ReadAt(0, buf, 7);
  EXPECT_EQ(std::string(buf, 7), "scratch");
  h.Close();
  EXPECT_FALSE(h.Exists());
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(FileHandlerTest, MemoryFilesExistOnlyOnceCreatedAndOutliveTheirHandlers) {
  TFileHandler h("Mem Table.DAT");
  h.set_in_memory(true);
  EXPECT_EQ(Caught([&] { h.Open(); }).code(), CAIRN_OSENOENT);
  h.Create();
  h.WriteAt(0, "abcdef", 6);
  h.Close();

  TFileHandler other("MEM TABLE.dat ");  // memory names ignore case
  other.set_in_memory(true);
  other.Open();
  char buf[6];
  EXPECT_EQ(other.ReadAt(0, buf, 6), 6);
  EXPECT_EQ(std::string(buf, 6), "abcdef");
  // A disk file of the same name is a different entry.
  TFileHandler disk("Mem Table.DAT");
  EXPECT_EQ(Caught([&] { disk.Open(); }).code(), CAIRN_OSENOENT);
  EXPECT_EQ(Caught([&] { other.Delete(); }).code(), CAIRN_OSEACCES);
  other.Close();
  other.Delete();
  EXPECT_FALSE(other.Exists());
}

TEST(FileHandlerTest, MemoryFilesGrowInPagesAndReadZerosAfterShrinking) {
  TFileHandler h("grow.DAT");
  h.set_in_memory(true);
  h.Create();
  auto* file = h.file();
  h.WriteAt(4095, "ab", 2);
  EXPECT_EQ(h.Size(), 4097);
  EXPECT_EQ(static_cast<TMemoryFile*>(file)->capacity(), 8192u);
  h.Truncate(10);
  EXPECT_EQ(h.Size(), 10);
  EXPECT_EQ(static_cast<TMemoryFile*>(file)->capacity(), 8192u);  // never shrinks while open
  h.WriteAt(5000, "z", 1);
  std::vector<char> gap(4990);
  h.ReadAt(10, gap.data(), int64_t(gap.size()));
  EXPECT_TRUE(std::all_of(gap.begin(), gap.end(), [](char c) { return c == 0; }));
  char buf[8];
  EXPECT_EQ(h.ReadAt(4998, buf, 8, true), 3);
  h.Close();
  h.Delete();
}

TEST(FileHandlerTest, TemporaryMemoryFileLosesItsContentsAtLastClose) {
  TFileHandler h("scratch.IDX");
  h.set_in_memory(true);
  h.set_temporary(true);
  h.Create();
  h.WriteAt(0, "abc", 3);
  h.Close();
  h.Open();
  EXPECT_EQ(h.Size(), 0);
  h.Close();
  h.Delete();
}

// The fault seam: an armed write call fails without touching the file, a full
// disk keeps the bytes that fit, files outside the scope are never affected.
TEST(FileHandlerTest, InjectedWriteFailuresAndFullDiskReachOnlyFilesInScope) {
  TScratchDir dir;
  TScratchDir other_dir;
  TFileFaults::TScope faults(dir.path());
  TFileHandler h(dir.File("a.DAT"));
  TFileHandler other(other_dir.File("b.DAT"));
  h.Create();
  other.Create();
  h.WriteAt(0, "abcd", 4);
  EXPECT_EQ(TFileFaults::Instance().write_calls(), 1);

  TFileFaults::Instance().FailWriteCall(2);
  h.WriteAt(0, "x", 1);
  other.WriteAt(0, "other", 5);  // out of scope: neither counted nor failed
  EXPECT_EQ(Caught([&] { h.WriteAt(1, "y", 1); }).code(), CAIRN_WRITEERR);
  h.WriteAt(1, "z", 1);  // only the armed call fails
  TFileFaults::Instance().FailWriteCall(1);
  EXPECT_EQ(Caught([&] { h.Flush(); }).code(), CAIRN_WRITEERR);
  TFileFaults::Instance().FailWriteCall(1);
  EXPECT_EQ(Caught([&] { h.Truncate(1); }).code(), CAIRN_WRITEERR);
  EXPECT_EQ(h.Size(), 4);
  EXPECT_EQ(TFileFaults::Instance().write_calls(), 6);

  TFileFaults::Instance().set_size_limit(6);
  h.WriteAt(0, "0123", 4);  // rewriting inside the file is no growth
  EXPECT_EQ(Caught([&] { h.WriteAt(4, "4567", 4); }).code(), CAIRN_WRITEERR);
  EXPECT_EQ(Caught([&] { h.Truncate(7); }).code(), CAIRN_WRITEERR);
  other.WriteAt(0, "0123456789", 10);
  h.Close();
  other.Close();
  EXPECT_EQ(ReadFile(dir.File("a.DAT")), "012345");
  EXPECT_EQ(ReadFile(other_dir.File("b.DAT")), "0123456789");
}

}  // namespace
}  // namespace cairn
