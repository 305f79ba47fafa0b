// The time calls Quarn makes (DOS, system, local times), checked for the Windows meaning.
// Cases outside `#ifndef _WIN32` hold on Windows as well, so the same tests
// check the Linux stand-in against the real thing.
#include <gtest/gtest.h>

#include <cstdint>

#include "platform/platform.h"
#include "platform_times.h"

#ifndef _WIN32
#include <cstdlib>
#include <string>
#endif

namespace {

using quarn::testing::platform::DosDate;
using quarn::testing::platform::DosTime;
using quarn::testing::platform::kSecond;
using quarn::testing::platform::MakeFileTime;
using quarn::testing::platform::Ticks;
using quarn::testing::platform::TicksOfDos;

constexpr std::uint64_t kFirstDosTicks = 0x01A8E79FE1D58000;  // 1980-01-01 00:00:00

// Wine 8 takes February 29 for a date in every year and packs 2108 and later
// into DOS dates that wrap; Windows refuses both. Those checks are left out
// when the tests run under Wine.
bool RunningUnderWine() {
#ifdef _WIN32
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

TEST(PlatformDosTime, FirstDosDayIsTheKnownFileTime) {
  EXPECT_EQ(TicksOfDos(0x21, 0), kFirstDosTicks);
  const FILETIME first = MakeFileTime(kFirstDosTicks);
  WORD date = 0;
  WORD time = 1;
  ASSERT_TRUE(FileTimeToDosDateTime(&first, &date, &time));
  EXPECT_EQ(date, 0x21);
  EXPECT_EQ(time, 0);
}

TEST(PlatformDosTime, RangeRunsFrom1980ToTheLastTickOf2107) {
  WORD date = 0;
  WORD time = 0;
  const FILETIME justBefore = MakeFileTime(kFirstDosTicks - 1);
  EXPECT_FALSE(FileTimeToDosDateTime(&justBefore, &date, &time));

  const std::uint64_t lastDos = TicksOfDos(DosDate(2107, 12, 31), DosTime(23, 59, 58));
  const FILETIME lastTick = MakeFileTime(lastDos + 2 * kSecond - 1);
  ASSERT_TRUE(FileTimeToDosDateTime(&lastTick, &date, &time));
  EXPECT_EQ(date, 0xFF9F);
  EXPECT_EQ(time, 0xBF7D);
  const FILETIME justAfter = MakeFileTime(lastDos + 2 * kSecond);
  if (!RunningUnderWine()) {
    EXPECT_FALSE(FileTimeToDosDateTime(&justAfter, &date, &time));
  }

  // Two-second resolution: 00:00:03.9999999 is stored as 00:00:02.
  const FILETIME odd = MakeFileTime(kFirstDosTicks + 4 * kSecond - 1);
  ASSERT_TRUE(FileTimeToDosDateTime(&odd, &date, &time));
  EXPECT_EQ(time, 1);
}

TEST(PlatformDosTime, InvalidFieldsFail) {
  struct Case {
    WORD date;
    WORD time;
    const char *what;
    bool wineTakesIt = false;
  };
  const WORD day = DosDate(2000, 1, 1);
  const Case cases[] = {
      {DosDate(2000, 0, 1), 0, "month 0"},
      {DosDate(2000, 13, 1), 0, "month 13"},
      {DosDate(2000, 1, 0), 0, "day 0"},
      {DosDate(2000, 4, 31), 0, "April 31"},
      {DosDate(2001, 2, 29), 0, "February 29 of a common year", true},
      {DosDate(2100, 2, 29), 0, "February 29 of 2100, not a leap year", true},
      {day, DosTime(24, 0, 0), "hour 24"},
      {day, DosTime(0, 60, 0), "minute 60"},
      {day, 30, "second 60"},
  };
  for (const Case &bad : cases) {
    if (bad.wineTakesIt && RunningUnderWine()) continue;
    FILETIME result = MakeFileTime(0x1234);
    EXPECT_FALSE(DosDateTimeToFileTime(bad.date, bad.time, &result)) << bad.what;
  }
  FILETIME result{};
  EXPECT_TRUE(DosDateTimeToFileTime(DosDate(2000, 2, 29), 0, &result));
  EXPECT_TRUE(DosDateTimeToFileTime(DosDate(2096, 2, 29), DosTime(23, 59, 58), &result));
}

// Walks every day the DOS range holds, one FILETIME day at a time, and checks
// both conversions and the calendar against each other.
TEST(PlatformDosTime, EveryDayRoundTripsAndAgreesWithTheCalendar) {
  std::uint64_t ticks = kFirstDosTicks + (12 * 3600 + 34 * 60 + 56) * kSecond;
  SYSTEMTIME previous{};
  int days = 0;
  for (;; ++days, ticks += 86'400 * kSecond) {
    const FILETIME time = MakeFileTime(ticks);
    SYSTEMTIME civil{};
    ASSERT_TRUE(FileTimeToSystemTime(&time, &civil));
    WORD dosDate = 0;
    WORD dosTime = 0;
    if (civil.wYear > 2107) {
      if (!RunningUnderWine()) {
        EXPECT_FALSE(FileTimeToDosDateTime(&time, &dosDate, &dosTime));
      }
      break;
    }
    ASSERT_TRUE(FileTimeToDosDateTime(&time, &dosDate, &dosTime)) << "day " << days;
    ASSERT_EQ(TicksOfDos(dosDate, dosTime), ticks) << "day " << days;
    ASSERT_EQ(dosDate, DosDate(civil.wYear, civil.wMonth, civil.wDay)) << "day " << days;
    ASSERT_EQ(dosTime, DosTime(12, 34, 56));
    if (days > 0) {
      const bool nextDay = civil.wDay == previous.wDay + 1 && civil.wMonth == previous.wMonth;
      const bool nextMonth = civil.wDay == 1 && (civil.wMonth == previous.wMonth % 12 + 1);
      ASSERT_TRUE(nextDay || nextMonth) << civil.wYear << "-" << civil.wMonth << "-" << civil.wDay;
      ASSERT_EQ(civil.wDayOfWeek, (previous.wDayOfWeek + 1) % 7);
    }
    previous = civil;
  }
  // 128 years of 365 days, and 31 leap days: 2100 has none.
  EXPECT_EQ(days, 128 * 365 + 31);
  EXPECT_EQ(previous.wYear, 2107);
  EXPECT_EQ(previous.wMonth, 12);
  EXPECT_EQ(previous.wDay, 31);
}

TEST(PlatformSystemTime, KnownInstants) {
  SYSTEMTIME civil{};
  const FILETIME origin = MakeFileTime(0);
  ASSERT_TRUE(FileTimeToSystemTime(&origin, &civil));
  EXPECT_EQ(civil.wYear, 1601);
  EXPECT_EQ(civil.wMonth, 1);
  EXPECT_EQ(civil.wDay, 1);
  EXPECT_EQ(civil.wDayOfWeek, 1);  // a Monday

  const FILETIME unixEpoch = MakeFileTime(116'444'736'000'000'000 + 1'239'999);
  ASSERT_TRUE(FileTimeToSystemTime(&unixEpoch, &civil));
  EXPECT_EQ(civil.wYear, 1970);
  EXPECT_EQ(civil.wDayOfWeek, 4);  // a Thursday
  EXPECT_EQ(civil.wMilliseconds, 123);

  const FILETIME pastRange = MakeFileTime(0x8000000000000000);
  EXPECT_FALSE(FileTimeToSystemTime(&pastRange, &civil));
}

TEST(PlatformSystemTime, RoundTripAndValidation) {
  SYSTEMTIME leapDay{};
  leapDay.wYear = 2024;
  leapDay.wMonth = 2;
  leapDay.wDay = 29;
  leapDay.wHour = 23;
  leapDay.wMinute = 59;
  leapDay.wSecond = 59;
  leapDay.wMilliseconds = 999;
  leapDay.wDayOfWeek = 6;  // wrong, and not looked at
  FILETIME time{};
  ASSERT_TRUE(SystemTimeToFileTime(&leapDay, &time));
  SYSTEMTIME back{};
  ASSERT_TRUE(FileTimeToSystemTime(&time, &back));
  EXPECT_EQ(back.wYear, 2024);
  EXPECT_EQ(back.wMonth, 2);
  EXPECT_EQ(back.wDay, 29);
  EXPECT_EQ(back.wDayOfWeek, 4);
  EXPECT_EQ(back.wSecond, 59);
  EXPECT_EQ(back.wMilliseconds, 999);

  const auto broken = [&](void (*change)(SYSTEMTIME &)) {
    SYSTEMTIME bad = leapDay;
    change(bad);
    return !SystemTimeToFileTime(&bad, &time);
  };
  if (!RunningUnderWine()) {
    EXPECT_TRUE(broken([](SYSTEMTIME &t) { t.wYear = 2023; }));
  }
  EXPECT_TRUE(broken([](SYSTEMTIME &t) { t.wYear = 1600; }));
  EXPECT_TRUE(broken([](SYSTEMTIME &t) { t.wMonth = 13; }));
  EXPECT_TRUE(broken([](SYSTEMTIME &t) { t.wDay = 0; }));
  EXPECT_TRUE(broken([](SYSTEMTIME &t) { t.wHour = 24; }));
  EXPECT_TRUE(broken([](SYSTEMTIME &t) { t.wMilliseconds = 1000; }));
}

TEST(PlatformLocalTime, RoundTripKeepsTheFraction) {
  // Mid-winter and mid-summer noon of 2021, and 0.1234567 s.
  for (const WORD date : {DosDate(2021, 1, 15), DosDate(2021, 7, 15)}) {
    const FILETIME utc = MakeFileTime(TicksOfDos(date, DosTime(12, 0, 0)) + 1'234'567);
    FILETIME local{};
    FILETIME back{};
    ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &local));
    ASSERT_TRUE(LocalFileTimeToFileTime(&local, &back));
    EXPECT_EQ(Ticks(back), Ticks(utc));
    EXPECT_EQ(Ticks(local) % kSecond, 1'234'567u);
  }
}

TEST(PlatformLocalTime, GetLocalTimeIsAValidDate) {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  EXPECT_GE(now.wYear, 2024);
  FILETIME time{};
  ASSERT_TRUE(SystemTimeToFileTime(&now, &time));
  SYSTEMTIME check{};
  ASSERT_TRUE(FileTimeToSystemTime(&time, &check));
  EXPECT_EQ(check.wDayOfWeek, now.wDayOfWeek);
}

#ifndef _WIN32
// Sets TZ for one test and puts back what was there. It does not call tzset:
// the conversions must notice a changed TZ by themselves.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char *zone) {
    if (const char *old = std::getenv("TZ")) {
      saved_ = old;
      hadZone_ = true;
    }
    setenv("TZ", zone, 1);
  }
  ~ScopedTimeZone() {
    if (hadZone_)
      setenv("TZ", saved_.c_str(), 1);
    else
      unsetenv("TZ");
  }

 private:
  std::string saved_;
  bool hadZone_ = false;
};

