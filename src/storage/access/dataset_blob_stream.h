// TCairnBlobStream: a blob (memo) field of a query's current record as a
// seekable byte stream. Reading sees the field as stored (or as already
// written in the pending edit); writing needs the edit or insert state and
// lands in the record at Post. Destroying a write stream hands its bytes to
// the record.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "storage/access/dataset_query.h"

namespace cairn {

class TCairnBlobStream {
 public:
  TCairnBlobStream(TCairnQuery& query, std::string_view field, TCairnQuery::TBlobStreamMode mode);
  ~TCairnBlobStream();
  TCairnBlobStream(const TCairnBlobStream&) = delete;
  TCairnBlobStream& operator=(const TCairnBlobStream&) = delete;

  uint64_t Size() const { return data_.size(); }
  uint64_t Position() const { return position_; }
  // Absolute position, clamped to the size.
  void Seek(uint64_t position);
  // Returns the count read.
  size_t Read(std::span<uint8_t> out);
  void Write(std::span<const uint8_t> bytes);
  // Cuts the stream at the current position.
  void Truncate();
  std::string ReadAll() const { return std::string(data_.begin(), data_.end()); }

 private:
  TCairnQuery& query_;
  uint16_t field_;
  TCairnQuery::TBlobStreamMode mode_;
  std::vector<uint8_t> data_;
  uint64_t position_ = 0;
  bool modified_ = false;
};

}  // namespace cairn
