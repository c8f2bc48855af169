// TFieldDescriptor: one 768-byte field descriptor of a data file, kept as
// the exact on-disk bytes with typed accessors. Strings are length-prefixed
// (one length byte, then up to N characters in N + 1 bytes); readers clamp a
// length byte that is larger than N, so a damaged descriptor never makes an
// accessor read past its own block. The field type codes live here too.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace cairn {

// Field type codes as stored at descriptor offset 84.
enum TFieldTypeCode : uint8_t {
  kFldString = 1,
  kFldDate = 2,
  kFldBlob = 3,
  kFldBoolean = 4,
  kFldSmallInt = 5,
  kFldInteger = 6,
  kFldFloat = 7,
  kFldBcd = 8,
  kFldBytes = 9,
  kFldTime = 10,
  kFldDateTime = 11,
  kFldWord = 12,
  kFldUInt32 = 13,
  kFldExtended = 14,
  kFldVarBytes = 15,
  kFldCursor = 17,
  kFldLargeInt = 18,
  kFldAdt = 20,
  kFldArray = 21,
  kFldReference = 22,
  kFldDataSet = 23,
};

// Subtype codes as stored at descriptor offset 85.
enum TFieldSubtypeCode : uint8_t {
  kSubNone = 0,
  kSubMoney = 21,
  kSubMemo = 22,
  kSubFmtMemo = 24,
  kSubGraphic = 26,
  kSubTypedBinary = 28,
  kSubAutoInc = 29,
  kSubFixed = 31,
  kSubWide = 32,
};

inline constexpr size_t kFieldDescriptorSize = 768;
inline constexpr size_t kMaxFieldNameLength = 30;
inline constexpr size_t kMaxFieldTextLength = 50;  // description and the three value texts
inline constexpr uint8_t kMaxDeclaredSize = 250;

// Storage size in bytes of a value of `type`: fixed per type; the declared
// size for strings (+1 for the terminating zero), bytes, variable bytes and
// any code the engine does not know.
uint8_t StorageSizeFor(uint8_t type, uint8_t declared_size);

// True for the types whose descriptor carries a declared size (1, 9, 15).
bool TypeHasDeclaredSize(uint8_t type);

class TFieldDescriptor {
 public:
  TFieldDescriptor() { bytes_.fill(0); }
  explicit TFieldDescriptor(std::span<const uint8_t, kFieldDescriptorSize> bytes);

  // A descriptor for a new field: name, type, subtype, declared size and
  // scale, with the storage size computed. Number and offset are set by
  // LayoutFields.
  static TFieldDescriptor Make(std::string_view name, uint8_t type, uint8_t subtype = 0,
                               uint8_t declared_size = 0, uint8_t scale = 0);

  std::span<const uint8_t, kFieldDescriptorSize> Bytes() const { return bytes_; }
  std::span<uint8_t, kFieldDescriptorSize> MutableBytes() { return bytes_; }

  uint16_t FieldNumber() const;
  void SetFieldNumber(uint16_t number);
  std::string Name() const;
  void SetName(std::string_view name);  // cut at 30 characters
  uint8_t NameLengthByte() const { return bytes_[2]; }
  std::string Description() const;
  void SetDescription(std::string_view text);
  uint8_t Type() const { return bytes_[84]; }
  void SetType(uint8_t type) { bytes_[84] = type; }
  uint8_t Subtype() const { return bytes_[85]; }
  void SetSubtype(uint8_t subtype) { bytes_[85] = subtype; }
  uint8_t DeclaredSize() const { return bytes_[86]; }
  void SetDeclaredSize(uint8_t size) { bytes_[86] = size; }
  uint8_t Scale() const { return bytes_[87]; }
  void SetScale(uint8_t scale) { bytes_[87] = scale; }
  uint8_t StorageSize() const { return bytes_[88]; }
  void SetStorageSize(uint8_t size) { bytes_[88] = size; }
  uint8_t ScaleCopy() const { return bytes_[89]; }
  void SetScaleCopy(uint8_t scale) { bytes_[89] = scale; }
  uint16_t Offset() const;
  void SetOffset(uint16_t offset);
  bool Required() const { return bytes_[92] != 0; }
  void SetRequired(bool required) { bytes_[92] = required ? 1 : 0; }
  // 0 unchanged, 1 lower case, 2 upper case.
  uint8_t CharCase() const { return bytes_[93]; }
  void SetCharCase(uint8_t char_case) { bytes_[93] = char_case; }
  std::string MinValue() const;
  void SetMinValue(std::string_view text);
  std::string MaxValue() const;
  void SetMaxValue(std::string_view text);
  std::string DefaultValue() const;
  void SetDefaultValue(std::string_view text);
  bool Computed() const { return bytes_[247] != 0; }
  void SetComputed(bool computed) { bytes_[247] = computed ? 1 : 0; }

  bool IsAutoInc() const { return Type() == kFldInteger && Subtype() == kSubAutoInc; }
  bool IsBlob() const { return Type() == kFldBlob; }
  // Bytes the field occupies in a record slot: presence byte + storage, or
  // nothing for the auto-increment field (it lives in the record header)
  // and for computed columns.
  uint32_t SlotBytes() const;

 private:
  std::string GetText(size_t offset, size_t max_len) const;
  void SetText(size_t offset, size_t max_len, std::string_view text);

  std::array<uint8_t, kFieldDescriptorSize> bytes_;
};

// Numbers the fields 1..F and assigns their offsets in field order starting
// at 9 (the auto-increment field gets 5 and takes no room of its own).
// Returns the record size.
uint32_t LayoutFields(std::span<TFieldDescriptor> fields);

// Case-insensitive equality of field names after trimming blanks.
bool SameFieldName(std::string_view a, std::string_view b);
// The form SameFieldName compares: blanks trimmed, ASCII letters upper-cased.
std::string NormalizedFieldName(std::string_view name);

}  // namespace cairn
