// Real processes sharing one table (tables_worker is the other side).
// Processes are sequenced through pipes, never by sleeping.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "storage/base/engine_error.h"
#include "storage/access/index_check.h"
#include "storage/access/table_check.h"
#include "child_process.h"
#include "tables_test_support.h"

namespace cairn {
namespace {

using testing::CodeOf;
using testing::FieldText;
using testing::PalDefinition;
using testing::PalRecord;
using testing::TScratchDir;

// The other process of these tests.
class TChild : public testing::TChild {
 public:
  explicit TChild(std::vector<std::string> args) : testing::TChild(TABLES_WORKER, std::move(args)) {}
};

TEST(TablesProcessTest, ConcurrentWorkersLoseNothingAndLeaveConsistentFiles) {
  TScratchDir dir;
  {
    TDataSession session;
    session.OpenDirectory(dir.path()).CreateTable("Pal", PalDefinition());
  }
  constexpr int kWorkers = 3;
  constexpr int kOperations = 80;
  std::vector<std::unique_ptr<TChild>> workers;
  for (int id = 1; id <= kWorkers; ++id)
    workers.push_back(std::make_unique<TChild>(std::vector<std::string>{
        "workload", dir.path(), std::to_string(id), std::to_string(kOperations)}));

  // What the workers reported done: item -> password.
  std::map<std::string, std::string> expected;
  size_t reported = 0;
  for (auto& worker : workers) {
    worker->CloseInput();
    for (const std::string& line : worker->ReadAll()) {
      std::istringstream in(line);
      std::string op, item, pw;
      in >> op >> item >> pw;
      if (op == "D")
        expected.erase(item);
      else
        expected[item] = pw;
      ++reported;
    }
    EXPECT_EQ(worker->Wait(), 0);
  }
  EXPECT_EQ(reported, size_t(kWorkers * kOperations));

  TDataSession session;
  TDataCursor cursor;
  cursor.Open(session.OpenDirectory(dir.path()), "Pal");
  const uint16_t details = testing::FieldNumber(cursor, "Details");
  std::map<std::string, std::string> found;
  std::vector<uint8_t> record;
  cursor.SetToBegin();
  while (cursor.Next(record) == CAIRN_NONE) {
    const std::string item = FieldText(cursor, record, "Item");
    found[item] = FieldText(cursor, record, "PW");
    const std::vector<uint8_t> text = cursor.ReadBlob(record, details);
    EXPECT_EQ(std::string(text.begin(), text.end()), "details of " + item);
  }
  EXPECT_EQ(found, expected);
  EXPECT_EQ(cursor.RecordCount(), expected.size());

  const TTableCheckResult check = CheckTableFiles(cursor.Table());
  for (const auto& fault : check.faults) ADD_FAILURE() << fault;
  const TIndexCheckResult index_check = CheckIndexFile(cursor.Table().Index());
  for (const auto& fault : index_check.faults) ADD_FAILURE() << fault;
}

TEST(TablesProcessTest, RecordHeldByAnotherProcessIsRetriedThenRefused) {
  TScratchDir dir;
  TDataSession session;
  session.Settings().lock_retry_count = 4;
  session.Settings().lock_wait_time = 2;
  TDataDirectory& directory = session.OpenDirectory(dir.path());
  directory.CreateTable("Pal", PalDefinition());
  TDataCursor cursor;
  cursor.Open(directory, "Pal");
  cursor.Append(PalRecord(cursor, "held", "u", 730120));

  TChild holder({"hold", dir.path(), "held"});
  ASSERT_EQ(holder.ReadLine(), "locked");
  std::vector<uint8_t> record;
  ASSERT_EQ(cursor.GetCurrent(record), CAIRN_NONE);
  const uint64_t refusals_before = cursor.Table().RecordLockRefusals();
  try {
    cursor.GetCurrent(record, true);
    ADD_FAILURE() << "the lock was granted";
  } catch (const ECairnEngineError& error) {
    EXPECT_EQ(error.code(), CAIRN_RECLOCKFAILED);
  }
  // The first attempt and four retries were all refused; nothing is held.
  EXPECT_EQ(cursor.Table().RecordLockRefusals() - refusals_before, 5u);
  EXPECT_EQ(cursor.LockedSlot(), 0u);
  // The holder cannot edit through a lock we do not have either way: once it
  // lets go, the record is ours.
  holder.WriteLine("go");
  ASSERT_EQ(holder.ReadLine(), "released");
  EXPECT_EQ(cursor.GetCurrent(record, true), CAIRN_NONE);
  cursor.Modify(PalRecord(cursor, "held", "mine", 730120));
  holder.CloseInput();
  EXPECT_EQ(holder.Wait(), 0);
}

// A record lock waits for its holder without keeping anyone off the table:
// between its tries it holds no table lock, so other processes (with table
// locks that give up at the first refusal) read and write meanwhile, and
// when the lock comes it is checked against what changed in the wait.
// The waiting process (B) tells each wait and waits for our word to retry.
// Pessimistic B waits when the edit starts, under the read lock a strict
// operation holds; optimistic B waits when it posts, before the write lock.
TEST(TablesProcessTest, RecordLockRetriesLeaveTheTableToOthersWhileTheyWait) {
  for (const char* mode : {"pessimistic", "strict", "optimistic"}) {
    SCOPED_TRACE(mode);
    TScratchDir dir;
    {
      TDataSession session;
      TDataDirectory& directory = session.OpenDirectory(dir.path());
      directory.CreateTable("Pal", PalDefinition());
      TDataCursor cursor;
      cursor.Open(directory, "Pal");
      for (const char* item : {"held", "other"}) cursor.Append(PalRecord(cursor, item, "u", 730120));
    }
    std::vector<std::string> b_args{"session", dir.path(), "retries=2", "stepped"};
    if (mode != std::string("pessimistic")) b_args.push_back(mode);
    TChild a({"session", dir.path(), "table-attempts=1"});
    TChild b(b_args);
    TChild c({"session", dir.path(), "table-attempts=1"});
    ASSERT_EQ(a.Ask("items"), "items held other");
    ASSERT_EQ(a.Ask("hold held"), "ok");

    // B runs out of retries; C writes in each of its waits.
    ASSERT_EQ(b.Ask("pw held b1"), "waiting 1");
    EXPECT_EQ(c.Ask("pw other c1"), "ok");
    ASSERT_EQ(b.Ask("go"), "waiting 2");
    EXPECT_EQ(c.Ask("append fresh"), "ok");
    EXPECT_EQ(b.Ask("go"), "error " + std::to_string(CAIRN_RECLOCKFAILED));
    EXPECT_EQ(b.Ask("locks"), "locks slot 0 read 0 write 0");

    // While B waits again, C writes and A changes the held record and lets
    // it go: B's next try gets the lock and finds the record changed.
    ASSERT_EQ(b.Ask("pw held b2"), "waiting 1");
    EXPECT_EQ(c.Ask("pw other c2"), "ok");
    EXPECT_EQ(a.Ask("post held a1"), "ok");
    EXPECT_EQ(b.Ask("go"), "error " + std::to_string(CAIRN_KEYORRECDELETED));
    EXPECT_EQ(b.Ask("locks"), "locks slot 0 read 0 write 0");
    EXPECT_EQ(b.Ask("items"), "items fresh held other");
    EXPECT_EQ(b.Ask("pw held b3"), "ok");

    for (TChild* child : {&a, &b, &c}) {
      child->CloseInput();
      EXPECT_EQ(child->Wait(), 0);
    }
    TDataSession session;
    TDataCursor cursor;
    cursor.Open(session.OpenDirectory(dir.path()), "Pal");
    std::map<std::string, std::string> found;
    std::vector<uint8_t> record;
    cursor.SetToBegin();
    while (cursor.Next(record) == CAIRN_NONE)
      found[FieldText(cursor, record, "Item")] = FieldText(cursor, record, "PW");
    EXPECT_EQ(found, (std::map<std::string, std::string>{
                         {"fresh", "pw"}, {"held", "b3"}, {"other", "c2"}}));
    for (const auto& fault : CheckTableFiles(cursor.Table()).faults) ADD_FAILURE() << fault;
    for (const auto& fault : CheckIndexFile(cursor.Table().Index()).faults) ADD_FAILURE() << fault;
  }
}

// An append learns its slot under the write lock. When another process
// still holds the lock of that freed slot, the append is rolled back and
// waits for it with no table lock held: it either runs out of retries and
// leaves the table as it was, or gets the slot once the holder lets go.
TEST(TablesProcessTest, AppendIntoASlotHeldElsewhereWaitsForItWithoutTheWriteLock) {
  TScratchDir dir;
  TDataSession session;
  session.Settings().lock_retry_count = 2;
  TDataDirectory& directory = session.OpenDirectory(dir.path());
  directory.CreateTable("Pal", PalDefinition());
  TDataCursor cursor;
  cursor.Open(directory, "Pal");
  for (const char* item : {"a", "b", "c"}) cursor.Append(PalRecord(cursor, item, "u", 730120));
  ASSERT_EQ(cursor.FindKey(cursor.BuildKey(PalRecord(cursor, "b", "", 730120)), false), CAIRN_NONE);
  std::vector<uint8_t> record;
  ASSERT_EQ(cursor.GetCurrent(record), CAIRN_NONE);
  cursor.Delete(record);  // slot 2 is the next one to be reused

  TChild holder({"lock-slot", dir.path(), "2"});
  ASSERT_EQ(holder.ReadLine(), "locked");
  // While we wait, another process can write: the write lock went with the
  // rolled-back try.
  TDataSession other_session;
  other_session.Settings().table_lock_attempts = 1;
  TDataTable& other = other_session.OpenDirectory(dir.path()).OpenTable("Pal", false, false);
  std::vector<unsigned> waits;
  bool release = false;
  session.SetRecordLockWait([&](unsigned refusals) {
    waits.push_back(refusals);
    EXPECT_EQ(CodeOf([&] {
                other.WriteLock();
                other.WriteUnlock();
              }),
              0);
    if (release && refusals == 2) {
      holder.WriteLine("go");
      EXPECT_EQ(holder.ReadLine(), "released");
    }
  });
  EXPECT_EQ(CodeOf([&] { cursor.Append(PalRecord(cursor, "d", "u", 730120)); }),
            CAIRN_RECLOCKFAILED);
  EXPECT_EQ(waits, (std::vector<unsigned>{1, 2}));
  EXPECT_EQ(testing::Items(cursor), (std::vector<std::string>{"a", "c"}));

  waits.clear();
  release = true;
  cursor.Append(PalRecord(cursor, "d", "u", 730120));
  EXPECT_EQ(waits, (std::vector<unsigned>{1, 2}));
  EXPECT_EQ(testing::Items(cursor), (std::vector<std::string>{"a", "c", "d"}));
  EXPECT_EQ(cursor.Table().Data().RecordCount(), 3u);  // in the freed slot
  holder.CloseInput();
  EXPECT_EQ(holder.Wait(), 0);
  for (const auto& fault : CheckTableFiles(cursor.Table()).faults) ADD_FAILURE() << fault;
}

// Table locks between processes, with short retries so that a refusal
// comes quickly: another process's writer keeps out our reader and writer
// (10249), and a write lock refused halfway gives back what it had taken.
TEST(TablesProcessTest, TableLocksOfAnotherProcessGiveLockTimeoutAndLeaveNothingHeld) {
  TScratchDir dir;
  TDataSession session;
  session.Settings().table_lock_attempts = 2;
  session.Settings().table_lock_wait_time = 0;
  TDataDirectory& directory = session.OpenDirectory(dir.path());
  directory.CreateTable("Pal", PalDefinition());
  TDataTable& table = directory.OpenTable("Pal", false, false);
  // A second table object of the same files, to probe which bytes are free.
  TDataSession probe_session;
  TDataTable& probe = probe_session.OpenDirectory(dir.path()).OpenTable("Pal", false, false);
  const TLockRetry once{1, std::chrono::milliseconds(0)};
  auto lock_code = [](const std::function<void()>& work) -> uint16_t {
    try {
      work();
    } catch (const ECairnEngineError& error) {
      return error.code();
    }
    return 0;
  };
  {
    TChild writer({"lock", dir.path(), "write"});
    ASSERT_EQ(writer.ReadLine(), "locked");
    EXPECT_EQ(lock_code([&] { table.ReadLock(); }), CAIRN_LOCKTIMEOUT);
    EXPECT_FALSE(table.ReadLockHeld());
    EXPECT_EQ(lock_code([&] { table.WriteLock(); }), CAIRN_LOCKTIMEOUT);
    EXPECT_FALSE(table.WriteLockHeld());
    writer.CloseInput();
    EXPECT_EQ(writer.Wait(), 0);
  }
  // The other process reads: our write lock gets the data file's byte, is
  // refused the index file's area and must let the data byte go again.
  for (const char* kind : {"read", "blob-read"}) {
    TChild reader({"lock", dir.path(), kind});
    ASSERT_EQ(reader.ReadLine(), "locked");
    EXPECT_EQ(lock_code([&] { table.WriteLock(); }), CAIRN_LOCKTIMEOUT) << kind;
    EXPECT_FALSE(table.WriteLockHeld());
    EXPECT_TRUE(probe.Data().LockTableWrite(once)) << kind << ": the data byte was kept";
    probe.Data().UnlockTableWrite();
    if (std::string(kind) == "blob-read") {
      EXPECT_TRUE(probe.Index().LockAreaWrite(once)) << "the index area was kept";
      probe.Index().UnlockAreaWrite();
    }
    // Readers share: our read lock is granted beside theirs.
    EXPECT_NO_THROW(table.ReadLock());
    table.ReadUnlock();
    reader.CloseInput();
    EXPECT_EQ(reader.Wait(), 0);
  }
  table.WriteLock();
  EXPECT_TRUE(table.WriteLockHeld());
  table.WriteUnlock();
}

TEST(TablesProcessTest, AppendByAnotherProcessAppearsInItsKeyPosition) {
  TScratchDir dir;
  TDataSession session;
  TDataDirectory& directory = session.OpenDirectory(dir.path());
  directory.CreateTable("Pal", PalDefinition());
  TDataCursor cursor;
  cursor.Open(directory, "Pal");
  for (const char* item : {"a", "c", "e"}) cursor.Append(PalRecord(cursor, item, "u", 730120));
  std::vector<uint8_t> record;
  ASSERT_EQ(cursor.SetToRecordNumber(1), CAIRN_NONE);

  // Strict mode: the very next navigation sees it.
  session.Settings().strict_change_detection = true;
  ASSERT_EQ(TChild({"append", dir.path(), "b"}).Wait(), 0);
  ASSERT_EQ(cursor.Next(record), CAIRN_NONE);
  EXPECT_EQ(FieldText(cursor, record, "Item"), "b");
  EXPECT_EQ(cursor.RecordNumber(), 2u);
  EXPECT_EQ(cursor.RecordCount(), 4u);

  // Normal mode: a refresh (or any disk read or lock) brings it in.
  session.Settings().strict_change_detection = false;
  ASSERT_EQ(TChild({"append", dir.path(), "d"}).Wait(), 0);
  cursor.Refresh();
  ASSERT_EQ(cursor.Next(record), CAIRN_NONE);
  EXPECT_EQ(FieldText(cursor, record, "Item"), "c");
  ASSERT_EQ(cursor.Next(record), CAIRN_NONE);
  EXPECT_EQ(FieldText(cursor, record, "Item"), "d");
  EXPECT_EQ(cursor.RecordNumber(), 4u);
  EXPECT_EQ(cursor.RecordCount(), 5u);
}

// Changes made by another process's long-lived session, by another session
// and by another cursor of this session all reach a session that keeps its
// caches warm: none is lost by the next write, and an edit of a record
// changed since it was shown is refused.
TEST(TablesProcessTest, ChangesElsewhereAreSeenBeforeTheNextWriteAndRefuseStaleEdits) {
  TScratchDir dir;
  TDataSession session;
  TDataDirectory& directory = session.OpenDirectory(dir.path());
  directory.CreateTable("Pal", PalDefinition());
  TDataCursor cursor;
  cursor.Open(directory, "Pal");
  for (const char* item : {"a", "b", "c", "d"}) cursor.Append(PalRecord(cursor, item, "u", 730120));
  TChild other({"session", dir.path()});
  auto ask = [&](const std::string& command) {
    other.WriteLine(command);
    return other.ReadLine();
  };
  ASSERT_EQ(ask("items"), "items a b c d");

  // A key change inside one leaf allocates no page; the other process's next
  // append must still not write its stale copy of that leaf back.
  ASSERT_EQ(testing::Items(cursor), (std::vector<std::string>{"a", "b", "c", "d"}));
  ASSERT_EQ(ask("rename b bb"), "ok");
  cursor.Append(PalRecord(cursor, "e", "u", 730120));
  EXPECT_EQ(testing::Items(cursor), (std::vector<std::string>{"a", "bb", "c", "d", "e"}));
  EXPECT_EQ(ask("rename c a0"), "ok");
  EXPECT_EQ(ask("items"), "items a a0 bb d e");

  // The program's settings (pessimistic, normal detection): the record shown
  // was changed by the other process, so taking it for an edit fails with
  // 8708 and leaves no lock; shown afresh, the edit goes ahead.
  std::vector<uint8_t> shown;
  ASSERT_EQ(cursor.FindKey(cursor.BuildKey(PalRecord(cursor, "d", "", 730120)), false), CAIRN_NONE);
  ASSERT_EQ(cursor.GetCurrent(shown), CAIRN_NONE);
  ASSERT_EQ(ask("pw d theirs"), "ok");
  try {
    cursor.GetCurrent(shown, true);
    ADD_FAILURE() << "a stale record was taken for an edit";
  } catch (const ECairnEngineError& error) {
    EXPECT_EQ(error.code(), CAIRN_KEYORRECDELETED);
  }
  EXPECT_EQ(cursor.LockedSlot(), 0u);
  ASSERT_EQ(cursor.GetCurrent(shown), CAIRN_NONE);
  EXPECT_EQ(FieldText(cursor, shown, "PW"), "theirs");
  ASSERT_EQ(cursor.GetCurrent(shown, true), CAIRN_NONE);
  cursor.Modify(PalRecord(cursor, "d", "u", 730120, "mine"));
  EXPECT_EQ(ask("pw d later"), "ok");

  // Another session of this process and another cursor of this session.
  TDataSession second_session;
  TDataCursor second;
  second.Open(second_session.OpenDirectory(dir.path()), "Pal");
  TDataCursor sibling;
  sibling.Open(directory, "Pal");
  ASSERT_EQ(testing::Items(second).size(), 5u);
  ASSERT_EQ(sibling.SetToRecordNumber(2), CAIRN_NONE);
  ASSERT_EQ(cursor.FindKey(cursor.BuildKey(PalRecord(cursor, "a0", "", 730120)), false),
            CAIRN_NONE);
  ASSERT_EQ(cursor.GetCurrent(shown), CAIRN_NONE);
  ASSERT_EQ(cursor.GetCurrent(shown, true), CAIRN_NONE);
  cursor.Modify(PalRecord(cursor, "c", "u", 730120));
  std::vector<uint8_t> record;
  ASSERT_EQ(sibling.GetCurrent(record), CAIRN_NONE);  // a0 went: its successor
  EXPECT_EQ(FieldText(cursor, record, "Item"), "bb");
  second.Append(PalRecord(second, "f", "u", 730120));
  EXPECT_EQ(testing::Items(second), (std::vector<std::string>{"a", "bb", "c", "d", "e", "f"}));
  EXPECT_EQ(testing::Items(sibling), testing::Items(second));
  EXPECT_EQ(ask("items"), "items a bb c d e f");
  ASSERT_EQ(cursor.FindKey(cursor.BuildKey(PalRecord(cursor, "d", "", 730120)), false), CAIRN_NONE);
  ASSERT_EQ(cursor.GetCurrent(record), CAIRN_NONE);
  EXPECT_EQ(FieldText(cursor, record, "PW"), "later");

  other.CloseInput();
  EXPECT_EQ(other.Wait(), 0);
  for (const auto& fault : CheckTableFiles(cursor.Table()).faults) ADD_FAILURE() << fault;
  for (const auto& fault : CheckIndexFile(cursor.Table().Index()).faults) ADD_FAILURE() << fault;
}

}  // namespace
}  // namespace cairn
