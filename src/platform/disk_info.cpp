#include "platform/disk_info.h"

#include <atomic>

#include "platform/disk_info_os.h"
#include "platform/disk_info_test_hooks.h"

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
  return SystemFreeDiskBytes(path, bytes);
}

void ForceFreeDiskBytes(std::int64_t bytes) { g_forcedFreeBytes = bytes < 0 ? -1 : bytes; }

}  // namespace repair::platform
