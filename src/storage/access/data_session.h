// TDataSession: one engine session. Carries the settings every table and
// cursor of the session obeys, the list of table passwords (compared
// case-sensitively), the password callback asked when an encrypted table
// has no matching password, and the database directories opened through it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace cairn {

class TDataDirectory;

enum class TLockProtocol : uint8_t { kPessimistic = 0, kOptimistic = 1 };

struct TSessionSettings {
  uint8_t lock_retry_count = 15;  // retries of a refused record lock
  uint32_t lock_wait_time = 100;  // milliseconds between those retries
  // Attempts at a table read or write lock before 10249, and the
  // milliseconds between them (about 98 seconds in all by default).
  uint32_t table_lock_attempts = 32767;
  uint32_t table_lock_wait_time = 3;
  TLockProtocol lock_protocol = TLockProtocol::kPessimistic;
  bool force_buffer_flush = false;  // fdatasync after every written change
  bool strict_change_detection = false;
  uint32_t progress_steps = 20;
  std::string private_directory;  // scratch files; empty means the current folder
  std::string default_directory;  // with a trailing separator
  uint32_t index_buffer_size = 16384;
  std::string remote_address = "127.0.0.1";
  uint16_t remote_port = 12005;
};

class TDataSession {
 public:
  // Asked when no session password opens an encrypted table. It may add a
  // password to the session; returning true retries the check.
  using TPasswordEvent = std::function<bool(TDataSession& session, std::string_view table_name)>;
  // Waits before the next try at a refused record lock; `refusals` counts
  // the refusals so far. No table lock is held while it runs.
  using TRecordLockWait = std::function<void(unsigned refusals)>;

  TDataSession();
  ~TDataSession();
  TDataSession(const TDataSession&) = delete;
  TDataSession& operator=(const TDataSession&) = delete;

  TSessionSettings& Settings() { return settings_; }
  const TSessionSettings& Settings() const { return settings_; }

  // Empty texts are ignored, and an exact duplicate is not added twice.
  void AddPassword(std::string_view password);
  // Removes the first exactly equal entry.
  void RemovePassword(std::string_view password);
  void RemoveAllPasswords();
  const std::vector<std::string>& Passwords() const { return passwords_; }
  bool HasPassword(std::string_view password) const;

  void SetPasswordEvent(TPasswordEvent event) { password_event_ = std::move(event); }
  // True when `table_password` matches a session password, possibly after
  // the password event added one.
  bool CheckPassword(std::string_view table_password, std::string_view table_name);

  // By default the wait between record-lock retries sleeps the lock wait
  // time; a caller that must see the retries (a test) waits its own way.
  void SetRecordLockWait(TRecordLockWait wait) { record_lock_wait_ = std::move(wait); }
  void WaitForRecordLock(unsigned refusals) const;

  // Returns the session's directory object for `path` (one per folder).
  TDataDirectory& OpenDirectory(const std::string& path);
  // Forgets the directory; 10031 while a cursor still has a table of it open.
  // Cursors must be closed before their session goes.
  void CloseDirectory(const std::string& path);

  // Folder where scratch files go: the private directory, else the current folder.
  std::string ScratchDirectory() const;

 private:
  TSessionSettings settings_;
  std::vector<std::string> passwords_;
  TPasswordEvent password_event_;
  TRecordLockWait record_lock_wait_;
  std::map<std::string, std::unique_ptr<TDataDirectory>> directories_;
};

}  // namespace cairn
