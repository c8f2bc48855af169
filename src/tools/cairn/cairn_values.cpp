#include "tools/cairn/cairn_values.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "storage/files/data_endian.h"

namespace cairn::tool {

namespace {

using nlohmann::json;

constexpr int32_t kUnixEpochDay = 719163;  // day number of 1 January 1970
constexpr int64_t kMsPerDay = 86400000;

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (month <= 2));
}

bool LeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && LeapYear(y) ? 29 : kDays[m - 1];
}

[[noreturn]] void Fail(const TFieldDescriptor& field, const std::string& problem) {
  throw TToolError("field \"" + field.Name() + "\": " + problem);
}

bool AllDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

int ToInt(std::string_view s) {
  int v = 0;
  for (char c : s) v = v * 10 + (c - '0');
  return v;
}

int32_t ParseDate(const TFieldDescriptor& field, std::string_view text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-' || !AllDigits(text.substr(0, 4)) ||
      !AllDigits(text.substr(5, 2)) || !AllDigits(text.substr(8, 2)))
    Fail(field, "\"" + std::string(text) + "\" is not a date of the form yyyy-mm-dd");
  const int y = ToInt(text.substr(0, 4)), m = ToInt(text.substr(5, 2)),
            d = ToInt(text.substr(8, 2));
  if (y < 1 || m < 1 || m > 12 || d < 1 || d > DaysInMonth(y, m))
    Fail(field, "date \"" + std::string(text) + "\" is out of range");
  return DayNumber(y, m, d);
}

int32_t ParseTime(const TFieldDescriptor& field, std::string_view text) {
  // hh:mm:ss or hh:mm:ss.zzz
  bool ok = (text.size() == 8 || text.size() == 12) && text[2] == ':' && text[5] == ':' &&
            AllDigits(text.substr(0, 2)) && AllDigits(text.substr(3, 2)) &&
            AllDigits(text.substr(6, 2));
  if (ok && text.size() == 12) ok = text[8] == '.' && AllDigits(text.substr(9, 3));
  if (!ok) Fail(field, "\"" + std::string(text) + "\" is not a time of the form hh:mm:ss.zzz");
  const int h = ToInt(text.substr(0, 2)), mi = ToInt(text.substr(3, 2)),
            s = ToInt(text.substr(6, 2));
  const int ms = text.size() == 12 ? ToInt(text.substr(9, 3)) : 0;
  if (h > 23 || mi > 59 || s > 59)
    Fail(field, "time \"" + std::string(text) + "\" is out of range");
  return ((h * 60 + mi) * 60 + s) * 1000 + ms;
}

std::string FormatTime(int64_t ms) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", static_cast<int>(ms / 3600000),
                static_cast<int>(ms / 60000 % 60), static_cast<int>(ms / 1000 % 60),
                static_cast<int>(ms % 1000));
  return text;
}

std::string FormatDate(int32_t day_number) {
  int y, m, d;
  CivilFromDayNumber(day_number, y, m, d);
  char text[24];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", y, m, d);
  return text;
}

int64_t ParseInteger(const TFieldDescriptor& field, const json& value, int64_t low, int64_t high) {
  int64_t number = 0;
  if (value.is_number_integer()) {
    if (value.is_number_unsigned() && value.get<uint64_t>() > uint64_t(INT64_MAX))
      Fail(field, "value is out of range");
    number = value.get<int64_t>();
  } else if (value.is_number_float()) {
    const double d = value.get<double>();
    if (d != std::floor(d)) Fail(field, "expected a whole number");
    if (d < -9.2e18 || d > 9.2e18) Fail(field, "value is out of range");
    number = static_cast<int64_t>(d);
  } else if (value.is_string() && field.Type() == kFldLargeInt) {
    // Large integers may come as strings to keep all 64 bits.
    const std::string text = value.get<std::string>();
    std::string_view digits = text;
    if (!digits.empty() && digits[0] == '-') digits.remove_prefix(1);
    if (!AllDigits(digits) || digits.size() > 19) Fail(field, "expected a whole number");
    try {
      number = std::stoll(text);
    } catch (...) {
      Fail(field, "value is out of range");
    }
  } else {
    Fail(field, "expected a whole number");
  }
  if (number < low || number > high)
    Fail(field, std::to_string(number) + " is out of range (" + std::to_string(low) + " to " +
                    std::to_string(high) + ")");
  return number;
}

