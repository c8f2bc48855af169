// The rollback journal against a writer that dies at every write in turn,
// and a playback that itself fails.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "crash_posts.h"
#include "crash_test_support.h"
#include "storage/base/engine_error.h"
#include "storage/files/file_faults.h"
#include "storage/files/journal.h"

namespace cairn {
namespace {

namespace fs = std::filesystem;
using testing::Apply;
using testing::Brief;
using testing::CopyFiles;
using testing::OpenContents;
using testing::PalDefinition;
using testing::TContents;
using testing::TRun;
using testing::TScratchDir;

TRun Write(const std::string& dir, int64_t n, unsigned seed, int ops) {
  testing::TChild writer(CRASH_WRITER, {dir, std::to_string(n), std::to_string(seed),
                                        std::to_string(ops)});
  return testing::ReadRun(writer);
}

std::string Brief(const std::string& post) { return post.substr(0, 20); }

class JournalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    {
      TDataSession session;
      session.OpenDirectory(base_.path()).CreateTable("Pal", PalDefinition());
    }
    const TRun seed_run = Write(base_.path(), 0, 1, 5);
    ASSERT_EQ(seed_run.exit_code, 0);
    base_contents_ = OpenContents(base_.path());
    ASSERT_FALSE(base_contents_.empty());
  }
  std::string Journal(const std::string& dir) const { return dir + "/Pal.JNL"; }

  TScratchDir base_;
  TContents base_contents_;
};

// The writer ends at its 1st, 2nd, ... write call to the table files. After
// each end the table opens, checks clean and holds every post that returned
// plus, whole or not at all, the one it died in.
TEST_F(JournalTest, WriterEndedAtEveryWriteLeavesEveryReturnedPostAndNoHalfPost) {
  constexpr int kOps = 6;
  int ended = 0, in_flight_kept = 0;
  for (int64_t n = 1; n < 2000; ++n) {
    SCOPED_TRACE("ended at write " + std::to_string(n));
    TScratchDir dir;
    CopyFiles(base_.path(), dir.path());
    const TRun run = Write(dir.path(), n, 7, kOps);
    TContents expected = base_contents_;
    for (const std::string& post : run.done) Apply(expected, post);
    const TContents found = OpenContents(dir.path());
    EXPECT_FALSE(fs::exists(Journal(dir.path())));
    if (run.exit_code == 0) {
      EXPECT_TRUE(found == expected) << "found    " << Brief(found) << "\nexpected "
                                     << Brief(expected);
      break;
    }
    ASSERT_EQ(run.exit_code, TFileFaults::kExitCode);
    ++ended;
    if (found == expected) continue;
    ASSERT_TRUE(run.in_flight.has_value()) << "lost a post that had returned";
    TContents with_post = expected;
    Apply(with_post, *run.in_flight);
    EXPECT_TRUE(found == with_post) << "neither before nor after " << Brief(*run.in_flight)
                                    << "\nfound    " << Brief(found) << "\nexpected "
                                    << Brief(expected);
    ++in_flight_kept;
    if (::testing::Test::HasFailure()) return;
  }
  EXPECT_GT(ended, kOps) << "every post makes several writes";
  RecordProperty("writes_ended_at", ended);
  RecordProperty("in_flight_posts_kept", in_flight_kept);
}

// A reader keeps the table open, read-only, while writers die in the middle
// of their posts. Its next read restores the table before reading: it never
// sees half a post, and finds every post that returned.
TEST_F(JournalTest, LongLivedReaderRestoresWhatADeadWriterLeftBeforeReading) {
  TDataSession session;
  TDataCursor cursor;
  cursor.Open(session.OpenDirectory(base_.path()), "Pal", {}, false, true);
  TContents known = testing::ReadContents(cursor);
  ASSERT_EQ(known, base_contents_);
  int left = 0;
  for (int round = 0; round < 24; ++round) {
    const int64_t n = 2 + (round * 5) % 37;
    SCOPED_TRACE("round " + std::to_string(round) + ", writer ended at write " +
                 std::to_string(n));
    const TRun run = Write(base_.path(), n, 100 + unsigned(round), 3);
    ASSERT_TRUE(run.exit_code == 0 || run.exit_code == TFileFaults::kExitCode);
    left += TJournal::LeftAt(Journal(base_.path()));
    // Both ways a reader catches up: a read lock per operation, or a refresh.
    session.Settings().strict_change_detection = round % 2 == 0;
    cursor.Refresh();
    const TContents found = testing::ReadContents(cursor);
    EXPECT_FALSE(fs::exists(Journal(base_.path())));
    testing::ExpectReturnedPosts(found, known, run);
    testing::ExpectClean(cursor.Table());
    if (::testing::Test::HasFailure()) return;
    known = found;
  }
  EXPECT_GT(left, 3) << "few writers died inside a post";
}

