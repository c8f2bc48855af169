#include "storage/access/dataset_session.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "storage/access/data_directory.h"
#include "storage/access/dataset_database.h"
#include "storage/access/query_statement.h"
#include "storage/base/ascii_text.h"
#include "storage/base/engine_error.h"

namespace cairn {
namespace {

using TGuard = std::lock_guard<std::recursive_mutex>;

[[noreturn]] void Refuse(const std::string& message) { throw ECairnComponentError(message); }

// Process-wide state lives until the process ends: components may still be
// destroyed during exit, after ordinary statics are gone.
TCairnSession::TPasswordDialog& PasswordDialog() {
  static auto& dialog = *new TCairnSession::TPasswordDialog;
  return dialog;
}

}  // namespace

// ------------------------------------------------------------ session list

TCairnSessionList& TCairnSessionList::Instance() {
  static auto& list = *new TCairnSessionList;
  return list;
}

TCairnSession& TCairnSessionList::DefaultSession() {
  TGuard guard(TCairnSession::Lock());
  if (!default_session_) {
    default_session_ = std::make_unique<TCairnSession>(nullptr, "Default");
    default_session_->session_name_ = "Default";
  }
  return *default_session_;
}

TCairnSession* TCairnSessionList::FindSession(std::string_view session_name) {
  TGuard guard(TCairnSession::Lock());
  if (SameAsciiText(session_name, "Default")) return &DefaultSession();
  for (TCairnSession* s : sessions_) {
    if (!s->session_name_.empty() && SameAsciiText(s->session_name_, session_name)) return s;
  }
  return nullptr;
}

TCairnSession& TCairnSessionList::SessionFor(std::string_view session_name) {
  if (session_name.empty()) return DefaultSession();
  TCairnSession* s = FindSession(session_name);
  if (!s) Refuse("Session '" + std::string(session_name) + "' not found");
  return *s;
}

std::vector<TCairnSession*> TCairnSessionList::Sessions() {
  TGuard guard(TCairnSession::Lock());
  return sessions_;
}

void TCairnSessionList::AddMember(const void* owner,
                                  std::function<void(const std::string&)> set_session_name,
                                  const void* member) {
  TGuard guard(TCairnSession::Lock());
  members_.push_back({owner, member, std::move(set_session_name)});
  // A member placed on a form whose session already named itself follows it.
  if (owner) {
    for (TCairnSession* s : sessions_) {
      if (s->owner_ == owner && s->auto_session_name_)
        members_.back().set_session_name(s->session_name_);
    }
  }
}

void TCairnSessionList::RemoveMember(const void* member) {
  TGuard guard(TCairnSession::Lock());
  std::erase_if(members_, [&](const Member& m) { return m.member == member; });
}

int TCairnSessionList::ReserveNumber() {
  const auto free = std::find(numbers_.begin(), numbers_.end(), false);
  const int n = int(free - numbers_.begin());
  if (free == numbers_.end()) {
    numbers_.push_back(true);
  } else {
    *free = true;
  }
  return n;
}

void TCairnSessionList::ReleaseNumber(int n) {
  if (n >= 0 && size_t(n) < numbers_.size()) numbers_[size_t(n)] = false;
}

// ----------------------------------------------------------------- session

std::recursive_mutex& TCairnSession::Lock() {
  static auto& mutex = *new std::recursive_mutex;
  return mutex;
}

TCairnSession::TCairnSession(const void* owner, std::string name)
    : owner_(owner), name_(std::move(name)) {
  TGuard guard(Lock());
  TCairnSessionList& list = TCairnSessionList::Instance();
  if (owner_) {
    for (TCairnSession* s : list.sessions_) {
      if (s->owner_ == owner_ && s->auto_session_name_) Refuse("This auto-session already exists.");
    }
  }
  list.sessions_.push_back(this);
}

TCairnSession::~TCairnSession() {
  TGuard guard(Lock());
  try {
    SetActive(false);
  } catch (...) {
  }
  TCairnSessionList& list = TCairnSessionList::Instance();
  if (auto_number_ >= 0) list.ReleaseNumber(auto_number_);
  std::erase(list.sessions_, this);
}

void TCairnSession::SetAutoSessionName(bool value) {
  TGuard guard(Lock());
  if (value == auto_session_name_) return;
  if (Active()) Refuse("Cannot perform this operation on an active session.");
  TCairnSessionList& list = TCairnSessionList::Instance();
  if (!value) {
    list.ReleaseNumber(auto_number_);
    auto_number_ = -1;
    auto_session_name_ = false;
    return;
  }
  if (owner_) {
    for (TCairnSession* s : list.sessions_) {
      if (s != this && s->owner_ == owner_) {
        Refuse("The active auto-session can be the only active session.");
      }
    }
  }
  auto_number_ = list.ReserveNumber();
  auto_session_name_ = true;
  session_name_ = name_ + "_" + std::to_string(auto_number_ + 1);
  if (owner_) {
    for (const auto& m : list.members_) {
      if (m.owner == owner_) m.set_session_name(session_name_);
    }
  }
}

void TCairnSession::SetSessionName(std::string_view name) {
  TGuard guard(Lock());
  if (Active()) Refuse("Cannot perform this operation on an active session.");
  TCairnSession* other = TCairnSessionList::Instance().FindSession(name);
  if (!name.empty() && other && other != this) {
    Refuse("Session name " + std::string(name) + " already exists.");
  }
  session_name_ = std::string(name);
}

void TCairnSession::SetActive(bool active) {
  TGuard guard(Lock());
  if (active == Active()) return;
  if (!active) {
    // Databases unregister themselves as they disconnect.
    std::vector<TCairnDatabase*> databases = databases_;
    for (TCairnDatabase* d : databases) {
      try {
        d->SetConnected(false);
      } catch (...) {
      }
    }
    temporaries_.clear();
    databases_.clear();
    engine_.reset();
    return;
  }
  if (OnStartup) OnStartup(*this);
  if (session_name_.empty()) Refuse("Session name is missing.");
  if (session_type_ == TSessionType::stRemote) {
    RaiseEngineError(CAIRN_REMOTECONNECT);
  }
  TCairnSession& default_session = TCairnSessionList::Instance().DefaultSession();
  if (&default_session != this) default_session.SetActive(true);
  try {
    engine_ = std::make_unique<TDataSession>();
    ApplySettings();
    for (const std::string& p : passwords_) engine_->AddPassword(p);
    engine_->SetPasswordEvent([this](TDataSession&, std::string_view) { return AskPassword(); });
    QueryResultsCleanup(ScratchDirectory());
  } catch (...) {
    engine_.reset();
    throw;
  }
}

void TCairnSession::QueryResultsCleanup(const std::string& folder) {
  TQueryStatement::RemoveStaleResults(folder);
}

void TCairnSession::ApplySettings() {
  if (!engine_) return;
  TSessionSettings& s = engine_->Settings();
  s.private_directory = ScratchDirectory();
  s.strict_change_detection = settings_.strict_change_detection;
  s.force_buffer_flush = settings_.force_buffer_flush;
  s.lock_retry_count = settings_.lock_retry_count;
  s.lock_wait_time = settings_.lock_wait_time;
  s.lock_protocol = settings_.lock_protocol;
  s.progress_steps = settings_.progress_steps;
  s.index_buffer_size = BufferSizes[2];
}

void TCairnSession::SetForceBufferFlush(bool value) {
  TGuard guard(Lock());
  settings_.force_buffer_flush = value;
  ApplySettings();
}

void TCairnSession::SetStrictChangeDetection(bool value) {
  TGuard guard(Lock());
  settings_.strict_change_detection = value;
  ApplySettings();
}

void TCairnSession::SetLockRetryCount(uint8_t value) {
  TGuard guard(Lock());
  settings_.lock_retry_count = value;
  ApplySettings();
}

void TCairnSession::SetLockWaitTime(uint32_t ms) {
  TGuard guard(Lock());
  settings_.lock_wait_time = ms;
  ApplySettings();
}

TLockProtocolType TCairnSession::LockProtocol() const {
  return settings_.lock_protocol == TLockProtocol::kOptimistic ? TLockProtocolType::lpOptimistic
                                                               : TLockProtocolType::lpPessimistic;
}

void TCairnSession::SetLockProtocol(TLockProtocolType value) {
  TGuard guard(Lock());
  settings_.lock_protocol = value == TLockProtocolType::lpOptimistic ? TLockProtocol::kOptimistic
                                                                     : TLockProtocol::kPessimistic;
  ApplySettings();
}

void TCairnSession::SetPrivateDir(std::string_view dir) {
  TGuard guard(Lock());
  private_dir_ = std::string(dir);
  ApplySettings();
}

void TCairnSession::SetProgressSteps(uint32_t value) {
  TGuard guard(Lock());
  settings_.progress_steps = value;
  ApplySettings();
}

void TCairnSession::SetSessionType(TSessionType value) {
  TGuard guard(Lock());
  if (Active()) Refuse("Cannot perform this operation on an active session.");
  session_type_ = value;
}

std::string TCairnSession::ScratchDirectory() const {
  if (!private_dir_.empty()) return private_dir_;
  std::error_code ec;
  const std::string temp = std::filesystem::temp_directory_path(ec).string();
  return ec || temp.empty() ? std::string("/tmp") : temp;
}

void TCairnSession::AddPassword(std::string_view password) {
  TGuard guard(Lock());
  if (password.empty()) return;
  if (std::find(passwords_.begin(), passwords_.end(), password) == passwords_.end()) {
    passwords_.emplace_back(password);
  }
  if (engine_) engine_->AddPassword(password);
}

void TCairnSession::RemovePassword(std::string_view password) {
  TGuard guard(Lock());
  const auto it = std::find(passwords_.begin(), passwords_.end(), password);
  if (it != passwords_.end()) passwords_.erase(it);
  if (engine_) engine_->RemovePassword(password);
}

void TCairnSession::RemoveAllPasswords() {
  TGuard guard(Lock());
  passwords_.clear();
  if (engine_) engine_->RemoveAllPasswords();
}

std::vector<std::string> TCairnSession::Passwords() const {
  TGuard guard(Lock());
  return passwords_;
}

void TCairnSession::SetPasswordDialog(TPasswordDialog dialog) {
  PasswordDialog() = std::move(dialog);
}

bool TCairnSession::AskPassword() {
  if (OnPassword) {
    bool go_on = false;
    OnPassword(*this, go_on);
    return go_on;
  }
  if (PasswordDialog()) return PasswordDialog()(*this);
  return false;
}

TDataSession& TCairnSession::Engine() {
  if (!engine_) RaiseEngineError(CAIRN_NOTINITIALIZED);
  return *engine_;
}

TCairnDatabase* TCairnSession::FindDatabase(std::string_view database_name) {
  TGuard guard(Lock());
  for (TCairnDatabase* d : databases_) {
    if (SameAsciiText(d->DatabaseName(), database_name)) return d;
  }
  // Database components not yet connected still answer to their name.
  for (TCairnDatabase* d : TCairnDatabase::All()) {
    const bool mine =
        SameAsciiText(d->SessionName(), session_name_) ||
        (d->SessionName().empty() && this == &TCairnSessionList::Instance().DefaultSession());
    if (SameAsciiText(d->DatabaseName(), database_name) && mine) return d;
  }
  return nullptr;
}

TCairnDatabase& TCairnSession::OpenDatabase(std::string_view database_name) {
  TGuard guard(Lock());
  SetActive(true);
  TCairnDatabase* database = FindDatabase(database_name);
  if (!database) {
    auto temporary = std::make_unique<TCairnDatabase>(nullptr, std::string(database_name));
    temporary->temporary_ = true;
    temporary->SetDatabaseName(database_name);
    temporary->SetDirectory(database_name);
    temporary->SetSessionName(session_name_);
    temporary->SetKeepConnection(keep_connections_);
    database = temporary.get();
    temporaries_.push_back(std::move(temporary));
  }
  database->SetConnected(true);
  ++database->references_;
  return *database;
}

void TCairnSession::CloseDatabase(TCairnDatabase& database) {
  TGuard guard(Lock());
  if (database.references_ > 0) --database.references_;
  if (database.references_ == 0 && database.temporary_ && !database.keep_connection_) {
    database.SetConnected(false);
    std::erase_if(temporaries_, [&](const auto& d) { return d.get() == &database; });
  }
}

void TCairnSession::Register(TCairnDatabase* database) {
  if (std::find(databases_.begin(), databases_.end(), database) == databases_.end()) {
    databases_.push_back(database);
  }
}

void TCairnSession::Unregister(TCairnDatabase* database) { std::erase(databases_, database); }

}  // namespace cairn
