// FILETIME ticks and DOS dates and times, for the platform tests of times and of files.
#ifndef QUARN_TESTS_PLATFORM_TIMES_H
#define QUARN_TESTS_PLATFORM_TIMES_H

#include <gtest/gtest.h>

#include <cstdint>

#include "platform/platform.h"

namespace quarn::testing::platform {

constexpr std::uint64_t kSecond = 10'000'000;  // FILETIME ticks

inline std::uint64_t Ticks(const FILETIME &time) {
  return static_cast<std::uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

inline FILETIME MakeFileTime(std::uint64_t ticks) {
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(ticks);
  time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return time;
}

inline WORD DosDate(int year, int month, int day) {
  return static_cast<WORD>((year - 1980) << 9 | month << 5 | day);
}

inline WORD DosTime(int hour, int minute, int second) {
  return static_cast<WORD>(hour << 11 | minute << 5 | second / 2);
}

inline std::uint64_t TicksOfDos(WORD date, WORD time) {
  FILETIME result{};
  EXPECT_TRUE(DosDateTimeToFileTime(date, time, &result));
  return Ticks(result);
}

}  // namespace quarn::testing::platform

#endif
