#include "storage/access/dataset_blob_stream.h"

#include <algorithm>
#include <cstring>

namespace cairn {

TCairnBlobStream::TCairnBlobStream(TCairnQuery& query, std::string_view field,
                                   TCairnQuery::TBlobStreamMode mode)
    : query_(query), field_(query.FieldNumber(field)), mode_(mode) {
  if (!query.FieldDef(field).IsBlob()) {
    throw ECairnComponentError("Field '" + std::string(field) + "' is not a blob field");
  }
  if (mode_ != TCairnQuery::TBlobStreamMode::bmWrite) {
    const std::string contents = query.FieldAsMemo(field);
    data_.assign(contents.begin(), contents.end());
  }
  // Opening for writing alone starts the value afresh.
  modified_ = mode_ == TCairnQuery::TBlobStreamMode::bmWrite;
}

TCairnBlobStream::~TCairnBlobStream() {
  if (!modified_) return;
  try {
    query_.SetBlob(field_, std::move(data_));
  } catch (...) {
  }
}

void TCairnBlobStream::Seek(uint64_t position) { position_ = std::min<uint64_t>(position, Size()); }

size_t TCairnBlobStream::Read(std::span<uint8_t> out) {
  const size_t n = size_t(std::min<uint64_t>(out.size(), Size() - position_));
  if (n) std::memcpy(out.data(), data_.data() + position_, n);
  position_ += n;
  return n;
}

void TCairnBlobStream::Write(std::span<const uint8_t> bytes) {
  if (mode_ == TCairnQuery::TBlobStreamMode::bmRead) {
    throw ECairnComponentError("Cannot write to a read-only blob stream");
  }
  if (position_ + bytes.size() > data_.size()) data_.resize(size_t(position_ + bytes.size()));
  if (!bytes.empty()) std::memcpy(data_.data() + position_, bytes.data(), bytes.size());
  position_ += bytes.size();
  modified_ = true;
}

void TCairnBlobStream::Truncate() {
  if (mode_ == TCairnQuery::TBlobStreamMode::bmRead) {
    throw ECairnComponentError("Cannot write to a read-only blob stream");
  }
  data_.resize(size_t(position_));
  modified_ = true;
}

}  // namespace cairn