// A writer killed (SIGKILL) at random moments, posting one post at a time or
// transactions of three. After each kill the table opens, checks clean and
// holds every post and transaction that returned, and the one in flight
// whole or not at all. The moments come from a fixed seed.
TEST_F(JournalTest, WriterKilledAtRandomMomentsLeavesReturnedPostsAndWholeTransactions) {
  constexpr unsigned kSeed = 20261209;
  std::mt19937 random(kSeed);
  TContents known = base_contents_;
  int killed = 0, cut_short = 0, posts = 0;
  for (int round = 0; round < 16; ++round) {
    const int group = round % 2 == 0 ? 1 : 3;
    const unsigned delay_us = random() % 200000;
    SCOPED_TRACE("seed " + std::to_string(kSeed) + " round " + std::to_string(round) +
                 ", killed " + std::to_string(delay_us) + " us after the first post began");
    testing::TChild writer(CRASH_WRITER, {base_.path(), "0", std::to_string(200 + round), "100000",
                                          std::to_string(group)});
    const std::string first = writer.ReadLine();  // the table is open, posts begin
    ASSERT_FALSE(first.empty());
    std::this_thread::sleep_for(std::chrono::microseconds(delay_us));
    ::kill(writer.pid(), SIGKILL);
    const TRun run = testing::ReadRun(writer, first);
    killed += run.exit_code == 128 + SIGKILL;
    cut_short += TJournal::LeftAt(Journal(base_.path()));
    posts += int(run.done.size());
    const TContents found = OpenContents(base_.path());
    testing::ExpectReturnedPosts(found, known, run);
    if (::testing::Test::HasFailure()) return;
    known = found;
  }
  EXPECT_GT(killed, 12);
  RecordProperty("posts_returned", posts);
  RecordProperty("killed_inside_a_change", cut_short);
}

// A writer ends at each write call in turn while it commits transactions
// that change two tables alike: the two tables always end alike, with
// every transaction that returned and the one in flight in both or neither.
TEST(TwoTableTransactionTest, WriterEndedAtEveryWriteLeavesBothTablesOrNeither) {
  TScratchDir base;
  {
    TDataSession session;
    TDataDirectory& directory = session.OpenDirectory(base.path());
    directory.CreateTable("Pal", PalDefinition());
    directory.CreateTable("Twin", PalDefinition());
  }
  auto write = [](const std::string& dir, int64_t n, unsigned seed, int ops) {
    testing::TChild writer(CRASH_WRITER, {dir, std::to_string(n), std::to_string(seed),
                                          std::to_string(ops), "2", "Twin"});
    return testing::ReadRun(writer);
  };
  ASSERT_EQ(write(base.path(), 0, 1, 4).exit_code, 0);
  const TContents before = OpenContents(base.path());
  ASSERT_EQ(OpenContents(base.path(), "Twin"), before);
  // A super-journal nobody holds and no journal names: a crash's leftover,
  // which the next commit of several tables sweeps away.
  { std::ofstream(base.path() + "/0BADF00D.SJN") << "CairnSJn"; }
  int ended = 0;
  for (int64_t n = 1; n < 2000; ++n) {
    SCOPED_TRACE("ended at write " + std::to_string(n));
    TScratchDir dir;
    CopyFiles(base.path(), dir.path());
    const TRun run = write(dir.path(), n, 7, 4);
    const TContents found = OpenContents(dir.path());
    EXPECT_EQ(OpenContents(dir.path(), "Twin"), found) << "the tables part ways";
    testing::ExpectReturnedPosts(found, before, run);
    for (const auto& entry : fs::directory_iterator(dir.path())) {
      EXPECT_NE(entry.path().extension(), ".JNL") << entry.path();
      if (!run.done.empty()) EXPECT_NE(entry.path().extension(), ".SJN") << entry.path();
    }
    if (::testing::Test::HasFailure()) return;
    if (run.exit_code == 0) break;
    ASSERT_EQ(run.exit_code, TFileFaults::kExitCode);
    ++ended;
  }
  EXPECT_GT(ended, 10);
}

