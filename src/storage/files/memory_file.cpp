#include "storage/files/memory_file.h"

#include <cerrno>
#include <cstring>
#include <new>

#include "storage/base/engine_error.h"
#include "storage/files/os_error.h"

namespace cairn {
namespace {

constexpr uint64_t kGrowStep = 4096;
// Far beyond any table, but small enough that positions never overflow.
constexpr uint64_t kMaxMemorySize = uint64_t(1) << 40;

}  // namespace

TMemoryFile::TMemoryFile(std::string file_name) : TAbstractFile(std::move(file_name)) {}

int64_t TMemoryFile::Size() {
  std::lock_guard guard(mutex_);
  return int64_t(size_);
}

bool TMemoryFile::Reserve(uint64_t size) {
  if (size > kMaxMemorySize) return false;
  if (size <= contents_.size()) return true;
  uint64_t rounded = (size + kGrowStep - 1) / kGrowStep * kGrowStep;
  contents_.resize(size_t(rounded), 0);
  return true;
}

int TMemoryFile::Create(bool temporary) {
  std::lock_guard guard(mutex_);
  if (is_open()) return -int(CAIRN_OSEACCES);
  contents_.clear();
  contents_.shrink_to_fit();
  size_ = 0;
  exclusive_ = true;
  temporary_ = temporary;
  read_only_ = false;
  read_only_attribute_ = false;
  return AddRegistration();
}

int TMemoryFile::Open(bool temporary, bool exclusive) {
  std::lock_guard guard(mutex_);
  if (!is_open()) {
    exclusive_ = exclusive;
    temporary_ = temporary;
  }
  return AddRegistration();
}

void TMemoryFile::Close(int id) {
  std::lock_guard guard(mutex_);
  if (!RemoveRegistration(id)) return;
  if (registrations_.empty()) {
    held_.clear();
    if (temporary_) {
      contents_.clear();
      contents_.shrink_to_fit();
      size_ = 0;
    }
  }
}

int TMemoryFile::Rename(const std::string& new_name) {
  std::lock_guard guard(mutex_);
  if (is_open()) return -int(CAIRN_OSEACCES);
  set_file_name(new_name);
  return 0;
}

int TMemoryFile::Delete() {
  std::lock_guard guard(mutex_);
  if (is_open()) return -int(CAIRN_OSEACCES);
  contents_.clear();
  contents_.shrink_to_fit();
  size_ = 0;
  return 0;
}

int64_t TMemoryFile::Read(int id, void* buffer, int64_t length) {
  std::lock_guard guard(mutex_);
  TRegistration* reg = Registration(id);
  if (reg == nullptr) return -int64_t(MapOsError(EBADF));
  if (length < 0) return -int64_t(MapOsError(EINVAL));
  uint64_t pos = uint64_t(reg->position);
  if (pos >= size_ || length == 0) return 0;
  uint64_t n = std::min<uint64_t>(uint64_t(length), size_ - pos);
  std::memcpy(buffer, contents_.data() + pos, size_t(n));
  reg->position += int64_t(n);
  return int64_t(n);
}

int64_t TMemoryFile::Write(int id, const void* buffer, int64_t length) {
  std::lock_guard guard(mutex_);
  TRegistration* reg = Registration(id);
  if (reg == nullptr) return -int64_t(MapOsError(EBADF));
  if (length < 0) return -int64_t(MapOsError(EINVAL));
  uint64_t pos = uint64_t(reg->position);
  uint64_t end = pos + uint64_t(length);
  try {
    if (!Reserve(end)) return -int64_t(CAIRN_OSEINVMEM);
  } catch (const std::bad_alloc&) {
    return -int64_t(CAIRN_OSENOMEM);
  }
  if (length == 0) {
    // Truncate (or extend with zeros) to the position; keep the tail zeroed.
    if (pos < size_) std::memset(contents_.data() + pos, 0, size_t(size_ - pos));
    size_ = pos;
    return 0;
  }
  std::memcpy(contents_.data() + pos, buffer, size_t(length));
  if (end > size_) size_ = end;
  reg->position = int64_t(end);
  return length;
}

}  // namespace cairn
