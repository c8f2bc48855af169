// TCairnSession: the session component a window places on itself. It carries
// the engine session's settings as properties with their defaults, the table
// passwords and the password request, and owns the engine session while it
// is active. TCairnSessionList is the process-wide list of every session
// component; one re-entrant lock guards it, its name numbers and every call
// from a component into its engine session.
//
// Components are toolkit-free: an "owner" is any pointer identifying the
// form that holds them (components on the same owner find each other).
// Failures of the component itself raise ECairnComponentError with the
// component's message; engine failures raise ECairnEngineError.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "storage/access/data_session.h"

namespace cairn {

class TCairnDatabase;
class TCairnDataSet;
class TDataDirectory;

inline constexpr std::string_view kCairnEngineVersion = "3.30";

// A component-level failure ("Session name is missing." and the others).
class ECairnComponentError : public std::runtime_error {
 public:
  explicit ECairnComponentError(const std::string& message) : std::runtime_error(message) {}
};

enum class TSessionType { stLocal, stRemote };
enum class TRemoteType { rtLAN, rtInternet };
enum class TLockProtocolType { lpPessimistic, lpOptimistic };

class TCairnSession {
 public:
  // `Continue` starts false; setting it true retries the password check
  // (after the handler added a password with AddPassword).
  using TPasswordEvent = std::function<void(TCairnSession& sender, bool& Continue)>;
  using TNotifyEvent = std::function<void(TCairnSession& sender)>;
  // The program's "Enter password" dialog; returns the continue answer.
  // Without one (and without OnPassword) a password request declines.
  using TPasswordDialog = std::function<bool(TCairnSession& session)>;

  // `name` is the component's own name (e.g. "Session"); the owner is the
  // form holding it. Fails with "This auto-session already exists." when
  // the owner already holds an auto-named session.
  explicit TCairnSession(const void* owner = nullptr, std::string name = "Session");
  ~TCairnSession();
  TCairnSession(const TCairnSession&) = delete;
  TCairnSession& operator=(const TCairnSession&) = delete;

  const void* Owner() const { return owner_; }
  const std::string& Name() const { return name_; }
  std::string_view EngineVersion() const { return kCairnEngineVersion; }

  // Activation creates the engine session and copies the settings into it;
  // any failure deactivates again and passes the error on. Deactivation
  // closes the session's databases (temporary ones are freed).
  bool Active() const { return engine_ != nullptr; }
  void SetActive(bool active);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }

  // True: the session is named "<Name>_<n>" with the lowest free number and
  // every database and dataset of the same owner takes that name.
  bool AutoSessionName() const { return auto_session_name_; }
  void SetAutoSessionName(bool value);
  const std::string& SessionName() const { return session_name_; }
  // "Session name %s already exists." for a name another session holds.
  void SetSessionName(std::string_view name);

  bool KeepConnections() const { return keep_connections_; }
  void SetKeepConnections(bool value) { keep_connections_ = value; }
  bool ForceBufferFlush() const { return settings_.force_buffer_flush; }
  void SetForceBufferFlush(bool value);
  bool StrictChangeDetection() const { return settings_.strict_change_detection; }
  void SetStrictChangeDetection(bool value);
  uint8_t LockRetryCount() const { return settings_.lock_retry_count; }
  void SetLockRetryCount(uint8_t value);
  uint32_t LockWaitTime() const { return settings_.lock_wait_time; }
  void SetLockWaitTime(uint32_t ms);
  TLockProtocolType LockProtocol() const;
  void SetLockProtocol(TLockProtocolType value);
  // Empty: the system's folder for temporary files.
  const std::string& PrivateDir() const { return private_dir_; }
  void SetPrivateDir(std::string_view dir);
  uint32_t ProgressSteps() const { return settings_.progress_steps; }
  void SetProgressSteps(uint32_t value);
  TSessionType SessionType() const { return session_type_; }
  void SetSessionType(TSessionType value);

  TRemoteType RemoteType = TRemoteType::rtLAN;
  std::string RemoteHost;
  std::string RemoteAddress = "127.0.0.1";
  uint16_t RemotePort = 12005;
  std::string RemoteService;
  std::string RemoteUser;
  std::string RemotePassword;
  bool RemoteTrace = false;

  // Buffer sizes copied into the engine session at activation; the third is
  // the index buffer size.
  uint32_t BufferSizes[5] = {16384, 8192, 16384, 32768, 8192};

  void AddPassword(std::string_view password);
  void RemovePassword(std::string_view password);
  void RemoveAllPasswords();
  std::vector<std::string> Passwords() const;

  TPasswordEvent OnPassword;
  TNotifyEvent OnStartup;
  TNotifyEvent OnRemoteLogin;
  TNotifyEvent OnRemoteTrace;
  // Installed once by the program; see TPasswordDialog.
  static void SetPasswordDialog(TPasswordDialog dialog);

  // The database component of that name on this session, or nullptr.
  TCairnDatabase* FindDatabase(std::string_view database_name);
  // The database a dataset asks for by name, activating the session: a
  // database component of that name, or a temporary database whose
  // directory is the name itself ("Memory": the in-memory folder),
  // connected. Each call counts one reference, returned with
  // CloseDatabase.
  TCairnDatabase& OpenDatabase(std::string_view database_name);
  void CloseDatabase(TCairnDatabase& database);

  // The engine session; the session must be active (10758 otherwise).
  TDataSession& Engine();
  // Folder of scratch files: PrivateDir, else the system temporary folder.
  std::string ScratchDirectory() const;

  // Every call into the engine session holds this (re-entrant, process-wide).
  static std::recursive_mutex& Lock();

 private:
  friend class TCairnSessionList;
  friend class TCairnDatabase;
  void ApplySettings();
  bool AskPassword();
  static void QueryResultsCleanup(const std::string& folder);
  void Register(TCairnDatabase* database);
  void Unregister(TCairnDatabase* database);

  const void* owner_;
  std::string name_;
  std::string session_name_;
  bool auto_session_name_ = false;
  int auto_number_ = -1;
  bool keep_connections_ = true;
  std::string private_dir_;
  TSessionType session_type_ = TSessionType::stLocal;
  TSessionSettings settings_;
  std::vector<std::string> passwords_;
  std::unique_ptr<TDataSession> engine_;
  std::vector<TCairnDatabase*> databases_;  // registered components and temporaries
  std::vector<std::unique_ptr<TCairnDatabase>> temporaries_;
};

// The process-wide list of session components.
class TCairnSessionList {
 public:
  static TCairnSessionList& Instance();

  // The session called "Default", created on first use.
  TCairnSession& DefaultSession();
  // By session name (case-insensitive); nullptr when none.
  TCairnSession* FindSession(std::string_view session_name);
  // The named session, or the default session for an empty name; an
  // unknown name raises ECairnComponentError.
  TCairnSession& SessionFor(std::string_view session_name);
  std::vector<TCairnSession*> Sessions();

  // Dataset and database components announce themselves so that an
  // auto-named session can hand them its name.
  void AddMember(const void* owner, std::function<void(const std::string&)> set_session_name,
                 const void* member);
  void RemoveMember(const void* member);

 private:
  friend class TCairnSession;
  struct Member {
    const void* owner;
    const void* member;
    std::function<void(const std::string&)> set_session_name;
  };
  TCairnSessionList() = default;
  int ReserveNumber();
  void ReleaseNumber(int n);

  std::vector<TCairnSession*> sessions_;
  std::vector<bool> numbers_;
  std::vector<Member> members_;
  std::unique_ptr<TCairnSession> default_session_;
};

}  // namespace cairn
