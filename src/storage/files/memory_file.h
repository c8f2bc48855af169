// TMemoryFile: an in-memory table file. It stays registered after its last
// close (a temporary one loses its contents then) and exists only once
// created. The contents buffer grows in 4096-byte steps and never shrinks
// while open; bytes past the logical size always read as zero when the file
// grows again. Locks live only in the held-range list.
#pragma once

#include <vector>

#include "storage/files/abstract_file.h"

namespace cairn {

class TMemoryFile : public TAbstractFile {
 public:
  explicit TMemoryFile(std::string file_name);

  bool in_memory() const override { return true; }
  // Bytes reserved for the contents (a multiple of 4096).
  size_t capacity() const { return contents_.size(); }

  int64_t Size() override;
  int Create(bool temporary) override;
  int Open(bool temporary, bool exclusive) override;
  void Close(int id) override;
  int Rename(const std::string& new_name) override;
  int Delete() override;
  int64_t Read(int id, void* buffer, int64_t length) override;
  int64_t Write(int id, const void* buffer, int64_t length) override;
  int Flush() override { return 0; }

 private:
  // Grows the buffer to hold `size` bytes; false when that is impossible.
  bool Reserve(uint64_t size);

  std::vector<uint8_t> contents_;
  uint64_t size_ = 0;
};

}  // namespace cairn