std::string ExpectString(const TFieldDescriptor& field, const json& value, const char* what) {
  if (!value.is_string()) Fail(field, std::string("expected ") + what);
  return value.get<std::string>();
}

// BCD as a precision byte, a sign-and-scale byte and 32 bytes of packed
// digits, left-aligned, two per byte, high nibble first.
std::vector<uint8_t> ParseBcd(const TFieldDescriptor& field, const json& value) {
  std::string text;
  if (value.is_string()) {
    text = value.get<std::string>();
  } else if (value.is_number_integer()) {
    text = value.dump();
  } else {
    Fail(field, "expected a decimal number as a string, such as \"12.50\"");
  }
  std::string_view rest = text;
  const bool negative = !rest.empty() && rest[0] == '-';
  if (negative || (!rest.empty() && rest[0] == '+')) rest.remove_prefix(1);
  const size_t point = rest.find('.');
  std::string_view whole = rest.substr(0, point);
  std::string_view fraction = point == std::string_view::npos ? "" : rest.substr(point + 1);
  if ((whole.empty() && fraction.empty()) || (!whole.empty() && !AllDigits(whole)) ||
      (!fraction.empty() && !AllDigits(fraction)) ||
      (point != std::string_view::npos && fraction.empty()))
    Fail(field, "\"" + text + "\" is not a decimal number");
  while (whole.size() > 1 && whole[0] == '0') whole.remove_prefix(1);
  const size_t scale = field.Scale();
  if (fraction.size() > scale) {
    // Extra decimals are accepted only when they are zeros: nothing is rounded away.
    for (size_t i = scale; i < fraction.size(); ++i)
      if (fraction[i] != '0')
        Fail(field, "\"" + text + "\" has more than " + std::to_string(scale) + " decimals");
    fraction = fraction.substr(0, scale);
  }
  std::string digits(whole.empty() ? "0" : whole);
  digits += fraction;
  digits.append(scale - fraction.size(), '0');
  if (digits.size() > 64) Fail(field, "\"" + text + "\" has more than 64 digits");
  std::vector<uint8_t> out(34, 0);
  out[0] = static_cast<uint8_t>(digits.size());
  bool zero = digits.find_first_not_of('0') == std::string::npos;
  out[1] = static_cast<uint8_t>(scale | ((negative && !zero) ? 0x80 : 0));
  for (size_t i = 0; i < digits.size(); ++i) {
    const uint8_t nibble = static_cast<uint8_t>(digits[i] - '0');
    out[2 + i / 2] |= (i % 2 == 0) ? static_cast<uint8_t>(nibble << 4) : nibble;
  }
  return out;
}

std::string FormatBcd(const std::vector<uint8_t>& bytes) {
  const int precision = std::min<int>(bytes[0], 64);
  const int places = std::min(bytes[1] & 0x3F, precision);
  std::string digits;
  for (int i = 0; i < precision; ++i) {
    const uint8_t b = bytes[2 + i / 2];
    digits.push_back(static_cast<char>('0' + ((i % 2 == 0) ? b >> 4 : b & 0x0F)));
  }
  std::string whole = digits.substr(0, precision - places);
  while (whole.size() > 1 && whole[0] == '0') whole.erase(0, 1);
  if (whole.empty()) whole = "0";
  std::string text = ((bytes[1] & 0x80) ? "-" : "") + whole;
  if (places > 0) text += "." + digits.substr(precision - places);
  return text;
}

}  // namespace

int32_t DayNumber(int year, int month, int day) {
  return static_cast<int32_t>(DaysFromCivil(year, month, day) + kUnixEpochDay);
}

void CivilFromDayNumber(int32_t day_number, int& year, int& month, int& day) {
  CivilFromDays(static_cast<int64_t>(day_number) - kUnixEpochDay, year, month, day);
}

