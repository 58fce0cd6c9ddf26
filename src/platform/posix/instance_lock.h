// A lock file as a marker that one process at a time may hold.
#pragma once

#include <string>

#include "platform/posix/file_descriptor.h"

namespace repair::platform {

enum class LockResult {
  kLocked,    // held by this process until the InstanceLock goes or is released
  kHeld,      // another process holds it
  kUnusable,  // this path cannot serve as the marker (no folder, no access, not ours)
};

// An flock()ed file. The file itself stays when the lock is released: removing it could let a
// third process lock a new file while a second one still holds the old.
class InstanceLock {
 public:
  // Opens or creates `path` (mode 0600, never through a symbolic link) and locks it without
  // waiting. A file that is not a regular file owned by this user is kUnusable: someone else
  // could hold it to keep us from running. Holding a lock already answers kLocked.
  LockResult TryLock(const std::string& path);
  bool Held() const { return fd_.valid(); }
  void Release() { fd_.Reset(); }

 private:
  FileDescriptor fd_;
};

}  // namespace repair::platform
