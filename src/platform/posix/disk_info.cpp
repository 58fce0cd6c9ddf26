#include "platform/disk_info.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>

#include "platform/disk_info_os.h"
#include "platform/posix/block_device.h"

namespace repair::platform {

bool SystemFreeDiskBytes(const char* path, std::uint64_t& bytes) {
  bytes = 0;
  struct statvfs info {};
  if (::statvfs(path, &info) != 0) return false;
  // f_bavail: what an unprivileged writer may use; the blocks kept for root are not ours.
  bytes = static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
  return true;
}

DiskKind DiskKindOf(const char* path) {
  struct stat info {};
  if (::stat(path, &info) != 0) return DiskKind::kUnknown;
  return RotationalKindOf("/sys", major(info.st_dev), minor(info.st_dev));
}

}  // namespace repair::platform