std::string Base64Encode(const std::vector<uint8_t>& bytes) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const uint32_t v = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
    for (int s = 18; s >= 0; s -= 6) out.push_back(kAlphabet[(v >> s) & 63]);
  }
  if (i + 1 == bytes.size()) {
    const uint32_t v = bytes[i] << 16;
    out += {kAlphabet[v >> 18], kAlphabet[(v >> 12) & 63], '=', '='};
  } else if (i + 2 == bytes.size()) {
    const uint32_t v = (bytes[i] << 16) | (bytes[i + 1] << 8);
    out += {kAlphabet[v >> 18], kAlphabet[(v >> 12) & 63], kAlphabet[(v >> 6) & 63], '='};
  }
  return out;
}

bool Base64Decode(const std::string& text, std::vector<uint8_t>& out) {
  out.clear();
  if (text.size() % 4 != 0) return false;
  auto value = [](char c) -> int {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
  };
  for (size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    int v[4];
    int pad = 0;
    for (int j = 0; j < 4; ++j) {
      const char c = text[i + j];
      if (c == '=' && last && j >= 2) {
        v[j] = 0;
        ++pad;
      } else {
        if (pad > 0) return false;
        v[j] = value(c);
        if (v[j] < 0) return false;
      }
    }
    const uint32_t n = (v[0] << 18) | (v[1] << 12) | (v[2] << 6) | v[3];
    out.push_back(static_cast<uint8_t>(n >> 16));
    if (pad < 2) out.push_back(static_cast<uint8_t>(n >> 8));
    if (pad < 1) out.push_back(static_cast<uint8_t>(n));
  }
  return true;
}

TFieldValue ParseFieldValue(const TFieldDescriptor& field, const json& value) {
  TFieldValue result;
  if (value.is_null()) return result;
  if (field.IsAutoInc()) Fail(field, "an autoinc field is filled in by the table");
  result.is_null = false;
  std::vector<uint8_t>& out = result.bytes;
  out.assign(field.StorageSize(), 0);
  switch (field.Type()) {
    case kFldString: {
      const std::string text = ExpectString(field, value, "a string");
      if (text.size() > field.DeclaredSize())
        Fail(field, "text of " + std::to_string(text.size()) + " bytes is longer than " +
                        std::to_string(field.DeclaredSize()));
      if (text.find('\0') != std::string::npos) Fail(field, "text holds a zero character");
      out.assign(text.begin(), text.end());
      break;
    }
    case kFldBlob: {
      if (field.Subtype() == kSubMemo || field.Subtype() == kSubFmtMemo) {
        const std::string text = ExpectString(field, value, "a string");
        out.assign(text.begin(), text.end());
      } else {
        const std::string text = ExpectString(field, value, "base64 text");
        if (!Base64Decode(text, out)) Fail(field, "value is not valid base64");
      }
      result.is_null = out.empty();
      break;
    }
    case kFldDate:
      le::PutI32(out.data(), ParseDate(field, ExpectString(field, value, "a date \"yyyy-mm-dd\"")));
      break;
    case kFldTime:
      le::PutI32(out.data(),
                 ParseTime(field, ExpectString(field, value, "a time \"hh:mm:ss.zzz\"")));
      break;
    case kFldDateTime: {
      const std::string text =
          ExpectString(field, value, "a date-time \"yyyy-mm-ddThh:mm:ss.zzz\"");
      const size_t t = text.find('T');
      if (t != 10)
        Fail(field, "\"" + text + "\" is not a date-time of the form yyyy-mm-ddThh:mm:ss.zzz");
      const int64_t day = ParseDate(field, std::string_view(text).substr(0, 10));
      const int64_t ms = ParseTime(field, std::string_view(text).substr(11));
      le::PutF64(out.data(), static_cast<double>(day * kMsPerDay + ms));
      break;
    }
    case kFldBoolean:
      if (!value.is_boolean()) Fail(field, "expected true or false");
      le::PutU16(out.data(), value.get<bool>() ? 1 : 0);
      break;
    case kFldSmallInt:
      le::PutU16(out.data(),
                 static_cast<uint16_t>(ParseInteger(field, value, INT16_MIN, INT16_MAX)));
      break;
    case kFldWord:
      le::PutU16(out.data(), static_cast<uint16_t>(ParseInteger(field, value, 0, UINT16_MAX)));
      break;
    case kFldInteger:
      le::PutI32(out.data(),
                 static_cast<int32_t>(ParseInteger(field, value, INT32_MIN, INT32_MAX)));
      break;
    case kFldLargeInt:
      le::PutI64(out.data(), ParseInteger(field, value, INT64_MIN, INT64_MAX));
      break;
    case kFldFloat: {
      if (!value.is_number()) Fail(field, "expected a number");
      const double d = value.get<double>();
      if (!std::isfinite(d)) Fail(field, "expected a finite number");
      le::PutF64(out.data(), d);
      break;
    }
    case kFldBcd:
      out = ParseBcd(field, value);
      break;
    case kFldBytes: {
      std::vector<uint8_t> data;
      if (!Base64Decode(ExpectString(field, value, "base64 text"), data))
        Fail(field, "value is not valid base64");
      if (data.size() > field.DeclaredSize())
        Fail(field, std::to_string(data.size()) + " bytes do not fit in " +
                        std::to_string(field.DeclaredSize()));
      std::copy(data.begin(), data.end(), out.begin());
      break;
    }
    case kFldVarBytes: {
      std::vector<uint8_t> data;
      if (!Base64Decode(ExpectString(field, value, "base64 text"), data))
        Fail(field, "value is not valid base64");
      if (data.size() + 2 > field.DeclaredSize())
        Fail(field, std::to_string(data.size()) + " bytes do not fit in " +
                        std::to_string(field.DeclaredSize() - 2));
      le::PutU16(out.data(), static_cast<uint16_t>(data.size()));
      std::copy(data.begin(), data.end(), out.begin() + 2);
      break;
    }
    default:
      Fail(field, "type " + std::to_string(field.Type()) + " cannot be written by this tool");
  }
  return result;
}

