// Value conversions of the record encodings that are more than a byte copy:
// day numbers (1 January of year 1 is day 1, proleptic Gregorian calendar),
// milliseconds since midnight, stored date-times, and the literal texts that
// field descriptors keep for minimum, maximum and default values.
//
// Literal text forms accepted (leading and trailing blanks ignored):
//   date       "dd/mm/yyyy" or "yyyy-mm-dd"
//   time       "hh:mm", "hh:mm:ss" or "hh:mm:ss.zzz"
//   date-time  a date, optionally followed by a blank or 'T' and a time
//   boolean    "True"/"False", "T"/"F", "Yes"/"No", "1"/"0" (any case)
//   integers   decimal, within the range of the type
//   floats     decimal or exponent notation, finite
//   BCD        optional sign, digits, optional '.' and digits (at most 64 digits)
//   strings, bytes, blobs and other codes: any text
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cairn {

inline constexpr int32_t kMsPerDay = 86400000;
// Day number of 30 December 1899, the epoch of the header's time stamp.
inline constexpr int32_t kDayNumberOf18991230 = 693594;

// Day number of a calendar date; nullopt when the date does not exist or the
// year is outside 1..9999.
std::optional<int32_t> DateToDayNumber(int year, int month, int day);
// Calendar date of a day number; false outside 1..(31 December 9999).
bool DayNumberToDate(int32_t day_number, int& year, int& month, int& day);
// Milliseconds since midnight; nullopt when out of range.
std::optional<int32_t> TimeToMs(int hour, int minute, int second, int ms);
// The stored form of a date-time value (type 11).
inline double StoredDateTime(int32_t day_number, int32_t ms) {
  return double(day_number) * kMsPerDay + ms;
}

std::optional<int32_t> ParseDateLiteral(std::string_view text);
std::optional<int32_t> ParseTimeLiteral(std::string_view text);
std::optional<double> ParseDateTimeLiteral(std::string_view text);

// "yyyy-mm-dd" and "hh:mm:ss.zzz", for tools and diagnostics.
std::string FormatDayNumber(int32_t day_number);
std::string FormatMs(int32_t ms);

// True when `text` is empty or a valid literal of the field type `type`.
bool IsValidFieldLiteral(uint8_t type, std::string_view text);

}  // namespace cairn
