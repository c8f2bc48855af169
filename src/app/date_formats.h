// The date and time formats the whole program uses: short date "dd/mm/yyyy",
// long time "hh:mm:ss" (24-hour), the date-and-time text (short date, a blank,
// long time, the time left out at exactly midnight) and the long date
// "dddd d mmmm yyyy" with day and month names from the user's locale.
// Every window and report formats dates through these helpers.
#pragma once

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QTime>
#include <functional>
#include <optional>

namespace tarn {

inline constexpr char kDateSeparator = '/';
inline constexpr const char* kShortDateFormat = "dd/mm/yyyy";
inline constexpr const char* kLongTimeFormat = "hh:mm:ss";

// Fixes the formats for the process: takes the names for long dates from the
// user's locale. Called once while the main window is created.
void FixDateTimeFormats();
// The locale whose day and month names LongDateText uses.
QLocale NameLocale();
void SetNameLocale(const QLocale& locale);

QString ShortDateText(const QDate& date);        // 08/12/2026
QString LongTimeText(const QTime& time);         // 14:05:09
QString DateTimeText(const QDateTime& instant);  // 08/12/2026 14:05:09
QString LongDateText(const QDate& date);         // Tuesday 8 December 2026

// Reads a date typed in day, month, year order with "/" between; one- or
// two-digit day and month, two- or four-digit year (two digits mean 20yy
// below 50, else 19yy). Nothing for text that is not a valid date.
std::optional<QDate> ParseShortDate(const QString& text);

// The clock every "now" in the program comes from; tests replace it.
QDateTime Now();
class TScopedClock {
 public:
  explicit TScopedClock(std::function<QDateTime()> clock);
  ~TScopedClock();
  TScopedClock(const TScopedClock&) = delete;
  TScopedClock& operator=(const TScopedClock&) = delete;

 private:
  std::function<QDateTime()> previous_;
};

}  // namespace tarn