// A writer keeps its journal file between posts, holding no change: a copy of
// the folder then (a writer killed between posts) opens as it was. Another
// process's post and close tidy the file away meanwhile; the writer's next
// post must journal under the journal's name, not into the file it still
// has open, so that dying in that post leaves a journal that undoes it.
TEST_F(JournalTest, KeptJournalIsNoJournalAndOneTidiedAwayIsOpenedAgain) {
  int to_writer[2], from_writer[2];
  ASSERT_EQ(::pipe(to_writer), 0);
  ASSERT_EQ(::pipe(from_writer), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    TDataSession session;
    session.Settings().force_buffer_flush = true;
    TDataCursor cursor;
    cursor.Open(session.OpenDirectory(base_.path()), "Pal");
    testing::TPoster poster(cursor, 31);
    const std::string first = poster.Plan() + "\n";
    poster.Post();
    char go = 0;
    if (::write(from_writer[1], first.data(), first.size()) != ssize_t(first.size()) ||
        ::read(to_writer[0], &go, 1) != 1)
      ::_exit(2);
    TFileFaults::Instance().set_scope(base_.path());
    TFileFaults::Instance().ExitAtWriteCall(3);
    poster.Plan();
    poster.Post();
    ::_exit(0);
  }
  std::string first;
  for (char c = 0; ::read(from_writer[0], &c, 1) == 1 && c != '\n';) first += c;
  ASSERT_FALSE(first.empty());
  TContents expected = base_contents_;
  Apply(expected, first);
  ASSERT_TRUE(fs::exists(Journal(base_.path())));
  EXPECT_FALSE(TJournal::LeftAt(Journal(base_.path())));
  {
    TScratchDir killed_between_posts;
    CopyFiles(base_.path(), killed_between_posts.path());
    EXPECT_EQ(OpenContents(killed_between_posts.path()), expected);
    EXPECT_FALSE(fs::exists(Journal(killed_between_posts.path())));
  }

  const TRun other = Write(base_.path(), 0, 5, 2);
  ASSERT_EQ(other.exit_code, 0);
  for (const std::string& post : other.done) Apply(expected, post);
  EXPECT_FALSE(fs::exists(Journal(base_.path()))) << "closing tidies an unused journal away";

  ASSERT_EQ(::write(to_writer[1], "g", 1), 1);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), TFileFaults::kExitCode);
  EXPECT_TRUE(TJournal::LeftAt(Journal(base_.path()))) << "the post journaled elsewhere";
  EXPECT_TRUE(OpenContents(base_.path()) == expected) << "half a post";
  EXPECT_FALSE(fs::exists(Journal(base_.path())));
  for (int fd : {to_writer[0], to_writer[1], from_writer[0], from_writer[1]}) ::close(fd);
}

// A journal whose playback fails (a write error at each of its writes in
// turn) stays in place, and the next open plays it back.
TEST_F(JournalTest, FailedPlaybackKeepsTheJournalForTheNextTry) {
  // A writer ended in the middle of a post, leaving a journal with entries.
  TScratchDir crashed;
  TRun run;
  for (int64_t n = 4; n < 200; ++n) {
    fs::remove_all(crashed.path());
    fs::create_directories(crashed.path());
    CopyFiles(base_.path(), crashed.path());
    run = Write(crashed.path(), n, 9, 3);
    if (run.exit_code == TFileFaults::kExitCode && fs::exists(Journal(crashed.path())) &&
        fs::file_size(Journal(crashed.path())) > 200) {
      break;
    }
  }
  ASSERT_TRUE(fs::exists(Journal(crashed.path())));
  TContents expected = base_contents_;
  for (const std::string& post : run.done) Apply(expected, post);

  int failed = 0;
  for (int64_t k = 1; k < 100; ++k) {
    SCOPED_TRACE("write error at playback write " + std::to_string(k));
    TScratchDir dir;
    CopyFiles(crashed.path(), dir.path());
    uint16_t code = 0;
    {
      TFileFaults::TScope faults(dir.path());
      TFileFaults::Instance().FailWriteCall(k);
      try {
        TDataSession session;
        TDataCursor cursor;
        cursor.Open(session.OpenDirectory(dir.path()), "Pal");
      } catch (const ECairnEngineError& error) {
        code = error.code();
      }
    }
    if (code == 0) break;
    ++failed;
    EXPECT_EQ(code, CAIRN_WRITEERR);
    EXPECT_TRUE(fs::exists(Journal(dir.path()))) << "the journal went with a failed playback";
    const TContents found = OpenContents(dir.path());
    EXPECT_FALSE(fs::exists(Journal(dir.path())));
    EXPECT_EQ(found, expected);
    if (::testing::Test::HasFailure()) return;
  }
  EXPECT_GT(failed, 0);

  // Files this process may not write cannot be restored: the table is
  // refused, even for reading, and the journal stays.
  TScratchDir dir;
  CopyFiles(crashed.path(), dir.path());
  for (const char* ext : {".DAT", ".IDX", ".BLB"})
    fs::permissions(dir.path() + "/Pal" + ext, fs::perms::owner_read | fs::perms::group_read);
  const uint16_t code = testing::CodeOf([&] {
    TDataSession session;
    TDataCursor cursor;
    cursor.Open(session.OpenDirectory(dir.path()), "Pal", {}, false, true);
  });
  EXPECT_EQ(code, CAIRN_OSEACCES);
  EXPECT_TRUE(fs::exists(Journal(dir.path())));
}

}  // namespace
}  // namespace cairn
