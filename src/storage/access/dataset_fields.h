// Field values of a record image as the dataset shows and takes them:
// text in the program's fixed formats (date "dd/mm/yyyy", date-time with
// " hh:mm:ss" unless at midnight, time "hh:mm:ss", booleans "True"/"False"),
// and dates as calendar dates. Blob fields are not handled here.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "storage/files/field_descriptor.h"

namespace cairn {

struct TCairnDate;

// Empty for null.
std::string FieldText(const TFieldDescriptor& field, std::span<const uint8_t> image);
// Stores `text` (empty: null); false when the text is no value of the type.
bool SetFieldText(const TFieldDescriptor& field, std::span<uint8_t> image, std::string_view text);
// Date and date-time fields; nullopt when null or of another type.
std::optional<TCairnDate> FieldDate(const TFieldDescriptor& field, std::span<const uint8_t> image);
// False for a field of another type or a date that does not exist.
bool SetFieldDate(const TFieldDescriptor& field, std::span<uint8_t> image,
                  const std::optional<TCairnDate>& date);

}  // namespace cairn
