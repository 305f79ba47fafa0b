// The few things the command needs from the operating system beyond the
// standard library: the console, Ctrl+C, and file names. The command keeps
// its text in UTF-8 (on Linux, names that are not UTF-8 as the bytes they
// are); Windows gets file names as UTF-16.
#ifndef QUARN_CLI_OS_H
#define QUARN_CLI_OS_H

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <string>

namespace quarn::cli {

bool StderrIsTerminal();
// Columns of the terminal behind stderr; 80 when it cannot be told.
int TerminalWidth();

// From now on Ctrl+C (SIGINT; on Windows also Ctrl+Break) only sets a flag.
void CatchInterrupt();
bool InterruptRequested();

// The core reads the dump through a view of its file (no copy): from now on a
// page of it that the file no longer has (another program cut the file while
// the command ran, or its device went away) ends the command with
// "quarn: DUMP: ..." on stderr and `exitCode`, not with a crash. Nothing on
// Windows, where the core keeps a copy.
void CatchCutDump(const std::string &dump, int exitCode);

// Whether `path` names a pipe, a character device or a socket: input that
// has no size and can be read only once, as it comes.
bool IsStream(const std::string &path);

// A stream opened by the command itself, held open while the plugin reads
// it: the open waits for a FIFO's writer (the plugin's own never does), and
// the plugin reads through the name Name() gives ("/dev/fd/N").
class HeldStream {
 public:
  explicit HeldStream(const std::string &path);
  ~HeldStream();
  HeldStream(const HeldStream &) = delete;
  HeldStream &operator=(const HeldStream &) = delete;
  bool Held() const { return descriptor_ >= 0; }
  std::string Name() const;

 private:
  int descriptor_ = -1;
};

// Standard input, output and error that are closed are opened on the null
// device for reading, so that no file the command opens takes their place:
// writing to a closed standard output stays an error.
void ReserveStandardStreams();
// Standard output is about to carry a file's bytes: binary mode on Windows;
// on Linux a reader that went away is a write error (EPIPE), not a signal.
void PrepareStdoutForBytes();
// Writes all of `bytes` to standard output, past its buffer; the system's
// reason when it cannot ("No space left on device"), or an empty string.
std::string WriteToStdout(const void *bytes, std::size_t length);

// Why `path` cannot be created as a new file ("Permission denied"); an
// empty string when it can (it is then not left behind).
std::string CreateFileProblem(const std::filesystem::path &path);

// The command's text as a std::filesystem path and back.
std::filesystem::path PathFromUtf8(const std::string &text);
std::string Utf8FromPath(const std::filesystem::path &path);

// Opens `path` for reading; null with errno set when it cannot.
std::FILE *OpenForReading(const std::string &path);

}  // namespace quarn::cli

#endif
