#include "platform/file_system.h"

#include "platform/posix/entry_folder.h"
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

// A move that fails while the target exists, for file systems without hard links.
bool RenameNoReplace(const EntryInFolder& source, const EntryInFolder& target) {
#if defined(RENAME_NOREPLACE)
  if (::renameat2(source.folder.get(), source.name.c_str(), target.folder.get(),
                  target.name.c_str(), RENAME_NOREPLACE) == 0) {
    return true;
  }
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return false;
#endif
  // The file system knows neither: check, then rename. Only the worker moves files here, so
  // the window between the two is not contended by this program.
  struct stat info {};
  if (::fstatat(target.folder.get(), target.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 ||
      errno != ENOENT) {
    return false;
  }
  return ::renameat(source.folder.get(), source.name.c_str(), target.folder.get(),
                    target.name.c_str()) == 0;
}

}  // namespace

bool PathExists(const char* path) {
  // lstat: a link counts as an entry even when it points nowhere, as Windows' directory search
  // would list it. A trailing '/' still requires a folder.
  struct stat info {};
  return ::lstat(path, &info) == 0;
}

EntryKind LookAtEntry(const char* path) {
  std::string name = path;
  while (name.size() > 1 && name.back() == '/') name.pop_back();
  struct stat info {};
  if (name.empty() || ::lstat(name.c_str(), &info) != 0) return EntryKind::kNone;
  if (S_ISLNK(info.st_mode)) return EntryKind::kLink;
  if (S_ISDIR(info.st_mode)) return EntryKind::kFolder;
  return S_ISREG(info.st_mode) ? EntryKind::kFile : EntryKind::kOther;
}

bool CreateFolder(const char* path) {
  EntryInFolder entry;
  return OpenEntryFolder(path, entry) &&
         ::mkdirat(entry.folder.get(), entry.name.c_str(), 0755) == 0;
}

bool DeleteFileOnce(const char* path) {
  EntryInFolder entry;
  if (!OpenEntryFolder(path, entry)) return false;
  struct stat info {};
  if (::fstatat(entry.folder.get(), entry.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    return false;
  }
  if (S_ISDIR(info.st_mode)) {
    errno = EISDIR;  // for the caller's report: a folder is no file to delete
    return false;
  }
  // unlinkat never follows a link: a link is removed, not what it points to.
  if (::unlinkat(entry.folder.get(), entry.name.c_str(), 0) == 0) return true;
  // Unlinking depends on the folder, not the file; still, mirror Windows and retry once with
  // the file made writable.
  if (errno != EACCES && errno != EPERM) return false;
  MakeWritable(entry);
  return ::unlinkat(entry.folder.get(), entry.name.c_str(), 0) == 0;
}

bool MoveFileOnce(const char* source, const char* target) {
  EntryInFolder from;
  EntryInFolder to;
  if (!OpenEntryFolder(source, from) || !OpenEntryFolder(target, to)) return false;
  // linkat fails with EEXIST while the target exists: a move that never replaces, with no
  // window between a check and the move. Without AT_SYMLINK_FOLLOW a link is moved as a link.
  // Across volumes it fails (EXDEV): nothing is copied.
  if (::linkat(from.folder.get(), from.name.c_str(), to.folder.get(), to.name.c_str(), 0) == 0) {
    if (::unlinkat(from.folder.get(), from.name.c_str(), 0) == 0 || errno == ENOENT) return true;
    // The source stays: undo, so that the move is all or nothing.
    ::unlinkat(to.folder.get(), to.name.c_str(), 0);
    return false;
  }
  // EPERM, ENOTSUP, ENOSYS: this file system has no hard links (or refuses one for this file),
  // so the move goes through a rename instead. Everything else (EEXIST, ENOENT, EXDEV,
  // EACCES ...) is a real failure.
  bool noLinks = errno == EPERM || errno == ENOTSUP || errno == ENOSYS;
#if EOPNOTSUPP != ENOTSUP
  noLinks = noLinks || errno == EOPNOTSUPP;
#endif
  return noLinks && RenameNoReplace(from, to);
}

bool WriteFileBytes(const char* path, const std::uint8_t* data, std::uint32_t length) {
  FileDescriptor file = CreateFileAnew(path);
  if (!file.valid()) return false;
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
