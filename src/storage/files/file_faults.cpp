#include "storage/files/file_faults.h"

#include <algorithm>
#include <cstdlib>

namespace cairn {

TFileFaults& TFileFaults::Instance() {
  static TFileFaults instance;
  return instance;
}

void TFileFaults::Reset() {
  std::lock_guard guard(mutex_);
  armed_ = false;
  scope_.clear();
  calls_ = 0;
  fail_at_ = 0;
  exit_at_ = 0;
  size_limit_ = 0;
}

void TFileFaults::set_scope(std::string prefix) {
  std::lock_guard guard(mutex_);
  scope_ = std::move(prefix);
  armed_ = true;
}

void TFileFaults::FailWriteCall(int64_t n) {
  std::lock_guard guard(mutex_);
  fail_at_ = n > 0 ? calls_ + n : 0;
  armed_ = true;
}

void TFileFaults::ExitAtWriteCall(int64_t n) {
  std::lock_guard guard(mutex_);
  exit_at_ = n > 0 ? calls_ + n : 0;
  armed_ = true;
}

void TFileFaults::set_size_limit(uint64_t bytes) {
  std::lock_guard guard(mutex_);
  size_limit_ = bytes;
  armed_ = true;
}

int64_t TFileFaults::write_calls() const {
  std::lock_guard guard(mutex_);
  return calls_;
}

TFileFaults::TScope::TScope(std::string prefix) {
  Instance().Reset();
  Instance().set_scope(std::move(prefix));
}

TFileFaults::TScope::~TScope() { Instance().Reset(); }

bool TFileFaults::InScope(const std::string& file) const {
  return file.compare(0, scope_.size(), scope_) == 0;
}

bool TFileFaults::CountCall() {
  ++calls_;
  if (exit_at_ != 0 && calls_ == exit_at_) std::_Exit(kExitCode);
  return fail_at_ != 0 && calls_ == fail_at_;
}

int64_t TFileFaults::BeforeWrite(const std::string& file, uint64_t offset, int64_t length,
                                 uint64_t size, bool& fail) {
  fail = false;
  std::lock_guard guard(mutex_);
  if (!armed_ || !InScope(file)) return length;
  if (CountCall()) {
    fail = true;
    return 0;
  }
  if (size_limit_ == 0) return length;
  uint64_t end = offset + uint64_t(std::max<int64_t>(length, 0));
  if (end <= size_limit_ || end <= size) return length;
  fail = true;
  return offset >= size_limit_ ? 0 : int64_t(size_limit_ - offset);
}

bool TFileFaults::BeforeFlush(const std::string& file) {
  std::lock_guard guard(mutex_);
  if (!armed_ || !InScope(file)) return false;
  return CountCall();
}

}  // namespace cairn
