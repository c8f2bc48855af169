// TDataHeader: the 127-byte header of a data file, kept as the exact on-disk
// image with typed accessors. The header itself is never scrambled; only the
// characters of the description and the password are, by TDataFile.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace cairn {

inline constexpr size_t kDataHeaderSize = 127;
inline constexpr uint8_t kDataFormatSignature = 5;
inline constexpr uint32_t kWriterVersionStamp = 33000;
inline constexpr size_t kMaxTableDescriptionLength = 50;
inline constexpr size_t kMaxTablePasswordLength = 15;
inline constexpr uint16_t kDefaultBlobBlockSize = 512;

// Counters of handed-out values run 1..2147483647 and then start again at 1.
inline int32_t NextCounterValue(int32_t current) {
  return current >= 2147483647 || current < 0 ? 1 : current + 1;
}

class TDataHeader {
 public:
  TDataHeader() { bytes_.fill(0); }
  explicit TDataHeader(std::span<const uint8_t, kDataHeaderSize> bytes);

  std::span<const uint8_t, kDataHeaderSize> Bytes() const { return bytes_; }
  std::span<uint8_t, kDataHeaderSize> MutableBytes() { return bytes_; }
  void Clear() { bytes_.fill(0); }

  int32_t ChangeCounter() const;
  void SetChangeCounter(int32_t value);
  // Moves the counter on by one. It is compared for difference only, so
  // after 2147483647 it wraps to -2147483648 (the same four bytes an
  // unsigned counter would store) rather than overflowing.
  void AdvanceChangeCounter() { SetChangeCounter(int32_t(uint32_t(ChangeCounter()) + 1u)); }
  // Raw 32-bit field; only its low 16 bits are used (see BlobBlockSize).
  uint32_t BlobBlockSizeRaw() const;
  void SetBlobBlockSizeRaw(uint32_t value);
  // The block size in force: the low 16 bits, 512 when they are 0.
  uint16_t BlobBlockSize() const;
  uint8_t Signature() const { return bytes_[8]; }
  void SetSignature(uint8_t value) { bytes_[8] = value; }
  uint32_t FirstDeleted() const;
  void SetFirstDeleted(uint32_t slot);
  uint32_t NextRecordNumber() const;
  void SetNextRecordNumber(uint32_t number);
  int32_t LastAutoInc() const;
  void SetLastAutoInc(int32_t value);
  uint16_t RecordSize() const;
  void SetRecordSize(uint16_t size);
  uint16_t FieldCount() const;
  void SetFieldCount(uint16_t count);
  uint16_t BlobFieldCount() const;
  void SetBlobFieldCount(uint16_t count);
  double TimeStamp() const;
  void SetTimeStamp(double stamp);
  // Length byte and raw characters as stored (scrambled when encrypted).
  uint8_t DescriptionLength() const;
  std::span<uint8_t> DescriptionChars();
  void SetDescriptionRaw(std::string_view chars);
  bool Encrypted() const { return bytes_[86] == 1; }
  void SetEncrypted(bool encrypted) { bytes_[86] = encrypted ? 1 : 0; }
  uint8_t PasswordLength() const;
  std::span<uint8_t> PasswordChars();
  void SetPasswordRaw(std::string_view chars);
  uint16_t LanguageId() const;
  void SetLanguageId(uint16_t id);
  uint16_t SortId() const;
  void SetSortId(uint16_t id);
  uint32_t Locale() const { return uint32_t(SortId()) * 65536u + LanguageId(); }
  uint16_t UserMajorVersion() const;
  void SetUserMajorVersion(uint16_t v);
  uint16_t UserMinorVersion() const;
  void SetUserMinorVersion(uint16_t v);
  bool Modified() const { return bytes_[111] != 0; }
  void SetModified(bool modified) { bytes_[111] = modified ? 1 : 0; }
  int32_t LastBlobRevision() const;
  void SetLastBlobRevision(int32_t value);
  uint32_t WriterVersion() const;
  // Stamps the writer version (33000) and clears the reserved word at 120.
  void StampWriter();

 private:
  std::array<uint8_t, kDataHeaderSize> bytes_;
};

}  // namespace cairn
