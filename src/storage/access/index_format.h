// Bytes of the index file: the 4096-byte header page, its 120-byte index
// descriptors and the 13-byte node page header. Pure layout, no I/O.
//
// Every integer is little-endian. Page n lies at n * 4096; page 0 is the
// header. Descriptor 0 is the primary index, 1..30 the secondary indexes,
// 31 the record-status index ("Sys Deleted") and 32 the text index ("Sys Text").
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "storage/files/data_endian.h"

namespace cairn {

inline constexpr int kIndexPageSize = 4096;
inline constexpr int kPageHeaderSize = 13;
inline constexpr int kPageBodySize = kIndexPageSize - kPageHeaderSize;  // 4083
inline constexpr uint8_t kIndexSignature = 5;
inline constexpr int kMaxSecondaryIndexes = 30;
inline constexpr int kMaxKeyFields = 16;
inline constexpr int kMaxKeySegments = 522;  // sum of (field key size + 1)
inline constexpr int kStatusIndex = 31;
inline constexpr int kTextIndex = 32;
inline constexpr int kIndexCount = 33;
inline constexpr int kStatusKeyLength = 5;
inline constexpr int kTextKeyLength = 68;
inline constexpr int kMaxTreeDepth = 64;
inline constexpr int kCompressionCap = 254;
inline constexpr int32_t kMaxIndexPage = 2000000000;
inline constexpr int64_t kMaxIndexFileBytes = 4000000000LL;

// Leaf compressions.
enum : uint8_t {
  kCompressNone = 0,
  kCompressDuplicate = 1,
  kCompressTrailing = 2,
  kCompressFull = 3,
};

// Page types.
enum : uint8_t {
  kPageRootInterior = 0,
  kPageInterior = 1,
  kPageLeaf = 2,
  kPageRootLeaf = 3,
  kPageRaw = 4,
};

// Header page offsets.
namespace hdr {
inline constexpr int kChangeCounter = 0;
inline constexpr int kSignature = 8;
inline constexpr int kNextPage = 9;
inline constexpr int kSecondaryCount = 13;
inline constexpr int kDescriptors = 14;
inline constexpr int kDescriptorSize = 120;
inline constexpr int kActiveCount = 3974;
inline constexpr int kNoPrimaryKey = 3978;
inline constexpr int kModified = 3979;
inline constexpr int DescriptorOffset(int i) { return kDescriptors + kDescriptorSize * i; }
}  // namespace hdr

// Offsets inside one descriptor.
namespace desc {
inline constexpr int kName = 0;  // length byte + 30 characters
inline constexpr int kKeyLength = 31;
inline constexpr int kDescending = 33;
inline constexpr int kCaseInsensitive = 34;
inline constexpr int kUnique = 35;
inline constexpr int kCompression = 36;
inline constexpr int kFieldCount = 37;
inline constexpr int kFieldDescending = 38;
inline constexpr int kFields = 54;
inline constexpr int kRoot = 86;
inline constexpr int kFreeHead = 90;
inline constexpr int kReserved94 = 94;
inline constexpr int kParamPage = 96;
inline constexpr int kNoCounts = 100;
inline constexpr int kTemporary = 101;
}  // namespace desc

// A decoded index descriptor. Encode/Decode convert to and from the 120 bytes;
// the reserved bytes 95 and 102..119 are not kept (written as zero).
struct TIndexDescriptor {
  std::string name;  // at most 30 characters
  int16_t key_length = 0;
  bool descending = false;
  bool case_insensitive = false;
  bool unique = false;
  uint8_t compression = kCompressNone;
  uint8_t field_count = 0;
  std::array<uint8_t, kMaxKeyFields> field_descending{};
  std::array<int16_t, kMaxKeyFields> fields{};
  int32_t root = 0;
  int32_t free_head = 0;
  int32_t param_page = 0;
  bool no_counts = false;
  bool temporary = false;

  static TIndexDescriptor Decode(std::span<const uint8_t, hdr::kDescriptorSize> bytes);
  void Encode(std::span<uint8_t, hdr::kDescriptorSize> bytes) const;
  bool IsEmpty() const { return field_count == 0 && key_length == 0 && name.empty(); }
};

// The fixed header of a node page.
struct TPageHeader {
  uint8_t type = 0;
  uint16_t count = 0;
  int32_t prev = 0;
  int32_t next = 0;
  uint16_t body_size = 0;

  static TPageHeader Decode(const uint8_t* bytes);
  void Encode(uint8_t* bytes) const;
};

// A fresh header page: signature 5, next page 1 and the two fixed descriptors.
std::array<uint8_t, kIndexPageSize> NewIndexHeader();

}  // namespace cairn
