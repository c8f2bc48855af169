// The query subset: "SELECT <* | columns> FROM <table> [correlation]
// [ORDER BY <entry> [, <entry>]... [NOCASE]]", an entry being a name,
// correlation.name or a 1-based column number, optionally ASC, ASCENDING,
// DESC or DESCENDING. Keywords ignore letter case; line breaks are blanks.
//
// TQueryStatement compiles the text (every parser and resolution failure is
// 11949 "SQL error - <message>") and executes it afresh each time: the
// result is live (a cursor on the table, on the first index, tried in order
// 0, 1, 2 ..., that serves the ORDER BY) when a live result was asked for
// and an index matches, and otherwise a read-only copy in a result table in
// the session's scratch folder, sorted there and removed on close. Result
// tables of processes that died are removed when the next statement of any
// process runs on that folder. A table of the in-memory folder gets its
// copied result in memory too, so none of its rows reach the disk. Nothing
// stays open after a failure.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "storage/access/data_cursor.h"
#include "storage/access/data_directory.h"
#include "storage/access/data_session.h"

namespace cairn {

inline constexpr size_t kMaxOrderByColumns = 1024;

struct TSourceTable {
  std::string name;
  std::string correlation;  // empty when none was given
};

// A select-list entry as written.
struct TSelectColumn {
  std::string correlation;
  std::string name;
};

// A column of the result: its name and its field in the result cursor's
// table (the source table for a live result, the result table otherwise).
struct TResultField {
  std::string name;
  uint16_t field = 0;  // 1-based
  TFieldDescriptor descriptor;
};

struct TOrderByColumn {
  std::string correlation;
  std::string name;
  int64_t number = 0;  // 1-based select-list column; 0 when a name was given
  bool descending = false;
  uint16_t field = 0;  // resolved source field number
};

// One parsed SELECT.
struct TDataQuery {
  std::vector<TSourceTable> tables;
  bool select_all = false;
  std::vector<TSelectColumn> select;
  std::vector<TOrderByColumn> order_by;
  bool has_order_by = false;
  bool nocase = false;
  // Clauses outside the subset are refused by the parser; the flags say
  // what the planner would have to honour.
  bool where = false, group_by = false, having = false, distinct = false, top = false, into = false,
       aggregates = false, union_ = false;
  // After planning.
  bool index_matched = false;
  int index_number = -1;
};

// Parses `text`; raises 11949 with the parser's message.
TDataQuery ParseQuery(std::string_view text);

class TQueryStatement {
 public:
  // Percent done while a copied result is built.
  using TProgress = std::function<void(int percent)>;

  TQueryStatement(TDataSession& session, TDataDirectory& directory);
  ~TQueryStatement();
  TQueryStatement(const TQueryStatement&) = delete;
  TQueryStatement& operator=(const TQueryStatement&) = delete;

  // The text may change only while closed (it is compiled at Execute).
  void SetText(std::string text);
  const std::string& Text() const { return text_; }
  // Parses the text; raises 11949.
  void Compile();
  // Parses, resolves, plans and opens the result. `max_rows` -1: all.
  void Execute(bool request_live, int32_t max_rows = -1, TProgress progress = {});
  void Close();
  bool IsOpen() const { return cursor_ != nullptr; }

  bool IsLive() const { return live_; }
  TDataCursor& Cursor() { return *cursor_; }
  const TDataQuery& Query() const { return query_; }
  const std::vector<TResultField>& ResultFields() const { return result_fields_; }
  // The directory and table the result cursor runs on (for more cursors).
  TDataDirectory& ResultDirectory() { return *result_directory_; }
  const std::string& ResultTable() const { return result_table_; }
  const std::string& ResultIndex() const { return result_index_; }

  // Removes result tables of processes that no longer run from `folder`.
  static void RemoveStaleResults(const std::string& folder);

 private:
  void Resolve(TDataCursor& source);
  bool MatchIndex(TDataCursor& source);
  void OpenCopied(TDataCursor& source, int32_t max_rows, const TProgress& progress);
  void RemoveResultFiles();

  TDataSession& session_;
  TDataDirectory& directory_;
  std::string text_;
  TDataQuery query_;
  std::vector<TResultField> result_fields_;
  bool live_ = false;
  std::unique_ptr<TDataCursor> cursor_;
  TDataDirectory* result_directory_ = nullptr;
  std::string result_table_;
  std::string result_index_;
  // Where a copied result's table was claimed; null for a live one.
  TDataDirectory* copy_directory_ = nullptr;
  std::string copy_name_;
};

}  // namespace cairn
