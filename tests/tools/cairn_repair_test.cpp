// `cairn repair` and the advice of `cairn check`: damaged or missing index
// files and leaked blob blocks come back check-clean with every record, and
// a table the repair cannot read is left byte for byte as it was.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "storage/access/data_cursor.h"
#include "storage/access/data_directory.h"
#include "storage/access/data_session.h"
#include "storage/files/file_faults.h"
#include "tools/cairn/tables_commands.h"

namespace cairn::tool {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSchema = R"({
  "fields":[{"name":"Item","type":"string","size":40},{"name":"User","type":"string","size":40},
            {"name":"Notes","type":"memo"}],
  "indexes":[{"primary":true,"fields":["Item"]},
             {"name":"ByUser","fields":["User"],"compression":"full"}],
  "password":"Key"})";

using TCommandFn = int (*)(std::span<const std::string>, std::ostream&, std::ostream&);

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class CairnRepair : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "cairn-repair-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    table_ = (dir_ / "Pal").string();
    std::ofstream(dir_ / "schema.json") << kSchema;
    ASSERT_EQ(Run(RunCreate, {table_, "--schema", (dir_ / "schema.json").string()}), 0);
    // Enough records for several index levels, with deleted slots and long notes.
    std::string ops;
    for (int i = 0; i < 600; ++i)
      ops += R"({"op":"insert","row":{"Item":"item )" + std::to_string(i * 7919 % 600) +
             R"(","User":"user )" + std::to_string(i % 37) + R"(","Notes":")" +
             std::string(size_t(40 + i % 900), char('a' + i % 26)) + "\"}}\n";
    for (int at = 500; at > 0; at -= 50)
      ops += R"({"op":"delete","at":)" + std::to_string(at) + "}\n";
    std::istringstream in(ops);
    const std::vector<std::string> args{table_, "--password", "Key"};
    ASSERT_EQ(ApplyOperations(args, in, out_, err_), 0) << err_.str();
    by_key_ = Dump({});
    by_user_ = Dump({"--index", "ByUser"});
  }
  void TearDown() override { fs::remove_all(dir_); }

  int Run(TCommandFn fn, std::vector<std::string> args) {
    out_.str("");
    err_.str("");
    return fn(args, out_, err_);
  }
  std::string Dump(std::vector<std::string> extra) {
    std::vector<std::string> args{table_, "--password", "Key"};
    args.insert(args.end(), extra.begin(), extra.end());
    EXPECT_EQ(Run(RunDump, args), 0) << err_.str();
    return out_.str();
  }
  std::vector<std::string> TableFiles() const {
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(dir_))
      if (entry.path().extension() != ".json") files.push_back(entry.path().filename().string());
    std::sort(files.begin(), files.end());
    return files;
  }
  // A writer that ends at its `n`th write to the table's files in the middle
  // of an update with a long note, leaving the rollback journal.
  void CrashInAnUpdate(int64_t n) {
    const pid_t pid = fork();
    if (pid == 0) {
      TFileFaults::Instance().set_scope(dir_.string());
      TFileFaults::Instance().ExitAtWriteCall(n);
      std::istringstream in(R"({"op":"update","at":3,"row":{"User":"moved","Notes":")" +
                            std::string(3000, 'z') + "\"}}\n");
      std::ostringstream out, err;
      ApplyOperations(std::vector<std::string>{table_, "--password", "Key"}, in, out, err);
      std::_Exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), TFileFaults::kExitCode);
    ASSERT_TRUE(fs::exists(dir_ / "Pal.JNL"));
  }
  void Overwrite(const fs::path& path, uint64_t offset, std::string bytes) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(std::streamoff(offset));
    f.write(bytes.data(), std::streamsize(bytes.size()));
  }

  fs::path dir_;
  std::string table_;
  std::string by_key_, by_user_;
  std::ostringstream out_, err_;
};

