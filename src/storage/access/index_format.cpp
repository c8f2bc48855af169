#include "storage/access/index_format.h"

#include <algorithm>
#include <cstring>

namespace cairn {

TIndexDescriptor TIndexDescriptor::Decode(std::span<const uint8_t, hdr::kDescriptorSize> b) {
  TIndexDescriptor d;
  const int name_len = std::min<int>(b[desc::kName], 30);
  d.name.assign(reinterpret_cast<const char*>(b.data() + 1), name_len);
  d.key_length = int16_t(le::U16(b.data() + desc::kKeyLength));
  d.descending = b[desc::kDescending] != 0;
  d.case_insensitive = b[desc::kCaseInsensitive] != 0;
  d.unique = b[desc::kUnique] != 0;
  d.compression = b[desc::kCompression];
  d.field_count = b[desc::kFieldCount];
  for (int i = 0; i < kMaxKeyFields; ++i) {
    d.field_descending[i] = b[desc::kFieldDescending + i];
    d.fields[i] = int16_t(le::U16(b.data() + desc::kFields + 2 * i));
  }
  d.root = le::I32(b.data() + desc::kRoot);
  d.free_head = le::I32(b.data() + desc::kFreeHead);
  d.param_page = le::I32(b.data() + desc::kParamPage);
  d.no_counts = b[desc::kNoCounts] != 0;
  d.temporary = b[desc::kTemporary] != 0;
  return d;
}

void TIndexDescriptor::Encode(std::span<uint8_t, hdr::kDescriptorSize> b) const {
  std::fill(b.begin(), b.end(), uint8_t{0});
  const size_t name_len = std::min<size_t>(name.size(), 30);
  b[desc::kName] = uint8_t(name_len);
  std::memcpy(b.data() + 1, name.data(), name_len);
  le::PutU16(b.data() + desc::kKeyLength, uint16_t(key_length));
  b[desc::kDescending] = descending;
  b[desc::kCaseInsensitive] = case_insensitive;
  b[desc::kUnique] = unique;
  b[desc::kCompression] = compression;
  b[desc::kFieldCount] = field_count;
  for (int i = 0; i < kMaxKeyFields; ++i) {
    b[desc::kFieldDescending + i] = field_descending[i];
    le::PutU16(b.data() + desc::kFields + 2 * i, uint16_t(fields[i]));
  }
  le::PutI32(b.data() + desc::kRoot, root);
  le::PutI32(b.data() + desc::kFreeHead, free_head);
  le::PutI32(b.data() + desc::kParamPage, param_page);
  b[desc::kNoCounts] = no_counts;
  b[desc::kTemporary] = temporary;
}

TPageHeader TPageHeader::Decode(const uint8_t* b) {
  TPageHeader h;
  h.type = b[0];
  h.count = le::U16(b + 1);
  h.prev = le::I32(b + 3);
  h.next = le::I32(b + 7);
  h.body_size = le::U16(b + 11);
  return h;
}

void TPageHeader::Encode(uint8_t* b) const {
  b[0] = type;
  le::PutU16(b + 1, count);
  le::PutI32(b + 3, prev);
  le::PutI32(b + 7, next);
  le::PutU16(b + 11, body_size);
}

std::array<uint8_t, kIndexPageSize> NewIndexHeader() {
  std::array<uint8_t, kIndexPageSize> h{};
  h[hdr::kSignature] = kIndexSignature;
  le::PutI32(h.data() + hdr::kNextPage, 1);
  TIndexDescriptor status;
  status.name = "Sys Deleted";
  status.key_length = kStatusKeyLength;
  status.compression = kCompressNone;
  status.Encode(std::span<uint8_t, hdr::kDescriptorSize>(
      h.data() + hdr::DescriptorOffset(kStatusIndex), hdr::kDescriptorSize));
  TIndexDescriptor text;
  text.name = "Sys Text";
  text.key_length = kTextKeyLength;
  text.compression = kCompressFull;
  text.Encode(std::span<uint8_t, hdr::kDescriptorSize>(h.data() + hdr::DescriptorOffset(kTextIndex),
                                                       hdr::kDescriptorSize));
  return h;
}

}  // namespace cairn
