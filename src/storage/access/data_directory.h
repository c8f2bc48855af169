// TDataDirectory: one folder of tables within a session. It holds the open
// tables of that folder, one TDataTable per table name, shared by every
// cursor of the session that opens the table; a table closes with its last
// cursor.
//
// The folder named "Memory" is the in-memory database: its tables live in
// the process's memory files, shared by every session of the process and
// gone when it ends; nothing of them reaches the disk.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "storage/access/table_definition.h"

namespace cairn {

class TDataSession;
class TDataTable;

class TDataDirectory {
 public:
  TDataDirectory(TDataSession& session, std::string path);
  ~TDataDirectory();
  TDataDirectory(const TDataDirectory&) = delete;
  TDataDirectory& operator=(const TDataDirectory&) = delete;

  TDataSession& Session() { return session_; }
  const std::string& Path() const { return path_; }
  bool InMemory() const { return in_memory_; }
  // True for the in-memory folder's name ("Memory", any letter case, with
  // or without a trailing separator).
  static bool IsMemoryFolder(std::string_view path);
  // Path of a table file: folder, name and extension (".DAT", ".IDX", ".BLB").
  std::string FileName(std::string_view table, std::string_view extension) const;

  // The open table of that name, opening it first when needed; each call
  // counts one user, to be returned with CloseTable. A second exclusive
  // user, or an exclusive user of a table already open, fails with 10031.
  TDataTable& OpenTable(std::string_view name, bool exclusive, bool read_only);
  void CloseTable(TDataTable& table);
  // The table's ".DAT" file exists.
  bool TableExists(std::string_view name) const;
  // Creates the three files; 13060 when the data file exists already.
  void CreateTable(std::string_view name, const TTableDefinition& definition);
  // Removes the table's files (data, index, blob and a journal left beside
  // them); files that are not there are skipped. 10031 while the table is
  // open here; 11013 while a handler elsewhere in the process has a file open
  // (the other files still go).
  void DeleteTable(std::string_view name);
  // Removes one file of a table the same way.
  void RemoveTableFile(std::string_view name, std::string_view extension);

  size_t OpenTableCount() const { return tables_.size(); }

  // Transactions. From StartTransaction to Commit or Rollback every table of
  // this directory that a change touches keeps its write lock (other
  // processes' readers and writers get the usual retries, then 10249) and
  // its changes stay in its caches. Commit writes each changed table as one
  // change; Rollback drops the changes and the files stay byte for byte as
  // they were. A change that fails inside the transaction, and closing a
  // changed table or the session, roll the whole transaction back.
  // Nesting raises 10244; Commit without a transaction 10245; Rollback
  // without one does nothing. Commit is atomic over every changed table,
  // also through a crash or a power loss (a super-journal ties the tables'
  // journals, see TJournal): a commit that fails rolls every table back and
  // passes the failure on.
  void StartTransaction();
  void Commit();
  void Rollback();
  bool InTransaction() const { return in_transaction_; }
  // A table's first change inside the transaction.
  void Enlist(TDataTable& table);

 private:
  std::string Key(std::string_view name) const;
  void CommitTogether(const std::vector<TDataTable*>& tables);

  TDataSession& session_;
  std::string path_;
  bool in_memory_;
  std::map<std::string, std::unique_ptr<TDataTable>> tables_;
  bool in_transaction_ = false;
  std::vector<TDataTable*> changed_;  // in the order of their first change
};

}  // namespace cairn
