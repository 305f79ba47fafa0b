// Text services of the Linux stand-in: the narrow code page is UTF-8.
#include <locale.h>  // NOLINT(modernize-deprecated-headers): newlocale is POSIX
#include <wctype.h>  // NOLINT(modernize-deprecated-headers): towupper_l is POSIX

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/linux_internal.h"
#include "platform/platform.h"
#include "util/utf8.h"

namespace quarn::platform {
namespace {

constexpr UINT kOemCodePage = 1;     // CP_OEMCP
constexpr UINT kThreadCodePage = 3;  // CP_THREAD_ACP
constexpr char32_t kReplacement = 0xFFFD;

bool IsUtf8CodePage(UINT codePage) {
  return codePage == CP_ACP || codePage == CP_UTF8 || codePage == kOemCodePage ||
         codePage == kThreadCodePage;
}

// The case rules come from a UTF-8 locale of our own, so neither the
// process's locale nor another thread's setlocale changes them.
class CaseLocale {
 public:
  CaseLocale() {
    locale_ = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    if (locale_ == nullptr) {
      locale_ = newlocale(LC_CTYPE_MASK, "C.utf8", nullptr);
    }
  }
  ~CaseLocale() {
    if (locale_ != nullptr) freelocale(locale_);
  }
  CaseLocale(const CaseLocale &) = delete;
  CaseLocale &operator=(const CaseLocale &) = delete;

  locale_t Get() const { return locale_; }

 private:
  locale_t locale_;
};

locale_t UpperCaseLocale() {
  static const CaseLocale caseLocale;
  return caseLocale.Get();
}

}  // namespace
}  // namespace quarn::platform

using namespace quarn::platform;

