#include "storage/files/field_values.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "storage/files/field_descriptor.h"

namespace cairn {
namespace {

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return (m == 2 && IsLeap(y)) ? 29 : kDays[m - 1];
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Reads exactly `digits` decimal digits (or 1..digits when `exact` is false).
bool TakeNumber(std::string_view& s, int min_digits, int max_digits, int& out) {
  int n = 0, value = 0;
  while (n < max_digits && n < int(s.size()) && s[n] >= '0' && s[n] <= '9') {
    value = value * 10 + (s[n] - '0');
    ++n;
  }
  if (n < min_digits) return false;
  s.remove_prefix(n);
  out = value;
  return true;
}

bool TakeChar(std::string_view& s, char c) {
  if (s.empty() || s.front() != c) return false;
  s.remove_prefix(1);
  return true;
}

// Parses a date at the front of `s`, leaving the rest.
std::optional<int32_t> TakeDate(std::string_view& s) {
  int a = 0, b = 0, c = 0;
  std::string_view t = s;
  if (TakeNumber(t, 4, 4, a) && TakeChar(t, '-') && TakeNumber(t, 1, 2, b) && TakeChar(t, '-') &&
      TakeNumber(t, 1, 2, c)) {
    s = t;
    return DateToDayNumber(a, b, c);
  }
  t = s;
  if (TakeNumber(t, 1, 2, a) && TakeChar(t, '/') && TakeNumber(t, 1, 2, b) && TakeChar(t, '/') &&
      TakeNumber(t, 4, 4, c)) {
    s = t;
    return DateToDayNumber(c, b, a);
  }
  return std::nullopt;
}

std::optional<int32_t> TakeTime(std::string_view& s) {
  int h = 0, m = 0, sec = 0, ms = 0;
  if (!TakeNumber(s, 1, 2, h) || !TakeChar(s, ':') || !TakeNumber(s, 2, 2, m)) return std::nullopt;
  if (TakeChar(s, ':')) {
    if (!TakeNumber(s, 2, 2, sec)) return std::nullopt;
    if (TakeChar(s, '.') && !TakeNumber(s, 1, 3, ms)) return std::nullopt;
  }
  return TimeToMs(h, m, sec, ms);
}

bool IsInteger(std::string_view s, long long lo, long long hi) {
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  long long v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  return ec == std::errc() && p == s.data() + s.size() && v >= lo && v <= hi;
}

// The same text means the same number whatever the process locale, and
// only decimal or exponent notation counts (no hexadecimal, "inf" or "nan").
bool IsFloat(std::string_view s) {
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty() || s.front() == '+') return false;
  double v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::general);
  return ec == std::errc() && p == s.data() + s.size() && std::isfinite(v);
}

bool IsDecimal(std::string_view s) {
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) s.remove_prefix(1);
  int digits = 0;
  bool dot = false;
  for (char c : s) {
    if (c >= '0' && c <= '9') {
      ++digits;
    } else if (c == '.' && !dot) {
      dot = true;
    } else {
      return false;
    }
  }
  return digits > 0 && digits <= 64;
}

bool IsBoolean(std::string_view s) {
  static const char* kWords[] = {"true", "false", "t", "f", "yes", "no", "1", "0"};
  for (const char* w : kWords) {
    std::string_view word(w);
    if (word.size() != s.size()) continue;
    bool same = true;
    for (size_t i = 0; i < s.size(); ++i) {
      char c = s[i];
      if (c >= 'A' && c <= 'Z') c = char(c + 32);
      if (c != word[i]) same = false;
    }
    if (same) return true;
  }
  return false;
}

}  // namespace

std::optional<int32_t> DateToDayNumber(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month)) {
    return std::nullopt;
  }
  int y = year - 1;
  int32_t days = y * 365 + y / 4 - y / 100 + y / 400;
  for (int m = 1; m < month; ++m) days += DaysInMonth(year, m);
  return days + day;
}

bool DayNumberToDate(int32_t day_number, int& year, int& month, int& day) {
  if (day_number < 1 || day_number > 3652059) return false;  // 31 December 9999
  int32_t d = day_number - 1;
  int y400 = d / 146097;
  d %= 146097;
  int y100 = d / 36524;
  if (y100 == 4) y100 = 3;
  d -= y100 * 36524;
  int y4 = d / 1461;
  d %= 1461;
  int y1 = d / 365;
  if (y1 == 4) y1 = 3;
  d -= y1 * 365;
  year = y400 * 400 + y100 * 100 + y4 * 4 + y1 + 1;
  month = 1;
  while (d >= DaysInMonth(year, month)) d -= DaysInMonth(year, month++);
  day = d + 1;
  return true;
}

std::optional<int32_t> TimeToMs(int hour, int minute, int second, int ms) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || ms < 0 ||
      ms > 999) {
    return std::nullopt;
  }
  return ((hour * 60 + minute) * 60 + second) * 1000 + ms;
}

std::optional<int32_t> ParseDateLiteral(std::string_view text) {
  std::string_view s = Trim(text);
  auto day = TakeDate(s);
  if (!day || !s.empty()) return std::nullopt;
  return day;
}

std::optional<int32_t> ParseTimeLiteral(std::string_view text) {
  std::string_view s = Trim(text);
  auto ms = TakeTime(s);
  if (!ms || !s.empty()) return std::nullopt;
  return ms;
}

std::optional<double> ParseDateTimeLiteral(std::string_view text) {
  std::string_view s = Trim(text);
  auto day = TakeDate(s);
  if (!day) return std::nullopt;
  int32_t ms = 0;
  if (!s.empty()) {
    if (s.front() != ' ' && s.front() != 'T') return std::nullopt;
    s.remove_prefix(1);
    auto t = TakeTime(s);
    if (!t || !s.empty()) return std::nullopt;
    ms = *t;
  }
  return StoredDateTime(*day, ms);
}

std::string FormatDayNumber(int32_t day_number) {
  int y = 0, m = 0, d = 0;
  if (!DayNumberToDate(day_number, y, m, d)) return "day " + std::to_string(day_number);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
  return buf;
}

std::string FormatMs(int32_t ms) {
  if (ms < 0 || ms >= kMsPerDay) return std::to_string(ms) + " ms";
  char buf[48];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", ms / 3600000, ms / 60000 % 60,
                ms / 1000 % 60, ms % 1000);
  return buf;
}

bool IsValidFieldLiteral(uint8_t type, std::string_view text) {
  std::string_view s = Trim(text);
  if (text.empty()) return true;
  switch (type) {
    case kFldDate:
      return ParseDateLiteral(s).has_value();
    case kFldTime:
      return ParseTimeLiteral(s).has_value();
    case kFldDateTime:
      return ParseDateTimeLiteral(s).has_value();
    case kFldBoolean:
      return IsBoolean(s);
    case kFldSmallInt:
      return IsInteger(s, -32768, 32767);
    case kFldInteger:
      return IsInteger(s, INT32_MIN, INT32_MAX);
    case kFldWord:
      return IsInteger(s, 0, 65535);
    case kFldUInt32:
      return IsInteger(s, 0, UINT32_MAX);
    case kFldLargeInt:
      return IsInteger(s, INT64_MIN, INT64_MAX);
    case kFldFloat:
    case kFldExtended:
      return IsFloat(s);
    case kFldBcd:
      return IsDecimal(s);
    default:
      return true;
  }
}

}  // namespace cairn
