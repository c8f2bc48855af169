// The dataset components: automatic session names, a live query that is
// browsed, edited, inserted into and deleted from, a copied query that
// refuses changes, result tables of a killed process removed at the next
// session start, the pessimistic edit lock against another process, and the
// password request.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "storage/access/dataset_blob_stream.h"
#include "storage/access/dataset_database.h"
#include "storage/access/dataset_query.h"
#include "storage/access/dataset_session.h"
#include "storage/access/query_statement.h"
#include "storage/base/engine_error.h"
#include "tables_test_support.h"

namespace cairn {
namespace {

namespace fs = std::filesystem;
using testing::PalRecord;
using testing::CodeOf;

template <typename F>
std::string ComponentMessage(F action) {
  try {
    action();
  } catch (const ECairnComponentError& e) {
    return e.what();
  }
  return "no error";
}

// tables_worker in its line-command mode ("session DIR").
class TWorker {
 public:
  explicit TWorker(std::vector<std::string> args) {
    int in[2], out[2];
    EXPECT_EQ(pipe(in), 0);
    EXPECT_EQ(pipe(out), 0);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      close(in[0]), close(in[1]), close(out[0]), close(out[1]);
      static std::string program = TABLES_WORKER;
      std::vector<char*> argv{program.data()};
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    to_ = fdopen(in[1], "w");
    from_ = fdopen(out[0], "r");
  }
  ~TWorker() {
    std::fclose(to_);
    std::fclose(from_);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  std::string Ask(const std::string& line) {
    std::fputs((line + "\n").c_str(), to_);
    std::fflush(to_);
    return ReadLine();
  }
  std::string ReadLine() {
    char buffer[512];
    if (!std::fgets(buffer, sizeof buffer, from_)) return {};
    std::string text(buffer);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
  }

 private:
  pid_t pid_ = -1;
  FILE* to_ = nullptr;
  FILE* from_ = nullptr;
};

TEST(DatasetSessionTest, AutoSessionNamesInTheOrderTheFlagIsSet) {
  int form1 = 0, form2 = 0;
  TCairnSession session1(&form1, "Session");
  TCairnDatabase database1(&form1, "Database1");
  TCairnSession session2(&form2, "Session");
  TCairnQuery query2(&form2, "Pwd");
  session2.SetAutoSessionName(true);
  session1.SetAutoSessionName(true);
  EXPECT_EQ(session2.SessionName(), "Session_1");
  EXPECT_EQ(session1.SessionName(), "Session_2");
  // Components on the form take the name, also those placed later.
  EXPECT_EQ(database1.SessionName(), "Session_2");
  EXPECT_EQ(query2.SessionName, "Session_1");
  TCairnQuery later(&form1, "Later");
  EXPECT_EQ(later.SessionName, "Session_2");

  EXPECT_EQ(ComponentMessage([&] { TCairnSession again(&form1, "Session"); }),
            "This auto-session already exists.");
  int form3 = 0;
  TCairnSession plain(&form3, "Plain");
  TCairnSession other(&form3, "Other");
  EXPECT_EQ(ComponentMessage([&] { other.SetAutoSessionName(true); }),
            "The active auto-session can be the only active session.");
  EXPECT_EQ(ComponentMessage([&] { plain.SetSessionName("session_1"); }),
            "Session name session_1 already exists.");
  EXPECT_EQ(ComponentMessage([&] { plain.SetActive(true); }), "Session name is missing.");
  EXPECT_FALSE(plain.Active());
  // A released number is the next one handed out.
  session2.SetAutoSessionName(false);
  int form4 = 0;
  TCairnSession fresh(&form4, "Fresh");
  fresh.SetAutoSessionName(true);
  EXPECT_EQ(fresh.SessionName(), "Fresh_1");
}

class DatasetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    {
      TDataSession engine;
      TDataDirectory& dir = engine.OpenDirectory(data_.path());
      dir.CreateTable("Pal", testing::PalDefinition());
      TDataCursor cursor;
      cursor.Open(dir, "Pal");
      for (const char* item : {"d", "b", "a", "c"}) {
        cursor.Append(PalRecord(cursor, item, std::string("user-") + item, 730120));
      }
    }
    session_.SetPrivateDir(scratch_.path());
    session_.SetLockRetryCount(2);
    session_.SetLockWaitTime(5);
    session_.SetAutoSessionName(true);
    database_.SetDatabaseName("PalDB");
    database_.SetDirectory(data_.path());
    query_.DatabaseName = "PalDB";
    query_.SQL = {"SELECT * FROM Pal", "Order by Item, Date"};
    query_.RequestLive = true;
    query_.AfterScroll = [this](TCairnQuery&) { ++scrolls_; };
    query_.AddObserver([this](TDataEvent e) { events_.push_back(e); });
  }

