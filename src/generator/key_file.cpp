#include "generator/key_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tarn {
namespace {

std::string OpenError(const std::string& path, const std::string& reason) {
  return "Cannot open file \"" + path + "\". " + reason;
}

}  // namespace

std::optional<KeyFile> KeyFile::Open(const std::string& path, std::string& error) {
  if (path.empty()) {
    error = OpenError(path, "No file has been chosen.");
    return std::nullopt;
  }
  // O_NONBLOCK keeps a FIFO from blocking the open; such files are refused below.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    error = OpenError(path, std::strerror(errno));
    return std::nullopt;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    error = OpenError(path, std::strerror(errno));
    ::close(fd);
    return std::nullopt;
  }
  if (!S_ISREG(st.st_mode)) {
    error = OpenError(path, S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : "Not a regular file.");
    ::close(fd);
    return std::nullopt;
  }
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    const int err = errno;
    error = OpenError(path, err == EWOULDBLOCK ? "The file is being used by another process."
                                               : std::strerror(err));
    ::close(fd);
    return std::nullopt;
  }
  return KeyFile(fd, static_cast<int64_t>(st.st_size), path);
}

KeyFile::KeyFile(KeyFile&& other) noexcept
    : fd_(other.fd_), size_(other.size_), path_(std::move(other.path_)) {
  other.fd_ = -1;
}

KeyFile& KeyFile::operator=(KeyFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    size_ = other.size_;
    path_ = std::move(other.path_);
    other.fd_ = -1;
  }
  return *this;
}

KeyFile::~KeyFile() {
  if (fd_ >= 0) ::close(fd_);  // closing also drops the lock
}

int64_t KeyFile::ReadAt(int64_t offset, std::span<uint8_t> out, std::string& error) const {
  size_t done = 0;
  while (done < out.size()) {
    const ssize_t got = ::pread(fd_, out.data() + done, out.size() - done,
                                static_cast<off_t>(offset + static_cast<int64_t>(done)));
    if (got < 0) {
      if (errno == EINTR) continue;
      error = "Cannot read file \"" + path_ + "\". " + std::strerror(errno);
      return -1;
    }
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  return static_cast<int64_t>(done);
}

}  // namespace tarn
