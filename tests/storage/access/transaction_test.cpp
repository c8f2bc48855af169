// Transactions of a database: all of a transaction or none of it, for this
// session and for a long-lived session in another process.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "storage/access/table_check.h"
#include "storage/base/engine_error.h"
#include "storage/files/file_faults.h"
#include "tables_test_support.h"

namespace cairn {
namespace {

using testing::Items;
using testing::PalDefinition;
using testing::PalRecord;
using testing::TScratchDir;

// transaction_worker, spoken to line by line through two pipes.
class TReader {
 public:
  explicit TReader(const std::string& dir) {
    int to_child[2], from_child[2];
    EXPECT_EQ(pipe(to_child), 0);
    EXPECT_EQ(pipe(from_child), 0);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(to_child[0], 0);
      dup2(from_child[1], 1);
      close(to_child[1]);
      close(from_child[0]);
      execl(TRANSACTION_WORKER, TRANSACTION_WORKER, dir.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(to_child[0]);
    close(from_child[1]);
    in_ = fdopen(to_child[1], "w");
    out_ = fdopen(from_child[0], "r");
    EXPECT_EQ(Line(), "ready");
  }
  ~TReader() {
    fclose(in_);
    fclose(out_);
    int status = 0;
    waitpid(pid_, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::string Ask(const std::string& command) {
    fprintf(in_, "%s\n", command.c_str());
    fflush(in_);
    return Line();
  }

 private:
  std::string Line() {
    char buffer[65536];
    if (fgets(buffer, sizeof buffer, out_) == nullptr) return "<eof>";
    std::string line(buffer);
    if (!line.empty() && line.back() == '\n') line.pop_back();
    return line;
  }
  pid_t pid_ = -1;
  FILE* in_ = nullptr;
  FILE* out_ = nullptr;
};

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Joined(const std::vector<std::string>& items) {
  std::string text = "items";
  for (const std::string& item : items) text += " " + item;
  return text;
}

class TransactionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TDataSession session;
    TDataDirectory& directory = session.OpenDirectory(dir_.path());
    directory.CreateTable("Pal", PalDefinition());
    TDataCursor cursor;
    cursor.Open(directory, "Pal");
    for (int n = 0; n < 40; ++n) Insert(cursor, "r" + std::to_string(100 + n));
    before_ = Items(cursor);
  }

  void Insert(TDataCursor& cursor, const std::string& item) {
    const std::string notes(size_t(300 + item.size() * 50), item.back());
    cursor.Append(PalRecord(cursor, item, "user" + item.substr(1, 1), 730120),
                  {{testing::FieldNumber(cursor, "Details"),
                    std::vector<uint8_t>(notes.begin(), notes.end())}});
  }

  // Inserts (enough to split pages), key and non-key updates and deletes.
  void Changes(TDataCursor& cursor) {
    for (int n = 0; n < 60; ++n) Insert(cursor, "t" + std::to_string(100 + n));
    std::vector<uint8_t> record;
    for (const char* item : {"r105", "r110", "r115"}) {
      ASSERT_EQ(cursor.FindKey(cursor.BuildKey(PalRecord(cursor, item, "", 730120)), false),
                CAIRN_NONE);
      cursor.GetCurrent(record);
      cursor.GetCurrent(record, true);
      cursor.Modify(PalRecord(cursor, std::string(item) + "x", "moved", 730120, "new"));
    }
    for (const char* item : {"r120", "r130"}) {
      ASSERT_EQ(cursor.FindKey(cursor.BuildKey(PalRecord(cursor, item, "", 730120)), false),
                CAIRN_NONE);
      cursor.GetCurrent(record);
      cursor.GetCurrent(record, true);
      cursor.Delete(record);
    }
  }

  std::map<std::string, std::string> Files() const {
    std::map<std::string, std::string> files;
    for (const char* ext : {".DAT", ".IDX", ".BLB"})
      files[ext] = Contents(dir_.path() + "/Pal" + ext);
    return files;
  }

  TScratchDir dir_;
  std::vector<std::string> before_;
};

TEST_F(TransactionTest, RollbackRestoresEveryByteAndAnotherProcessSeesOnlyTheCommit) {
  TReader reader(dir_.path());
  EXPECT_EQ(reader.Ask("items"), Joined(before_));
  const auto files = Files();

  TDataSession session;
  // One page per index cache: the transaction outgrows its caches and writes out.
  session.Settings().index_buffer_size = 4096;
  TDataDirectory& directory = session.OpenDirectory(dir_.path());
  TDataCursor cursor, other;
  cursor.Open(directory, "Pal");
  other.Open(directory, "Pal");
  std::vector<std::string> after;
  for (const bool commit : {false, true}) {
    SCOPED_TRACE(commit ? "commit" : "rollback");
    directory.StartTransaction();
    try {
      directory.StartTransaction();
      ADD_FAILURE() << "a nested transaction was accepted";
    } catch (const ECairnEngineError& error) {
      EXPECT_EQ(error.code(), CAIRN_ACTIVETRANSACTION);
      EXPECT_NE(std::string(error.what()).find("transactions do not nest"), std::string::npos);
    }
    Changes(cursor);
    // The session sees its own changes on every cursor; the other process
    // cannot read the table and so sees none of them.
    after = Items(other);
    EXPECT_EQ(after.size(), before_.size() + 60 - 2);
    EXPECT_EQ(Items(cursor), after);
    EXPECT_EQ(reader.Ask("items"), "error " + std::to_string(CAIRN_LOCKTIMEOUT));
    EXPECT_FALSE(Files() == files) << "the transaction never outgrew its caches";
    if (commit) {
      directory.Commit();
    } else {
      directory.Rollback();
      EXPECT_TRUE(Files() == files);
      EXPECT_EQ(Items(other), before_);
      EXPECT_EQ(reader.Ask("items"), Joined(before_));
    }
    EXPECT_FALSE(directory.InTransaction());
  }
  EXPECT_EQ(reader.Ask("items"), Joined(after));
  EXPECT_EQ(Items(cursor), after);
  EXPECT_TRUE(CheckTableFiles(cursor.Table()).ok());
  try {
    directory.Commit();
    ADD_FAILURE() << "a commit without a transaction was accepted";
  } catch (const ECairnEngineError& error) {
    EXPECT_EQ(error.code(), CAIRN_NOACTIVETRANSACTION);
  }
}

TEST_F(TransactionTest, FailuresAndClosesRollTheWholeTransactionBack) {
  const auto files = Files();
  TDataSession session;
  TDataDirectory& directory = session.OpenDirectory(dir_.path());
  {
    // A failed change: the changes before it go too.
    TDataCursor cursor;
    cursor.Open(directory, "Pal");
    directory.StartTransaction();
    Insert(cursor, "a1");
    EXPECT_THROW(Insert(cursor, "r101"), ECairnEngineError);
    EXPECT_FALSE(directory.InTransaction());
    EXPECT_EQ(Items(cursor), before_);
    EXPECT_TRUE(Files() == files);
    // Closing the only cursor closes the table.
    directory.StartTransaction();
    Insert(cursor, "a2");
  }
  EXPECT_FALSE(directory.InTransaction());
  EXPECT_TRUE(Files() == files);
  {
    // A full disk during the commit, then a write error at every write call
    // of the commit in turn, until the commit has no write left to fail.
    TFileFaults::TScope faults(dir_.path());
    for (int attempt = 0;; ++attempt) {
      SCOPED_TRACE(attempt);
      ASSERT_LT(attempt, 1000);
      TDataCursor cursor;
      cursor.Open(directory, "Pal");
      directory.StartTransaction();
      Changes(cursor);
      TFileFaults& injected = TFileFaults::Instance();
      injected.Reset();
      injected.set_scope(dir_.path());
      if (attempt == 0)
        injected.set_size_limit(Contents(dir_.path() + "/Pal.DAT").size());
      else
        injected.FailWriteCall(attempt);
      try {
        directory.Commit();
      } catch (const ECairnEngineError& error) {
        injected.Reset();
        EXPECT_EQ(error.code(), CAIRN_WRITEERR);
        EXPECT_FALSE(directory.InTransaction());
        EXPECT_TRUE(Files() == files);
        EXPECT_EQ(Items(cursor), before_);
        continue;
      }
      injected.Reset();
      EXPECT_GT(attempt, 1) << "the commit did not fail";
      break;
    }
  }
  {
    TDataCursor cursor;
    cursor.Open(directory, "Pal");
    EXPECT_EQ(Items(cursor).size(), before_.size() + 60 - 2);
    EXPECT_TRUE(CheckTableFiles(cursor.Table()).ok());
  }
  {
    // Ending the session ends its transaction.
    TDataSession other;
    TDataDirectory& folder = other.OpenDirectory(dir_.path());
    TDataCursor cursor;
    cursor.Open(folder, "Pal");
    folder.StartTransaction();
    Insert(cursor, "a3");
    cursor.Close();
    EXPECT_FALSE(folder.InTransaction());
  }
  TDataCursor cursor;
  cursor.Open(directory, "Pal");
  for (const std::string& item : Items(cursor)) EXPECT_NE(item, "a3");
}

// Inside a transaction the index pages stay in memory up to four cache
// targets in all and reach the file once, at the commit; a transaction that
// outgrows that room writes out, and its caches stay within it.
TEST_F(TransactionTest, IndexPagesWaitForTheCommitWithinTheirRoom) {
  TDataSession session;
  session.Settings().index_buffer_size = 8 * 8192;  // 8 pages an index, 32 in a transaction
  TDataDirectory& directory = session.OpenDirectory(dir_.path());
  TDataCursor cursor;
  cursor.Open(directory, "Pal");
  TIndexFile& index = cursor.Table().Index();
  size_t most_cached = 0;
  auto insert = [&](int n) {
    Insert(cursor, "t" + std::to_string(1000 + n));
    size_t cached = 0;
    for (int i = 0; i < kIndexCount; ++i) cached += index.CachedPages(i);
    most_cached = std::max(most_cached, cached);
  };

  directory.StartTransaction();
  const uint64_t before = index.stats().page_writes;
  for (int n = 0; n < 200; ++n) insert(n);
  EXPECT_EQ(index.stats().page_writes, before) << "written before the commit";
  directory.Commit();
  const uint64_t written = index.stats().page_writes - before;
  EXPECT_GT(written, 0u);
  EXPECT_LE(written, uint64_t(index.NextPage(0) - 1)) << "a page written twice";

  // Past the room of its pages and of its keys waiting in memory (two index
  // buffers), a transaction writes out before its commit.
  directory.StartTransaction();
  const uint64_t before_big = index.stats().page_writes;
  for (int n = 200; n < 1700; ++n) insert(n);
  EXPECT_GT(index.stats().page_writes, before_big) << "the transaction never outgrew its room";
  directory.Commit();
  // Four targets in all, and the status index still within its own target
  // when the others filled them.
  EXPECT_LE(most_cached, 32u + 8u);
  EXPECT_EQ(Items(cursor).size(), before_.size() + 1700);
  EXPECT_TRUE(CheckTableFiles(cursor.Table()).ok());

  // Changed keys go into their trees at once (only new records' keys wait),
  // and their pages too stay in memory within the room until the commit.
  directory.StartTransaction();
  const uint64_t before_moves = index.stats().page_writes;
  std::vector<uint8_t> record;
  for (int n = 0; n < 5; ++n) {
    const std::string item = "t" + std::to_string(1000 + 320 * n);
    ASSERT_EQ(cursor.FindKey(cursor.BuildKey(PalRecord(cursor, item, "", 730120)), false),
              CAIRN_NONE);
    cursor.GetCurrent(record);
    cursor.GetCurrent(record, true);
    cursor.Modify(PalRecord(cursor, item + "m", "moved", 730120, "new"));
  }
  EXPECT_EQ(index.stats().page_writes, before_moves) << "written before the commit";
  directory.Commit();
  EXPECT_GT(index.stats().page_writes, before_moves);
  EXPECT_TRUE(CheckTableFiles(cursor.Table()).ok());
}

// Inside a transaction new keys wait outside their trees and go in sorted.
// Every reader sees them at once, a key already in the tree or still
// waiting is refused, and the commit leaves a sound table that another
// process reads whole.
TEST_F(TransactionTest, KeysThatWaitForTheirTreesAreSeenCheckedAndKept) {
  TReader reader(dir_.path());
  TDataSession session;
  session.Settings().index_buffer_size = 8192;  // about 140 keys wait at most
  TDataDirectory& directory = session.OpenDirectory(dir_.path());
  TDataCursor cursor, other;
  cursor.Open(directory, "Pal");
  other.Open(directory, "Pal");
  TIndexFile& index = cursor.Table().Index();
  auto item = [](int n) { return "w" + std::to_string(1000 + (n * 7919) % 1000); };
  std::vector<std::string> expected = before_;

  directory.StartTransaction();
  for (int n = 0; n < 300; ++n) {
    Insert(cursor, item(n));
    expected.push_back(item(n));
    if (n != 150) continue;
    // The newest key waits, yet a search finds it and it can go again.
    ASSERT_TRUE(index.HasPending(0));
    ASSERT_EQ(cursor.FindKey(cursor.BuildKey(PalRecord(cursor, item(n), "", 730120)), false),
              CAIRN_NONE);
    std::vector<uint8_t> record;
    cursor.GetCurrent(record);
    cursor.GetCurrent(record, true);
    cursor.Delete(record);
    expected.pop_back();
    Insert(cursor, "w0");
    expected.push_back("w0");
    ASSERT_TRUE(index.HasPending(1));
    EXPECT_TRUE(CheckTableFiles(cursor.Table()).ok());
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Items(other), expected);
  directory.Commit();
  EXPECT_EQ(reader.Ask("items"), Joined(expected));
  EXPECT_TRUE(CheckTableFiles(cursor.Table()).ok());

  // A duplicate of a waiting key, then of a committed one, fails the
  // transaction and leaves the files as they were.
  const auto files = Files();
  for (const bool waiting : {true, false}) {
    SCOPED_TRACE(waiting ? "waiting" : "committed");
    directory.StartTransaction();
    for (int n = 0; n < 100; ++n) Insert(cursor, "x" + std::to_string(1000 + (n * 37) % 100));
    ASSERT_TRUE(index.HasPending(0));
    const std::string twin = waiting ? "x1063" : item(7);
    EXPECT_EQ(testing::CodeOf([&] { Insert(cursor, twin); }), CAIRN_KEYVIOL);
    EXPECT_FALSE(directory.InTransaction());
    EXPECT_TRUE(Files() == files);
    EXPECT_EQ(Items(other), expected);
  }
}

}  // namespace
}  // namespace cairn
