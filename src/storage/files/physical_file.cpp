#include "storage/files/physical_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "storage/base/engine_error.h"
#include "storage/files/file_faults.h"
#include "storage/files/os_error.h"

namespace cairn {
namespace {

int Fail(int err) { return -int(MapOsError(err)); }

}  // namespace

TPhysicalFile::TPhysicalFile(std::string file_name) : TAbstractFile(std::move(file_name)) {}

TPhysicalFile::~TPhysicalFile() { CloseHandle(); }

void TPhysicalFile::CloseHandle() {
  if (fd_ >= 0) {
    ::close(fd_);  // drops the descriptor's flock and byte-range locks
    fd_ = -1;
  }
  held_.clear();
}

int64_t TPhysicalFile::Size() {
  std::lock_guard guard(mutex_);
  struct stat st;
  if (fd_ < 0) return Fail(EBADF);
  if (::fstat(fd_, &st) != 0) return Fail(errno);
  return int64_t(st.st_size);
}

int TPhysicalFile::Create(bool temporary) {
  std::lock_guard guard(mutex_);
  if (fd_ >= 0) return Fail(EACCES);
  // Truncate only once no other process holds the file: a refused create must
  // not destroy someone else's table.
  int fd = ::open(file_name_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return Fail(errno);
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ftruncate(fd, 0) != 0) {
    int err = errno;
    ::close(fd);
    return Fail(err);
  }
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
  if (temporary) {
    ::unlink(file_name_.c_str());
  } else {
    if (TFileFaults::Instance().recording()) TFileFaults::Instance().Created(file_name_);
    SyncFolderOf(file_name_);
  }
  fd_ = fd;
  exclusive_ = true;
  temporary_ = temporary;
  read_only_ = false;
  read_only_attribute_ = false;
  return AddRegistration();
}

int TPhysicalFile::Open(bool temporary, bool exclusive) {
  std::lock_guard guard(mutex_);
  if (fd_ >= 0) return AddRegistration();

  struct stat st;
  if (::stat(file_name_.c_str(), &st) != 0) return Fail(errno);
  // Folders, pipes and devices are never table files (a pipe would block).
  if (!S_ISREG(st.st_mode)) return Fail(S_ISDIR(st.st_mode) ? EISDIR : EACCES);
  bool attribute = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
  bool read_only = attribute;

  int fd = ::open(file_name_.c_str(), (read_only ? O_RDONLY : O_RDWR) | O_CLOEXEC);
  if (fd < 0 && !read_only) {
    // Read-only media or a file we may only read: carry on read-only.
    fd = ::open(file_name_.c_str(), O_RDONLY | O_CLOEXEC);
    read_only = true;
  }
  if (fd < 0) return Fail(errno);
  if (::flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
    int err = errno;
    ::close(fd);
    return Fail(err);
  }
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
  if (temporary) ::unlink(file_name_.c_str());
  fd_ = fd;
  exclusive_ = exclusive;
  temporary_ = temporary;
  read_only_ = read_only;
  read_only_attribute_ = attribute;
  return AddRegistration();
}

void TPhysicalFile::Close(int id) {
  std::lock_guard guard(mutex_);
  if (!RemoveRegistration(id)) return;
  if (registrations_.empty()) CloseHandle();
}

int TPhysicalFile::Rename(const std::string& new_name) {
  std::lock_guard guard(mutex_);
  if (is_open()) return Fail(EACCES);
  int rc = RenameFile(file_name_, new_name);
  if (rc == 0) set_file_name(new_name);
  return rc;
}

int TPhysicalFile::Delete() {
  std::lock_guard guard(mutex_);
  if (is_open()) return Fail(EACCES);
  return DeleteFile(file_name_);
}

int TPhysicalFile::DeleteFile(const std::string& name) {
  if (::unlink(name.c_str()) != 0) return Fail(errno);
  if (TFileFaults::Instance().recording()) TFileFaults::Instance().Removed(name);
  return 0;
}

void TPhysicalFile::SyncFolderOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
  if (TFileFaults::Instance().recording()) TFileFaults::Instance().FolderFlushed(folder);
}

