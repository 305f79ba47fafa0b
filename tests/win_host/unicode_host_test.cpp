// The built plugin through the Unicode interface, as Total Commander uses it
// whenever a plugin has it: every name as the phone stored it, whatever the
// ANSI code page (these tests run under a Western one, 1252, where Cyrillic,
// Greek and CJK have no bytes at all), and paths past the 259 bytes of the
// ANSI record. The ANSI interface of the same archive keeps its own bytes.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "dump_builder.h"
#include "ffs_builder.h"
#include "sample_fs.h"
#include "wcxhead.h"
#include "win_plugin.h"

namespace {

using namespace quarn::testing;

std::wstring Wide(const std::string &utf8) {
  const int units =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), units);
  return wide;
}

std::string Ansi(const std::wstring &wide) {
  const int bytes = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()),
                                        nullptr, 0, nullptr, nullptr);
  std::string ansi(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), ansi.data(), bytes,
                      nullptr, nullptr);
  return ansi;
}

// One entry as the test expects it through the Unicode interface.
struct Expected {
  std::string Content;  // empty for a folder
  bool Folder;
  WORD Date;
  WORD Time;
};

constexpr WORD kDate = DosDate(2024, 7, 21);
constexpr WORD kTime = DosTime(18, 24, 10);

// FFS with Cyrillic, Greek, CJK and accented names (UTF-8 on flash, marked
// 0x1F), and three folders of 100 letters with a Greek file at the bottom:
// a path of 343 characters, 350 bytes in UTF-8.
std::map<std::wstring, Expected> SaveUnicodeDump(const std::string &path) {
  DumpBuilder dump(0x200000);
  dump.Disk(0x100, "FFS", 0x1000, 0x2000, {{At(0x100000), 0x40000}}, false);
  FlashFs fs(dump, {{At(0x100000), 0x40000}});
  std::map<std::wstring, Expected> expected;
  const std::uint16_t root = fs.Root();
  auto folder = [&](std::uint16_t parent, const std::wstring &prefix, const std::string &name) {
    expected[prefix + Wide(name)] = {"", true, kSampleDate, kSampleTime};
    return fs.Dir(parent, "\x1F" + name);
  };
  auto file = [&](std::uint16_t parent, const std::wstring &prefix, const std::string &name) {
    const std::string content = "content of " + name;
    expected[prefix + Wide(name)] = {content, false, kDate, kTime};
    fs.File(parent, "\x1F" + name, Bytes(content), 7, kFileAttr, kDate, kTime);
  };
  expected[L"FFS"] = {"", true, kSampleDate, kSampleTime};
  const std::string holiday =
      "\xD0\x9E\xD1\x82\xD0\xBF\xD1\x83\xD1\x81\xD0\xBA 2024";  // Отпуск 2024
  const std::uint16_t pictures = folder(root, L"FFS\\", holiday);
  file(pictures, L"FFS\\" + Wide(holiday) + L"\\",
       "\xD0\xBC\xD0\xBE\xD1\x80\xD0\xB5_01.jpg");                       // море_01.jpg
  file(root, L"FFS\\", "\xCE\xB1\xCE\xB2\xCE\xB3\xCE\xB4\xCE\xB5.txt");  // αβγδε.txt
  file(root, L"FFS\\", "\xE5\x86\x99\xE7\x9C\x9F.png");                  // 写真.png
  file(root, L"FFS\\", "Z\xC3\xBCrich caf\xC3\xA9.txt");                 // Zürich café.txt
  std::uint16_t deep = root;
  std::wstring prefix = L"FFS\\";
  for (const char letter : {'a', 'b', 'c'}) {
    deep = folder(deep, prefix, std::string(100, letter));
    prefix += Wide(std::string(100, letter)) + L"\\";
  }
  file(deep, prefix, "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA\xCE\xAC.txt");
  dump.Save(path);
  return expected;
}

