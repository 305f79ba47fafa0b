// Files of the Linux stand-in (handles over descriptors), and its last error.
#include <fcntl.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <ctime>
#include <string>

#include "platform/linux_internal.h"
#include "platform/platform.h"

namespace quarn::platform {
namespace {

thread_local DWORD lastError = ERROR_SUCCESS;

// The descriptor behind a handle, or -1 for a value no open call returns.
int DescriptorOf(HANDLE handle) {
  const auto value = reinterpret_cast<std::intptr_t>(handle);
  if (value < 0 || value > INT_MAX) return -1;
  return static_cast<int>(value);
}

HANDLE HandleOf(int descriptor) {
  return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(descriptor));
}

// A write on a descriptor opened read-only says EBADF, where Windows says the
// handle lacks the access.
DWORD WriteError(int descriptor, int error) {
  if (error == EBADF) {
    const int status = fcntl(descriptor, F_GETFL);
    if (status >= 0 && (status & O_ACCMODE) == O_RDONLY) return ERROR_ACCESS_DENIED;
  }
  if (error == EIO) return ERROR_WRITE_FAULT;
  return ErrorFromErrno(error);
}

// A write or truncation past RLIMIT_FSIZE fails with EFBIG and also raises
// SIGXFSZ, whose default action ends the process. A host that did not ignore
// the signal would be killed by a full extraction; Windows reports an error
// and nothing else. So SIGXFSZ is held back for this thread during the call,
// and a signal that the call itself raised is taken off again. Without a
// limit no call raises it, and the two changes of the signal mask per write
// are saved: the limit is read once, at the first write after the process
// started or forked (a limit is set by the shell before the host starts, or
// by a child of its own).
std::atomic<int> fileSizeLimit{0};  // 0: not read yet; 1: none; 2: set

bool FileSizeLimited() {
  int known = fileSizeLimit.load(std::memory_order_relaxed);
  if (known == 0) {
    static const int forgetInChild = pthread_atfork(
        nullptr, nullptr, +[] { fileSizeLimit.store(0); });
    static_cast<void>(forgetInChild);
    rlimit limit{};
    known = getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur == RLIM_INFINITY ? 1 : 2;
    fileSizeLimit.store(known, std::memory_order_relaxed);
  }
  return known == 2;
}

class FileSizeSignalGuard {
 public:
  FileSizeSignalGuard() {
    if (!FileSizeLimited()) return;
    sigset_t hold;
    sigemptyset(&hold);
    sigaddset(&hold, SIGXFSZ);
    // Where the caller blocks it already, any SIGXFSZ is the caller's.
    active_ =
        pthread_sigmask(SIG_BLOCK, &hold, &previous_) == 0 && sigismember(&previous_, SIGXFSZ) == 0;
  }
  ~FileSizeSignalGuard() {
    if (!active_) return;
    if (limitHit_) {
      sigset_t raised;
      sigemptyset(&raised);
      sigaddset(&raised, SIGXFSZ);
      const timespec noWait{0, 0};
      sigtimedwait(&raised, nullptr, &noWait);
    }
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  FileSizeSignalGuard(const FileSizeSignalGuard &) = delete;
  FileSizeSignalGuard &operator=(const FileSizeSignalGuard &) = delete;

  void Note(int error) {
    if (error == EFBIG) limitHit_ = true;
  }

 private:
  sigset_t previous_;
  bool active_ = false;
  bool limitHit_ = false;
};

int OpenRetrying(const char *name, int flags, mode_t mode) {
  int descriptor;
  do {
    descriptor = open(name, flags, mode);
  } while (descriptor < 0 && errno == EINTR);
  return descriptor;
}

}  // namespace

void SetLastErrorCode(DWORD code) { lastError = code; }

int ValidDescriptor(HANDLE handle) {
  const int descriptor = DescriptorOf(handle);
  if (descriptor < 0) SetLastErrorCode(ERROR_INVALID_HANDLE);
  return descriptor;
}

// Windows tells a missing file (ERROR_FILE_NOT_FOUND) from a missing folder
// on the way to it (ERROR_PATH_NOT_FOUND); open() says ENOENT for both.
DWORD PathError(const char *name, int error) {
  if (error != ENOENT) return ErrorFromErrno(error);
  try {
    std::string parent(name);
    while (parent.size() > 1 && parent.back() == '/') parent.pop_back();
    const auto slash = parent.rfind('/');
    if (slash == std::string::npos) return ERROR_FILE_NOT_FOUND;
    parent.resize(slash == 0 ? 1 : slash);
    struct stat status;
    if (stat(parent.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
      return ERROR_PATH_NOT_FOUND;
    }
  } catch (...) {
    // Without memory for the parent's name the plainer answer will do.
  }
  return ERROR_FILE_NOT_FOUND;
}

DWORD ErrorFromErrno(int error) {
  switch (error) {
    case 0:
      return ERROR_SUCCESS;
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
      return ERROR_ACCESS_DENIED;
    case EROFS:
      return kErrorWriteProtect;
    case EEXIST:
      return ERROR_FILE_EXISTS;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case ENOSPC:
    case EDQUOT:
      return ERROR_DISK_FULL;
    case EFBIG:
      return kErrorFileTooLarge;
    case EMFILE:
    case ENFILE:
      return kErrorTooManyOpenFiles;
    case EBUSY:
    case ETXTBSY:
      return kErrorSharingViolation;
    case ENAMETOOLONG:
      return kErrorFilenameTooLong;
    case ELOOP:
      return kErrorCantResolveFilename;
    default:
      return kErrorGenFailure;
  }
}

}  // namespace quarn::platform

using namespace quarn::platform;

DWORD GetLastError() { return lastError; }

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD /*share*/, void * /*security*/,
                   DWORD disposition, DWORD flags, HANDLE /*templateFile*/) {
  if (name == nullptr) {
    SetLastErrorCode(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  const bool writes = (access & (GENERIC_WRITE | GENERIC_ALL)) != 0;
  const bool backup = (flags & FILE_FLAG_BACKUP_SEMANTICS) != 0;
  // O_NONBLOCK keeps the open of a FIFO without a writer from hanging the
  // host; it is cleared again once the file is open.
  int openFlags = (writes ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  switch (disposition) {
    case CREATE_NEW:
      openFlags |= O_CREAT | O_EXCL;
      break;
    case CREATE_ALWAYS:
      openFlags |= O_CREAT | O_TRUNC;
      break;
    case OPEN_EXISTING:
      break;
    case OPEN_ALWAYS:
      openFlags |= O_CREAT;
      break;
    case TRUNCATE_EXISTING:
      // Windows wants write access to cut a file.
      if (!writes) {
        SetLastErrorCode(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
      }
      openFlags |= O_TRUNC;
      break;
    default:
      SetLastErrorCode(ERROR_INVALID_PARAMETER);
      return INVALID_HANDLE_VALUE;
  }
  // A file created read-only is created without write permissions.
  const mode_t mode = (flags & FILE_ATTRIBUTE_READONLY) != 0 ? 0444 : 0666;

  // OPEN_ALWAYS says, as on Windows, whether the file was there already
  // (ERROR_ALREADY_EXISTS), so that a caller can leave a new file as it is.
  bool existed = false;
  const int firstFlags = disposition == OPEN_ALWAYS ? openFlags | O_EXCL : openFlags;
  int descriptor = OpenRetrying(name, firstFlags, mode);
  // What an exclusive creation opened is a new regular file: nothing to check.
  const bool created = descriptor >= 0 && (firstFlags & (O_CREAT | O_EXCL)) == (O_CREAT | O_EXCL);
  if (disposition == OPEN_ALWAYS && descriptor < 0 && errno == EEXIST) {
    existed = true;
    descriptor = OpenRetrying(name, openFlags & ~O_CREAT, mode);
    // Removed in between, or a link to nothing: made as it would have been.
    if (descriptor < 0 && errno == ENOENT) {
      existed = false;
      descriptor = OpenRetrying(name, openFlags, mode);
    }
  }
  if (descriptor < 0 && errno == EISDIR && backup &&
      (disposition == OPEN_EXISTING || disposition == OPEN_ALWAYS)) {
    // A directory opens for reading only, which is enough to read and set
    // its times.
    descriptor = OpenRetrying(name, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  }
  if (descriptor < 0) {
    SetLastErrorCode(PathError(name, errno));
    return INVALID_HANDLE_VALUE;
  }
  if (!created) {
    struct stat status;
    if (fstat(descriptor, &status) != 0) {
      SetLastErrorFromErrno(errno);
      close(descriptor);
      return INVALID_HANDLE_VALUE;
    }
    if (S_ISDIR(status.st_mode) && !backup) {
      close(descriptor);
      SetLastErrorCode(ERROR_ACCESS_DENIED);
      return INVALID_HANDLE_VALUE;
    }
    // O_NONBLOCK changes nothing for a regular file (open(2)): only other
    // files need it cleared. F_SETFL takes no access mode nor creation
    // flags, and O_NONBLOCK is the only status flag set here.
    if (!S_ISREG(status.st_mode)) fcntl(descriptor, F_SETFL, openFlags & ~O_NONBLOCK);
  }
  // Descriptor 0 would be a null handle, which callers may take for none.
  if (descriptor == 0) {
    const int moved = fcntl(descriptor, F_DUPFD_CLOEXEC, 1);
    const int error = errno;
    close(descriptor);
    if (moved < 0) {
      SetLastErrorFromErrno(error);
      return INVALID_HANDLE_VALUE;
    }
    descriptor = moved;
  }
  SetLastErrorCode(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return HandleOf(descriptor);
}

DWORD GetFileSize(HANDLE file, DWORD *sizeHigh) {
  const int descriptor = ValidDescriptor(file);
  if (descriptor < 0) return INVALID_FILE_SIZE;
  struct stat status;
  if (fstat(descriptor, &status) != 0) {
    SetLastErrorFromErrno(errno);
    return INVALID_FILE_SIZE;
  }
  // Windows gives a directory no size.
  const auto size = S_ISDIR(status.st_mode) ? 0 : static_cast<std::uint64_t>(status.st_size);
  if (sizeHigh != nullptr) *sizeHigh = static_cast<DWORD>(size >> 32);
  // A size whose low part is 0xFFFFFFFF is told from a failure by this.
  SetLastErrorCode(ERROR_SUCCESS);
  return static_cast<DWORD>(size);
}

DWORD SetFilePointer(HANDLE file, LONG distance, LONG *distanceHigh, DWORD method) {
  const int descriptor = ValidDescriptor(file);
  if (descriptor < 0) return INVALID_SET_FILE_POINTER;
  int whence;
  switch (method) {
    case FILE_BEGIN:
      whence = SEEK_SET;
      break;
    case FILE_CURRENT:
      whence = SEEK_CUR;
      break;
    case FILE_END:
      whence = SEEK_END;
      break;
    default:
      SetLastErrorCode(ERROR_INVALID_PARAMETER);
      return INVALID_SET_FILE_POINTER;
  }
  // Without a high part the distance is a signed 32-bit value.
  std::int64_t offset = distance;
  if (distanceHigh != nullptr) {
    offset = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(static_cast<DWORD>(*distanceHigh)) << 32) |
        static_cast<DWORD>(distance));
  }
  const off_t position = lseek(descriptor, static_cast<off_t>(offset), whence);
  if (position < 0) {
    // lseek refuses a position before the start without moving, as Windows.
    SetLastErrorCode(errno == EINVAL ? kErrorNegativeSeek : ErrorFromErrno(errno));
    return INVALID_SET_FILE_POINTER;
  }
  const auto where = static_cast<std::uint64_t>(position);
  if (distanceHigh != nullptr) *distanceHigh = static_cast<LONG>(where >> 32);
  SetLastErrorCode(ERROR_SUCCESS);
  return static_cast<DWORD>(where);
}

BOOL ReadFile(HANDLE file, void *buffer, DWORD toRead, DWORD *read, void *overlapped) {
  if (read != nullptr) *read = 0;
  const int descriptor = ValidDescriptor(file);
  if (descriptor < 0) return FALSE;
  if ((buffer == nullptr && toRead > 0) || overlapped != nullptr) {
    SetLastErrorCode(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto *bytes = static_cast<unsigned char *>(buffer);
  DWORD done = 0;
  while (done < toRead) {
    const ssize_t count = ::read(descriptor, bytes + done, toRead - done);
    if (count > 0) {
      done += static_cast<DWORD>(count);
    } else if (count == 0) {
      break;  // end of file: success with what was read
    } else if (errno != EINTR) {
      const int error = errno;
      if (read != nullptr) *read = done;
      SetLastErrorCode(error == EIO ? ERROR_READ_FAULT : ErrorFromErrno(error));
      return FALSE;
    }
  }
  if (read != nullptr) *read = done;
  return TRUE;
}

BOOL WriteFile(HANDLE file, const void *buffer, DWORD toWrite, DWORD *written, void *overlapped) {
  if (written != nullptr) *written = 0;
  const int descriptor = ValidDescriptor(file);
  if (descriptor < 0) return FALSE;
  if ((buffer == nullptr && toWrite > 0) || overlapped != nullptr) {
    SetLastErrorCode(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  FileSizeSignalGuard guard;
  const auto *bytes = static_cast<const unsigned char *>(buffer);
  DWORD done = 0;
  while (done < toWrite) {
    const ssize_t count = ::write(descriptor, bytes + done, toWrite - done);
    if (count > 0) {
      done += static_cast<DWORD>(count);
      continue;
    }
    if (count < 0 && errno == EINTR) continue;
    // A write that takes nothing and reports no error would loop forever;
    // it is taken for a full disk.
    const int error = count < 0 ? errno : ENOSPC;
    guard.Note(error);
    if (written != nullptr) *written = done;
    SetLastErrorCode(WriteError(descriptor, error));
    return FALSE;
  }
  if (written != nullptr) *written = done;
  return TRUE;
}

BOOL SetEndOfFile(HANDLE file) {
  const int descriptor = ValidDescriptor(file);
  if (descriptor < 0) return FALSE;
  const off_t position = lseek(descriptor, 0, SEEK_CUR);
  if (position < 0) {
    SetLastErrorFromErrno(errno);
    return FALSE;
  }
  FileSizeSignalGuard guard;
  while (ftruncate(descriptor, position) != 0) {
    if (errno == EINTR) continue;
    const int error = errno;
    guard.Note(error);
    // ftruncate of a descriptor opened read-only says EINVAL.
    SetLastErrorCode(WriteError(descriptor, error == EINVAL ? EBADF : error));
    return FALSE;
  }
  return TRUE;
}

BOOL CloseHandle(HANDLE object) {
  const int descriptor = ValidDescriptor(object);
  if (descriptor < 0) return FALSE;
  // After EINTR the descriptor is gone on Linux: not retried, not an error.
  if (close(descriptor) != 0 && errno != EINTR) {
    SetLastErrorFromErrno(errno);
    return FALSE;
  }
  return TRUE;
}

HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, void *security, DWORD disposition,
                   DWORD flags, HANDLE templateFile) {
  std::string narrow;
  if (!NarrowFileName(name, narrow)) return INVALID_HANDLE_VALUE;
  return CreateFileA(narrow.c_str(), access, share, security, disposition, flags, templateFile);
}
