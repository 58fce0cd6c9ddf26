#include "platform/disk_info.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>

#include <atomic>

#include "platform/disk_info_test_hooks.h"
#include "platform/posix/block_device.h"

namespace repair::platform {
namespace {

std::atomic<std::int64_t> g_forcedFreeBytes{-1};

}  // namespace

bool FreeDiskBytes(const char* path, std::uint64_t& bytes) {
  bytes = 0;
  const std::int64_t forced = g_forcedFreeBytes.load();
  if (forced >= 0) {
    bytes = static_cast<std::uint64_t>(forced);
    return true;
  }
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

void ForceFreeDiskBytes(std::int64_t bytes) { g_forcedFreeBytes = bytes < 0 ? -1 : bytes; }

}  // namespace repair::platform