TEST_F(CairnRepair, DamagedThenMissingIndexFileComesBackWithEveryRecord) {
  ASSERT_EQ(Run(RunTableCheck, {table_}), 0) << out_.str();
  const fs::path index = dir_ / "Pal.IDX";
  ASSERT_GT(fs::file_size(index), 4u * 4096);
  // Garbage over the trees' pages and a wrong active count in the header.
  Overwrite(index, 4096, std::string(3 * 4096, '\x5A'));
  Overwrite(index, 3974, std::string("\x01\x02\x00\x00", 4));
  const std::string damaged = ReadAll(index);

  EXPECT_EQ(Run(RunTableCheck, {table_}), 1);
  EXPECT_NE(err_.str().find("`cairn repair " + table_ + "` would help"), std::string::npos)
      << err_.str();

  // The table is encrypted: without its password nothing is touched.
  EXPECT_EQ(Run(RunRepair, {table_}), 1);
  EXPECT_NE(err_.str().find("left as it was: the table is encrypted"), std::string::npos)
      << err_.str();
  EXPECT_EQ(ReadAll(index), damaged);

  ASSERT_EQ(Run(RunRepair, {table_, "--password", "Key"}), 0) << out_.str() << err_.str();
  const std::string report = out_.str();
  EXPECT_NE(
      report.find("kept a copy of the old file: " + (dir_ / "Pal.before-repair.IDX").string()),
      std::string::npos)
      << report;
  EXPECT_NE(report.find("590 active records in primary index, index 'ByUser'"), std::string::npos)
      << report;
  EXPECT_NE(report.find("active record count 590 (was "), std::string::npos) << report;
  EXPECT_NE(report.find("Pal: ok (590 records"), std::string::npos) << report;
  EXPECT_EQ(ReadAll(dir_ / "Pal.before-repair.IDX"), damaged);
  EXPECT_EQ(Dump({}), by_key_);
  EXPECT_EQ(Dump({"--index", "ByUser"}), by_user_);

  // Without an index file the definitions are gone, the records are not.
  fs::remove(index);
  ASSERT_EQ(Run(RunRepair, {table_, "--password", "Key"}), 0) << out_.str() << err_.str();
  EXPECT_NE(out_.str().find("the index file is missing"), std::string::npos) << out_.str();
  EXPECT_NE(out_.str().find("Pal: ok (590 records"), std::string::npos) << out_.str();
  EXPECT_TRUE(fs::exists(dir_ / "Pal.before-repair-2.DAT"));
  auto lines = [](const std::string& text) {
    std::vector<std::string> v;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) v.push_back(line);
    std::sort(v.begin(), v.end());
    return v;
  };
  EXPECT_EQ(lines(Dump({})), lines(by_key_));
}

TEST_F(CairnRepair, LeakedBlobBlocksAreFreedAndReused) {
  const fs::path blob = dir_ / "Pal.BLB";
  {
    // What a writer killed between writing a value and its record leaves behind.
    TDataSession session;
    session.AddPassword("Key");
    TDataCursor cursor;
    cursor.Open(session.OpenDirectory(dir_.string()), "Pal");
    cursor.Table().WriteLock();
    for (int i = 0; i < 3; ++i)
      cursor.Table().Blob()->ReleaseBlock(cursor.Table().Blob()->AllocateBlock());
    cursor.Table().Flush();
    cursor.Table().WriteUnlock();
  }
  const auto size = fs::file_size(blob);
  EXPECT_EQ(Run(RunTableCheck, {table_}), 1);
  EXPECT_NE(out_.str().find("3 blob block(s) belong to no record"), std::string::npos)
      << out_.str();
  EXPECT_NE(err_.str().find("freed 3 blob block(s) that no record reached"), std::string::npos)
      << err_.str();

  ASSERT_EQ(Run(RunRepair, {table_, "--password", "Key"}), 0) << out_.str() << err_.str();
  EXPECT_NE(out_.str().find("freed 3 blob block(s)"), std::string::npos) << out_.str();
  EXPECT_NE(out_.str().find("Pal: ok (590 records"), std::string::npos) << out_.str();
  EXPECT_EQ(Dump({}), by_key_);
  // The freed blocks take the next value instead of the file growing.
  std::istringstream in(R"({"op":"insert","row":{"Item":"new","Notes":"a short note"}})");
  const std::vector<std::string> args{table_, "--password", "Key"};
  ASSERT_EQ(ApplyOperations(args, in, out_, err_), 0) << err_.str();
  EXPECT_EQ(fs::file_size(blob), size);
  EXPECT_EQ(Run(RunTableCheck, {table_}), 0) << out_.str();
}

