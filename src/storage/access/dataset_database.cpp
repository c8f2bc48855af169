#include "storage/access/dataset_database.h"

#include <algorithm>
#include <filesystem>

#include "storage/access/data_directory.h"
#include "storage/access/data_session.h"
#include "storage/access/dataset_query.h"
#include "storage/base/engine_error.h"

namespace cairn {
namespace {

using TGuard = std::lock_guard<std::recursive_mutex>;

// Lives until the process ends (see the session list).
std::vector<TCairnDatabase*>& Registry() {
  static auto& all = *new std::vector<TCairnDatabase*>;
  return all;
}

[[noreturn]] void Refuse(const std::string& message) { throw ECairnComponentError(message); }

}  // namespace

std::vector<TCairnDatabase*> TCairnDatabase::All() {
  TGuard guard(TCairnSession::Lock());
  return Registry();
}

TCairnDatabase::TCairnDatabase(const void* owner, std::string name)
    : owner_(owner), name_(std::move(name)) {
  TGuard guard(TCairnSession::Lock());
  Registry().push_back(this);
  TCairnSessionList::Instance().AddMember(
      owner_, [this](const std::string& session) { session_name_ = session; }, this);
}

TCairnDatabase::~TCairnDatabase() {
  TGuard guard(TCairnSession::Lock());
  try {
    SetConnected(false);
  } catch (...) {
  }
  TCairnSessionList::Instance().RemoveMember(this);
  std::erase(Registry(), this);
}

TCairnSession& TCairnDatabase::Session() {
  if (session_) return *session_;
  return TCairnSessionList::Instance().SessionFor(session_name_);
}

TDataDirectory& TCairnDatabase::Engine() {
  if (!directory_) Refuse("Cannot perform this operation on a closed database.");
  return *directory_;
}

void TCairnDatabase::SetDatabaseName(std::string_view name) {
  TGuard guard(TCairnSession::Lock());
  if (Connected()) Refuse("Cannot perform this operation on an open database.");
  database_name_ = std::string(name);
}

void TCairnDatabase::SetDirectory(std::string_view path) {
  TGuard guard(TCairnSession::Lock());
  if (Connected()) Refuse("Cannot perform this operation on an open database.");
  directory_path_ = std::string(path);
  if (!directory_path_.empty() && directory_path_.back() != '/') directory_path_ += '/';
}

void TCairnDatabase::SetSessionName(std::string_view name) {
  TGuard guard(TCairnSession::Lock());
  if (Connected()) Refuse("Cannot perform this operation on an open database.");
  session_name_ = std::string(name);
}

void TCairnDatabase::SetConnected(bool connected) {
  TGuard guard(TCairnSession::Lock());
  if (connected == Connected()) return;
  if (!connected) {
    // Open datasets go first: their cursors hold the directory's tables.
    std::vector<TCairnQuery*> datasets = datasets_;
    for (TCairnQuery* q : datasets) q->Close();
    datasets_.clear();
    TCairnSession* session = session_;
    TDataDirectory* directory = directory_;
    directory_ = nullptr;
    session_ = nullptr;
    if (session) {
      session->Unregister(this);
      if (session->Active()) session->Engine().CloseDirectory(directory->Path());
    }
    return;
  }
  if (database_name_.empty()) Refuse("Database name is missing.");
  if (BeforeConnect) BeforeConnect(*this);
  TCairnSession& session = TCairnSessionList::Instance().SessionFor(session_name_);
  session.SetActive(true);
  std::string path = directory_path_;
  if (path.empty()) {
    std::error_code ec;
    path = std::filesystem::current_path(ec).string();
  }
  directory_ = &session.Engine().OpenDirectory(path);
  session_ = &session;
  session.Register(this);
}

}  // namespace cairn
