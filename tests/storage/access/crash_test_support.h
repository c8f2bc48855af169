// What the crash tests share: a writer process that reports each post, the
// table's contents as item -> PW and memo, and the expected contents after
// a run of posts.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "child_process.h"
#include "storage/access/index_check.h"
#include "storage/access/table_check.h"
#include "storage/base/engine_error.h"
#include "tables_test_support.h"

namespace cairn::testing {

// item -> PW and memo
using TContents = std::map<std::string, std::pair<std::string, std::string>>;

// Posts as TPoster describes them (crash_posts.h); "T" and several of
// those, joined by " ; ", for a transaction.
struct TRun {
  int exit_code = 0;
  std::vector<std::string> done;         // posts that returned
  std::optional<std::string> in_flight;  // the post it died in
};

// Reads a writer's report to its end (`first`: a line already read).
inline TRun ReadRun(TChild& writer, std::string first = {}) {
  TRun run;
  for (std::string line = first.empty() ? writer.ReadLine() : first; !line.empty();
       line = writer.ReadLine()) {
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

inline void Apply(TContents& contents, const std::string& post) {
  std::istringstream in(post);
  for (std::string part; std::getline(in, part, ';');) {
    std::istringstream fields(part);
    std::string op, item, new_item, pw, memo;
    fields >> op >> item;
    if (op == "R") fields >> new_item;
    fields >> pw >> memo;
    if (op == "D" || op == "R") contents.erase(item);
    if (op == "I" || op == "U") contents[item] = {pw, memo};
    if (op == "R") contents[new_item] = {pw, memo};
  }
}

// Every record with its memo, read through `cursor` in primary order.
inline TContents ReadContents(TDataCursor& cursor) {
  const uint16_t details = FieldNumber(cursor, "Details");
  TContents contents;
  std::vector<uint8_t> record;
  cursor.SetToBegin();
  while (cursor.Next(record) == CAIRN_NONE) {
    const std::vector<uint8_t> memo = cursor.ReadBlob(record, details);
    contents[FieldText(cursor, record, "Item")] = {FieldText(cursor, record, "PW"),
                                                   std::string(memo.begin(), memo.end())};
  }
  EXPECT_EQ(cursor.RecordCount(), contents.size());
  return contents;
}

// Both file checks; each fault found is a test failure.
inline void ExpectClean(TDataTable& table) {
  const TTableCheckResult check = CheckTableFiles(table);
  for (const auto& fault : check.faults) ADD_FAILURE() << fault;
  const TIndexCheckResult index_check = CheckIndexFile(table.Index());
  for (const auto& fault : index_check.faults) ADD_FAILURE() << fault;
}

// Opens the table (which plays back a journal left behind), checks its files
// and returns what it holds.
inline TContents OpenContents(const std::string& dir, const std::string& table = "Pal") {
  TDataSession session;
  TDataCursor cursor;
  cursor.Open(session.OpenDirectory(dir), table);
  TContents contents = ReadContents(cursor);
  ExpectClean(cursor.Table());
  return contents;
}

// Items with their PW and memo length, for messages.
inline std::string Brief(const TContents& contents) {
  std::string text;
  for (const auto& [item, value] : contents) {
    text += item + "=" + value.first + "/" + std::to_string(value.second.size()) + " ";
  }
  return text;
}

// `found` must be `before` with every returned post applied, and with the
// post in flight applied wholly or not at all.
inline void ExpectReturnedPosts(const TContents& found, const TContents& before, const TRun& run) {
  TContents expected = before;
  for (const std::string& post : run.done) Apply(expected, post);
  if (found == expected) return;
  if (!run.in_flight) {
    ADD_FAILURE() << "lost a post that had returned\nfound    " << Brief(found)
                  << "\nexpected " << Brief(expected);
    return;
  }
  TContents with_post = expected;
  Apply(with_post, *run.in_flight);
  EXPECT_TRUE(found == with_post) << "neither before nor after " << run.in_flight->substr(0, 40)
                                  << "\nfound    " << Brief(found) << "\nexpected "
                                  << Brief(expected);
}

inline void CopyFiles(const std::string& from, const std::string& to) {
  namespace fs = std::filesystem;
  for (const auto& entry : fs::directory_iterator(from)) {
    fs::copy_file(entry.path(), fs::path(to) / entry.path().filename(),
                  fs::copy_options::overwrite_existing);
  }
}

}  // namespace cairn::testing