TEST(PlatformLocalTime, FollowsTheZoneAndItsSummerTime) {
  const std::uint64_t hour = 3600 * kSecond;
  const FILETIME winter = MakeFileTime(TicksOfDos(DosDate(2021, 1, 15), 0) + 5'000'000);
  const FILETIME summer = MakeFileTime(TicksOfDos(DosDate(2021, 7, 15), 0));
  struct Case {
    const char *zone;
    std::int64_t winterHours;
    std::int64_t summerHours;
  };
  for (const Case &c : {Case{"UTC0", 0, 0}, Case{"CET-1CEST,M3.5.0,M10.5.0/3", 1, 2},
                        Case{"EST5EDT,M3.2.0,M11.1.0", -5, -4}}) {
    ScopedTimeZone zone(c.zone);
    FILETIME local{};
    FILETIME back{};
    ASSERT_TRUE(FileTimeToLocalFileTime(&winter, &local));
    EXPECT_EQ(Ticks(local), Ticks(winter) + c.winterHours * hour) << c.zone;
    ASSERT_TRUE(LocalFileTimeToFileTime(&local, &back));
    EXPECT_EQ(Ticks(back), Ticks(winter)) << c.zone;
    ASSERT_TRUE(FileTimeToLocalFileTime(&summer, &local));
    EXPECT_EQ(Ticks(local), Ticks(summer) + c.summerHours * hour) << c.zone;
    ASSERT_TRUE(LocalFileTimeToFileTime(&local, &back));
    EXPECT_EQ(Ticks(back), Ticks(summer)) << c.zone;
  }
}
#endif

}  // namespace
