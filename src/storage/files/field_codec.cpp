#include "storage/files/field_codec.h"

#include <algorithm>
#include <cstring>

#include "storage/files/data_endian.h"

namespace cairn {

bool FieldFits(const TFieldDescriptor& field, size_t image_size) {
  if (field.IsAutoInc()) return image_size >= 9;
  return size_t(field.Offset()) + 1 + field.StorageSize() <= image_size;
}

bool PutString(const TFieldDescriptor& field, std::span<uint8_t> image, std::string_view text,
               const TTableLocale* locale) {
  return PutField(
      field, image,
      std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()),
      locale);
}

bool PutField(const TFieldDescriptor& field, std::span<uint8_t> image,
              std::span<const uint8_t> value, const TTableLocale* locale, bool force) {
  if (field.Computed() && !force) return true;
  if (!FieldFits(field, image.size())) return false;
  if (field.IsAutoInc()) {
    uint8_t id[4] = {0, 0, 0, 0};
    if (!value.empty()) std::memcpy(id, value.data(), std::min<size_t>(value.size(), 4));
    std::memcpy(&image[5], id, 4);
    return true;
  }
  uint8_t* presence = &image[field.Offset()];
  uint8_t* area = presence + 1;
  const size_t storage = field.StorageSize();
  switch (field.Type()) {
    case kFldString: {
      // Scratch of 251 bytes: enough for the largest declared size.
      uint8_t scratch[251] = {};
      size_t limit = std::min<size_t>(field.DeclaredSize(), 250);
      size_t n = 0;
      while (n < value.size() && n < limit && value[n] != 0) {
        scratch[n] = value[n];
        ++n;
      }
      while (n > 0 && scratch[n - 1] == ' ') --n;
      if (field.CharCase() == 1 || field.CharCase() == 2) {
        static const std::shared_ptr<const TTableLocale> kNoLocale = TTableLocale::ForLcid(0);
        const TTableLocale& casing = locale ? *locale : *kNoLocale;
        const std::span<uint8_t> text(scratch, n);
        if (field.CharCase() == 2) {
          casing.Upper(text);
        } else {
          casing.Lower(text);
        }
      }
      n = strnlen(reinterpret_cast<const char*>(scratch), n);
      n = std::min(n, storage > 0 ? storage - 1 : 0);
      std::memset(area, 0, storage);
      if (n > 0) std::memcpy(area, scratch, n);
      *presence = (n > 0 && area[0] != 0) ? 1 : 0;
      return true;
    }
    case kFldBlob: {
      uint8_t block[4] = {0, 0, 0, 0};
      if (!value.empty()) std::memcpy(block, value.data(), std::min<size_t>(value.size(), 4));
      std::memcpy(area, block, 4);
      *presence = le::I32(block) != 0 ? 1 : 0;
      return true;
    }
    case kFldBoolean: {
      bool truth = std::any_of(value.begin(), value.end(), [](uint8_t b) { return b != 0; });
      std::memset(area, 0, storage);
      if (storage >= 2) le::PutU16(area, truth ? 1 : 0);
      *presence = 1;
      return true;
    }
    default: {
      std::memset(area, 0, storage);
      if (!value.empty()) std::memcpy(area, value.data(), std::min(value.size(), storage));
      *presence = 1;
      return true;
    }
  }
}

bool PutFieldNull(const TFieldDescriptor& field, std::span<uint8_t> image, bool force) {
  if (field.Computed() && !force) return true;
  if (!FieldFits(field, image.size())) return false;
  if (field.IsAutoInc()) return true;
  uint8_t* presence = &image[field.Offset()];
  *presence = 0;
  size_t n = field.IsBlob() ? std::min<size_t>(4, field.StorageSize()) : field.StorageSize();
  std::memset(presence + 1, 0, n);
  return true;
}

bool PutBlobReference(const TFieldDescriptor& field, std::span<uint8_t> image, int32_t first_block,
                      bool present) {
  if (!FieldFits(field, image.size()) || field.StorageSize() < 4) return false;
  uint8_t* presence = &image[field.Offset()];
  le::PutI32(presence + 1, first_block);
  *presence = present ? 1 : 0;
  return true;
}

std::optional<std::span<const uint8_t>> GetField(const TFieldDescriptor& field,
                                                 std::span<const uint8_t> image) {
  if (!FieldFits(field, image.size())) return std::nullopt;
  if (field.IsAutoInc()) return image.subspan(5, 4);
  if (image[field.Offset()] == 0) return std::nullopt;
  size_t n = field.IsBlob() ? std::min<size_t>(4, field.StorageSize()) : field.StorageSize();
  return image.subspan(size_t(field.Offset()) + 1, n);
}

std::optional<std::string> GetString(const TFieldDescriptor& field,
                                     std::span<const uint8_t> image) {
  auto area = GetField(field, image);
  if (!area) return std::nullopt;
  const char* chars = reinterpret_cast<const char*>(area->data());
  return std::string(chars, strnlen(chars, area->size()));
}

std::optional<int32_t> GetBlobRevision(const TFieldDescriptor& field,
                                       std::span<const uint8_t> image) {
  if (!FieldFits(field, image.size()) || field.StorageSize() < 8) return std::nullopt;
  return le::I32(&image[size_t(field.Offset()) + 5]);
}

bool SetBlobRevision(const TFieldDescriptor& field, std::span<uint8_t> image, int32_t revision) {
  if (!FieldFits(field, image.size()) || field.StorageSize() < 8) return false;
  le::PutI32(&image[size_t(field.Offset()) + 5], revision);
  return true;
}

}  // namespace cairn
