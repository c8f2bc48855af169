#include "storage/access/dataset_fields.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "storage/access/dataset_query.h"
#include "storage/access/index_key.h"
#include "storage/files/data_endian.h"
#include "storage/files/field_codec.h"
#include "storage/files/field_values.h"

namespace cairn {
namespace {

std::string DateText(int32_t day_number) {
  int y = 0, m = 0, d = 0;
  if (!DayNumberToDate(day_number, y, m, d)) return {};
  char text[16];
  std::snprintf(text, sizeof text, "%02d/%02d/%04d", d, m, y);
  return text;
}

std::string TimeText(int64_t ms) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", int(ms / 3600000), int(ms / 60000 % 60),
                int(ms / 1000 % 60));
  return text;
}

template <typename T>
bool ParseInteger(std::string_view text, T& out) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size();
}

bool Store(const TFieldDescriptor& field, std::span<uint8_t> image, const uint8_t* value,
           size_t size) {
  return PutField(field, image, std::span<const uint8_t>(value, size));
}

}  // namespace

std::string FieldText(const TFieldDescriptor& field, std::span<const uint8_t> image) {
  if (field.Type() == kFldString) return GetString(field, image).value_or("");
  const auto value = GetField(field, image);
  if (!value) return {};
  const uint8_t* v = value->data();
  switch (field.Type()) {
    case kFldDate:
      return DateText(le::I32(v));
    case kFldTime:
      return TimeText(le::I32(v));
    case kFldDateTime: {
      const double stored = le::F64(v);
      const int64_t total = int64_t(std::llround(stored));
      const int32_t day = int32_t(total / kMsPerDay);
      const int64_t ms = total % kMsPerDay;
      return ms == 0 ? DateText(day) : DateText(day) + " " + TimeText(ms);
    }
    case kFldBoolean:
      return le::U16(v) ? "True" : "False";
    case kFldSmallInt:
      return std::to_string(le::I16(v));
    case kFldWord:
      return std::to_string(le::U16(v));
    case kFldInteger:
      return std::to_string(le::I32(v));
    case kFldUInt32:
      return std::to_string(le::U32(v));
    case kFldLargeInt:
      return std::to_string(le::I64(v));
    case kFldFloat: {
      char text[32];
      std::snprintf(text, sizeof text, "%.15g", le::F64(v));
      return text;
    }
    case kFldBcd: {
      const int64_t n = BcdToTenThousandths(v);
      std::string text = std::to_string(n / 10000);
      int64_t frac = std::abs(n % 10000);
      if (n < 0 && n > -10000) text = "-" + text;
      if (frac != 0) {
        char digits[8];
        std::snprintf(digits, sizeof digits, "%04d", int(frac));
        std::string f = digits;
        while (!f.empty() && f.back() == '0') f.pop_back();
        text += "." + f;
      }
      return text;
    }
    default: {
      static constexpr char kHex[] = "0123456789ABCDEF";
      std::string text;
      for (uint8_t b : *value) {
        text += kHex[b >> 4];
        text += kHex[b & 15];
      }
      return text;
    }
  }
}

bool SetFieldText(const TFieldDescriptor& field, std::span<uint8_t> image, std::string_view text) {
  if (text.empty()) return PutFieldNull(field, image);
  uint8_t v[8] = {};
  switch (field.Type()) {
    case kFldString:
      return PutString(field, image, text);
    case kFldDate: {
      const auto day = ParseDateLiteral(text);
      if (!day) return false;
      le::PutI32(v, *day);
      return Store(field, image, v, 4);
    }
    case kFldTime: {
      const auto ms = ParseTimeLiteral(text);
      if (!ms) return false;
      le::PutI32(v, *ms);
      return Store(field, image, v, 4);
    }
    case kFldDateTime: {
      const auto stored = ParseDateTimeLiteral(text);
      if (!stored) return false;
      le::PutF64(v, *stored);
      return Store(field, image, v, 8);
    }
    case kFldBoolean: {
      if (!IsValidFieldLiteral(kFldBoolean, text)) return false;
      const char c = char(std::toupper(static_cast<unsigned char>(text.front())));
      le::PutU16(v, (c == 'T' || c == 'Y' || c == '1') ? 1 : 0);
      return Store(field, image, v, 2);
    }
    case kFldSmallInt: {
      int16_t n;
      if (!ParseInteger(text, n)) return false;
      le::PutU16(v, uint16_t(n));
      return Store(field, image, v, 2);
    }
    case kFldWord: {
      uint16_t n;
      if (!ParseInteger(text, n)) return false;
      le::PutU16(v, n);
      return Store(field, image, v, 2);
    }
    case kFldInteger: {
      int32_t n;
      if (field.IsAutoInc() || !ParseInteger(text, n)) return false;
      le::PutI32(v, n);
      return Store(field, image, v, 4);
    }
    case kFldUInt32: {
      uint32_t n;
      if (!ParseInteger(text, n)) return false;
      le::PutU32(v, n);
      return Store(field, image, v, 4);
    }
    case kFldLargeInt: {
      int64_t n;
      if (!ParseInteger(text, n)) return false;
      le::PutI64(v, n);
      return Store(field, image, v, 8);
    }
    case kFldFloat: {
      if (!IsValidFieldLiteral(kFldFloat, text)) return false;
      le::PutF64(v, std::strtod(std::string(text).c_str(), nullptr));
      return Store(field, image, v, 8);
    }
    default:
      return false;
  }
}

std::optional<TCairnDate> FieldDate(const TFieldDescriptor& field, std::span<const uint8_t> image) {
  if (field.Type() != kFldDate && field.Type() != kFldDateTime) return std::nullopt;
  const auto value = GetField(field, image);
  if (!value) return std::nullopt;
  const int32_t day = field.Type() == kFldDate
                          ? le::I32(value->data())
                          : int32_t(std::llround(le::F64(value->data())) / kMsPerDay);
  TCairnDate date;
  if (!DayNumberToDate(day, date.year, date.month, date.day)) return std::nullopt;
  return date;
}

bool SetFieldDate(const TFieldDescriptor& field, std::span<uint8_t> image,
                  const std::optional<TCairnDate>& date) {
  if (field.Type() != kFldDate && field.Type() != kFldDateTime) return false;
  if (!date) return PutFieldNull(field, image);
  const auto day = DateToDayNumber(date->year, date->month, date->day);
  if (!day) return false;
  uint8_t v[8] = {};
  if (field.Type() == kFldDate) {
    le::PutI32(v, *day);
    return Store(field, image, v, 4);
  }
  le::PutF64(v, StoredDateTime(*day, 0));
  return Store(field, image, v, 8);
}

}  // namespace cairn
