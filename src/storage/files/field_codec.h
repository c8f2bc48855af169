// Putting and getting field values in a record image, with the exact stored
// encodings: a presence byte (0 null, 1 value) followed by the value area,
// except for the auto-increment field, whose value is the record ID at image
// offset 5. Every function checks that the field lies inside the image and
// returns false instead of touching bytes outside it (a damaged descriptor
// must not become a stray write); callers turn that into an engine error.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "storage/base/table_locale.h"
#include "storage/files/field_descriptor.h"

namespace cairn {

// Writes a value. For strings `value` holds the characters (up to the first
// zero byte): they are cut at the declared size, trailing blanks removed,
// the descriptor's case applied with `locale` (nullptr: a table without a
// locale, whose text is upper- and lower-cased as English (United States)),
// and a result with no characters is stored as null. For blobs `value` holds the 4-byte first block number and the
// field is null when it is 0. Booleans store 1 for any non-zero input.
// Other types copy the storage-size bytes (a shorter value is zero-padded).
// Computed columns are left alone unless `force` is set.
bool PutField(const TFieldDescriptor& field, std::span<uint8_t> image,
              std::span<const uint8_t> value, const TTableLocale* locale = nullptr,
              bool force = false);
bool PutString(const TFieldDescriptor& field, std::span<uint8_t> image, std::string_view text,
               const TTableLocale* locale = nullptr);
// Sets the field to null: presence 0 and a zeroed value area (for a blob
// only the first block number). The auto-increment field is left unchanged.
bool PutFieldNull(const TFieldDescriptor& field, std::span<uint8_t> image, bool force = false);
// A blob reference whose presence the caller states (negative block
// numbers are handles of blobs held only in memory).
bool PutBlobReference(const TFieldDescriptor& field, std::span<uint8_t> image, int32_t first_block,
                      bool present);

// The field's stored value: nullopt when it is null or lies outside the
// image. The view covers the value area (storage-size bytes; the first 4 for
// a blob; the record ID for the auto-increment field, never null).
std::optional<std::span<const uint8_t>> GetField(const TFieldDescriptor& field,
                                                 std::span<const uint8_t> image);
// A string field's characters up to the terminating zero; nullopt when null.
std::optional<std::string> GetString(const TFieldDescriptor& field, std::span<const uint8_t> image);
// Second 32-bit number of a blob's value area; nullopt when out of the image.
std::optional<int32_t> GetBlobRevision(const TFieldDescriptor& field,
                                       std::span<const uint8_t> image);
bool SetBlobRevision(const TFieldDescriptor& field, std::span<uint8_t> image, int32_t revision);

// True when the field's bytes (presence byte included) fit in `image_size`.
bool FieldFits(const TFieldDescriptor& field, size_t image_size);

}  // namespace cairn