int WideCharToMultiByte(UINT codePage, DWORD flags, const WCHAR *src, int srcLen, char *dst,
                        int dstLen, const char * /*defaultChar*/, BOOL *usedDefault) {
  if (!IsUtf8CodePage(codePage) || src == nullptr || srcLen == 0 || srcLen < -1 || dstLen < 0 ||
      (dst == nullptr && dstLen > 0)) {
    SetLastErrorCode(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // UTF-8 encodes every character, so no default character is ever used.
  if (usedDefault != nullptr) *usedDefault = FALSE;
  auto units = static_cast<std::size_t>(srcLen);
  if (srcLen == -1) {
    units = 0;
    while (src[units] != 0) ++units;
    ++units;  // the terminating NUL is converted too
  }
  const bool strict = (flags & WC_ERR_INVALID_CHARS) != 0;
  const bool measuring = dstLen == 0;
  auto *out = reinterpret_cast<unsigned char *>(dst);
  std::size_t produced = 0;
  for (std::size_t i = 0; i < units; ++i) {
    char32_t codePoint = src[i];
    if (quarn::IsHighSurrogate(codePoint) && i + 1 < units && quarn::IsLowSurrogate(src[i + 1])) {
      codePoint = quarn::FromSurrogates(codePoint, src[i + 1]);
      ++i;
    } else if (quarn::IsHighSurrogate(codePoint) || quarn::IsLowSurrogate(codePoint)) {
      if (strict) {
        SetLastErrorCode(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
      }
      codePoint = kReplacement;
    }
    const std::size_t length = quarn::Utf8Length(codePoint);
    if (!measuring) {
      if (produced + length > static_cast<std::size_t>(dstLen)) {
        SetLastErrorCode(ERROR_INSUFFICIENT_BUFFER);
        return 0;
      }
      quarn::EncodeUtf8(codePoint, out + produced);
    }
    produced += length;
    if (produced > static_cast<std::size_t>(INT_MAX)) {
      SetLastErrorCode(ERROR_INVALID_PARAMETER);
      return 0;
    }
  }
  return static_cast<int>(produced);
}

int MultiByteToWideChar(UINT codePage, DWORD flags, const char *src, int srcLen, WCHAR *dst,
                        int dstLen) {
  if (!IsUtf8CodePage(codePage) || src == nullptr || srcLen == 0 || srcLen < -1 || dstLen < 0 ||
      (dst == nullptr && dstLen > 0)) {
    SetLastErrorCode(ERROR_INVALID_PARAMETER);
    return 0;
  }
  auto bytes = static_cast<std::size_t>(srcLen);
  if (srcLen == -1) bytes = std::strlen(src) + 1;  // the terminating NUL too
  const bool strict = (flags & MB_ERR_INVALID_CHARS) != 0;
  const bool measuring = dstLen == 0;
  const auto *in = reinterpret_cast<const unsigned char *>(src);
  std::size_t produced = 0;
  for (std::size_t i = 0; i < bytes;) {
    char32_t codePoint = kReplacement;
    std::size_t length = quarn::DecodeUtf8(in + i, bytes - i, &codePoint);
    if (length == 0) {
      if (strict) {
        SetLastErrorCode(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
      }
      codePoint = kReplacement;
      length = 1;
    }
    i += length;
    const std::size_t units = codePoint >= 0x10000 ? 2 : 1;
    if (!measuring) {
      if (produced + units > static_cast<std::size_t>(dstLen)) {
        SetLastErrorCode(ERROR_INSUFFICIENT_BUFFER);
        return 0;
      }
      if (units == 2) {
        dst[produced] = static_cast<WCHAR>(0xD800 + ((codePoint - 0x10000) >> 10));
        dst[produced + 1] = static_cast<WCHAR>(0xDC00 + ((codePoint - 0x10000) & 0x3FF));
      } else {
        dst[produced] = static_cast<WCHAR>(codePoint);
      }
    }
    produced += units;
    if (produced > static_cast<std::size_t>(INT_MAX)) {
      SetLastErrorCode(ERROR_INVALID_PARAMETER);
      return 0;
    }
  }
  return static_cast<int>(produced);
}

DWORD CharUpperBuffW(WCHAR *text, DWORD length) {
  if (text == nullptr) return 0;
  const locale_t locale = UpperCaseLocale();
  for (DWORD i = 0; i < length; ++i) {
    const char32_t unit = text[i];
    if (unit < 0x80) {
      if (unit >= 'a' && unit <= 'z') text[i] = static_cast<WCHAR>(unit - 32);
      continue;
    }
    if (locale == nullptr || quarn::IsHighSurrogate(unit) || quarn::IsLowSurrogate(unit)) continue;
    const auto upper = static_cast<char32_t>(towupper_l(static_cast<wint_t>(unit), locale));
    if (upper < 0x10000 && !quarn::IsHighSurrogate(upper) && !quarn::IsLowSurrogate(upper))
      text[i] = static_cast<WCHAR>(upper);
  }
  return length;
}

bool quarn::platform::NarrowFileName(const WCHAR *name, std::string &narrow) {
  if (name == nullptr) {
    SetLastErrorCode(ERROR_INVALID_PARAMETER);
    return false;
  }
  std::size_t units = 0;
  while (name[units] != 0) ++units;
  if (units == 0) {
    narrow.clear();
    return true;
  }
  if (units > static_cast<std::size_t>(INT_MAX / 3)) {
    SetLastErrorCode(ERROR_INVALID_PARAMETER);
    return false;
  }
  const int length = static_cast<int>(units);
  narrow.resize(units * 3);
  const int written =
      WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, name, length, narrow.data(),
                          static_cast<int>(narrow.size()), nullptr, nullptr);
  if (written <= 0) return false;
  narrow.resize(static_cast<std::size_t>(written));
  return true;
}

DWORD CharUpperBuffA(char *text, DWORD length) {
  if (text == nullptr) return 0;
  const locale_t locale = UpperCaseLocale();
  auto *bytes = reinterpret_cast<unsigned char *>(text);
  std::size_t i = 0;
  while (i < length) {
    if (bytes[i] < 0x80) {
      if (bytes[i] >= 'a' && bytes[i] <= 'z') bytes[i] = static_cast<unsigned char>(bytes[i] - 32);
      ++i;
      continue;
    }
    char32_t codePoint;
    const std::size_t sequence = quarn::DecodeUtf8(bytes + i, length - i, &codePoint);
    if (sequence == 0) {
      ++i;  // not UTF-8: left as it is
      continue;
    }
    if (locale != nullptr) {
      const auto upper = static_cast<char32_t>(towupper_l(static_cast<wint_t>(codePoint), locale));
      // A name must keep its length in bytes: "ı" (2 bytes) to "I" (1) is
      // not made.
      if (upper != codePoint && upper <= 0x10FFFF && quarn::Utf8Length(upper) == sequence) {
        quarn::EncodeUtf8(upper, bytes + i);
      }
    }
    i += sequence;
  }
  return length;
}

BOOL IsDBCSLeadByte(BYTE /*testChar*/) { return FALSE; }