int TPhysicalFile::RenameFile(const std::string& old_name, const std::string& new_name) {
  // Never replace an existing file: renaming onto a table must not destroy it.
  if (::renameat2(AT_FDCWD, old_name.c_str(), AT_FDCWD, new_name.c_str(), RENAME_NOREPLACE) == 0) {
    SyncFolderOf(new_name);
    return 0;
  }
  int err = errno;
  if (err == EINVAL || err == ENOSYS) {
    // The file system cannot refuse replacement itself.
    struct stat st;
    if (::lstat(new_name.c_str(), &st) == 0) return -int(CAIRN_TABLEEXISTS);
    if (::rename(old_name.c_str(), new_name.c_str()) == 0) {
      SyncFolderOf(new_name);
      return 0;
    }
    err = errno;
  }
  if (err == EEXIST) return -int(CAIRN_TABLEEXISTS);
  return Fail(err);
}

int64_t TPhysicalFile::Read(int id, void* buffer, int64_t length) {
  std::lock_guard guard(mutex_);
  TRegistration* reg = Registration(id);
  if (reg == nullptr || fd_ < 0) return Fail(EBADF);
  if (length < 0) return Fail(EINVAL);
  auto* out = static_cast<uint8_t*>(buffer);
  int64_t done = 0;
  while (done < length) {
    ssize_t n = ::pread(fd_, out + done, size_t(length - done), off_t(reg->position + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return Fail(errno);
    }
    if (n == 0) break;
    done += n;
  }
  reg->position += done;
  return done;
}

int64_t TPhysicalFile::Write(int id, const void* buffer, int64_t length) {
  std::lock_guard guard(mutex_);
  TRegistration* reg = Registration(id);
  if (reg == nullptr || fd_ < 0) return Fail(EBADF);
  if (length < 0) return Fail(EINVAL);
  TFileFaults& faults = TFileFaults::Instance();
  if (length == 0) {
    if (::ftruncate(fd_, off_t(reg->position)) != 0) return Fail(errno);
    if (faults.recording()) faults.Wrote(file_name_, uint64_t(reg->position), nullptr, 0);
    return 0;
  }
  const auto* in = static_cast<const uint8_t*>(buffer);
  int64_t done = 0;
  while (done < length) {
    ssize_t n = ::pwrite(fd_, in + done, size_t(length - done), off_t(reg->position + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      if (done == 0) return Fail(errno);
      break;
    }
    if (n == 0) break;
    done += n;
  }
  if (faults.recording() && done > 0) faults.Wrote(file_name_, uint64_t(reg->position), in, done);
  reg->position += done;
  return done;
}

int TPhysicalFile::Flush() {
  std::lock_guard guard(mutex_);
  if (fd_ < 0) return Fail(EBADF);
  if (::fdatasync(fd_) != 0) return -int(CAIRN_WRITEERR);
  if (TFileFaults::Instance().recording()) TFileFaults::Instance().Flushed(file_name_);
  return 0;
}

void TPhysicalFile::StartFlush() {
  std::lock_guard guard(mutex_);
  if (fd_ >= 0) ::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
}

bool TPhysicalFile::PlaceLock(uint64_t offset, uint64_t length) {
  if (fd_ < 0) return false;
  struct flock fl = {};
  fl.l_type = read_only_ ? F_RDLCK : F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = off_t(offset);
  fl.l_len = off_t(length);
  while (::fcntl(fd_, F_OFD_SETLK, &fl) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

void TPhysicalFile::RemoveLock(uint64_t offset, uint64_t length) {
  if (fd_ < 0) return;
  struct flock fl = {};
  fl.l_type = F_UNLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = off_t(offset);
  fl.l_len = off_t(length);
  while (::fcntl(fd_, F_OFD_SETLK, &fl) != 0 && errno == EINTR) {
  }
}

}  // namespace cairn
