#include "app/date_formats.h"

#include <gtest/gtest.h>

namespace tarn {
namespace {

TEST(DateFormatsTest, ShortDateAndLongTime) {
  EXPECT_EQ(ShortDateText(QDate(2026, 12, 8)), "08/12/2026");
  EXPECT_EQ(ShortDateText(QDate(987, 1, 31)), "31/01/0987");
  EXPECT_EQ(LongTimeText(QTime(14, 5, 9)), "14:05:09");
  EXPECT_EQ(LongTimeText(QTime(23, 59, 59, 999)), "23:59:59");
}

TEST(DateFormatsTest, TimeIsLeftOutOnlyAtExactMidnight) {
  EXPECT_EQ(DateTimeText(QDateTime(QDate(2026, 12, 8), QTime(14, 5, 9))), "08/12/2026 14:05:09");
  EXPECT_EQ(DateTimeText(QDateTime(QDate(2026, 12, 8), QTime(0, 0))), "08/12/2026");
  EXPECT_EQ(DateTimeText(QDateTime(QDate(2026, 12, 8), QTime(0, 0, 1))), "08/12/2026 00:00:01");
  // A few milliseconds past midnight is not midnight, though it shows as 00:00:00.
  EXPECT_EQ(DateTimeText(QDateTime(QDate(2026, 12, 8), QTime(0, 0, 0, 5))), "08/12/2026 00:00:00");
}

TEST(DateFormatsTest, LongDateUsesTheLocaleNames) {
  const QLocale saved = NameLocale();
  SetNameLocale(QLocale(QLocale::English, QLocale::UnitedKingdom));
  EXPECT_EQ(LongDateText(QDate(2026, 12, 8)), "Tuesday 8 December 2026");
  EXPECT_EQ(LongDateText(QDate(2027, 1, 10)), "Sunday 10 January 2027");
  SetNameLocale(QLocale(QLocale::German, QLocale::Germany));
  EXPECT_EQ(LongDateText(QDate(2026, 12, 8)), "Dienstag 8 Dezember 2026");
  SetNameLocale(saved);
}

TEST(DateFormatsTest, TypedDatesReadDayMonthYear) {
  EXPECT_EQ(ParseShortDate("08/12/2026"), QDate(2026, 12, 8));
  EXPECT_EQ(ParseShortDate("8/1/2026"), QDate(2026, 1, 8));
  EXPECT_EQ(ParseShortDate("8/1/26"), QDate(2026, 1, 8));
  EXPECT_EQ(ParseShortDate("8/1/99"), QDate(1999, 1, 8));
  for (const char* bad : {"", "12/2026", "31/02/2026", "08-12-2026", "a/b/c", "08/13/2026",
                          "-1/12/2026", "08/12/20261"}) {
    EXPECT_FALSE(ParseShortDate(bad).has_value()) << bad;
  }
}

TEST(DateFormatsTest, ClockCanBeReplaced) {
  const QDateTime fixed(QDate(2026, 12, 8), QTime(14, 5, 9));
  {
    TScopedClock clock([&] { return fixed; });
    EXPECT_EQ(Now(), fixed);
  }
  EXPECT_NE(Now(), fixed);
}

}  // namespace
}  // namespace tarn