json FormatFieldValue(const TFieldDescriptor& field, const TFieldValue& value) {
  if (value.is_null && !field.IsAutoInc()) return nullptr;
  const std::vector<uint8_t>& b = value.bytes;
  auto need = [&](size_t n) {
    if (b.size() < n) throw TToolError("field \"" + field.Name() + "\": stored value is short");
  };
  switch (field.Type()) {
    case kFldString: {
      std::string text(b.begin(), b.end());
      text = text.substr(0, text.find('\0'));
      return text;
    }
    case kFldBlob:
      if (field.Subtype() == kSubMemo || field.Subtype() == kSubFmtMemo)
        return std::string(b.begin(), b.end());
      return Base64Encode(b);
    case kFldDate:
      need(4);
      return FormatDate(le::I32(b.data()));
    case kFldTime:
      need(4);
      return FormatTime(le::I32(b.data()));
    case kFldDateTime: {
      need(8);
      const double v = le::F64(b.data());
      if (!std::isfinite(v) || v < 0 || v > 4e15) return v;
      const int64_t total = static_cast<int64_t>(v);
      return FormatDate(static_cast<int32_t>(total / kMsPerDay)) + "T" +
             FormatTime(total % kMsPerDay);
    }
    case kFldBoolean:
      need(2);
      return le::U16(b.data()) != 0;
    case kFldSmallInt:
      need(2);
      return le::I16(b.data());
    case kFldWord:
      need(2);
      return le::U16(b.data());
    case kFldInteger:
      need(4);
      return le::I32(b.data());
    case kFldLargeInt:
      need(8);
      return le::I64(b.data());
    case kFldFloat:
      need(8);
      return le::F64(b.data());
    case kFldBcd:
      need(34);
      return FormatBcd(b);
    case kFldVarBytes: {
      need(2);
      const size_t n = std::min<size_t>(le::U16(b.data()), b.size() - 2);
      return Base64Encode(std::vector<uint8_t>(b.begin() + 2, b.begin() + 2 + n));
    }
    default:
      return Base64Encode(b);
  }
}

}  // namespace cairn::tool