std::wstring Unit(const WCX_WCHAR *text) { return std::wstring(text); }

// Sizes and names the Unicode progress callback saw.
std::vector<std::wstring> progressNames;
int WCX_CALL RecordProgressW(WCX_WCHAR *name, int) {
  progressNames.emplace_back(name != nullptr ? name : L"(null)");
  return 1;
}

class UnicodeHost : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(AllExportsFound()) << "cannot load " << QUARN_PLUGIN_NAME << " or its exports";
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    dir_ = std::wstring(temp) + L"quarn-unicode-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           Wide(::testing::UnitTest::GetInstance()->current_test_info()->name()) + L"\\";
    CreateDirectoryW(dir_.c_str(), nullptr);
    char ansi[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, ansi);
    dumpPath_ =
        std::string(ansi) + "quarn-unicode-" + std::to_string(GetCurrentProcessId()) + ".bin";
    expected_ = SaveUnicodeDump(dumpPath_);
  }
  void TearDown() override {
    DeleteFileA(dumpPath_.c_str());
    SHFileRemove(dir_);
  }
  // Removes a folder tree, long paths included.
  static void SHFileRemove(const std::wstring &dir) {
    WIN32_FIND_DATAW found{};
    const std::wstring longDir = L"\\\\?\\" + dir;
    const HANDLE search = FindFirstFileW((longDir + L"*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
          SHFileRemove(dir + name + L"\\");
        else
          DeleteFileW((longDir + name).c_str());
      } while (FindNextFileW(search, &found));
      FindClose(search);
    }
    RemoveDirectoryW(longDir.c_str());
  }
  // Every folder of a \\?\ path below the test's own, made as a host does.
  void MakeFolders(const std::wstring &path) {
    const std::size_t start = 4 + dir_.size();
    for (std::size_t at = path.find(L'\\', start); at != std::wstring::npos;
         at = path.find(L'\\', at + 1))
      CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
    CreateDirectoryW(path.c_str(), nullptr);
  }
  void *OpenW(int mode) {
    std::wstring name = Wide(dumpPath_);
    tOpenArchiveDataW data{};
    data.ArcName = name.data();
    data.OpenMode = mode;
    return Wcx().OpenArchiveW(&data);
  }

  std::wstring dir_;
  std::string dumpPath_;
  std::map<std::wstring, Expected> expected_;
};

