// The operating-system calls Quarn makes, checked for the Windows meaning.
// Cases outside `#ifndef _WIN32` hold on Windows as well, so the same tests
// check the Linux stand-in against the real thing.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <locale.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>
#endif

namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kSecond = 10'000'000;                 // FILETIME ticks
constexpr std::uint64_t kFirstDosTicks = 0x01A8E79FE1D58000;  // 1980-01-01 00:00:00

std::uint64_t Ticks(const FILETIME &time) {
  return static_cast<std::uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

FILETIME MakeFileTime(std::uint64_t ticks) {
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(ticks);
  time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return time;
}

WORD DosDate(int year, int month, int day) {
  return static_cast<WORD>((year - 1980) << 9 | month << 5 | day);
}

WORD DosTime(int hour, int minute, int second) {
  return static_cast<WORD>(hour << 11 | minute << 5 | second / 2);
}

std::uint64_t TicksOfDos(WORD date, WORD time) {
  FILETIME result{};
  EXPECT_TRUE(DosDateTimeToFileTime(date, time, &result));
  return Ticks(result);
}

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

std::string Utf8(const std::vector<WCHAR> &text) {
  const int units = static_cast<int>(text.size());
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), units, nullptr, 0, nullptr, nullptr);
  std::string result(static_cast<std::size_t>(size), '\0');
  EXPECT_EQ(
      WideCharToMultiByte(CP_UTF8, 0, text.data(), units, result.data(), size, nullptr, nullptr),
      size);
  return result;
}

TEST(PlatformText, Utf16BecomesUtf8) {
  EXPECT_EQ(Utf8({'a', 0x00E9}), "a\xC3\xA9");
  EXPECT_EQ(Utf8({0x20AC}), "\xE2\x82\xAC");
  EXPECT_EQ(Utf8({0xD83D, 0xDE00}), "\xF0\x9F\x98\x80");
  // Unpaired surrogates, either half, reversed or cut off, become U+FFFD.
  EXPECT_EQ(Utf8({'a', 0xD83D, 'b'}),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(Utf8({0xDE00}), "\xEF\xBF\xBD");
  EXPECT_EQ(Utf8({0xDE00, 0xD83D}), "\xEF\xBF\xBD\xEF\xBF\xBD");
  const WCHAR pair[] = {0xD83D, 0xDE00};
  char out[8];
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, pair, 1, out, sizeof out, nullptr, nullptr), 3);
  EXPECT_EQ(std::string(out, 3), "\xEF\xBF\xBD");
}

TEST(PlatformText, TerminatorAndBufferSizes) {
  const WCHAR text[] = {'a', 0x00E9, 0};
  // With -1 the terminating NUL is converted and counted.
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr), 4);
  char out[8];
  std::memset(out, 'x', sizeof out);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, -1, out, 4, nullptr, nullptr), 4);
  EXPECT_EQ(std::string(out, 5), std::string("a\xC3\xA9\0x", 5));
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, -1, out, 3, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INSUFFICIENT_BUFFER});
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, 2, out, 3, nullptr, nullptr), 3);
}

TEST(PlatformText, UpperCaseOfAsciiOverExactlyTheLength) {
  char name[] = "a.txt";
  EXPECT_EQ(CharUpperBuffA(name, 5), 5u);
  EXPECT_STREQ(name, "A.TXT");
  char part[] = "abc";
  CharUpperBuffA(part, 2);
  EXPECT_STREQ(part, "ABc");
  char withNul[] = {'a', '\0', 'b'};
  CharUpperBuffA(withNul, 3);
  EXPECT_EQ(std::string(withNul, 3), std::string("A\0B", 3));
}

#ifndef _WIN32
TEST(PlatformText, AnsiIsUtf8AndUsesNoDefault) {
  const WCHAR text[] = {0x00E9};
  char out[4];
  BOOL usedDefault = TRUE;
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, text, 1, out, sizeof out, nullptr, &usedDefault), 2);
  EXPECT_EQ(std::string(out, 2), "\xC3\xA9");
  EXPECT_EQ(usedDefault, FALSE);
  EXPECT_FALSE(IsDBCSLeadByte(0xC3));
}

