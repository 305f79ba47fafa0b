// The text calls Quarn makes (UTF-8, code pages, upper case), checked for the Windows meaning.
// Cases outside `#ifndef _WIN32` hold on Windows as well, so the same tests
// check the Linux stand-in against the real thing.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"

#ifndef _WIN32
#include <locale.h>

#include <thread>
#endif

namespace {

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

}  // namespace
