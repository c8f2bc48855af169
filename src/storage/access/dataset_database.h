// TCairnDatabase: the database component, a named folder of tables within a
// session. Connecting runs BeforeConnect and opens the engine directory for
// Directory (kept with a trailing separator). Datasets find it by
// DatabaseName; a dataset naming no database component gets a temporary one
// whose directory is the name itself.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "storage/access/dataset_session.h"

namespace cairn {

class TCairnQuery;

class TCairnDatabase {
 public:
  using TNotifyEvent = std::function<void(TCairnDatabase& sender)>;

  explicit TCairnDatabase(const void* owner = nullptr, std::string name = "Database");
  ~TCairnDatabase();
  TCairnDatabase(const TCairnDatabase&) = delete;
  TCairnDatabase& operator=(const TCairnDatabase&) = delete;

  const void* Owner() const { return owner_; }
  const std::string& Name() const { return name_; }
  std::string_view EngineVersion() const { return kCairnEngineVersion; }

  // Connecting needs a DatabaseName ("Database name is missing.") and
  // activates the session. Disconnecting closes the datasets' use of it.
  bool Connected() const { return directory_ != nullptr; }
  void SetConnected(bool connected);
  void Open() { SetConnected(true); }
  void Close() { SetConnected(false); }

  // These refuse changes while connected: "Cannot perform this operation
  // on an open database.".
  const std::string& DatabaseName() const { return database_name_; }
  void SetDatabaseName(std::string_view name);
  const std::string& Directory() const { return directory_path_; }
  void SetDirectory(std::string_view path);
  const std::string& SessionName() const { return session_name_; }
  void SetSessionName(std::string_view name);

  bool KeepConnection() const { return keep_connection_; }
  void SetKeepConnection(bool value) { keep_connection_ = value; }
  bool RemoteDatabase = false;
  bool HandleShared = false;
  bool Temporary() const { return temporary_; }

  TNotifyEvent BeforeConnect;

  // The session this database runs in (its SessionName, or the default).
  TCairnSession& Session();
  // The engine directory; "Cannot perform this operation on a closed
  // database." when not connected.
  TDataDirectory& Engine();

  // References by datasets (see TCairnSession::OpenDatabase).
  int References() const { return references_; }

  // Every database component of the process.
  static std::vector<TCairnDatabase*> All();

 private:
  friend class TCairnSession;
  friend class TCairnQuery;

  const void* owner_;
  std::string name_;
  std::string database_name_;
  std::string directory_path_;
  std::string session_name_;
  bool keep_connection_ = true;
  bool temporary_ = false;
  int references_ = 0;
  TCairnSession* session_ = nullptr;  // while connected
  TDataDirectory* directory_ = nullptr;
  std::vector<TCairnQuery*> datasets_;  // open datasets using this database
};

}  // namespace cairn
