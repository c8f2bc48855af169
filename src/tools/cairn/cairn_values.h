// Conversions between JSON values and the stored form of each field type,
// for `cairn apply` and `cairn dump`. Text is kept as the UTF-8 bytes given.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "storage/files/field_descriptor.h"
#include "tools/cairn/cairn_schema.h"

namespace cairn::tool {

struct TFieldValue {
  bool is_null = true;
  // Strings: the characters. Blobs: the contents. Every other type: the
  // value area of the field, StorageSize() bytes, little-endian.
  std::vector<uint8_t> bytes;
};

// Throws TToolError naming the field when `value` does not fit its type.
TFieldValue ParseFieldValue(const TFieldDescriptor& field, const nlohmann::json& value);
nlohmann::json FormatFieldValue(const TFieldDescriptor& field, const TFieldValue& value);

// Calendar helpers: day 1 is 1 January of year 1.
int32_t DayNumber(int year, int month, int day);
void CivilFromDayNumber(int32_t day_number, int& year, int& month, int& day);

std::string Base64Encode(const std::vector<uint8_t>& bytes);
// False on anything but canonical base64.
bool Base64Decode(const std::string& text, std::vector<uint8_t>& out);

}  // namespace cairn::tool
