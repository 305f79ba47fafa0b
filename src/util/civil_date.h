// Days since 1970-01-01 to a proleptic Gregorian date and back: the
// era-based method, exact for every date a 64-bit day count reaches.
#ifndef QUARN_UTIL_CIVIL_DATE_H
#define QUARN_UTIL_CIVIL_DATE_H

#include <cstdint>

namespace quarn {

struct CivilDate {
  std::int64_t Year;
  int Month;  // 1..12
  int Day;    // 1..31
};

constexpr std::int64_t DaysFromCivil(std::int64_t year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear =
      (153 * static_cast<unsigned>(month > 2 ? month - 3 : month + 9) + 2) / 5 +
      static_cast<unsigned>(day) - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146'097 + static_cast<std::int64_t>(dayOfEra) - 719'468;
}

constexpr CivilDate CivilFromDays(std::int64_t days) {
  days += 719'468;
  const std::int64_t era = (days >= 0 ? days : days - 146'096) / 146'097;
  const auto dayOfEra = static_cast<unsigned>(days - era * 146'097);
  const unsigned yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36'524 - dayOfEra / 146'096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
  const int day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
  const int month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
  return {static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

constexpr bool IsLeapYear(std::int64_t year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

constexpr int DaysInMonth(std::int64_t year, int month) {
  constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

constexpr bool IsValidDate(std::int64_t year, int month, int day) {
  return month >= 1 && month <= 12 && day >= 1 && day <= DaysInMonth(year, month);
}

constexpr bool IsValidTimeOfDay(int hour, int minute, int second) {
  return hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 && second <= 59;
}

// A FAT (DOS) date and time: the year from 1980 in the date's top seven bits,
// then month and day; the hour, minute and seconds halved in the time. Such
// a pair names a moment only with a month of 1-12, a day of that month, an
// hour of 0-23, a minute of 0-59 and a second of 0-58.
constexpr bool IsValidDosDateTime(std::uint16_t date, std::uint16_t time) {
  return IsValidDate(1980 + (date >> 9), date >> 5 & 0x0F, date & 0x1F) &&
         IsValidTimeOfDay(time >> 11, time >> 5 & 0x3F, (time & 0x1F) * 2);
}

// A date and time of day as days since 1899-12-30, the fraction being the
// time of day, kept to the millisecond.
constexpr double DaysSince1899(std::int64_t year, int month, int day, int hour, int minute,
                               int second, int millisecond) {
  constexpr std::int64_t kDays1899To1970 = 25569;
  const std::int64_t milliseconds =
      ((static_cast<std::int64_t>(hour) * 60 + minute) * 60 + second) * 1000 + millisecond;
  return static_cast<double>(DaysFromCivil(year, month, day) + kDays1899To1970) +
         static_cast<double>(milliseconds) / 86400000.0;
}

static_assert(DaysFromCivil(1970, 1, 1) == 0);
static_assert(DaysSince1899(1899, 12, 30, 12, 0, 0, 0) == 0.5);
static_assert(DaysFromCivil(2000, 3, 1) == 11017);
static_assert(IsValidDosDateTime(0x3261, 0x6000) && !IsValidDosDateTime(0x325D, 0));
static_assert(CivilFromDays(11016).Month == 2 && CivilFromDays(11016).Day == 29);

}  // namespace quarn

#endif
