// The rollback journal against a writer that dies at every write in turn,
// and a playback that itself fails.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "storage/access/index_check.h"
#include "storage/access/table_check.h"
#include "storage/base/engine_error.h"
#include "storage/files/file_faults.h"
#include "tables_test_support.h"

namespace cairn {
namespace {

namespace fs = std::filesystem;
using testing::FieldText;
using testing::PalDefinition;
using testing::TScratchDir;

// item -> PW and memo
using TContents = std::map<std::string, std::pair<std::string, std::string>>;

struct TRun {
  int exit_code = 0;
  std::vector<std::string> done;        // posts that returned
  std::optional<std::string> in_flight;  // the post it died in
};

TRun Write(const std::string& dir, int64_t n, unsigned seed, int ops) {
  testing::TChild writer(CRASH_WRITER, {dir, std::to_string(n), std::to_string(seed),
                                        std::to_string(ops)});
  TRun run;
  for (const std::string& line : writer.ReadAll()) {
    if (line.rfind("begin ", 0) == 0) {
      run.in_flight = line.substr(6);
    } else if (line == "done" && run.in_flight) {
      run.done.push_back(*run.in_flight);
      run.in_flight.reset();
    }
  }
  run.exit_code = writer.Wait();
  return run;
}

void Apply(TContents& contents, const std::string& post) {
  std::istringstream in(post);
  std::string op, item, pw, memo;
  in >> op >> item >> pw >> memo;
  if (op == "D") {
    contents.erase(item);
  } else {
    contents[item] = {pw, memo};
  }
}

// Opens the table (which plays back a journal left behind), checks its files
// and returns what it holds.
TContents Open(const std::string& dir) {
  TDataSession session;
  TDataCursor cursor;
  cursor.Open(session.OpenDirectory(dir), "Pal");
  const uint16_t details = testing::FieldNumber(cursor, "Details");
  TContents contents;
  std::vector<uint8_t> record;
  cursor.SetToBegin();
  while (cursor.Next(record) == CAIRN_NONE) {
    const std::vector<uint8_t> memo = cursor.ReadBlob(record, details);
    contents[FieldText(cursor, record, "Item")] = {FieldText(cursor, record, "PW"),
                                                   std::string(memo.begin(), memo.end())};
  }
  EXPECT_EQ(cursor.RecordCount(), contents.size());
  const TTableCheckResult check = CheckTableFiles(cursor.Table());
  for (const auto& fault : check.faults) ADD_FAILURE() << fault;
  const TIndexCheckResult index_check = CheckIndexFile(cursor.Table().Index());
  for (const auto& fault : index_check.faults) ADD_FAILURE() << fault;
  return contents;
}

std::string Brief(const std::string& post) { return post.substr(0, 20); }

// Items with their PW and memo length, for messages.
std::string Brief(const TContents& contents) {
  std::string text;
  for (const auto& [item, value] : contents) {
    text += item + "=" + value.first + "/" + std::to_string(value.second.size()) + " ";
  }
  return text;
}

void CopyFiles(const std::string& from, const std::string& to) {
  for (const auto& entry : fs::directory_iterator(from)) {
    fs::copy_file(entry.path(), fs::path(to) / entry.path().filename(),
                  fs::copy_options::overwrite_existing);
  }
}

class JournalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    {
      TDataSession session;
      session.OpenDirectory(base_.path()).CreateTable("Pal", PalDefinition());
    }
    const TRun seed_run = Write(base_.path(), 0, 1, 5);
    ASSERT_EQ(seed_run.exit_code, 0);
    base_contents_ = Open(base_.path());
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
    const TContents found = Open(dir.path());
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
    const TContents found = Open(dir.path());
    EXPECT_FALSE(fs::exists(Journal(dir.path())));
    EXPECT_EQ(found, expected);
    if (::testing::Test::HasFailure()) return;
  }
  EXPECT_GT(failed, 0);
}

}  // namespace
}  // namespace cairn
