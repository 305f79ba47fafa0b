// The file calls Quarn makes (open, read, write, seek, times), checked for the Windows meaning.
// Cases outside `#ifndef _WIN32` hold on Windows as well, so the same tests
// check the Linux stand-in against the real thing.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform_times.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>
#endif

namespace {

namespace fs = std::filesystem;

using quarn::testing::platform::DosDate;
using quarn::testing::platform::DosTime;
using quarn::testing::platform::kSecond;
using quarn::testing::platform::MakeFileTime;
using quarn::testing::platform::Ticks;
using quarn::testing::platform::TicksOfDos;

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
