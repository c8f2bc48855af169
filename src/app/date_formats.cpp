#include "app/date_formats.h"

#include <QStringList>
#include <utility>

namespace tarn {
namespace {

QLocale& Names() {
  static QLocale locale = QLocale::system();
  return locale;
}

std::function<QDateTime()>& Clock() {
  static std::function<QDateTime()> clock;
  return clock;
}

QString TwoDigits(int n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); }

}  // namespace

void FixDateTimeFormats() { Names() = QLocale::system(); }
QLocale NameLocale() { return Names(); }
void SetNameLocale(const QLocale& locale) { Names() = locale; }

QString ShortDateText(const QDate& date) {
  return TwoDigits(date.day()) + QLatin1Char(kDateSeparator) + TwoDigits(date.month()) +
         QLatin1Char(kDateSeparator) +
         QStringLiteral("%1").arg(date.year(), 4, 10, QLatin1Char('0'));
}

QString LongTimeText(const QTime& time) {
  return TwoDigits(time.hour()) + QLatin1Char(':') + TwoDigits(time.minute()) + QLatin1Char(':') +
         TwoDigits(time.second());
}

QString DateTimeText(const QDateTime& instant) {
  const QTime time = instant.time();
  // Exactly midnight, to the millisecond, shows as the date alone.
  if (time == QTime(0, 0)) return ShortDateText(instant.date());
  return ShortDateText(instant.date()) + QLatin1Char(' ') + LongTimeText(time);
}

QString LongDateText(const QDate& date) {
  const QLocale& names = Names();
  return names.dayName(date.dayOfWeek(), QLocale::LongFormat) + QLatin1Char(' ') +
         QString::number(date.day()) + QLatin1Char(' ') +
         names.standaloneMonthName(date.month(), QLocale::LongFormat) + QLatin1Char(' ') +
         QString::number(date.year());
}

std::optional<QDate> ParseShortDate(const QString& text) {
  const QStringList parts = text.trimmed().split(QLatin1Char(kDateSeparator));
  if (parts.size() != 3) return std::nullopt;
  int numbers[3];
  for (int i = 0; i < 3; ++i) {
    const QString part = parts[i].trimmed();
    if (part.isEmpty() || part.size() > (i == 2 ? 4 : 2)) return std::nullopt;
    bool ok = false;
    numbers[i] = part.toInt(&ok);
    if (!ok || part.startsWith(QLatin1Char('-')) || part.startsWith(QLatin1Char('+')))
      return std::nullopt;
  }
  int year = numbers[2];
  if (parts[2].trimmed().size() <= 2) year += year < 50 ? 2000 : 1900;
  const QDate date(year, numbers[1], numbers[0]);
  if (!date.isValid()) return std::nullopt;
  return date;
}

QDateTime Now() { return Clock() ? Clock()() : QDateTime::currentDateTime(); }

TScopedClock::TScopedClock(std::function<QDateTime()> clock) : previous_(std::move(Clock())) {
  Clock() = std::move(clock);
}

TScopedClock::~TScopedClock() { Clock() = std::move(previous_); }

}  // namespace tarn