std::string Upper(std::string text) {
  CharUpperBuffA(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

TEST(PlatformText, UpperCaseOfUtf8KeepsTheByteLength) {
  const locale_t probe = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  if (probe == static_cast<locale_t>(0)) GTEST_SKIP() << "no C.UTF-8 locale: ASCII only";
  freelocale(probe);
  EXPECT_EQ(Upper("caf\xC3\xA9.txt"), "CAF\xC3\x89.TXT");    // é -> É
  EXPECT_EQ(Upper("\xCF\x89"), "\xCE\xA9");                  // ω -> Ω
  EXPECT_EQ(Upper("\xF0\x90\x90\xA8"), "\xF0\x90\x90\x80");  // Deseret, 4 bytes
  EXPECT_EQ(Upper("\xC4\xB1"), "\xC4\xB1");                  // ı: I is 1 byte
  EXPECT_EQ(Upper("\xC5\xBF"), "\xC5\xBF");                  // ſ: S is 1 byte
  // Bytes that are not UTF-8 stay as they are; the letters around them do not.
  EXPECT_EQ(Upper("a\xFF"
                  "b\xC3"),
            "A\xFF"
            "B\xC3");                                                // stray, cut off
  EXPECT_EQ(Upper("\xC1\xA1\xED\xA0\x80"), "\xC1\xA1\xED\xA0\x80");  // overlong, surrogate
  EXPECT_EQ(Upper("\xC3\xA9").substr(0, 1), "\xC3");
  std::string cut = "\xC3\xA9";
  CharUpperBuffA(cut.data(), 1);  // the sequence does not fit the length
  EXPECT_EQ(cut, "\xC3\xA9");

  // Many threads at once, with the process's locale left as it is.
  const std::string before = setlocale(LC_ALL, nullptr);
  std::vector<std::thread> threads;
  std::vector<int> wrong(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&wrong, t] {
      for (int i = 0; i < 2000; ++i) wrong[t] += Upper("\xC3\xA9z") != "\xC3\x89Z";
    });
  }
  for (auto &thread : threads) thread.join();
  EXPECT_EQ(wrong, std::vector<int>(4, 0));
  EXPECT_EQ(setlocale(LC_ALL, nullptr), before);
}
#endif

// Each test gets a folder of its own under the temporary directory.
class PlatformFile : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    folder_ = fs::temp_directory_path() /
              ("quarn-platform-" + std::string(info->name()) + "-" + std::to_string(stamp));
    fs::create_directories(folder_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  std::string Path(const char *name) const { return (folder_ / name).string(); }

  static HANDLE Open(const std::string &path, DWORD access, DWORD disposition,
                     DWORD flags = FILE_ATTRIBUTE_NORMAL) {
    return CreateFileA(path.c_str(), access, 0, nullptr, disposition, flags, nullptr);
  }

  static void Write(HANDLE file, const std::string &text) {
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
    ASSERT_EQ(written, text.size());
  }

  fs::path folder_;
};

TEST_F(PlatformFile, OpenFailuresSayWhy) {
  EXPECT_EQ(Open(Path("missing"), GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_NOT_FOUND});
  EXPECT_EQ(Open(Path("no-folder/file"), GENERIC_ALL, OPEN_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_PATH_NOT_FOUND});

  HANDLE file = Open(Path("file"), GENERIC_ALL, CREATE_NEW);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_EQ(Open(Path("file"), GENERIC_ALL, CREATE_NEW), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_EXISTS});
}

TEST_F(PlatformFile, WriteSeekReadAndCut) {
  HANDLE file = Open(Path("data"), GENERIC_ALL, OPEN_ALWAYS);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  Write(file, "0123456789");
  DWORD sizeHigh = 7;
  EXPECT_EQ(GetFileSize(file, &sizeHigh), 10u);
  EXPECT_EQ(sizeHigh, 0u);

  EXPECT_EQ(SetFilePointer(file, 4, nullptr, FILE_BEGIN), 4u);
  ASSERT_TRUE(SetEndOfFile(file));
  EXPECT_EQ(GetFileSize(file, nullptr), 4u);

  EXPECT_EQ(SetFilePointer(file, -2, nullptr, FILE_END), 2u);
  char buffer[16] = {};
  DWORD read = 99;
  ASSERT_TRUE(ReadFile(file, buffer, sizeof buffer, &read, nullptr));
  EXPECT_EQ(std::string(buffer, read), "23");
  ASSERT_TRUE(ReadFile(file, buffer, sizeof buffer, &read, nullptr));  // at the end
  EXPECT_EQ(read, 0u);

  // A position before the start is refused and the pointer stays.
  EXPECT_EQ(SetFilePointer(file, -10, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), 4u);
  // 64-bit positions go through the high part both ways.
  LONG high = 1;
  EXPECT_EQ(SetFilePointer(file, 0x10, &high, FILE_BEGIN), 0x10u);
  EXPECT_EQ(high, 1);
  high = -1;
  EXPECT_EQ(SetFilePointer(file, -0x20, &high, FILE_CURRENT), 0xFFFFFFF0u);
  EXPECT_EQ(high, 0);
  EXPECT_TRUE(CloseHandle(file));

  // OPEN_ALWAYS keeps what is there; CREATE_ALWAYS starts empty.
  file = Open(Path("data"), GENERIC_READ, OPEN_ALWAYS);
  EXPECT_EQ(GetFileSize(file, nullptr), 4u);
  CloseHandle(file);
  file = Open(Path("data"), GENERIC_WRITE, CREATE_ALWAYS);
  EXPECT_EQ(GetFileSize(file, nullptr), 0u);
  CloseHandle(file);
}

