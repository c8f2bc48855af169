// The key file of the derivation, opened for reading only and without sharing.
//
// "Without sharing" is an exclusive advisory lock (flock) on the open file:
// opening fails while another process, or another open of the same file,
// holds one. The lock lasts as long as the KeyFile object.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace tarn {

class KeyFile {
 public:
  // Opens `path`. On failure returns nullopt and sets `error` to a message
  // that names the file and gives the system's reason.
  static std::optional<KeyFile> Open(const std::string& path, std::string& error);

  KeyFile(KeyFile&& other) noexcept;
  KeyFile& operator=(KeyFile&& other) noexcept;
  KeyFile(const KeyFile&) = delete;
  KeyFile& operator=(const KeyFile&) = delete;
  ~KeyFile();

  int64_t size() const { return size_; }

  // Reads up to out.size() bytes at `offset`; returns the count read, which
  // is short only at the end of the file, or -1 with `error` set.
  int64_t ReadAt(int64_t offset, std::span<uint8_t> out, std::string& error) const;

 private:
  KeyFile(int fd, int64_t size, std::string path) : fd_(fd), size_(size), path_(std::move(path)) {}

  int fd_ = -1;
  int64_t size_ = 0;
  std::string path_;
};

}  // namespace tarn
