#include "cli/os.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>  // NOLINT(modernize-deprecated-headers): sigaction is POSIX
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace quarn::cli {
namespace {

std::atomic<bool> interruptRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

#ifdef _WIN32
BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
    interruptRequested = true;
    return TRUE;
  }
  return FALSE;
}
#else
void OnInterrupt(int) { interruptRequested = true; }

// What the SIGBUS handler writes and ends with, made before it is installed.
char cutMessage[1024];
std::size_t cutLength = 0;
int cutExitCode = 1;

void OnCutDump(int) {
  const ssize_t written = write(STDERR_FILENO, cutMessage, cutLength);
  static_cast<void>(written);  // nothing more can be done
  _exit(cutExitCode);
}
#endif

}  // namespace

bool StderrIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(STDERR_FILENO) != 0;
#endif
}

int TerminalWidth() {
#ifdef _WIN32
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) {
    const int width = info.srWindow.Right - info.srWindow.Left + 1;
    if (width > 0) return width;
  }
#else
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
#endif
  return 80;
}

void CatchInterrupt() {
#ifdef _WIN32
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
#else
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
#endif
}

bool InterruptRequested() { return interruptRequested; }

#ifdef _WIN32
void CatchCutDump(const std::string &, int) {}
#else
void CatchCutDump(const std::string &dump, int exitCode) {
  const std::string message =
      "quarn: " + dump + ": the file was cut short while it was read (or its device went away)\n";
  cutLength = std::min(message.size(), sizeof cutMessage);
  std::memcpy(cutMessage, message.data(), cutLength);
  cutExitCode = exitCode;
  struct sigaction action {};
  action.sa_handler = OnCutDump;
  sigemptyset(&action.sa_mask);
  sigaction(SIGBUS, &action, nullptr);
}
#endif

#ifdef _WIN32
void ReserveStandardStreams() {}

void PrepareStdoutForBytes() {
  std::fflush(stdout);
  _setmode(_fileno(stdout), _O_BINARY);
}

std::string WriteToStdout(const void *bytes, std::size_t length) {
  const auto *at = static_cast<const char *>(bytes);
  while (length > 0) {
    const unsigned piece = length > 0x10000000 ? 0x10000000u : static_cast<unsigned>(length);
    const int written = _write(_fileno(stdout), at, piece);
    if (written <= 0) return written < 0 ? std::strerror(errno) : "nothing was written";
    at += written;
    length -= static_cast<std::size_t>(written);
  }
  return {};
}

bool IsStream(const std::string &) { return false; }
HeldStream::HeldStream(const std::string &) {}
HeldStream::~HeldStream() = default;
std::string HeldStream::Name() const { return {}; }

std::string CreateFileProblem(const std::filesystem::path &path) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return std::system_category().message(static_cast<int>(GetLastError()));
  CloseHandle(file);
  return {};
}

std::filesystem::path PathFromUtf8(const std::string &text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::string Utf8FromPath(const std::filesystem::path &path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::FILE *OpenForReading(const std::string &path) {
  return _wfopen(PathFromUtf8(path).c_str(), L"rb");
}
#else
void ReserveStandardStreams() {
  // open() gives the lowest free descriptor: each closed one in turn.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int opened = open("/dev/null", O_RDONLY);
    if (opened >= 0 && opened != fd) close(opened);
  }
}

void PrepareStdoutForBytes() {
  std::fflush(stdout);
  signal(SIGPIPE, SIG_IGN);
}

std::string WriteToStdout(const void *bytes, std::size_t length) {
  const auto *at = static_cast<const char *>(bytes);
  while (length > 0) {
    const ssize_t written = write(STDOUT_FILENO, at, length);
    if (written < 0) {
      if (errno == EINTR && !InterruptRequested()) continue;
      return std::strerror(errno);
    }
    if (written == 0) return "nothing was written";
    at += written;
    length -= static_cast<std::size_t>(written);
  }
  return {};
}

bool IsStream(const std::string &path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return false;
  return S_ISFIFO(status.st_mode) || S_ISCHR(status.st_mode) || S_ISSOCK(status.st_mode);
}

HeldStream::HeldStream(const std::string &path) {
  do {
    descriptor_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (descriptor_ < 0 && errno == EINTR);
}

HeldStream::~HeldStream() {
  if (descriptor_ >= 0) close(descriptor_);
}

std::string HeldStream::Name() const { return "/dev/fd/" + std::to_string(descriptor_); }

std::string CreateFileProblem(const std::filesystem::path &path) {
  const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (file < 0) return std::strerror(errno);
  close(file);
  unlink(path.c_str());
  return {};
}

std::filesystem::path PathFromUtf8(const std::string &text) { return text; }
std::string Utf8FromPath(const std::filesystem::path &path) { return path.native(); }
std::FILE *OpenForReading(const std::string &path) { return std::fopen(path.c_str(), "rb"); }
#endif

}  // namespace quarn::cli
