#include "storage/access/data_session.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <system_error>
#include <thread>

#include "storage/access/data_directory.h"
#include "storage/base/engine_error.h"

namespace cairn {

namespace {

std::string WithTrailingSeparator(std::string path) {
  if (path.empty() || path.back() != '/') path.push_back('/');
  return path;
}

// The in-memory folder keeps its name: it is the same for every session.
std::string NormalDirectory(const std::string& path) {
  if (TDataDirectory::IsMemoryFolder(path)) return "Memory";
  std::error_code ec;
  auto absolute = std::filesystem::absolute(path.empty() ? "." : path, ec);
  std::string text = ec ? path : absolute.lexically_normal().string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

}  // namespace

TDataSession::TDataSession() {
  std::error_code ec;
  auto temp = std::filesystem::temp_directory_path(ec);
  settings_.private_directory = ec ? std::string() : temp.string();
  auto current = std::filesystem::current_path(ec);
  settings_.default_directory = WithTrailingSeparator(ec ? std::string(".") : current.string());
}

TDataSession::~TDataSession() = default;

void TDataSession::WaitForRecordLock(unsigned refusals) const {
  if (record_lock_wait_) {
    record_lock_wait_(refusals);
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(settings_.lock_wait_time));
}

void TDataSession::AddPassword(std::string_view password) {
  if (password.empty() || HasPassword(password)) return;
  passwords_.emplace_back(password);
}

void TDataSession::RemovePassword(std::string_view password) {
  auto it = std::find(passwords_.begin(), passwords_.end(), password);
  if (it != passwords_.end()) passwords_.erase(it);
}

void TDataSession::RemoveAllPasswords() { passwords_.clear(); }

bool TDataSession::HasPassword(std::string_view password) const {
  return std::find(passwords_.begin(), passwords_.end(), password) != passwords_.end();
}

bool TDataSession::CheckPassword(std::string_view table_password, std::string_view table_name) {
  while (true) {
    if (HasPassword(table_password)) return true;
    // A callback that asks to retry without giving anything new would spin forever.
    const std::vector<std::string> before = passwords_;
    if (!password_event_ || !password_event_(*this, table_name)) return false;
    if (passwords_ == before) return false;
  }
}

TDataDirectory& TDataSession::OpenDirectory(const std::string& path) {
  std::string key = NormalDirectory(path);
  auto& slot = directories_[key];
  if (!slot) slot = std::make_unique<TDataDirectory>(*this, key);
  return *slot;
}

void TDataSession::CloseDirectory(const std::string& path) {
  auto it = directories_.find(NormalDirectory(path));
  if (it == directories_.end()) return;
  // Cursors still point at the open tables: closing under them would leave
  // them dangling.
  if (it->second->OpenTableCount() != 0) RaiseEngineError(CAIRN_TABLEOPEN, it->first);
  directories_.erase(it);
}

std::string TDataSession::ScratchDirectory() const {
  if (!settings_.private_directory.empty()) return settings_.private_directory;
  std::error_code ec;
  auto current = std::filesystem::current_path(ec);
  return ec ? std::string(".") : current.string();
}

}  // namespace cairn