// A change cut short is undone before the repair reads the records, and
// before the check reads the files; a journal that cannot be played back
// stops the repair and stays.
TEST_F(CairnRepair, JournalOfAChangeCutShortIsPlayedBackFirst) {
  CrashInAnUpdate(4);
  ASSERT_EQ(Run(RunRepair, {table_, "--password", "Key"}), 0) << err_.str();
  EXPECT_NE(out_.str().find("played back the rollback journal of a change cut short"),
            std::string::npos)
      << out_.str();
  EXPECT_FALSE(fs::exists(dir_ / "Pal.JNL"));
  EXPECT_EQ(Dump({}), by_key_);
  EXPECT_EQ(Dump({"--index", "ByUser"}), by_user_);

  CrashInAnUpdate(6);
  const std::vector<std::string> before = TableFiles();
  {
    TFileFaults::TScope faults(dir_.string());
    TFileFaults::Instance().FailWriteCall(1);
    EXPECT_EQ(Run(RunRepair, {table_, "--password", "Key"}), 1);
  }
  EXPECT_NE(err_.str().find("Pal.JNL cannot be played back"), std::string::npos) << err_.str();
  EXPECT_EQ(TableFiles(), before);

  ASSERT_EQ(Run(RunTableCheck, {table_}), 0) << out_.str() << err_.str();
  EXPECT_NE(out_.str().find("Pal: played back the rollback journal"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir_ / "Pal.JNL"));
  EXPECT_EQ(Dump({}), by_key_);
}

TEST_F(CairnRepair, ATableItCannotReadIsLeftAloneWithTheReason) {
  fs::remove(dir_ / "Pal.IDX");
  const std::string sound = ReadAll(dir_ / "Pal.BLB");
  // Block 1 is the first note's; a wrong stamp makes its chain unreadable.
  Overwrite(dir_ / "Pal.BLB", 512 + 10, "\x7F");
  const std::vector<std::string> before = TableFiles();
  const std::string data = ReadAll(dir_ / "Pal.DAT"), blob = ReadAll(dir_ / "Pal.BLB");

  EXPECT_EQ(Run(RunRepair, {table_, "--password", "Key"}), 1);
  EXPECT_NE(
      err_.str().find("left as it was: slot 1 field 'Notes': blob chain is damaged at block 1"),
      std::string::npos)
      << err_.str();
  EXPECT_EQ(TableFiles(), before);
  EXPECT_EQ(ReadAll(dir_ / "Pal.DAT"), data);
  EXPECT_EQ(ReadAll(dir_ / "Pal.BLB"), blob);

  // A table open elsewhere is refused before anything is read.
  Overwrite(dir_ / "Pal.BLB", 512 + 10, sound.substr(512 + 10, 1));
  ASSERT_EQ(Run(RunRepair, {table_, "--password", "Key"}), 0) << err_.str();
  TDataSession session;
  session.AddPassword("Key");
  TDataCursor cursor;
  cursor.Open(session.OpenDirectory(dir_.string()), "Pal");
  EXPECT_EQ(Run(RunRepair, {table_, "--password", "Key"}), 1);
  EXPECT_NE(err_.str().find("the table is open in another process"), std::string::npos)
      << err_.str();
}

}  // namespace
}  // namespace cairn::tool
