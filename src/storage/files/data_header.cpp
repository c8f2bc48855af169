#include "storage/files/data_header.h"

#include <algorithm>
#include <cstring>

#include "storage/files/data_endian.h"

namespace cairn {

TDataHeader::TDataHeader(std::span<const uint8_t, kDataHeaderSize> bytes) {
  std::memcpy(bytes_.data(), bytes.data(), kDataHeaderSize);
}

int32_t TDataHeader::ChangeCounter() const { return le::I32(&bytes_[0]); }
void TDataHeader::SetChangeCounter(int32_t value) { le::PutI32(&bytes_[0], value); }
uint32_t TDataHeader::BlobBlockSizeRaw() const { return le::U32(&bytes_[4]); }
void TDataHeader::SetBlobBlockSizeRaw(uint32_t value) { le::PutU32(&bytes_[4], value); }
uint16_t TDataHeader::BlobBlockSize() const {
  uint16_t size = le::U16(&bytes_[4]);
  return size == 0 ? kDefaultBlobBlockSize : size;
}
uint32_t TDataHeader::FirstDeleted() const { return le::U32(&bytes_[9]); }
void TDataHeader::SetFirstDeleted(uint32_t slot) { le::PutU32(&bytes_[9], slot); }
uint32_t TDataHeader::NextRecordNumber() const { return le::U32(&bytes_[13]); }
void TDataHeader::SetNextRecordNumber(uint32_t number) { le::PutU32(&bytes_[13], number); }
int32_t TDataHeader::LastAutoInc() const { return le::I32(&bytes_[17]); }
void TDataHeader::SetLastAutoInc(int32_t value) { le::PutI32(&bytes_[17], value); }
uint16_t TDataHeader::RecordSize() const { return le::U16(&bytes_[21]); }
void TDataHeader::SetRecordSize(uint16_t size) { le::PutU16(&bytes_[21], size); }
uint16_t TDataHeader::FieldCount() const { return le::U16(&bytes_[23]); }
void TDataHeader::SetFieldCount(uint16_t count) { le::PutU16(&bytes_[23], count); }
uint16_t TDataHeader::BlobFieldCount() const { return le::U16(&bytes_[25]); }
void TDataHeader::SetBlobFieldCount(uint16_t count) { le::PutU16(&bytes_[25], count); }
double TDataHeader::TimeStamp() const { return le::F64(&bytes_[27]); }
void TDataHeader::SetTimeStamp(double stamp) { le::PutF64(&bytes_[27], stamp); }

uint8_t TDataHeader::DescriptionLength() const {
  return std::min<uint8_t>(bytes_[35], kMaxTableDescriptionLength);
}
std::span<uint8_t> TDataHeader::DescriptionChars() { return {&bytes_[36], DescriptionLength()}; }
void TDataHeader::SetDescriptionRaw(std::string_view chars) {
  size_t len = std::min(chars.size(), kMaxTableDescriptionLength);
  std::memset(&bytes_[35], 0, kMaxTableDescriptionLength + 1);
  bytes_[35] = uint8_t(len);
  if (len > 0) std::memcpy(&bytes_[36], chars.data(), len);
}

uint8_t TDataHeader::PasswordLength() const {
  return std::min<uint8_t>(bytes_[87], kMaxTablePasswordLength);
}
std::span<uint8_t> TDataHeader::PasswordChars() { return {&bytes_[88], PasswordLength()}; }
void TDataHeader::SetPasswordRaw(std::string_view chars) {
  size_t len = std::min(chars.size(), kMaxTablePasswordLength);
  std::memset(&bytes_[87], 0, kMaxTablePasswordLength + 1);
  bytes_[87] = uint8_t(len);
  if (len > 0) std::memcpy(&bytes_[88], chars.data(), len);
}

uint16_t TDataHeader::LanguageId() const { return le::U16(&bytes_[103]); }
void TDataHeader::SetLanguageId(uint16_t id) { le::PutU16(&bytes_[103], id); }
uint16_t TDataHeader::SortId() const { return le::U16(&bytes_[105]); }
void TDataHeader::SetSortId(uint16_t id) { le::PutU16(&bytes_[105], id); }
uint16_t TDataHeader::UserMajorVersion() const { return le::U16(&bytes_[107]); }
void TDataHeader::SetUserMajorVersion(uint16_t v) { le::PutU16(&bytes_[107], v); }
uint16_t TDataHeader::UserMinorVersion() const { return le::U16(&bytes_[109]); }
void TDataHeader::SetUserMinorVersion(uint16_t v) { le::PutU16(&bytes_[109], v); }
int32_t TDataHeader::LastBlobRevision() const { return le::I32(&bytes_[112]); }
void TDataHeader::SetLastBlobRevision(int32_t value) { le::PutI32(&bytes_[112], value); }
uint32_t TDataHeader::WriterVersion() const { return le::U32(&bytes_[116]); }
void TDataHeader::StampWriter() {
  le::PutU32(&bytes_[116], kWriterVersionStamp);
  le::PutU32(&bytes_[120], 0);
}

}  // namespace cairn