TEST_F(UnicodeHost, ListsEveryNameAsThePhoneStoredIt) {
  ASSERT_EQ(GetACP(), 1252u) << "the test wants a Western ANSI code page (LC_ALL=C.UTF-8)";
  void *handle = OpenW(PK_OM_LIST);
  ASSERT_NE(handle, nullptr);
  std::map<std::wstring, Expected> listed;
  tHeaderDataExW header{};
  while (Wcx().ReadHeaderExW(handle, &header) == 0) {
    const std::wstring name = Unit(header.FileName);
    const bool folder = (header.FileAttr & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (name.size() >= 4 && name.compare(0, 4, L"FFS\\") != 0 && name != L"FFS") continue;
    listed[name] = {std::string(header.UnpSize, '?'), folder,
                    static_cast<WORD>(static_cast<unsigned>(header.FileTime) >> 16),
                    static_cast<WORD>(header.FileTime & 0xFFFF)};
    EXPECT_EQ(header.UnpSizeHigh, 0u);
    EXPECT_EQ(Wcx().ProcessFileW(handle, PK_SKIP, nullptr, nullptr), 0);
  }
  EXPECT_EQ(Wcx().CloseArchive(handle), 0);
  ASSERT_EQ(listed.size(), expected_.size());
  for (const auto &[path, want] : expected_) {
    const auto got = listed.find(path);
    ASSERT_NE(got, listed.end()) << Ansi(path);
    EXPECT_EQ(got->second.Folder, want.Folder) << Ansi(path);
    EXPECT_EQ(got->second.Date, want.Date) << Ansi(path);
    EXPECT_EQ(got->second.Time, want.Time) << Ansi(path);
    if (!want.Folder) {
      EXPECT_EQ(got->second.Content.size(), want.Content.size()) << Ansi(path);
    }
  }
  std::size_t longest = 0;
  for (const auto &[path, want] : expected_) longest = std::max(longest, path.size());
  EXPECT_GT(longest, 259u);
}

TEST_F(UnicodeHost, TheAnsiInterfaceKeepsItsOwnBytes) {
  // The same archive through ReadHeader: each name in the ANSI code page,
  // its characters that code page lacks as its default character.
  tOpenArchiveData data{};
  data.ArcName = dumpPath_.data();
  void *handle = Wcx().OpenArchive(&data);
  ASSERT_NE(handle, nullptr);
  std::vector<std::string> listed;
  tHeaderData header{};
  while (Wcx().ReadHeader(handle, &header) == 0) listed.emplace_back(header.FileName);
  EXPECT_EQ(Wcx().CloseArchive(handle), 0);
  for (const auto &[path, want] : expected_) {
    const std::string ansi = Ansi(path);
    if (ansi.size() > 255) continue;  // cut and numbered: the ANSI record's limit
    EXPECT_NE(std::find(listed.begin(), listed.end(), ansi), listed.end()) << ansi;
  }
}

TEST_F(UnicodeHost, ExtractsEveryFileToItsRealNameWithItsBytesAndTimes) {
  void *handle = OpenW(PK_OM_EXTRACT);
  ASSERT_NE(handle, nullptr);
  Wcx().SetProcessDataProcW(handle, RecordProgressW);
  progressNames.clear();
  tHeaderDataExW header{};
  std::size_t files = 0;
  while (Wcx().ReadHeaderExW(handle, &header) == 0) {
    const std::wstring name = Unit(header.FileName);
    if (expected_.count(name) == 0) {
      EXPECT_EQ(Wcx().ProcessFileW(handle, PK_SKIP, nullptr, nullptr), 0);
      continue;
    }
    // Long paths through the \\?\ form, as a host writes them.
    std::wstring target = L"\\\\?\\" + dir_ + name;
    if (expected_[name].Folder) {
      MakeFolders(target);
      EXPECT_EQ(Wcx().ProcessFileW(handle, PK_SKIP, nullptr, nullptr), 0);
      continue;
    }
    // A file may come before its folder (where a path cut at the ANSI
    // limit was numbered): the host makes the folders a file needs.
    MakeFolders(target.substr(0, target.find_last_of(L'\\')));
    EXPECT_EQ(Wcx().ProcessFileW(handle, PK_EXTRACT, nullptr, target.data()), 0) << Ansi(name);
    ++files;
  }
  EXPECT_EQ(Wcx().CloseArchive(handle), 0);
  EXPECT_EQ(files, 5u);
  for (const auto &[name, want] : expected_) {
    if (want.Folder) continue;
    const std::wstring target = L"\\\\?\\" + dir_ + name;
    const HANDLE file = CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << Ansi(name);
    std::string bytes(4096, '\0');
    DWORD read = 0;
    ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    bytes.resize(read);
    FILETIME written{};
    GetFileTime(file, nullptr, nullptr, &written);
    CloseHandle(file);
    EXPECT_EQ(bytes, want.Content) << Ansi(name);
    FILETIME dos{};
    DosDateTimeToFileTime(want.Date, want.Time, &dos);  // not shifted from local time
    EXPECT_EQ(CompareFileTime(&written, &dos), 0) << Ansi(name);
  }
  // The Unicode callback hears the UTF-16 name of each file, once per part.
  ASSERT_FALSE(progressNames.empty());
  EXPECT_NE(progressNames[0].find(L"\\\\?\\"), std::wstring::npos);
}

}  // namespace