TEST_F(PlatformFile, WriteNeedsWriteAccess) {
  HANDLE file = Open(Path("data"), GENERIC_ALL, CREATE_ALWAYS);
  CloseHandle(file);
  file = Open(Path("data"), GENERIC_READ, OPEN_EXISTING);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 5;
  EXPECT_FALSE(WriteFile(file, "x", 1, &written, nullptr));
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});
  CloseHandle(file);
}

TEST_F(PlatformFile, DirectoryOpensOnlyWithBackupSemantics) {
  const std::string path = folder_.string();
  EXPECT_EQ(Open(path, GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});

  HANDLE folder = Open(path, FILE_WRITE_ATTRIBUTES, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
  ASSERT_NE(folder, INVALID_HANDLE_VALUE);
  const FILETIME stamp = MakeFileTime(TicksOfDos(DosDate(2003, 4, 5), DosTime(6, 7, 8)));
  EXPECT_TRUE(SetFileTime(folder, &stamp, &stamp, &stamp));
  FILETIME accessed{};
  FILETIME written{};
  ASSERT_TRUE(GetFileTime(folder, nullptr, &accessed, &written));
  EXPECT_EQ(Ticks(accessed), Ticks(stamp));
  EXPECT_EQ(Ticks(written), Ticks(stamp));
  EXPECT_TRUE(CloseHandle(folder));
}

TEST_F(PlatformFile, TimesKeepHundredNanosecondsAndNullLeavesAlone) {
  HANDLE file = Open(Path("timed"), GENERIC_ALL, CREATE_ALWAYS);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  const std::uint64_t base = TicksOfDos(DosDate(2001, 2, 3), DosTime(4, 5, 6));
  const FILETIME access = MakeFileTime(base + 1'234'567);
  const FILETIME write = MakeFileTime(base + 7'654'321);
  ASSERT_TRUE(SetFileTime(file, nullptr, &access, &write));
  FILETIME gotAccess{};
  FILETIME gotWrite{};
  ASSERT_TRUE(GetFileTime(file, nullptr, &gotAccess, &gotWrite));
  EXPECT_EQ(Ticks(gotAccess), Ticks(access));
  EXPECT_EQ(Ticks(gotWrite), Ticks(write));

  // A null or zero FILETIME leaves that time as it was.
  const FILETIME later = MakeFileTime(base + 100 * kSecond);
  const FILETIME zero = MakeFileTime(0);
  ASSERT_TRUE(SetFileTime(file, nullptr, &zero, &later));
  ASSERT_TRUE(GetFileTime(file, nullptr, &gotAccess, &gotWrite));
  EXPECT_EQ(Ticks(gotAccess), Ticks(access));
  EXPECT_EQ(Ticks(gotWrite), Ticks(later));
  CloseHandle(file);
}

TEST_F(PlatformFile, CreationTimeIsTheBirthTime) {
  const auto now = static_cast<std::uint64_t>(std::time(nullptr) + 11'644'473'600LL) * kSecond;
  HANDLE file = Open(Path("born"), GENERIC_ALL, CREATE_ALWAYS);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  FILETIME creation{};
  ASSERT_TRUE(GetFileTime(file, &creation, nullptr, nullptr));
  CloseHandle(file);
  if (Ticks(creation) == 0) GTEST_SKIP() << "this file system keeps no birth time";
  EXPECT_LT(Ticks(creation), now + 60 * kSecond);
  EXPECT_GT(Ticks(creation) + 60 * kSecond, now);
}

#ifndef _WIN32
TEST_F(PlatformFile, ReadOnlyAttributeClearsWriteBitsOfFilesOnly) {
  HANDLE file = Open(Path("ro"), GENERIC_ALL, CREATE_ALWAYS);
  CloseHandle(file);
  chmod(Path("ro").c_str(), 0664);
  struct stat status;
  EXPECT_TRUE(SetFileAttributesA(Path("ro").c_str(), FILE_ATTRIBUTE_ARCHIVE));
  ASSERT_EQ(stat(Path("ro").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0664u);
  EXPECT_TRUE(SetFileAttributesA(Path("ro").c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_EQ(stat(Path("ro").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0444u);

  fs::create_directory(Path("dir"));
  chmod(Path("dir").c_str(), 0750);
  EXPECT_TRUE(SetFileAttributesA(Path("dir").c_str(), FILE_ATTRIBUTE_DIRECTORY | 1));
  ASSERT_EQ(stat(Path("dir").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0750u);

  EXPECT_FALSE(SetFileAttributesA(Path("missing").c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_NOT_FOUND});
}

TEST_F(PlatformFile, FullDiskFailsTheWrite) {
  HANDLE full = Open("/dev/full", GENERIC_WRITE, OPEN_EXISTING);
  if (full == INVALID_HANDLE_VALUE) GTEST_SKIP() << "no /dev/full";
  DWORD written = 7;
  EXPECT_FALSE(WriteFile(full, "abc", 3, &written, nullptr));
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_DISK_FULL});
  CloseHandle(full);
}

// In a child whose SIGXFSZ has its default action (ending the process), a
// write past RLIMIT_FSIZE must fail like a full disk: partial count kept,
// process alive, signal mask as it was.
TEST_F(PlatformFile, FileSizeLimitFailsTheWriteWithoutKillingTheProcess) {
  const std::string path = Path("limited");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_DFL);
    const rlimit limit{4096, 4096};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(10);
    HANDLE file = Open(path, GENERIC_WRITE, CREATE_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) _exit(11);
    const std::vector<char> data(10'000, 'x');
    DWORD written = 0;
    if (WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr)) _exit(12);
    if (written != 4096) _exit(13);
    if (GetLastError() == ERROR_SUCCESS) _exit(14);
    if (SetFilePointer(file, 8192, nullptr, FILE_BEGIN) != 8192) _exit(15);
    if (SetEndOfFile(file)) _exit(16);
    sigset_t mask;
    if (pthread_sigmask(SIG_BLOCK, nullptr, &mask) != 0 || sigismember(&mask, SIGXFSZ)) _exit(17);
    _exit(CloseHandle(file) ? 0 : 18);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "child ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0) << "see the _exit codes in the child";
}

// Opening a FIFO nobody writes to must not hang the host. The child does the
// open, so that a hang fails the test instead of stopping the run.
TEST_F(PlatformFile, FifoWithoutWriterOpensAndReadsEmpty) {
  const std::string path = Path("fifo");
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    HANDLE fifo = Open(path, GENERIC_READ, OPEN_EXISTING);
    if (fifo == INVALID_HANDLE_VALUE) _exit(10);
    char buffer[4];
    DWORD read = 9;
    if (!ReadFile(fifo, buffer, sizeof buffer, &read, nullptr) || read != 0) _exit(11);
    _exit(CloseHandle(fifo) ? 0 : 12);
  }
  int status = 0;
  pid_t done = 0;
  for (int wait = 0; wait < 500 && done == 0; ++wait) {
    done = waitpid(child, &status, WNOHANG);
    if (done == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (done == 0) {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    FAIL() << "opening or reading the FIFO hung";
  }
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "see the _exit codes in the child";
}

TEST_F(PlatformFile, BadHandlesAreRefused) {
  char buffer[4];
  DWORD read = 9;
  EXPECT_FALSE(ReadFile(INVALID_HANDLE_VALUE, buffer, sizeof buffer, &read, nullptr));
  EXPECT_EQ(read, 0u);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_HANDLE});
  HANDLE file = Open(Path("once"), GENERIC_ALL, CREATE_ALWAYS);
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_FALSE(CloseHandle(file));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_HANDLE});
}
#endif

}  // namespace
