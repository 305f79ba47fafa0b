// Time conversions of the Linux stand-in. The calendar is the proleptic
// Gregorian one Windows uses, counted here without the C library so that the
// limits and the failures are the same as on Windows; only the time zone
// comes from the system.
#include <cstdint>
#include <ctime>

#include "platform/linux_internal.h"
#include "platform/platform.h"
#include "util/civil_date.h"

namespace quarn::platform {
namespace {

constexpr std::int64_t kSecondsPerDay = 86'400;
constexpr std::int64_t kTicksPerDay = kSecondsPerDay * kTicksPerSecond;
constexpr std::int64_t kTicksPerMillisecond = 10'000;
// 1601-01-01 is 134,774 days before 1970-01-01, and was a Monday.
constexpr std::int64_t kDaysFrom1601To1970 = 134'774;
constexpr int kWeekdayOf1601 = 1;
// The last year a FILETIME below 2^63 reaches in full.
constexpr int kLastSystemYear = 30827;

struct CivilTime {
  std::int64_t year;
  int month;  // 1..12
  int day;    // 1..31
  int hour;
  int minute;
  int second;
  std::int64_t ticks;  // 100 ns intervals within the second
  int weekday;         // 0 = Sunday
};

CivilTime CivilOfTicks(std::uint64_t ticks) {
  CivilTime civil{};
  const auto days = static_cast<std::int64_t>(ticks / kTicksPerDay);
  auto withinDay = static_cast<std::int64_t>(ticks % kTicksPerDay);
  const CivilDate date = CivilFromDays(days - kDaysFrom1601To1970);
  civil.year = date.Year;
  civil.month = date.Month;
  civil.day = date.Day;
  civil.weekday = static_cast<int>((days + kWeekdayOf1601) % 7);
  civil.ticks = withinDay % kTicksPerSecond;
  withinDay /= kTicksPerSecond;
  civil.second = static_cast<int>(withinDay % 60);
  civil.minute = static_cast<int>(withinDay / 60 % 60);
  civil.hour = static_cast<int>(withinDay / 3600);
  return civil;
}

// The caller has checked the fields, and the year lies in 1601..30827.
std::uint64_t TicksOfCivil(std::int64_t year, int month, int day, int hour, int minute,
                           int second) {
  const std::int64_t days = DaysFromCivil(year, month, day) + kDaysFrom1601To1970;
  const std::int64_t seconds =
      days * kSecondsPerDay + std::int64_t{hour} * 3600 + std::int64_t{minute} * 60 + second;
  return static_cast<std::uint64_t>(seconds) * kTicksPerSecond;
}

// Seconds since 1970 of a FILETIME, and the 100 ns left over.
std::int64_t UnixSecondsOf(std::uint64_t ticks, std::uint64_t *remainder) {
  *remainder = ticks % kTicksPerSecond;
  return static_cast<std::int64_t>(ticks / kTicksPerSecond) - kSecondsFrom1601To1970;
}

// A FILETIME from seconds since 1970; false where it cannot hold them.
bool TicksOfUnixSeconds(std::int64_t seconds, std::uint64_t remainder, std::uint64_t *ticks) {
  constexpr std::int64_t kLastSecond =
      static_cast<std::int64_t>(UINT64_MAX / kTicksPerSecond) - kSecondsFrom1601To1970 - 1;
  if (seconds < -kSecondsFrom1601To1970 || seconds > kLastSecond) return false;
  *ticks =
      static_cast<std::uint64_t>(seconds + kSecondsFrom1601To1970) * kTicksPerSecond + remainder;
  return true;
}

BOOL Fail() {
  SetLastErrorCode(ERROR_INVALID_PARAMETER);
  return FALSE;
}

}  // namespace
}  // namespace quarn::platform

using namespace quarn::platform;

BOOL FileTimeToDosDateTime(const FILETIME *fileTime, WORD *fatDate, WORD *fatTime) {
  if (fileTime == nullptr || fatDate == nullptr || fatTime == nullptr) return Fail();
  const CivilTime civil = CivilOfTicks(TicksOf(*fileTime));
  if (civil.year < 1980 || civil.year > 2107) return Fail();
  // Two-second resolution: an odd second is rounded down.
  *fatTime = static_cast<WORD>(civil.hour << 11 | civil.minute << 5 | civil.second / 2);
  *fatDate = static_cast<WORD>((civil.year - 1980) << 9 | civil.month << 5 | civil.day);
  return TRUE;
}

BOOL DosDateTimeToFileTime(WORD fatDate, WORD fatTime, FILETIME *fileTime) {
  if (fileTime == nullptr) return Fail();
  if (!quarn::IsValidDosDateTime(fatDate, fatTime)) return Fail();
  *fileTime = FileTimeOf(TicksOfCivil(1980 + (fatDate >> 9), fatDate >> 5 & 0x0F, fatDate & 0x1F,
                                      fatTime >> 11, fatTime >> 5 & 0x3F, (fatTime & 0x1F) * 2));
  return TRUE;
}

