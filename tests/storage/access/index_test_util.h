// Helpers of the index tests: a table shape with every kind of key field,
// record images built by hand, and index files kept in memory.
#pragma once

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "storage/access/index_file.h"
#include "storage/access/index_tree.h"

namespace cairn::testing {

// Fields: 1 Name string(20), 2 Num integer, 3 Real float, 4 Long1 string(250),
// 5 Long2 string(250), 6 Small smallint, 7 Memo blob, 8 Id autoinc.
inline std::vector<TKeyField> TestFields() {
  return {
      {1, "Name", 1, 0, 21, 9},    {2, "Num", 6, 0, 4, 31},      {3, "Real", 7, 0, 8, 36},
      {4, "Long1", 1, 0, 251, 45}, {5, "Long2", 1, 0, 251, 297}, {6, "Small", 5, 0, 2, 549},
      {7, "Memo", 3, 22, 8, 552},  {8, "Id", 6, 29, 4, 5},
  };
}
inline constexpr int kTestRecordSize = 561;

class TRecordImage {
 public:
  explicit TRecordImage(int32_t id = 1) : bytes_(kTestRecordSize, 0) { SetId(id); }
  void SetId(int32_t id) { le::PutI32(&bytes_[5], id); }
  int32_t id() const { return le::I32(&bytes_[5]); }
  void SetStatus(uint8_t s) { bytes_[0] = s; }
  void SetNull(const TKeyField& f) { std::memset(&bytes_[f.offset], 0, f.storage_size + 1u); }
  void SetString(const TKeyField& f, const std::string& s) {
    SetNull(f);
    const size_t n = std::min<size_t>(s.size(), f.storage_size - 1u);
    std::memcpy(&bytes_[f.offset + 1], s.data(), n);
    bytes_[f.offset] = n > 0 && s[0] != 0 ? 1 : 0;
  }
  void SetInt(const TKeyField& f, int32_t v) {
    bytes_[f.offset] = 1;
    le::PutI32(&bytes_[f.offset + 1], v);
  }
  void SetSmall(const TKeyField& f, int16_t v) {
    bytes_[f.offset] = 1;
    le::PutU16(&bytes_[f.offset + 1], uint16_t(v));
  }
  void SetDouble(const TKeyField& f, double v) {
    bytes_[f.offset] = 1;
    std::memcpy(&bytes_[f.offset + 1], &v, 8);
  }
  std::span<const uint8_t> span() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

inline std::string UniqueMemoryName(const char* stem) {
  static std::atomic<int> n{0};
  return std::string("mem_") + stem + "_" + std::to_string(++n) + ".IDX";
}

inline TIndexTableInfo TestInfo(uint32_t locale = 0) {
  TIndexTableInfo info;
  info.table_name = "Sample";
  info.fields = TestFields();
  info.locale = locale;
  return info;
}

// A new in-memory index file with the fixed descriptors only.
inline std::unique_ptr<TIndexFile> NewMemoryIndex(TIndexTableInfo info, const char* stem = "idx") {
  auto f = std::make_unique<TIndexFile>(std::move(info));
  f->set_file_name(UniqueMemoryName(stem));
  f->set_in_memory(true);
  f->CreateIndexFile();
  f->SetNoPrimaryKey(true);  // until a test adds a primary index
  return f;
}

inline TIndexDescriptor MakeIndex(const std::string& name, std::vector<int16_t> fields,
                                  bool unique = true, bool descending = false,
                                  uint8_t compression = kCompressNone) {
  TIndexDescriptor d;
  d.name = name;
  d.unique = unique;
  d.descending = descending;
  d.compression = compression;
  d.field_count = uint8_t(fields.size());
  for (size_t i = 0; i < fields.size(); ++i) d.fields[i] = fields[i];
  return d;
}

}  // namespace cairn::testing
