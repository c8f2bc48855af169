// A change that fails part way (a write error at any write call, a full
// disk) leaves the table files byte for byte as they were, and the session
// goes on working.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "storage/access/index_check.h"
#include "storage/access/index_tree.h"
#include "storage/access/table_check.h"
#include "storage/base/engine_error.h"
#include "storage/files/file_faults.h"
#include "tables_test_support.h"

namespace cairn {
namespace {

using testing::FieldText;
using testing::Items;
using testing::PalDefinition;
using testing::PalRecord;
using testing::TScratchDir;

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> Text(const std::string& text) { return {text.begin(), text.end()}; }

class ChangeFailureTest : public ::testing::Test {
 protected:
  struct TChange {
    const char* name;
    std::function<void(TDataCursor&)> run;
    std::vector<std::string> items_after;
  };

  void SetUp() override {
    directory_ = &session_.OpenDirectory(dir_.path());
    directory_->CreateTable("Pal", PalDefinition());
    cursor_.Open(*directory_, "Pal");
    details_ = testing::FieldNumber(cursor_, "Details");
    // Enough records for two levels of index pages, each with a blob value.
    for (int n = 10; n < 70; ++n) {
      const std::string item = "r" + std::to_string(n);
      cursor_.Append(PalRecord(cursor_, item, "u" + std::to_string(n % 7), 730120),
                     {{details_, Text(std::string(700, char('a' + n % 26)) + item)}});
      items_.push_back(item);
    }
  }

  std::vector<std::string> Files() {
    TDataTable& table = cursor_.Table();
    return {table.Data().file_name(), table.Index().file_name(), table.Blob()->file_name()};
  }
  std::vector<std::string> Snapshot() {
    std::vector<std::string> out;
    for (const std::string& file : Files()) out.push_back(Contents(file));
    return out;
  }
  void Position(const std::string& item) {
    ASSERT_EQ(cursor_.FindKey(cursor_.BuildKey(PalRecord(cursor_, item, "", 730120)), false),
              CAIRN_NONE);
  }

  // Runs `change` with `arm` setting up the faults (scoped to `scope`) until
  // it succeeds; every failed attempt must leave the files untouched and the
  // table as it was. Returns the number of failed attempts.
  int RunUntilDone(const TChange& change, const std::string& scope,
                   const std::function<void(int attempt)>& arm) {
    int failures = 0;
    for (int attempt = 1; attempt < 100; ++attempt) {
      SCOPED_TRACE(std::string(change.name) + ", attempt " + std::to_string(attempt));
      const std::vector<std::string> before = Snapshot();
      uint16_t code = 0;
      {
        TFileFaults::TScope faults(scope);
        arm(attempt);
        try {
          change.run(cursor_);
        } catch (const ECairnEngineError& error) {
          code = error.code();
        }
      }
      if (code == 0) {
        EXPECT_EQ(Items(cursor_), change.items_after);
        return failures;
      }
      ++failures;
      EXPECT_EQ(code, CAIRN_WRITEERR);
      const std::vector<std::string> after = Snapshot();
      for (size_t f = 0; f < before.size(); ++f)
        EXPECT_TRUE(after[f] == before[f]) << Files()[f] << " changed";
      EXPECT_EQ(Items(cursor_), items_);
      if (HasFailure()) return failures;
    }
    ADD_FAILURE() << change.name << " never succeeded";
    return failures;
  }

  void ExpectSound() {
    for (const auto& fault : CheckTableFiles(cursor_.Table()).faults) ADD_FAILURE() << fault;
    for (const auto& fault : CheckIndexFile(cursor_.Table().Index()).faults)
      ADD_FAILURE() << fault;
    // A session that never saw the failures reads the same table.
    TDataSession fresh;
    TDataCursor other;
    other.Open(fresh.OpenDirectory(dir_.path()), "Pal");
    EXPECT_EQ(Items(other), items_);
  }

  std::vector<TChange> Changes() {
    std::vector<std::string> inserted = items_;
    inserted.insert(inserted.begin() + 30, "r39x");
    std::vector<std::string> renamed = inserted;
    renamed.erase(renamed.begin() + 5);  // r15
    renamed.push_back("zz");
    std::vector<std::string> deleted = renamed;
    deleted.erase(deleted.begin() + 10);  // r21
    return {
        {"insert",
         [this](TDataCursor& c) {
           c.Append(PalRecord(c, "r39x", "new", 730120), {{details_, Text(std::string(3000, 'n'))}});
         },
         inserted},
        {"key-changing modify",
         [this](TDataCursor& c) {
           Position("r15");
           std::vector<uint8_t> record;
           ASSERT_EQ(c.GetCurrent(record, true), CAIRN_NONE);
           c.Modify(PalRecord(c, "zz", "moved", 730120), true, {{details_, Text("short")}});
         },
         renamed},
        {"delete",
         [this](TDataCursor& c) {
           Position("r21");
           std::vector<uint8_t> record;
           ASSERT_EQ(c.GetCurrent(record, true), CAIRN_NONE);
           c.Delete(record);
         },
         deleted},
    };
  }