  testing::TScratchDir data_, scratch_;
  int form_ = 0;
  TCairnSession session_{&form_, "Session"};
  TCairnDatabase database_{&form_, "Database1"};
  TCairnQuery query_{&form_, "Pwd"};
  int scrolls_ = 0;
  std::vector<TDataEvent> events_;
};

TEST_F(DatasetTest, LiveQueryBrowsesEditsInsertsAndDeletes) {
  query_.Open();
  ASSERT_TRUE(query_.IsLive());
  EXPECT_FALSE(query_.ReadOnly());
  EXPECT_TRUE(query_.CanModify());
  EXPECT_EQ(query_.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(query_.RecordCount(), 4u);
  EXPECT_EQ(query_.FieldAsText("Item"), "a");
  EXPECT_EQ(query_.FieldAsText("Date"), "01/01/2000");  // day 730120
  EXPECT_TRUE(query_.Bof());
  query_.Last();
  EXPECT_EQ(query_.FieldAsText("Item"), "d");
  EXPECT_EQ(query_.RecNo(), 4u);
  query_.Next();
  EXPECT_TRUE(query_.Eof());
  EXPECT_EQ(query_.FieldAsText("Item"), "d");
  EXPECT_EQ(query_.MoveBy(-2), -2);
  EXPECT_EQ(query_.FieldAsText("Item"), "b");
  EXPECT_EQ(query_.RecNo(), 2u);
  // Fetching by number leaves the dataset where it is.
  const auto third = query_.FetchRecord(3);
  ASSERT_TRUE(third.has_value());
  EXPECT_EQ(third->AsText("Item"), "c");
  EXPECT_FALSE(query_.FetchRecord(5).has_value());
  EXPECT_EQ(query_.RecNo(), 2u);
  EXPECT_GE(scrolls_, 4);

  const TBookmark at_b = query_.GetBookmark();
  query_.Edit();
  EXPECT_EQ(query_.State(), TDataSetState::dsEdit);
  query_.SetFieldAsText("PW", "secret");
  {
    auto memo = query_.CreateBlobStream("Details", TCairnQuery::TBlobStreamMode::bmWrite);
    const std::string text = "line one\r\nline two";
    memo->Write(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
  }
  EXPECT_EQ(ComponentMessage([&] { query_.SetFieldAsText("Date", "31/02/2020"); }),
            "'31/02/2020' is not a valid value for field 'Date'");
  query_.Post();
  EXPECT_EQ(query_.State(), TDataSetState::dsBrowse);
  query_.First();
  query_.GotoBookmark(at_b);
  EXPECT_EQ(query_.FieldAsText("PW"), "secret");
  EXPECT_EQ(query_.FieldAsMemo("Details"), "line one\r\nline two");

  query_.Insert();
  EXPECT_EQ(query_.RecNo(), 0u);
  query_.SetFieldAsText("Item", "bb");
  query_.SetFieldAsDate("Date", TCairnDate{2024, 2, 29});
  query_.Post();
  EXPECT_EQ(query_.RecordCount(), 5u);
  EXPECT_EQ(query_.FieldAsText("Item"), "bb");
  EXPECT_EQ(query_.RecNo(), 3u);
  EXPECT_EQ(query_.FieldAsDate("Date"), (TCairnDate{2024, 2, 29}));

  query_.Insert();
  query_.Cancel();
  EXPECT_EQ(query_.FieldAsText("Item"), "bb");
  query_.Delete();
  EXPECT_EQ(query_.RecordCount(), 4u);
  EXPECT_EQ(query_.FieldAsText("Item"), "c");
  EXPECT_NE(std::find(events_.begin(), events_.end(), TDataEvent::deDataSetChange), events_.end());

  // Another session sees the posted changes in the table itself.
  query_.Close();
  TDataSession engine;
  TDataCursor cursor;
  cursor.Open(engine.OpenDirectory(data_.path()), "Pal");
  EXPECT_EQ(testing::Items(cursor), (std::vector<std::string>{"a", "b", "c", "d"}));
}

TEST_F(DatasetTest, CopiedResultRefusesChangesAndReadsReadOnly) {
  query_.SQL = {"SELECT * FROM Pal", "ORDER BY Item DESC"};
  query_.Open();
  EXPECT_FALSE(query_.IsLive());
  EXPECT_TRUE(query_.ReadOnly());
  EXPECT_FALSE(query_.CanModify());
  EXPECT_EQ(query_.FieldAsText("Item"), "d");
  EXPECT_EQ(query_.FetchRecord(4)->AsText("Item"), "a");
  for (auto change : {&TCairnQuery::Edit, &TCairnQuery::Insert, &TCairnQuery::Delete}) {
    EXPECT_EQ(ComponentMessage([&] { (query_.*change)(); }), "Cannot modify a read-only dataset");
  }
  EXPECT_FALSE(fs::is_empty(scratch_.path()));
  query_.Close();
  EXPECT_TRUE(fs::is_empty(scratch_.path()));
  EXPECT_EQ(ComponentMessage([&] { query_.First(); }),
            "Cannot perform this operation on a closed dataset");
  // A bad statement opens nothing and leaves the query closed.
  query_.SQL = {"SELECT * FROM Pal ORDER BY Colour"};
  EXPECT_EQ(CodeOf([&] { query_.Open(); }), CAIRN_SQLPARSE);
  EXPECT_FALSE(query_.Active());
  EXPECT_TRUE(fs::is_empty(scratch_.path()));
  // Re-ordering back to an indexed order edits again.
  query_.SQL = {"SELECT * FROM Pal", "Order by Item"};
  query_.Open();
  EXPECT_TRUE(query_.IsLive());
  EXPECT_FALSE(query_.ReadOnly());
  EXPECT_TRUE(query_.CanModify());
}

// A child process that holds a copied result of Pal in `scratch` open; it
// writes one byte once the result is there and ends when `hold_fd` closes.
pid_t ChildWithOpenResult(const std::string& data, const std::string& scratch, int& hold_fd) {
  int ready[2], hold[2];
  if (pipe(ready) != 0 || pipe(hold) != 0) return -1;
  const pid_t child = fork();
  if (child == 0) {
    close(ready[0]);
    close(hold[1]);
    int rc = 0;
    try {
      TDataSession engine;
      engine.Settings().private_directory = scratch;
      TQueryStatement statement(engine, engine.OpenDirectory(data));
      statement.SetText("SELECT * FROM Pal ORDER BY Item DESC");
      statement.Execute(true);
      if (write(ready[1], "r", 1) != 1 || statement.IsLive()) rc = 1;
      char c;
      while (read(hold[0], &c, 1) > 0) {
      }
    } catch (...) {
      rc = 2;
    }
    _exit(rc);
  }
  close(ready[1]);
  close(hold[0]);
  char c = 0;
  if (read(ready[0], &c, 1) != 1) c = 0;
  close(ready[0]);
  hold_fd = hold[1];
  return c == 'r' ? child : -1;
}

TEST_F(DatasetTest, ResultTablesOfAKilledProcessGoWhenTheNextSessionStarts) {
  int killed_hold = -1, alive_hold = -1;
  const pid_t killed = ChildWithOpenResult(data_.path(), scratch_.path(), killed_hold);
  const pid_t alive = ChildWithOpenResult(data_.path(), scratch_.path(), alive_hold);
  ASSERT_GT(killed, 0);
  ASSERT_GT(alive, 0);
  const std::string killed_dat = scratch_.path() + "/_QR" + std::to_string(killed) + "_0.DAT";
  const std::string alive_dat = scratch_.path() + "/_QR" + std::to_string(alive) + "_0.DAT";
  ASSERT_TRUE(fs::exists(killed_dat));
  ASSERT_TRUE(fs::exists(alive_dat));
  kill(killed, SIGKILL);
  int status = 0;
  waitpid(killed, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  close(killed_hold);
  EXPECT_TRUE(fs::exists(killed_dat));  // nobody cleaned up after it

  session_.SetActive(true);
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(scratch_.path())) {
    left.push_back(entry.path().filename().string());
  }
  std::sort(left.begin(), left.end());
  const std::string alive_base = "_QR" + std::to_string(alive) + "_0";
  // The living owner's journal file may stay beside its open result.
  std::erase(left, alive_base + ".JNL");
  EXPECT_EQ(left, (std::vector<std::string>{alive_base + ".BLB", alive_base + ".DAT",
                                            alive_base + ".IDX"}));
  // The living owner still closes its result itself.
  close(alive_hold);
  waitpid(alive, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(fs::is_empty(scratch_.path()));
}

TEST_F(DatasetTest, EditLocksTheRecordAgainstAnotherProcessUntilInsertReleasesIt) {
  query_.Open();
  {
    TWorker holder({"hold", data_.path(), "b"});
    ASSERT_EQ(holder.ReadLine(), "locked");
    query_.Next();
    ASSERT_EQ(query_.FieldAsText("Item"), "b");
    const uint64_t refused_before = query_.Cursor()->Table().RecordLockRefusals();
    EXPECT_EQ(CodeOf([&] { query_.Edit(); }), CAIRN_RECLOCKFAILED);
    EXPECT_EQ(query_.State(), TDataSetState::dsBrowse);
    // The first attempt and both retries were refused.
    EXPECT_EQ(query_.Cursor()->Table().RecordLockRefusals() - refused_before, 3u);
    holder.Ask("release");
  }
  query_.Edit();
  EXPECT_NE(query_.Cursor()->LockedSlot(), 0u);
  // The other process's edit waits before each of its two retries (the test
  // lets it go on), then gives up.
  TWorker other({"session", data_.path(), "retries=2", "stepped"});
  EXPECT_EQ(other.Ask("pw b x"), "waiting 1");
  EXPECT_EQ(other.Ask("go"), "waiting 2");
  EXPECT_EQ(other.Ask("go"), "error 10258");
  query_.Insert();
  EXPECT_EQ(query_.Cursor()->LockedSlot(), 0u);
  EXPECT_EQ(other.Ask("pw b y"), "ok");
  query_.Cancel();
}

TEST(DatasetPasswordTest, OnPasswordSuppliesTheTablePassword) {
  testing::TScratchDir data;
  {
    TDataSession engine;
    engine.OpenDirectory(data.path()).CreateTable("Pal", testing::PalDefinition("Hush"));
  }
  int form = 0;
  TCairnSession session(&form, "Session");
  session.SetSessionName("Locked");
  TCairnQuery query(&form, "Pwd");
  query.SessionName = "Locked";
  query.DatabaseName = data.path();  // no database component: a temporary one
  query.SQL = {"SELECT * FROM Pal"};
  query.RequestLive = true;
  EXPECT_EQ(CodeOf([&] { query.Open(); }), CAIRN_NOTSUFFTABLERIGHTS);
  int asked = 0;
  session.OnPassword = [&](TCairnSession& s, bool& go_on) {
    ++asked;
    s.AddPassword("Hush");
    go_on = true;
  };
  query.Open();
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(query.IsEmpty());
  EXPECT_EQ(session.Passwords(), std::vector<std::string>{"Hush"});
}

}  // namespace
}  // namespace cairn
