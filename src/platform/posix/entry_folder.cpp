#include "platform/posix/entry_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_system.h"

namespace repair::platform {
namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

bool IsDotName(const std::string& name) { return name == "." || name == ".."; }

}  // namespace

bool OpenEntryFolder(const char* path, EntryInFolder& entry) {
  std::string text = path;
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  const std::size_t slash = text.rfind('/');
  const std::string folder = slash == std::string::npos ? "./" : text.substr(0, slash + 1);
  entry.name = slash == std::string::npos ? text : text.substr(slash + 1);
  if (entry.name.empty() || IsDotName(entry.name)) {
    errno = EINVAL;
    return false;
  }
  // The root is opened as it is; only what lies below it is walked.
  std::string start = WriteRoot();
  if (start.empty() || folder.compare(0, start.size(), start) != 0) start = folder;
  FileDescriptor current(::open(start.c_str(), kFolderFlags));
  if (!current.valid()) return false;
  std::size_t begin = start.size();
  while (begin < folder.size()) {
    const std::size_t end = folder.find('/', begin);
    const std::string component = folder.substr(begin, end - begin);
    begin = end + 1;
    if (component.empty() || component == ".") continue;
    if (component == "..") {
      errno = EINVAL;
      return false;
    }
    // O_NOFOLLOW: a link here fails (ELOOP), whatever it points to.
    FileDescriptor next(::openat(current.get(), component.c_str(), kFolderFlags | O_NOFOLLOW));
    if (!next.valid()) return false;
    current = std::move(next);
  }
  entry.folder = std::move(current);
  return true;
}

bool RemoveName(const EntryInFolder& entry) {
  struct stat info {};
  if (::fstatat(entry.folder.get(), entry.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT;
  }
  if (S_ISDIR(info.st_mode)) return false;
  return ::unlinkat(entry.folder.get(), entry.name.c_str(), 0) == 0 || errno == ENOENT;
}

void MakeWritable(const EntryInFolder& entry) {
  FileDescriptor file(::openat(entry.folder.get(), entry.name.c_str(),
                               O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat info {};
  if (file.valid() && ::fstat(file.get(), &info) == 0 && S_ISREG(info.st_mode) &&
      (info.st_mode & S_IWUSR) == 0) {
    ::fchmod(file.get(), (info.st_mode & 07777) | S_IWUSR);
  }
}

FileDescriptor CreateFileAnew(const char* path) {
  EntryInFolder entry;
  if (!OpenEntryFolder(path, entry) || !RemoveName(entry)) return FileDescriptor();
  // The window left: another process may put a new entry at the freed name before the create;
  // O_EXCL then fails the create rather than open what it put there.
  return FileDescriptor(::openat(entry.folder.get(), entry.name.c_str(),
                                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
}

}  // namespace repair::platform