  TScratchDir dir_;
  TDataSession session_;
  TDataDirectory* directory_ = nullptr;
  TDataCursor cursor_;
  uint16_t details_ = 0;
  std::vector<std::string> items_;
};

TEST_F(ChangeFailureTest, WriteErrorAtEveryWriteCallLeavesTheFilesAsTheyWere) {
  for (const TChange& change : Changes()) {
    const int failures = RunUntilDone(change, dir_.path(), [](int attempt) {
      TFileFaults::Instance().FailWriteCall(attempt);
    });
    EXPECT_GE(failures, 3) << change.name;  // records, index and blob were all written
    items_ = change.items_after;
    if (HasFailure()) return;
  }
  ExpectSound();
  Position("zz");
  std::vector<uint8_t> record;
  ASSERT_EQ(cursor_.GetCurrent(record), CAIRN_NONE);
  EXPECT_EQ(FieldText(cursor_, record, "User"), "moved");
  EXPECT_EQ(cursor_.ReadBlob(record, details_), Text("short"));
  Position("r39x");
  ASSERT_EQ(cursor_.GetCurrent(record), CAIRN_NONE);
  EXPECT_EQ(cursor_.ReadBlob(record, details_), Text(std::string(3000, 'n')));
}

TEST_F(ChangeFailureTest, FullDiskLeavesTheFilesAsTheyWere) {
  for (const TChange& change : Changes()) {
    // Each file in turn may not grow (the change may then still succeed
    // when it needs no room there); then the disk has room again.
    const std::vector<std::string> files = {Files()[0], Files()[2], Files()[1]};
    const int failures = RunUntilDone(change, dir_.path(), [&](int attempt) {
      if (attempt > int(files.size())) return;
      TFileFaults::Instance().set_scope(files[size_t(attempt - 1)]);
      TFileFaults::Instance().set_size_limit(Contents(files[size_t(attempt - 1)]).size());
    });
    // A new record needs a slot and blob blocks.
    if (change.name == std::string("insert")) EXPECT_GE(failures, 2);
    items_ = change.items_after;
    if (HasFailure()) return;
  }
  ExpectSound();
}

// An index entry for a slot past the table's last is damage to report, not a
// reason to append a blank record.
TEST_F(ChangeFailureTest, EntryForAMissingSlotIsReportedWithoutAppending) {
  TDataTable& table = cursor_.Table();
  const std::vector<uint8_t> key = cursor_.BuildKey(PalRecord(cursor_, "r99", "", 730120));
  table.WriteLock();
  TIndexTree(table.Index(), 0).Insert(key, int32_t(table.Data().NextRecordNumber()));
  table.Flush();
  table.WriteUnlock();
  const uint64_t size = Contents(Files()[0]).size();
  uint16_t code = 0;
  try {
    cursor_.FindKey(key, false);
  } catch (const ECairnEngineError& error) {
    code = error.code();
  }
  EXPECT_EQ(code, CAIRN_INDEXCORRUPT);
  EXPECT_EQ(table.Data().RecordCount(), 60u);
  table.Flush();
  EXPECT_EQ(Contents(Files()[0]).size(), size);
}

// A change's undo takes what it replaces from the bytes the session last
// read and wrote; another session's writes since then must not come back
// with a rollback. Before each failing attempt the other session changes
// the headers, pages and blocks this session holds copies of.
TEST_F(ChangeFailureTest, RollbackPutsBackWhatAnotherSessionWroteMeanwhile) {
  TDataSession other_session;
  TDataCursor other;
  other.Open(other_session.OpenDirectory(dir_.path()), "Pal");
  std::vector<uint8_t> record;
  int attempt = 1;
  for (; attempt < 100; ++attempt) {
    SCOPED_TRACE("attempt " + std::to_string(attempt));
    Position("r40");
    ASSERT_EQ(cursor_.GetCurrent(record, true), CAIRN_NONE);
    const std::string item = "o" + std::to_string(attempt);
    other.Append(PalRecord(other, item, "o", 730120), {{details_, Text(std::string(900, 'o'))}});
    items_.insert(std::upper_bound(items_.begin(), items_.end(), item), item);
    const std::vector<std::string> before = Snapshot();
    uint16_t code = 0;
    {
      TFileFaults::TScope faults(dir_.path());
      TFileFaults::Instance().FailWriteCall(attempt);
      try {
        cursor_.Delete(record);
      } catch (const ECairnEngineError& error) {
        code = error.code();
      }
    }
    if (code == 0) break;
    ASSERT_EQ(code, CAIRN_WRITEERR);
    const std::vector<std::string> after = Snapshot();
    for (size_t f = 0; f < before.size(); ++f)
      ASSERT_TRUE(after[f] == before[f]) << Files()[f] << " changed";
  }
  EXPECT_GE(attempt, 4);  // records, index, blob and journal were all written
  items_.erase(std::find(items_.begin(), items_.end(), "r40"));
  EXPECT_EQ(Items(other), items_);
  ExpectSound();
}

}  // namespace
}  // namespace cairn
