#include "storage/files/abstract_file.h"

#include <algorithm>
#include <cerrno>
#include <limits>

#include "storage/files/os_error.h"

namespace cairn {

TAbstractFile::TAbstractFile(std::string file_name) : file_name_(std::move(file_name)) {}

TAbstractFile::~TAbstractFile() = default;

int TAbstractFile::FindRegistration(int id) const {
  for (size_t i = 0; i < registrations_.size(); ++i) {
    if (registrations_[i].id == id) return int(i);
  }
  return -1;
}

TAbstractFile::TRegistration* TAbstractFile::Registration(int id) {
  int index = FindRegistration(id);
  return index < 0 ? nullptr : &registrations_[size_t(index)];
}

int TAbstractFile::AddRegistration() {
  // Ids stay unique for the object's life; wrapping would need 2^31 opens.
  if (last_id_ == std::numeric_limits<int>::max()) last_id_ = 0;
  registrations_.push_back({++last_id_, 0});
  return last_id_;
}

bool TAbstractFile::RemoveRegistration(int id) {
  int index = FindRegistration(id);
  if (index < 0) return false;
  UnlockRange(id, 0, std::numeric_limits<uint64_t>::max());
  registrations_.erase(registrations_.begin() + index);
  return true;
}

int64_t TAbstractFile::Seek(int id, TSeekOrigin origin, int64_t offset) {
  std::lock_guard guard(mutex_);
  TRegistration* reg = Registration(id);
  if (reg == nullptr) return -int64_t(MapOsError(EBADF));
  int64_t base = 0;
  if (origin == kSeekCurrent) {
    base = reg->position;
  } else if (origin == kSeekEnd) {
    base = Size();
    if (base < 0) return base;
  }
  if ((offset > 0 && base > std::numeric_limits<int64_t>::max() - offset) || base + offset < 0) {
    return -int64_t(MapOsError(EINVAL));
  }
  reg->position = base + offset;
  return reg->position;
}

bool TAbstractFile::LockRange(int id, uint64_t offset, uint64_t length) {
  std::lock_guard guard(mutex_);
  if (length == 0 || Registration(id) == nullptr) return false;
  uint64_t end = offset + length;
  if (end < offset) return false;
  for (const THeldRange& r : held_) {
    if (r.start < end && offset < r.end) return false;
  }
  if (!PlaceLock(offset, length)) return false;
  held_.push_back({offset, end, id});
  return true;
}

bool TAbstractFile::UnlockRange(int id, uint64_t offset, uint64_t length) {
  std::lock_guard guard(mutex_);
  if (length == 0) return false;
  uint64_t end = offset + length < offset ? std::numeric_limits<uint64_t>::max() : offset + length;
  bool released = false;
  std::vector<THeldRange> kept;
  kept.reserve(held_.size());
  for (const THeldRange& r : held_) {
    if (r.owner != id || r.end <= offset || end <= r.start) {
      kept.push_back(r);
      continue;
    }
    // Release the part inside [offset, end); keep what sticks out either side.
    uint64_t cut_start = std::max(r.start, offset);
    uint64_t cut_end = std::min(r.end, end);
    RemoveLock(cut_start, cut_end - cut_start);
    if (r.start < cut_start) kept.push_back({r.start, cut_start, r.owner});
    if (cut_end < r.end) kept.push_back({cut_end, r.end, r.owner});
    released = true;
  }
  held_ = std::move(kept);
  return released;
}

}  // namespace cairn
