#include "storage/files/field_descriptor.h"

#include <algorithm>
#include <cstring>

#include "storage/files/data_endian.h"

namespace cairn {

uint8_t StorageSizeFor(uint8_t type, uint8_t declared_size) {
  switch (type) {
    case kFldString:
      return declared_size >= 255 ? 255 : uint8_t(declared_size + 1);
    case kFldDate:
    case kFldInteger:
    case kFldTime:
    case kFldUInt32:
      return 4;
    case kFldBlob:
    case kFldFloat:
    case kFldDateTime:
    case kFldLargeInt:
      return 8;
    case kFldBoolean:
    case kFldSmallInt:
    case kFldWord:
      return 2;
    case kFldBcd:
      return 34;
    case kFldExtended:
      return 10;
    default:
      return declared_size;
  }
}

bool TypeHasDeclaredSize(uint8_t type) {
  return type == kFldString || type == kFldBytes || type == kFldVarBytes;
}

TFieldDescriptor::TFieldDescriptor(std::span<const uint8_t, kFieldDescriptorSize> bytes) {
  std::memcpy(bytes_.data(), bytes.data(), kFieldDescriptorSize);
}

TFieldDescriptor TFieldDescriptor::Make(std::string_view name, uint8_t type, uint8_t subtype,
                                        uint8_t declared_size, uint8_t scale) {
  TFieldDescriptor d;
  d.SetName(name);
  d.SetType(type);
  d.SetSubtype(subtype);
  d.SetDeclaredSize(TypeHasDeclaredSize(type) ? declared_size : 0);
  d.SetScale(type == kFldBcd ? scale : 0);
  d.SetScaleCopy(d.Scale());
  d.SetStorageSize(StorageSizeFor(type, d.DeclaredSize()));
  return d;
}

uint16_t TFieldDescriptor::FieldNumber() const { return le::U16(&bytes_[0]); }
void TFieldDescriptor::SetFieldNumber(uint16_t number) { le::PutU16(&bytes_[0], number); }
uint16_t TFieldDescriptor::Offset() const { return le::U16(&bytes_[90]); }
void TFieldDescriptor::SetOffset(uint16_t offset) { le::PutU16(&bytes_[90], offset); }

std::string TFieldDescriptor::GetText(size_t offset, size_t max_len) const {
  size_t len = std::min<size_t>(bytes_[offset], max_len);
  return std::string(reinterpret_cast<const char*>(&bytes_[offset + 1]), len);
}

void TFieldDescriptor::SetText(size_t offset, size_t max_len, std::string_view text) {
  size_t len = std::min(text.size(), max_len);
  std::memset(&bytes_[offset], 0, max_len + 1);
  bytes_[offset] = uint8_t(len);
  if (len > 0) std::memcpy(&bytes_[offset + 1], text.data(), len);
}

std::string TFieldDescriptor::Name() const { return GetText(2, kMaxFieldNameLength); }
void TFieldDescriptor::SetName(std::string_view name) { SetText(2, kMaxFieldNameLength, name); }
std::string TFieldDescriptor::Description() const { return GetText(33, kMaxFieldTextLength); }
void TFieldDescriptor::SetDescription(std::string_view text) {
  SetText(33, kMaxFieldTextLength, text);
}
std::string TFieldDescriptor::MinValue() const { return GetText(94, kMaxFieldTextLength); }
void TFieldDescriptor::SetMinValue(std::string_view text) {
  SetText(94, kMaxFieldTextLength, text);
}
std::string TFieldDescriptor::MaxValue() const { return GetText(145, kMaxFieldTextLength); }
void TFieldDescriptor::SetMaxValue(std::string_view text) {
  SetText(145, kMaxFieldTextLength, text);
}
std::string TFieldDescriptor::DefaultValue() const { return GetText(196, kMaxFieldTextLength); }
void TFieldDescriptor::SetDefaultValue(std::string_view text) {
  SetText(196, kMaxFieldTextLength, text);
}

uint32_t TFieldDescriptor::SlotBytes() const {
  if (IsAutoInc() || Computed()) return 0;
  return uint32_t(StorageSize()) + 1;
}

uint32_t LayoutFields(std::span<TFieldDescriptor> fields) {
  uint32_t offset = 9;
  for (size_t i = 0; i < fields.size(); ++i) {
    TFieldDescriptor& f = fields[i];
    f.SetFieldNumber(uint16_t(i + 1));
    if (f.IsAutoInc()) {
      f.SetOffset(5);
      continue;
    }
    f.SetOffset(uint16_t(offset));
    offset += f.SlotBytes();
  }
  return offset;
}

static std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

static char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; }

bool SameFieldName(std::string_view a, std::string_view b) {
  a = TrimBlanks(a);
  b = TrimBlanks(b);
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}

std::string NormalizedFieldName(std::string_view name) {
  std::string out(TrimBlanks(name));
  for (char& c : out) c = AsciiUpper(c);
  return out;
}

}  // namespace cairn
