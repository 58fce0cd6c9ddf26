#include "platform/file_system.h"

#include "platform/posix/file_descriptor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

#include "common/heap_buffer.h"

namespace repair::platform {
namespace {

// The owner write bit stands for Windows' read-only attribute: a regular file without it is
// given it, so that it can be replaced as on Windows.
void MakeWritable(const char* path) {
  struct stat info {};
  if (::lstat(path, &info) == 0 && S_ISREG(info.st_mode) && (info.st_mode & S_IWUSR) == 0) {
    ::chmod(path, (info.st_mode & 07777) | S_IWUSR);
  }
}

// A move that fails while the target exists, for file systems without hard links.
bool RenameNoReplace(const char* source, const char* target) {
#if defined(RENAME_NOREPLACE)
  if (::renameat2(AT_FDCWD, source, AT_FDCWD, target, RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return false;
#endif
  // The file system knows neither: check, then rename. Only the worker moves files here, so
  // the window between the two is not contended by this program.
  struct stat info {};
  if (::lstat(target, &info) == 0 || errno != ENOENT) return false;
  return std::rename(source, target) == 0;
}

}  // namespace

bool PathExists(const char* path) {
  // lstat: a link counts as an entry even when it points nowhere, as Windows' directory search
  // would list it. A trailing '/' still requires a folder.
  struct stat info {};
  return ::lstat(path, &info) == 0;
}

bool CreateFolder(const char* path) { return ::mkdir(path, 0755) == 0; }

bool DeleteFileOnce(const char* path) {
  struct stat info {};
  if (::lstat(path, &info) != 0 || S_ISDIR(info.st_mode)) return false;
  if (::unlink(path) == 0) return true;
  // Unlinking depends on the folder, not the file; still, mirror Windows and retry once with
  // the file made writable.
  if (errno != EACCES && errno != EPERM) return false;
  MakeWritable(path);
  return ::unlink(path) == 0;
}

bool MoveFileOnce(const char* source, const char* target) {
  // link() fails with EEXIST while the target exists: a move that never replaces, with no
  // window between a check and the move.
  if (::link(source, target) == 0) {
    if (::unlink(source) == 0 || errno == ENOENT) return true;
    // The source stays: undo, so that the move is all or nothing.
    ::unlink(target);
    return false;
  }
  // EPERM, ENOTSUP, ENOSYS: this file system has no hard links (or refuses one for this file),
  // so the move goes through a rename instead. Everything else (EEXIST, ENOENT, EXDEV,
  // EACCES ...) is a real failure.
  bool noLinks = errno == EPERM || errno == ENOTSUP || errno == ENOSYS;
#if EOPNOTSUPP != ENOTSUP
  noLinks = noLinks || errno == EOPNOTSUPP;
#endif
  return noLinks && RenameNoReplace(source, target);
}

bool WriteFileBytes(const char* path, const std::uint8_t* data, std::uint32_t length) {
  MakeWritable(path);
  FileDescriptor file(::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (file.get() < 0) return false;
  std::uint32_t written = 0;
  while (written < length) {
    ssize_t put = ::write(file.get(), data + written, length - written);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    written += static_cast<std::uint32_t>(put);
  }
  return file.Close();
}

bool ResolveExistingPath(const char* path, std::string& resolved) {
  struct stat info {};
  if (::lstat(path, &info) != 0) return false;
  const char* slash = std::strrchr(path, '/');
  std::string folder = ".";
  if (slash != nullptr) {
    folder.assign(path, slash == path ? 1 : static_cast<std::size_t>(slash - path));
  }
  std::unique_ptr<char, FreeDeleter> real(::realpath(folder.c_str(), nullptr));
  if (!real) return false;
  resolved = real.get();
  if (resolved.back() != '/') resolved += '/';
  resolved += slash == nullptr ? path : slash + 1;
  return true;
}

void SleepMs(std::uint32_t milliseconds) {
  struct timespec remaining {};
  remaining.tv_sec = static_cast<time_t>(milliseconds / 1000);
  remaining.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  // A signal cuts the sleep short; sleep out the rest.
  while (::nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}

}  // namespace repair::platform
