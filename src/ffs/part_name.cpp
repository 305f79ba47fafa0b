// Names of entries, from the bytes a part header holds after its 16 fixed
// bytes.
//
// A name is either raw bytes in the phone's own character set, kept as they
// stand, or, marked by a first byte 0x1F, UTF-8 as the phone writes it: one-,
// two- and three-byte sequences only, read leniently (overlong forms and
// surrogate values pass), each giving one 16-bit character. The characters
// are then written in the host's narrow code page: the thread's ANSI code
// page on Windows, UTF-8 on Linux.
#include "ffs/flash_fs.h"
#include "platform/host_path.h"
#include "platform/platform.h"

namespace quarn {

namespace {

constexpr std::uint8_t kUtf8Mark = 0x1F;
constexpr char kHex[] = "0123456789ABCDEF";

// Cuts converted text to a short name's length without splitting a
// character of the narrow code page.
void CutNarrow(std::string &text) { text.resize(NarrowCut(text, kMaxNameBytes)); }

}  // namespace

std::string DecodePartName(const std::uint8_t *bytes, std::size_t length, bool cut,
                           std::u16string *wide) {
  if (length > kMaxNameBytes) length = kMaxNameBytes;
  // Nothing stored (the name's NUL comes first) is written as that NUL.
  if (length == 0) return "%00";
  if (bytes[0] != kUtf8Mark) return std::string(reinterpret_cast<const char *>(bytes), length);

  // Each byte of a broken sequence (cut short by the name's end, or with a
  // following byte outside 0x80..0xBF) stands as %XX, so that the name says
  // what was stored and is never empty; decoding goes on after it. At most
  // 254 bytes follow the mark, each giving at most three characters: no
  // allocation needed.
  WCHAR units[kMaxNameBytes * 3];
  std::size_t count = 0;
  auto escape = [&](std::uint8_t b) {
    units[count++] = u'%';
    units[count++] = static_cast<WCHAR>(kHex[b >> 4]);
    units[count++] = static_cast<WCHAR>(kHex[b & 0x0F]);
  };
  std::size_t i = 1;
  while (i < length) {
    const std::uint8_t lead = bytes[i];
    if (lead < 0x80) {
      units[count++] = lead;
      ++i;
      continue;
    }
    const std::size_t follow = (lead & 0x20) != 0 ? 2 : 1;
    // A sequence cut by the 255-byte limit of a longer name only loses
    // that character.
    if (length - i - 1 < follow && cut) break;
    std::uint32_t value = lead & (follow == 2 ? 0x0F : 0x1F);
    std::size_t k = 1;
    for (; k <= follow && i + k < length; ++k) {
      const std::uint8_t b = bytes[i + k];
      if (b < 0x80 || b > 0xBF) break;
      value = (value << 6) | (b & 0x3F);
    }
    if (k <= follow) {
      for (std::size_t j = 0; j < k; ++j) escape(bytes[i + j]);
      i += k;
      continue;
    }
    units[count++] = static_cast<WCHAR>(value & 0xFFFF);
    i += 1 + follow;
  }

  // No character needs more than three bytes in UTF-8 or two in a
  // double-byte code page; a surrogate pair is two characters.
  char buffer[sizeof units / sizeof units[0] * 3];
  const int written = count == 0
                          ? 0
                          : WideCharToMultiByte(CP_ACP, 0, units, static_cast<int>(count), buffer,
                                                static_cast<int>(sizeof buffer), nullptr, nullptr);
  if (wide != nullptr) {
    // The same name, ended at a character 0 as the narrow one is.
    std::size_t end = 0;
    while (end < count && units[end] != 0) ++end;
    wide->assign(units, units + end);
  }
  // A character 0 (an overlong form can give one) would end the name where a
  // host reads it; end it there for every reader.
  std::size_t used = 0;
  while (static_cast<int>(used) < written && buffer[used] != '\0') ++used;
  std::string narrow(buffer, used);
  if (narrow.size() > kMaxNameBytes) {
    CutNarrow(narrow);
    // A cut inside a %XX leaves no half of it.
    const std::size_t percent = narrow.find('%', narrow.size() < 2 ? 0 : narrow.size() - 2);
    if (percent != std::string::npos) narrow.resize(percent);
  }
  if (narrow.empty()) {
    // Nothing shows of what was stored (the mark alone, or a character 0
    // first): every stored byte as %XX.
    for (std::size_t b = 0; b < length && narrow.size() + 3 <= kMaxNameBytes; ++b) {
      narrow += '%';
      narrow += kHex[bytes[b] >> 4];
      narrow += kHex[bytes[b] & 0x0F];
    }
    if (wide != nullptr) wide->assign(narrow.begin(), narrow.end());
  }
  return narrow;
}

}  // namespace quarn