BOOL FileTimeToLocalFileTime(const FILETIME *utc, FILETIME *local) {
  if (utc == nullptr || local == nullptr) return Fail();
  std::uint64_t remainder;
  const time_t seconds = UnixSecondsOf(TicksOf(*utc), &remainder);
  tzset();  // localtime_r alone may keep a zone read before TZ changed
  struct tm broken;
  if (localtime_r(&seconds, &broken) == nullptr) return Fail();
  std::uint64_t ticks;
  if (!TicksOfUnixSeconds(static_cast<std::int64_t>(seconds) + broken.tm_gmtoff, remainder,
                          &ticks)) {
    return Fail();
  }
  *local = FileTimeOf(ticks);
  return TRUE;
}

BOOL LocalFileTimeToFileTime(const FILETIME *local, FILETIME *utc) {
  if (local == nullptr || utc == nullptr) return Fail();
  std::uint64_t remainder;
  const time_t wallClock = UnixSecondsOf(TicksOf(*local), &remainder);
  struct tm broken;
  if (gmtime_r(&wallClock, &broken) == nullptr) return Fail();
  broken.tm_isdst = -1;  // let the zone's rules say whether summer time applies
  tzset();
  const time_t seconds = mktime(&broken);
  if (seconds == static_cast<time_t>(-1)) {
    // -1 is also 1969-12-31 23:59:59 UTC; tell it from a failure.
    struct tm check;
    if (localtime_r(&seconds, &check) == nullptr || check.tm_year != broken.tm_year ||
        check.tm_yday != broken.tm_yday || check.tm_hour != broken.tm_hour ||
        check.tm_min != broken.tm_min || check.tm_sec != broken.tm_sec) {
      return Fail();
    }
  }
  std::uint64_t ticks;
  if (!TicksOfUnixSeconds(seconds, remainder, &ticks)) return Fail();
  *utc = FileTimeOf(ticks);
  return TRUE;
}

BOOL FileTimeToSystemTime(const FILETIME *fileTime, SYSTEMTIME *systemTime) {
  if (fileTime == nullptr || systemTime == nullptr) return Fail();
  const std::uint64_t ticks = TicksOf(*fileTime);
  if (ticks > static_cast<std::uint64_t>(INT64_MAX)) return Fail();
  const CivilTime civil = CivilOfTicks(ticks);
  systemTime->wYear = static_cast<WORD>(civil.year);
  systemTime->wMonth = static_cast<WORD>(civil.month);
  systemTime->wDayOfWeek = static_cast<WORD>(civil.weekday);
  systemTime->wDay = static_cast<WORD>(civil.day);
  systemTime->wHour = static_cast<WORD>(civil.hour);
  systemTime->wMinute = static_cast<WORD>(civil.minute);
  systemTime->wSecond = static_cast<WORD>(civil.second);
  systemTime->wMilliseconds = static_cast<WORD>(civil.ticks / kTicksPerMillisecond);
  return TRUE;
}

BOOL SystemTimeToFileTime(const SYSTEMTIME *systemTime, FILETIME *fileTime) {
  if (systemTime == nullptr || fileTime == nullptr) return Fail();
  const SYSTEMTIME &in = *systemTime;
  // The day of the week is not checked, as on Windows.
  if (in.wYear < 1601 || in.wYear > kLastSystemYear ||
      !quarn::IsValidDate(in.wYear, in.wMonth, in.wDay) ||
      !quarn::IsValidTimeOfDay(in.wHour, in.wMinute, in.wSecond) || in.wMilliseconds > 999) {
    return Fail();
  }
  const std::uint64_t ticks =
      TicksOfCivil(in.wYear, in.wMonth, in.wDay, in.wHour, in.wMinute, in.wSecond) +
      static_cast<std::uint64_t>(in.wMilliseconds) * kTicksPerMillisecond;
  *fileTime = FileTimeOf(ticks);
  return TRUE;
}

void GetLocalTime(SYSTEMTIME *systemTime) {
  if (systemTime == nullptr) return;
  *systemTime = SYSTEMTIME{};
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tzset();
  struct tm broken;
  if (localtime_r(&now.tv_sec, &broken) == nullptr) return;
  systemTime->wYear = static_cast<WORD>(broken.tm_year + 1900);
  systemTime->wMonth = static_cast<WORD>(broken.tm_mon + 1);
  systemTime->wDayOfWeek = static_cast<WORD>(broken.tm_wday);
  systemTime->wDay = static_cast<WORD>(broken.tm_mday);
  systemTime->wHour = static_cast<WORD>(broken.tm_hour);
  systemTime->wMinute = static_cast<WORD>(broken.tm_min);
  // A leap second has no place in a SYSTEMTIME.
  systemTime->wSecond = static_cast<WORD>(broken.tm_sec > 59 ? 59 : broken.tm_sec);
  systemTime->wMilliseconds = static_cast<WORD>(now.tv_nsec / 1'000'000);
}
