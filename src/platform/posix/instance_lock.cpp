#include "platform/posix/instance_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace repair::platform {

LockResult InstanceLock::TryLock(const std::string& path) {
  if (Held()) return LockResult::kLocked;
  FileDescriptor file(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!file.valid()) return LockResult::kUnusable;
  struct stat info {};
  if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
    return LockResult::kUnusable;
  }
  while (::flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    return errno == EWOULDBLOCK ? LockResult::kHeld : LockResult::kUnusable;
  }
  fd_ = std::move(file);
  return LockResult::kLocked;
}

}  // namespace repair::platform
